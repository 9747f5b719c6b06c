#include "nuv/Nuv.Shell.h"

#include "nuv/Nuv.Strings.h"
#include "platform/Platform.System.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

// Records what would have been handed to the desktop instead of starting a program.
class RecordedShell {
public:
    RecordedShell() {
        FPrevious =
            platform::SetShellOpenHandler([this](const std::string& target) { Opened.push_back(target); });
    }
    ~RecordedShell() { platform::SetShellOpenHandler(std::move(FPrevious)); }
    std::vector<std::string> Opened;

private:
    platform::ShellOpenHandler FPrevious;
};

TEST(ShellOpenAddress, OpensAddressesFoldersAndBareHostsInThatOrder) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() / ("tunedex shell test " + std::to_string(::getpid()));
    fs::create_directories(folder);
    const std::u16string folderText = FromUtf8(folder.string());

    struct Case {
        std::u16string Text, Opened;
    } cases[] = {
        {u"http://www.example.org/radio", u"http://www.example.org/radio"},
        {u"ftp://host/x", u"ftp://host/x"},
        // "//" anywhere makes an address, even one that also names no folder.
        {u"\\\\server\\share//x", u"\\\\server\\share//x"},
        {folderText, folderText},
        {u"www.example.org/stations?a=1&b=2", u"https://www.example.org/stations?a=1&b=2"},
        {u"Ünïcode.example", u"https://Ünïcode.example"},
        // A path to nothing is taken for a host name, as a browser would.
        {folderText + u"/missing", u"https://" + folderText + u"/missing"},
    };
    RecordedShell shell;
    for (const Case& c : cases) {
        EXPECT_EQ(ShellOpenAddress(c.Text), c.Opened) << ToUtf8(c.Text);
        ASSERT_FALSE(shell.Opened.empty());
        EXPECT_EQ(shell.Opened.back(), ToUtf8(c.Opened));
    }
    EXPECT_EQ(shell.Opened.size(), std::size(cases));

    // An empty text opens nothing at all.
    EXPECT_EQ(ShellOpenAddress(u""), u"");
    EXPECT_EQ(shell.Opened.size(), std::size(cases));
    fs::remove_all(folder);
}

} // namespace

TEST(WebPageAddress, OpensOnlyWebPages) {
    struct Case {
        std::u16string Text, Address;
    } cases[] = {
        {u"http://radio.example/", u"http://radio.example/"},
        {u"HTTPS://radio.example", u"HTTPS://radio.example"},
        {u"radio.example/about?x=1", u"https://radio.example/about?x=1"},
        {u"localhost:8080/x", u"https://localhost:8080/x"},
        {u"//radio.example/x", u"https://radio.example/x"},
        {u"file:///etc/passwd", u""},
        {u"javascript:alert(1)", u""},
        {u"mailto:a@radio.example", u""},
        {u"C:\\Windows", u""},
        {u"/etc", u""},
        {u"http://", u""},
        {u"https:///etc/passwd", u""},
        {u"http://radio.example/\nx", u""},
        {u"", u""},
    };
    RecordedShell shell;
    for (const Case& c : cases) {
        EXPECT_EQ(WebPageAddress(c.Text), c.Address) << ToUtf8(c.Text);
        EXPECT_EQ(ShellOpenWebPage(c.Text), !c.Address.empty()) << ToUtf8(c.Text);
    }
    EXPECT_EQ(shell.Opened,
              (std::vector<std::string>{"http://radio.example/", "HTTPS://radio.example",
                                        "https://radio.example/about?x=1", "https://localhost:8080/x",
                                        "https://radio.example/x"}));
}
