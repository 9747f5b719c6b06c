// `stations`, `describe` and `open` end to end: the real command line and plug-in over a catalogue
// filled from a loopback Radio Browser stand-in with stations chosen by each test.

#include "host/Orvo.Host.Cli.h"
#include "platform/Platform.System.h"
#include "tests/Orvo.Tunedex.Providers.RadioBrowser.TestServers.h"
#include "tests/TestSupport.h"
#include "tests/host/Orvo.Host.Cli.TestSupport.h"
#include "zan/Zan.Playlists.h"

#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace {

using testsupport::TCliRun;

using testsupport::Lines;

struct TStation {
    std::string Name;
    std::string Extra; // more members of the station's JSON object, each with a leading comma
};

class StationCommands : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // Keeps the plug-in's process-wide objects from looking lost between commands.
        std::string error;
        static void* const resident = platform::LoadModule(TUNEDEX_PLUGIN_FILE, error);
        ASSERT_NE(resident, nullptr) << error;
    }

    TCliRun Tunedex(std::vector<std::string> args) {
        args.insert(args.begin(), {std::string("--plugin=") + TUNEDEX_PLUGIN_FILE,
                                   "--profile=" + FProfile.Path().string()});
        return testsupport::RunTunedex(std::move(args));
    }

    // A catalogue of these stations; the n-th streams from http://127.0.0.1:1/n.
    void Fill(const std::vector<TStation>& stations) {
        std::string body = "[";
        for (size_t i = 0; i < stations.size(); ++i)
            body += std::string(i ? "," : "") + R"({"name":")" + stations[i].Name +
                    R"(","url_resolved":"http://127.0.0.1:1/)" + std::to_string(i) +
                    R"(","codec":"MP3","bitrate":"128","tags":"jazz")" + stations[i].Extra + "}";
        FStandIn.Serve("/json/stations/bytagexact/jazz", body + "]");
        const std::string server = ToUtf8(FStandIn.Server());
        const TCliRun added = Tunedex({"add", "--title", "Jazz", "--kind", "1", "--server", server, "--list",
                                       "tag", "--value", "jazz"});
        ASSERT_EQ(added.Status, 0) << added.Err;
    }

    // The names the stations command lists for the arguments, sorted.
    std::vector<std::string> Names(std::vector<std::string> args) {
        args.insert(args.begin(), {"stations", "--fields", "Name", "--sort", "Name", "--format", "json"});
        const TCliRun run = Tunedex(args);
        EXPECT_EQ(run.Status, 0) << run.Err;
        std::vector<std::string> names;
        for (const std::string& line : Lines(run.Out)) {
            rapidjson::Document json;
            json.Parse(line.c_str());
            names.push_back(json["Name"].GetString());
        }
        return names;
    }

    testsupport::TScopedFolder FProfile;
    testsupport::Watchdog FWatchdog{std::chrono::seconds(60)};
    testsupport::TRadioBrowserStandIn FStandIn{testsupport::CorpusDir() / "radiobrowser"};
    testsupport::TSrvNameServer FDns{{"de1.api.radio-browser.info"}};
    testsupport::TScopedEnvironment FResolver{"TUNEDEX_DNS_SERVER", FDns.Address()};
};

using Strings = std::vector<std::string>;

TEST_F(StationCommands, AnEmptyValueIsAConditionLikeAnyOther) {
    for (const char* op : {"eq", "ne", "lt", "ge", "contains", "starts", "ends", "notcontains", "in"}) {
        const TCliRun run = Tunedex({"stations", "--where", "Name", op, ""});
        EXPECT_EQ(run.Status, 0) << op << ": " << run.Err;
    }
    Fill({{"Plain", ""}, {"Described", R"(,"country":"Austria")"}});
    // An empty key list holds the empty key.
    EXPECT_EQ(Names({"--where", "Country", "eq", ""}), Strings{"Plain"});
    EXPECT_EQ(Names({"--where", "Country", "ne", ""}), Strings{"Described"});
    EXPECT_EQ(Names({"--where", "Description", "eq", ""}), (Strings{"Described", "Plain"}));
    EXPECT_EQ(Names({"--where", "Name", "contains", "", "--where", "Country", "eq", "Austria"}),
              Strings{"Described"});
}

TEST_F(StationCommands, OneStationOneColumnAndDatesWithTheirOffset) {
    Fill({{"One", ""}});
    // Text operators on a number field compare its text.
    EXPECT_EQ(Names({"--where", "Bitrate", "contains", "12"}), Strings{"One"});
    const TCliRun twice = Tunedex({"stations", "--fields", "Name,Bitrate,Name"});
    EXPECT_EQ(twice.Out, "Name  Bitrate\nOne   128\n");
    const TCliRun refreshed = Tunedex({"refresh", "Jazz"});
    EXPECT_EQ(refreshed.Out, "Refreshed 1 of 1 catalogue; 1 station now.\n");
    const TCliRun listed = Tunedex({"catalogs", "--json"});
    rapidjson::Document json;
    json.Parse(listed.Out.c_str());
    ASSERT_TRUE(json.IsObject()) << listed.Out;
    EXPECT_TRUE(std::regex_match(json["updated"].GetString(),
                                 std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d)")))
        << listed.Out;
}

TEST_F(StationCommands, TablesLineUpByTheCellsCharactersTake) {
    Fill({{"\u65e5\u672c", ""}, {"Cafe\u0301", ""}, {"Plain", ""}});
    const TCliRun table =
        Tunedex({"stations", "--fields", "Name,Bitrate", "--sort", "Bitrate", "--sort", "Name"});
    ASSERT_EQ(table.Status, 0) << table.Err;
    // Every Bitrate column starts at the seventh cell.
    EXPECT_EQ(Lines(table.Out), (Strings{"Name   Bitrate", "Cafe\xCC\x81   128", "Plain  128",
                                         "\xE6\x97\xA5\xE6\x9C\xAC   128"}));
}

TEST_F(StationCommands, SearchAndPatternsMatchWhatWasTyped) {
    Fill({{"100% Jazz", ""}, {"1000 Hits", ""}, {"A_B", ""}, {"AxB", ""}, {"C:\\\\Jazz", ""}});
    EXPECT_EQ(Names({"--search", "100%"}), Strings{"100% Jazz"});
    EXPECT_EQ(Names({"--where", "Name", "contains", "_"}), Strings{"A_B"});
    EXPECT_EQ(Names({"--where", "Name", "starts", "a_"}), Strings{"A_B"});
    EXPECT_EQ(Names({"--where", "Name", "ends", "% jazz"}), Strings{"100% Jazz"});
    EXPECT_EQ(Names({"--where", "Name", "notcontains", "%"}),
              (Strings{"1000 Hits", "A_B", "AxB", "C:\\Jazz"}));
    EXPECT_EQ(Names({"--search", ":\\j"}), Strings{"C:\\Jazz"});
}

TEST_F(StationCommands, OutsideTextIsShownWithItsControlsVisible) {
    // A name that would retitle the terminal, one that breaks its row, and a description that
    // clears the screen.
    Fill({{R"(\u001b]0;owned\u0007Evil)", R"(,"homepage":"http://evil.example/\u001b[2J")"},
          {R"(Two\nLines)", ""}});
    const TCliRun table = Tunedex({"stations", "--fields", "Name,FileName", "--sort", "Name"});
    ASSERT_EQ(table.Status, 0) << table.Err;
    EXPECT_EQ(table.Out.find('\x1b'), std::string::npos);
    EXPECT_EQ(Lines(table.Out),
              (Strings{"Name                  FileName", "\\x1B]0;owned\\x07Evil  http://127.0.0.1:1/0",
                       "Two\\nLines            http://127.0.0.1:1/1"}));
    // JSON keeps the text exactly.
    const Strings exact = {"\x1b]0;owned\x07"
                           "Evil",
                           "Two\nLines"};
    EXPECT_EQ(Names({}), exact);

    const TCliRun described = Tunedex({"describe", "http://127.0.0.1:1/0"});
    ASSERT_EQ(described.Status, 0) << described.Err;
    EXPECT_EQ(described.Out.find('\x1b'), std::string::npos) << described.Out;
    EXPECT_NE(described.Out.find("Name:         \\x1B]0;owned\\x07Evil\n"), std::string::npos)
        << described.Out;
    EXPECT_NE(described.Out.find("Home page:    http://evil.example/\\x1B[2J\n"), std::string::npos);
    const TCliRun missing = Tunedex({"describe", "http://127.0.0.1:1/\x1b[2J"});
    EXPECT_EQ(missing.Status, 1);
    EXPECT_EQ(missing.Err.find('\x1b'), std::string::npos) << missing.Err;
}

TEST_F(StationCommands, OpenHandsOnlyWebPagesToTheOpener) {
    Fill({{"Web", R"(,"homepage":"radio.example/about")"},
          {"File", R"(,"homepage":"file:///etc/passwd")"},
          {"Script", R"x(,"homepage":"javascript:alert(1)")x"},
          {"None", ""}});
    const TCliRun printed = Tunedex({"open", "--print", "http://127.0.0.1:1/0"});
    EXPECT_EQ(printed.Status, 0) << printed.Err;
    EXPECT_EQ(printed.Out, "https://radio.example/about\n");
    struct Case {
        std::string Address, Says;
    };
    for (const Case& c : {Case{"http://127.0.0.1:1/1", "\"file:///etc/passwd\" is not a web address"},
                          Case{"http://127.0.0.1:1/2", "\"javascript:alert(1)\" is not a web address"},
                          Case{"http://127.0.0.1:1/3", "has no home page"},
                          Case{"http://127.0.0.1:1/9", "no station in the catalogue has the address"}}) {
        for (const char* print : {"--print", ""}) {
            Strings args = {"open", c.Address};
            if (*print)
                args.push_back(print);
            const TCliRun run = Tunedex(args);
            EXPECT_EQ(run.Status, 1) << c.Address;
            EXPECT_EQ(run.Out, "");
            EXPECT_NE(run.Err.find(c.Says), std::string::npos) << run.Err;
        }
    }
    // No opener to start: said, not claimed as done. Windows' shell always has one for a web page
    // (under Wine, the build machine's browser), so there the case would open it.
    if (testsupport::kWindows)
        return;
    testsupport::TScopedFolder emptyPath;
    testsupport::TScopedEnvironment path("PATH", emptyPath.Path().string());
    const TCliRun unopened = Tunedex({"open", "http://127.0.0.1:1/0"});
    EXPECT_EQ(unopened.Status, 1);
    EXPECT_EQ(unopened.Out, "");
    EXPECT_NE(unopened.Err.find("no program could be started to open https://radio.example/about"),
              std::string::npos)
        << unopened.Err;
}

TEST_F(StationCommands, PlaylistsReadBackAsTheStationsTheyWereWrittenFrom) {
    Fill({{"Alpha Jazz", R"(,"homepage":"https://alpha.example/")"}, {"Caf\u00e9 Blues", ""}});
    const Strings expected = {"http://127.0.0.1:1/0 Alpha Jazz", "http://127.0.0.1:1/1 Caf\u00e9 Blues"};
    for (const char* format : {"m3u", "m3u8", "pls", "xspf"}) {
        const std::filesystem::path file = FProfile.Path() / (std::string("export.") + format);
        const TCliRun run =
            Tunedex({"stations", "--sort", "Name", "--format", format, "--output", file.string()});
        ASSERT_EQ(run.Status, 0) << format << ": " << run.Err;
        EXPECT_EQ(run.Out, "");
        Strings read;
        TZanPlaylistItemsCallback receiver([&](const std::u16string& name, std::shared_ptr<IZanFileInfo> info,
                                               int32_t) {
            read.push_back(ToUtf8(name) + " " + (info ? ToUtf8(info->GetData()->GetValue(zitTitle)) : ""));
        });
        TNuvFileStream stream(file.string(), TNuvFileMode::OpenRead);
        ASSERT_TRUE(ZanReadPlaylist(stream, u"", receiver)) << format;
        EXPECT_EQ(read, expected) << format;
    }
    // Only the one format that has room for it keeps the home page.
    const TCliRun xspf = Tunedex({"stations", "--format", "xspf", "--where", "Name", "eq", "Alpha Jazz"});
    EXPECT_NE(xspf.Out.find("<info>https://alpha.example/</info>"), std::string::npos) << xspf.Out;

    const TCliRun unwritable = Tunedex(
        {"stations", "--format", "pls", "--output", (FProfile.Path() / "no/such/folder.pls").string()});
    EXPECT_EQ(unwritable.Status, 1);
    EXPECT_NE(unwritable.Err.find("the playlist could not be written"), std::string::npos) << unwritable.Err;
}

TEST_F(StationCommands, ADamagedDatabaseIsNamedAndResetMovesItAside) {
    const std::filesystem::path database = FProfile.Path() / "Tunedex.db";
    struct Case {
        std::string Content, Says;
    };
    for (const Case& c : {Case{std::string(4096, '\x5A'), "file is not a database"},
                          Case{"", "its table Entries has no column ID"}}) {
        std::filesystem::remove_all(FProfile.Path());
        std::filesystem::create_directories(FProfile.Path());
        if (c.Content.empty()) {
            sqlite3* db = nullptr;
            ASSERT_EQ(sqlite3_open(database.string().c_str(), &db), SQLITE_OK);
            ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE Entries(x)", nullptr, nullptr, nullptr), SQLITE_OK);
            sqlite3_close(db);
        } else {
            std::ofstream(database, std::ios::binary) << c.Content;
        }
        for (const char* command : {"stations", "info", "catalogs"}) {
            const TCliRun refused = Tunedex({command});
            EXPECT_EQ(refused.Status, 1) << command;
            EXPECT_NE(refused.Err.find("the catalogue database " + database.string() +
                                       " could not be opened: " + c.Says +
                                       ". Move it away, or run 'tunedex reset'"),
                      std::string::npos)
                << refused.Err;
        }

        const TCliRun reset = Tunedex({"reset"});
        EXPECT_EQ(reset.Status, 0) << reset.Err;
        EXPECT_NE(reset.Err.find("it was moved to " + database.string() + ".damaged-"), std::string::npos)
            << reset.Err;
        size_t kept = 0;
        for (const auto& entry : std::filesystem::directory_iterator(FProfile.Path()))
            kept += entry.path().filename().string().starts_with("Tunedex.db.damaged-");
        EXPECT_EQ(kept, 1u);
        EXPECT_EQ(Tunedex({"stations"}).Status, 0);
    }
}

TEST_F(StationCommands, AnErrorQuotingALongStatementIsCut) {
    Fill({{"One", ""}});
    const TCliRun run = Tunedex({"stations", "--search", std::string(100000, 'x')});
    EXPECT_EQ(run.Status, 1);
    EXPECT_LT(run.Err.size(), 1000u) << run.Err.substr(0, 300);
    EXPECT_NE(run.Err.find("more characters)"), std::string::npos) << run.Err.substr(0, 300);
}

} // namespace
