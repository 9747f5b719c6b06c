#include "platform/Platform.Paths.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(PlatformPaths, UrlForm) {
    for (auto name : {u"http://x", u"rtsp://a/b", u"file:///x", u"://x", u"a:\\\\b"})
        EXPECT_TRUE(HasUrlForm(name)) << std::string(name, name + std::char_traits<char16_t>::length(name));
    for (auto name : {u"c:/", u"C:\\x", u"/home/a", u"http:/x", u"ht-tp://x", u"a:/\\b"})
        EXPECT_FALSE(HasUrlForm(name)) << std::string(name, name + std::char_traits<char16_t>::length(name));
}

TEST(PlatformPaths, PosixForms) {
    EXPECT_TRUE(posixpaths::IsRelative(u"music/x.mp3"));
    EXPECT_TRUE(posixpaths::IsRelative(u"C:\\x.mp3")); // no drives here
    EXPECT_FALSE(posixpaths::IsRelative(u"/music/x.mp3"));
    EXPECT_FALSE(posixpaths::IsRelative(u"http://h/x.mp3"));
    EXPECT_EQ(posixpaths::Folder(u"/a/b/c.m3u"), u"/a/b/");
    EXPECT_EQ(posixpaths::Normalize(u"/a/b/../c/./d.mp3"), u"/a/c/d.mp3");
    EXPECT_EQ(posixpaths::Normalize(u"/../../x"), u"/x");
    EXPECT_EQ(posixpaths::Normalize(u"../a/../b"), u"../b");
    EXPECT_EQ(posixpaths::Normalize(u"http://h/a/../b"), u"http://h/a/../b");
    EXPECT_EQ(posixpaths::FileUriToPath(u"file:///home/a%20b.mp3"), u"/home/a%20b.mp3");
    EXPECT_EQ(posixpaths::FileUriToPath(u"FILE://localhost/x"), u"/x");
    bool fileUri = true;
    EXPECT_EQ(posixpaths::FileUriToPath(u"file://server/x", &fileUri), u"file://server/x");
    EXPECT_FALSE(fileUri);
    EXPECT_EQ(posixpaths::PathToFileUri(u"/home/x.mp3"), u"file:///home/x.mp3");
    EXPECT_EQ(posixpaths::PathToFileUri(u"../x.mp3"), u"../x.mp3");
}

TEST(PlatformPaths, WindowsForms) {
    using namespace windowspaths;
    EXPECT_FALSE(IsRelative(u"C:\\m\\x.mp3"));
    EXPECT_FALSE(IsRelative(u"\\\\server\\share\\x"));
    EXPECT_TRUE(IsRelative(u"music\\x.mp3"));
    EXPECT_EQ(Drive(u"C:\\Lists\\a.m3u"), u"C:");
    EXPECT_EQ(Drive(u"\\\\server\\share\\dir\\a.m3u"), u"\\\\server\\share");
    EXPECT_EQ(Drive(u"\\\\?\\D:\\x"), u"D:");
    EXPECT_EQ(Folder(u"C:\\Lists\\a.m3u"), u"C:\\Lists\\");
    EXPECT_EQ(Folder(u"C:a.m3u"), u"C:");
    EXPECT_EQ(Normalize(u"C:\\a\\..\\..\\b\\x"), u"C:\\b\\x");
    // Names read with '/' come out with '\' throughout, the kept root included.
    EXPECT_EQ(Normalize(u"/music/x/../b.mp3"), u"\\music\\b.mp3");
    EXPECT_EQ(Normalize(u"C:/a/./b/../c"), u"C:\\a\\c");
    EXPECT_EQ(Normalize(u"//server/share/x/../../y"), u"\\\\server\\share\\y");
    EXPECT_EQ(Normalize(u"file:///C:/a/../b"), u"file:///C:/a/../b");
    EXPECT_TRUE(SameFolder(u"C:\\Music\\", u"c:/music/"));
    EXPECT_EQ(FileUriToPath(u"file:///C:/Music/a%20b.mp3"), u"C:\\Music\\a%20b.mp3");
    EXPECT_EQ(FileUriToPath(u"file:////server/share/x.mp3"), u"\\\\server\\share\\x.mp3");
    EXPECT_EQ(FileUriToPath(u"file://server/share/x.mp3"), u"\\\\server\\share\\x.mp3");
    EXPECT_EQ(PathToFileUri(u"C:\\m\\b.mp3"), u"file:///C:/m/b.mp3");
    EXPECT_EQ(PathToFileUri(u"\\\\server\\share\\x.mp3"), u"file:////server/share/x.mp3");
    EXPECT_EQ(PathToFileUri(u"..\\x.mp3"), u"../x.mp3");
    EXPECT_EQ(ToNative(u"a/b"), u"a\\b");
    EXPECT_EQ(ToNative(u"http://a/b"), u"http://a/b");
}
