#include "zan/Zan.FileFormats.XSPF.h"

#include "nuv/Nuv.FileFormats.XML.h"
#include "platform/Platform.Paths.h"

#include "tests/TestSupport.h"
#include "tests/zan/Zan.TestSupport.h"

#include <cstdlib>
#include <fstream>

using zantest::Read;
namespace paths = platform::nativepaths;

namespace {

const TZanPlaylistReaderClass* const kXSPF = &kXSPFReaderClass;

// A local file and its URI, in the forms of the system the tests run on.
#ifdef _WIN32
const std::u16string kFilePath = u"C:\\m\\b.mp3", kFileUri = u"file:///C:/m/b.mp3";
#else
const std::u16string kFilePath = u"/m/b.mp3", kFileUri = u"file:///m/b.mp3";
#endif

std::string Uri(std::u16string_view path) {
    return ToUtf8(kXSPFHostOrigin) + ToUtf8(path);
}

std::string Playlist(const std::string& body) {
    return "<?xml version=\"1.0\"?>\n<playlist version=\"1\" xmlns=\"http://xspf.org/ns/0/\" xmlns:orvo=\"" +
           Uri(u"/playlist/ns/0/") + "\">" + body + "</playlist>";
}

} // namespace

TEST(ZanXSPF, AddressesAndPaths) {
    struct TCase {
        std::u16string Text, Path;
    } toPath[] = {
#ifdef _WIN32
        {u"file:///C:/Music/a%20b.mp3", u"C:\\Music\\a b.mp3"},
        {u"file:////server/share/x.mp3", u"\\\\server\\share\\x.mp3"},
        {u"file://server/share/x.mp3", u"\\\\server\\share\\x.mp3"},
#else
        {u"file:///home/a%20b.mp3", u"/home/a b.mp3"},
#endif
        {u"http://h/a%20b", u"http://h/a%20b"},
        {u"a%C3%A9.mp3", u"a\u00e9.mp3"},
        {u"a%E9.mp3", u"a\u00e9.mp3"},          // not UTF-8: one character per byte
        {u"\u00c3\u00a9%20", u"\u00e9 "},       // mended from the legacy code page
        {u"\u65e5%20\u00e9", u"\u65e5 \u00e9"}, // the code page lacks a character: kept
        {u"100%.mp3", u"100%.mp3"},
    };
    for (const auto& c : toPath)
        EXPECT_EQ(TXSPFSchema::URIToPath(c.Text), c.Path) << ToUtf8(c.Text);
    struct TUri {
        std::u16string Path, Uri;
    } toUri[] = {
        {kFilePath, kFileUri},
#ifdef _WIN32
        {u"\\\\server\\share\\a%41 b.mp3", u"file:////server/share/a%2541 b.mp3"},
#else
        {u"/a%41 b.mp3", u"file:///a%2541 b.mp3"},
#endif
    };
    for (const auto& c : toUri) {
        EXPECT_EQ(TXSPFSchema::PathToURI(c.Path, false), c.Uri);
        EXPECT_EQ(TXSPFSchema::URIToPath(c.Uri), c.Path);
    }
    EXPECT_EQ(TXSPFSchema::PathToURI(paths::ToNative(u"../a%41.mp3"), true), u"../a%2541.mp3");
}

TEST(ZanXSPF, ReadsTracksAndHostBlocks) {
    const std::string text = Playlist(
        "<title>List</title><trackList>"
        "<track><location>http://h/a%20b</location><location>http://h/second</location>"
        "<title> T </title><creator>A</creator><album>Al</album><annotation>C</annotation>"
        "<info>http://h/info</info><image>http://h/i.png</image><trackNum>3</trackNum>"
        "<duration>185000</duration><meta rel=\"genre\">Jazz</meta><meta rel=\"bitrate\">128</meta>"
        "<meta rel=\"http://example.org/genre\">ignored</meta>"
        "<extension application=\"" +
        Uri(u"/playlist/track/0") +
        "\"><orvo:state>10 </orvo:state><orvo:format>MP3</orvo:format><orvo:queueIndex>7</orvo:queueIndex>"
        "<orvo:custom>c</orvo:custom><orvo:fileURI>" +
        ToUtf8(kFileUri) +
        "</orvo:fileURI></extension>"
        "<extension application=\"" +
        Uri(u"/playlist/group/0") +
        "\"><orvo:title>G</orvo:title><orvo:state>2</orvo:state></extension></track>"
        "<track><location>b.mp3</location><extension application=\"" +
        Uri(u"/playlist/track/0") + "\"><other:state xmlns:other=\"" + Uri(u"/playlist/ns/0/") +
        "\">10</other:state></extension></track>"
        "</trackList>");
    const std::string based =
        std::string(text).replace(text.find("<playlist "), 10, "<playlist xml:base=\"sub/\" ");
    TNuvMemoryStream stream(based.data(), based.size());
    TXSPFReader reader(&stream, false);
    EXPECT_THROW(reader.TakeSettings(), EOrvoXSPFError);
    reader.SetBaseAddress(u"http://lists/x/");
    zantest::TPlaylist list;
    TZanPlaylistSummary summary;
    zantest::Collect(reader, list, &summary);
    EXPECT_EQ(summary.Name, u"List");
    ASSERT_EQ(list.Entries.size(), 2u);
    const auto& a = list.Entries[0];
    EXPECT_EQ(a.Name, kFilePath); // the file URI wins over the location
    EXPECT_EQ(a.Title, u"T");
    EXPECT_EQ(a.Artist, u"A");
    EXPECT_EQ(a.Album, u"Al");
    EXPECT_EQ(a.Comment, u"C");
    EXPECT_EQ(a.Link, u"http://h/i.png");
    EXPECT_EQ(a.Genre, u"Jazz");
    EXPECT_EQ(a.Bitrate, 128);
    EXPECT_EQ(a.Duration, 185000u);
    EXPECT_EQ(a.Format, u"MP3");
    EXPECT_EQ(a.Custom, u"c");
    EXPECT_EQ(a.QueueIndex, 7);
    EXPECT_FALSE(a.State);
    ASSERT_EQ(list.Groups.size(), 1u);
    EXPECT_EQ(list.Groups[0], std::make_pair(std::u16string(u"G"), false));
    EXPECT_EQ(list.GroupAt[0], 0u);
    // Another prefix for the host namespace loses the host data, not the entry.
    EXPECT_EQ(list.Entries[1].Name, u"http://lists/x/sub/b.mp3");
    EXPECT_TRUE(list.Entries[1].State);
    EXPECT_EQ(reader.TakeSettings(), nullptr);
}

TEST(ZanXSPF, WritesTheExactForm) {
    TNuvMemoryStream stream;
    {
        TXSPFWriter writer(&stream, false);
        writer.WriteHeader();
        TZanPlaylistItem item;
        item.SetFileName(kFilePath);
        item.SetValue(zitTitle, u"B");
        item.SetValue(zitArtist, u"A");
        item.StreamInfo().Duration = 185000;
        writer.WriteItem(item, -1);
        writer.Finish();
    }
    const std::string ns = Uri(u"/playlist/ns/0/"), track = Uri(u"/playlist/track/0");
    EXPECT_EQ(std::string(stream.View()),
              "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<playlist xmlns=\"http://xspf.org/ns/0/\" "
              "xmlns:orvo=\"" +
                  ns + "\" version=\"1\">\r\n\t<trackList>\r\n\t\t<track>\r\n\t\t\t<location>" +
                  ToUtf8(kFileUri) +
                  "</location>\r\n\t\t\t<title>B</title>\r\n\t\t\t<creator>A</"
                  "creator>\r\n\t\t\t<duration>185000</duration>"
                  "\r\n\t\t\t<extension application=\"" +
                  track + "\"/>\r\n\t\t</track>\r\n\t</trackList>\r\n</playlist>");
}

TEST(ZanXSPF, RoundTripsEverythingItWrites) {
    TNuvXMLDocument preimage;
    auto& root = preimage.Add(u"orvo:view");
    root.Attributes.SetValue(u"mode", u"grid");
    root.Add(u"column").NodeValue = u"Title";
    auto* deep = &root;
    for (int i = 0; i < 2000; ++i) // deeper than any recursion would like
        deep = &deep->Add(u"n");
    TZanSettingsSection settings;
    settings.Add(u"Sort", u"Title");
    settings.Add(u"Empty", u"");
    TZanPlaylistSummary summary;
    summary.ID = u"id1";
    summary.Name = u"Mine";
    summary.ContentFiles = 2;
    summary.ContentSize = int64_t(1) << 40;
    summary.PlaybackCursor = 1;
    summary.PlaybackCursorAutoBookmark = 12345;
    summary.Shuffled = true;
    summary.Preimage = true;
    summary.Custom = {u"a=1", u"b"};
    summary.UserReordered = true;

    testsupport::TScopedFolder folder;
    const std::u16string file = folder.File("out.xspf");
    {
        TXSPFWriter writer(new TNuvFileStream(ToUtf8(file), TNuvFileMode::Create), true, file);
        writer.SetBasePath(folder.File(""));
        writer.WriteHeader();
        for (int i = 0; i < 3; ++i) {
            if (i != 1)
                writer.BeginGroup(u"G" + IntToStr(i), i == 0);
            TZanPlaylistItem item;
            item.SetFileName(i == 2 ? u"http://h/s?a=1&b=<2>" : folder.File("music/a%41 \u00e9.mp3"));
            item.SetValue(zitTitle, u"T\u0001" + IntToStr(i));
            item.SetValue(zitGenre, u"Jazz");
            item.SetValue(zitComment, u"line1\nline2");
            item.SetValue(zitLink, i ? u"http://h/page" : u"http://h/c.jpg?s=1");
            item.StreamInfo().Bitrate = 128 * i;
            item.SetFormat(u"MP3");
            item.SetStateFlag(i != 1);
            writer.WriteItem(item, i == 1 ? 4 : -1);
        }
        writer.WritePreimage(preimage);
        EXPECT_THROW(writer.WriteItem(TZanPlaylistItem(), -1), EOrvoXSPFUnexpectedState);
        writer.WriteSettings(settings);
        writer.WriteSummary(summary);
    }
    TXSPFReader reader(file);
    zantest::TPlaylist list;
    TZanPlaylistSummary back;
    zantest::Collect(reader, list, &back);
    EXPECT_EQ(back, summary);
    ASSERT_EQ(list.Entries.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        const auto& e = list.Entries[i];
        EXPECT_EQ(e.Name,
                  i == 2 ? u"http://h/s?a=1&b=<2>" : paths::ToNative(folder.File("music/a%41 \u00e9.mp3")));
        EXPECT_EQ(e.Title, u"T_x0001_" + IntToStr(i)); // the one character XML cannot hold
        EXPECT_EQ(e.Genre, u"Jazz");
        EXPECT_EQ(e.Comment, u"line1\nline2");
        EXPECT_EQ(e.Link, i ? u"http://h/page" : u"http://h/c.jpg?s=1");
        EXPECT_EQ(e.Bitrate, 128 * i);
        EXPECT_EQ(e.Format, u"MP3");
        EXPECT_EQ(e.State, i != 1);
        EXPECT_EQ(e.QueueIndex, i == 1 ? 4 : -1);
    }
    EXPECT_EQ(list.Groups, (std::vector<std::pair<std::u16string, bool>>{{u"G0", true}, {u"G2", false}}));
    EXPECT_EQ(list.GroupAt, (std::vector<size_t>{0, 2}));
    auto preimageBack = reader.TakePreimage();
    ASSERT_NE(preimageBack, nullptr);
    EXPECT_TRUE(preimageBack->Equals(preimage));
    auto settingsBack = reader.TakeSettings();
    ASSERT_NE(settingsBack, nullptr);
    EXPECT_EQ(*settingsBack, settings);

    if (std::system("command -v xmllint >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "xmllint is absent";
    std::string complaints;
    if (FILE* pipe = popen(("xmllint --huge --noout '" + ToUtf8(file) + "' 2>&1").c_str(), "r")) {
        char buffer[512];
        while (size_t n = fread(buffer, 1, sizeof buffer, pipe))
            complaints.append(buffer, n);
        EXPECT_EQ(pclose(pipe), 0) << complaints;
    }
}

TEST(ZanXSPF, PreimageTakesThePrefixesItBorrowsAlong) {
    std::string text = Playlist("<extension application=\"" + Uri(u"/playlist/preimage/0") +
                                "\"><x:y a=\"1\" xmlns:z=\"urn:z\"><z:w orvo:k=\"v\"/></x:y></extension>");
    text.replace(text.find("<playlist "), 10, "<playlist xmlns:x=\"urn:x\" xmlns:u=\"urn:unused\" ");
    TNuvMemoryStream input(text.data(), text.size());
    TXSPFReader reader(&input, false);
    reader.Load(nullptr, nullptr);
    auto preimage = reader.TakePreimage();
    ASSERT_NE(preimage, nullptr);
    const auto& top = (*preimage)[0];
    EXPECT_EQ(top.Attributes.GetValue(u"xmlns:x"), u"urn:x");
    EXPECT_EQ(top.Attributes.Find(u"xmlns:u"), nullptr);
    EXPECT_EQ(top.Attributes.Find(u"xmlns:orvo"), nullptr);
    TNuvMemoryStream output;
    TXSPFWriter writer(&output, false);
    writer.WritePreimage(*preimage);
    EXPECT_NO_THROW(writer.Finish());
    EXPECT_NE(output.View().find("<x:y a=\"1\" xmlns:z=\"urn:z\" xmlns:x=\"urn:x\">"),
              std::string_view::npos);
}

TEST(ZanXSPF, MovedPlaylistsFindTheirFiles) {
    testsupport::TScopedFolder folder;
    std::filesystem::create_directories(folder.Path() / "new");
    std::ofstream(folder.Path() / "new" / "a.mp3") << "x";
    auto uri = [&](const char* name) {
        return ToUtf8(paths::PathToFileUri(paths::ToNative(folder.File(name))));
    };
    const std::string text =
        Playlist("<location>" + uri("old/list.xspf") + "</location><trackList><track><location>" +
                 uri("old/a.mp3") + "</location></track><track><location>" + uri("old/b.mp3") +
                 "</location></track><track><location>/elsewhere/c.mp3</location></track>"
                 "</trackList>");
    std::ofstream(folder.Path() / "new" / "list.xspf") << text;
    TXSPFReader reader(folder.File("new/list.xspf"));
    zantest::TPlaylist list;
    zantest::Collect(reader, list);
    ASSERT_EQ(list.Entries.size(), 3u);
    EXPECT_EQ(list.Entries[0].Name, paths::ToNative(folder.File("new/a.mp3")));
    EXPECT_EQ(list.Entries[1].Name, paths::ToNative(folder.File("new/b.mp3")));
    // Rooted without a drive: where there are drives, on the playlist's.
    EXPECT_EQ(list.Entries[2].Name, paths::ToNative(paths::Drive(folder.File("")) + u"/elsewhere/c.mp3"));
}

TEST(ZanXSPF, BadInputEndsQuietly) {
    std::string deep =
        Playlist("<trackList><track><location>a</location></track><track><location>b</location>"
                 "<extension application=\"x\">");
    for (int i = 0; i < 100000; ++i)
        deep += "<e>";
    const std::string cases[] = {
        deep,
        Playlist(
            "<trackList><track><location>a</location></track><track><location>b</location><oops></track>"),
        Playlist("<trackList><track><location>a</location></track><track><location>b</location></track>") +
            "<x/>",
    };
    for (const auto& c : cases) {
        const auto list = Read(c, kXSPF);
        ASSERT_GE(list.Entries.size(), 1u);
        EXPECT_EQ(list.Entries[0].Name, u"a");
    }
    // Without a receiver the load stops at the track list; what came before is still read.
    const std::string text =
        Playlist("<title>Before</title><trackList><track/></trackList><title>After</title>");
    TNuvMemoryStream stream(text.data(), text.size());
    TXSPFReader reader(&stream, false);
    TZanPlaylistSummary summary;
    reader.Load(&summary, nullptr);
    EXPECT_EQ(summary.Name, u"Before");
}

TEST(ZanPlaylistCorpus, XspfTestCasesAndRealLists) {
    TUNEDEX_REQUIRE_CORPUS("xspf", folder);
    size_t files = 0;
    for (const auto& file : std::filesystem::recursive_directory_iterator(folder)) {
        if (file.path().extension() != ".xspf")
            continue;
        ++files;
        const std::string bytes = zantest::FileBytes(file.path());
        // Tracks of the track list (an extension may hold elements of any name).
        const size_t from = bytes.find("<trackList"), to = bytes.find("</trackList>");
        size_t tracks = 0;
        if (from != std::string::npos && to != std::string::npos)
            for (size_t at = bytes.find("<track", from); at < to; at = bytes.find("<track", at + 1))
                tracks += bytes[at + 6] == '>' || bytes[at + 6] == ' ';
        zantest::TPlaylist list;
        EXPECT_NO_THROW(list = Read(bytes)) << file.path();
        const bool valid = file.path().string().find("/for_version_1/pass/") != std::string::npos;
        if (valid) {
            EXPECT_TRUE(list.Detected) << file.path();
            EXPECT_EQ(list.Entries.size(), tracks) << file.path();
        } else
            EXPECT_LE(list.Entries.size(), tracks) << file.path();
    }
    EXPECT_GT(files, 100u);

    const auto extensive =
        Read(zantest::FileBytes(folder / "xiph-testcase/for_version_1/pass/track-extensive.xspf"));
    ASSERT_EQ(extensive.Entries.size(), 1u);
    const auto& e = extensive.Entries[0];
    EXPECT_EQ(e.Name, u"http://example.com/my.mp3");
    EXPECT_EQ(e.Title, u"My Way");
    EXPECT_EQ(e.Artist, u"Frank Sinatra");
    EXPECT_EQ(e.Comment, u"This is my theme song.");
    EXPECT_EQ(e.Album, u"Frank Sinatra's Greatest Hits");
    EXPECT_EQ(e.Link, u"http://franksinatra.com/img/myway");
    EXPECT_EQ(e.Duration, 19200u);
    const auto base =
        Read(zantest::FileBytes(folder / "xiph-testcase/for_version_1/pass/playlist-xml-base.xspf"));
    ASSERT_EQ(base.Entries.size(), 1u);
    EXPECT_EQ(base.Entries[0].Name, u"bar");
}

TEST(ZanXSPFThreads, LoadsShareOneLoaderTree) {
    std::string body = "<title>T</title><trackList>";
    for (int i = 0; i < 50; ++i)
        body += "<track><location>http://h/" + std::to_string(i) + "</location><meta rel=\"genre\">G" +
                std::to_string(i) + "</meta><extension application=\"" + Uri(u"/playlist/track/0") +
                "\"><orvo:queueIndex>" + std::to_string(i) + "</orvo:queueIndex></extension></track>";
    const std::string text = Playlist(body + "</trackList>");
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int round = 0; round < 20; ++round) {
                const auto list = Read(text, kXSPF);
                bool right = list.Entries.size() == 50;
                for (size_t i = 0; right && i < list.Entries.size(); ++i)
                    right = list.Entries[i].Genre == std::u16string(u"G").append(IntToStr(int64_t(i))) &&
                            list.Entries[i].QueueIndex == int32_t(i);
                wrong += !right;
            }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(wrong, 0);
}
