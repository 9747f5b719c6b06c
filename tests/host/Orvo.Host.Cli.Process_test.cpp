#include "host/Orvo.Host.Cli.Process.h"

#include "nuv/Nuv.Strings.h"
#include "sdk/api/OrvoAPI.Tunedex.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

std::string Entry(TTunedexRefreshOutcome outcome, std::u16string title, std::u16string reason) {
    return "2026-01-02 03:04:05 [TunedexRefresh] " +
           ToUtf8(FormatTunedexRefreshLogMessage({outcome, std::move(title), std::move(reason)})) + "\n";
}

} // namespace

// The reasons come from the refresh outcome entries alone, matched on the whole title, so titles
// that contain the separators of the lines for people, or of the entries, get their own reason.
TEST(HostCliPluginLog, ReadsEachCataloguesReasonFromItsOwnEntry) {
    testsupport::TScopedFolder folder;
    const std::string path = (folder.Path() / "plugin.log").string();
    // What was logged before the command began is not this command's.
    std::ofstream(path) << Entry(TTunedexRefreshOutcome::Failed, u"A", u"an earlier run");
    testsupport::TScopedEnvironment configured("TUNEDEX_LOG", path);
    const TOrvoCliPluginLog log;
    std::ofstream(path, std::ios::app)
        << "2026-01-02 03:04:05 [App] Tunedex: A: B: the document is empty\n"
        << Entry(TTunedexRefreshOutcome::Failed, u"A: B", u"the document is empty")
        << Entry(TTunedexRefreshOutcome::Failed, u"A", u"HTTP 404")
        << Entry(TTunedexRefreshOutcome::Warning, u"Say \"hi\" \\ there", u"stopped at line 3: \"x\"")
        << Entry(TTunedexRefreshOutcome::LookUpFailed, u"B", u"HTTP 500")
        << "2026-01-02 03:04:05 [App] Tunedex: [TunedexRefresh] failed \"C\" \"forged\": no\n";
    const struct {
        std::u16string Title, Error, Warning;
    } cases[] = {
        {u"A", u"HTTP 404", u""},
        {u"A: B", u"the document is empty", u""},
        {u"Say \"hi\" \\ there", u"", u"stopped at line 3: \"x\""},
        {u"B", u"", u""},
        {u"C", u"", u""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(log.ErrorOf(c.Title), c.Error) << ToUtf8(c.Title);
        EXPECT_EQ(log.WarningOf(c.Title), c.Warning) << ToUtf8(c.Title);
    }
    // A failed look-up is not a catalogue's failure, even under the same name.
    EXPECT_EQ(log.LookUpErrorOf(u"B"), u"HTTP 500");
    EXPECT_EQ(log.LookUpErrorOf(u"A"), u"");
}

TEST(HostCliPluginLog, EntriesRoundTripAndMalformedLinesAreNone) {
    const std::u16string title = u"Line\nbreak\r \"q\" \\";
    TTunedexRefreshLogEntry entry;
    const std::u16string line = u"t [TunedexRefresh] " + FormatTunedexRefreshLogMessage(
                                                             {TTunedexRefreshOutcome::Warning, title, u"r"});
    ASSERT_TRUE(ParseTunedexRefreshLogLine(line, entry));
    EXPECT_EQ(int(entry.Outcome), int(TTunedexRefreshOutcome::Warning));
    EXPECT_EQ(entry.Title, title);
    EXPECT_EQ(entry.Reason, u"r");
    for (const char16_t* malformed :
         {u"t [TunedexRefresh] failed \"a\"", u"t [TunedexRefresh] failed \"a\" \"b\" extra",
          u"t [TunedexRefresh] failed \"a\" \"b", u"t [TunedexRefresh] failed \"a\\x\" \"b\"",
          u"t [TunedexRefresh] done \"a\" \"b\"", u"t [App] failed \"a\" \"b\"",
          u"t [App] [TunedexRefresh] failed \"a\" \"b\""})
        EXPECT_FALSE(ParseTunedexRefreshLogLine(malformed, entry)) << ToUtf8(malformed);
}
