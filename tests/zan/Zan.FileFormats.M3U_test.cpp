#include "zan/Zan.FileFormats.M3U.h"
#include "zan/Zan.FileFormats.PLS.h"

#include "nuv/Nuv.FileFormats.XML.h"

#include "tests/TestSupport.h"
#include "tests/zan/Zan.TestSupport.h"

#include <rapidjson/document.h>

using zantest::Read;

namespace {

const TZanPlaylistReaderClass* const kM3U = &kM3UPlaylistReaderClass;

} // namespace

TEST(ZanM3U, Directives) {
    const std::string text = "#EXTM3U\r\n"
                             "\t #EXTINF:-1,Station\r\n"
                             "http://a/1\r\n"
                             "#EXTINF:+30,X\n"
                             "b.mp3\n"
                             "#EXTINF:0 tvg-id=\"a\" tvg-logo=\"p.png\" group-title=\"News\",Name\n"
                             "c.mp3\n"
                             "#EXTINF:0,Other\n"
                             "d.mp3\n"
                             "#EXTINF:5 logo=\"q.png\",Only logo\n"
                             "e.mp3\n"
                             "#EXTINF:Hello\n"
                             "#extinf:10,x\n"
                             "f.mp3\n"
                             "#EXTGRP:Rock\n"
                             "#EXTALBUMARTURL:http://h/cover.jpg\n"
                             "#EXTINF:\xEF\xBC\x91\xEF\xBC\x92,Full width\n"
                             "g.mp3\n"
                             "#EXTINF:7 group-title=\"A, B\" tvg-name=\"x, y\",Comma, in title\n"
                             "h.mp3\n"
                             "plain.mp3\n";
    const auto list = Read(text, kM3U);
    struct TExpected {
        std::u16string Name, Title, Album, Link;
        uint32_t Duration;
    } expected[] = {
        {u"http://a/1", u"Station", u"", u"", 0},
        {u"b.mp3", u"X", u"", u"", 0},
        {u"c.mp3", u"Name", u"News", u"p.png", 0},
        {u"d.mp3", u"Other", u"News", u"", 0},
        {u"e.mp3", u"Only logo", u"", u"q.png", 5000},
        {u"f.mp3", u"ello", u"", u"", 0},
        {u"g.mp3", u"Full width", u"Rock", u"http://h/cover.jpg", 12000},
        {u"h.mp3", u"Comma, in title", u"A, B", u"", 7000},
    };
    ASSERT_EQ(list.Entries.size(), std::size(expected) + 1);
    for (size_t i = 0; i < std::size(expected); ++i) {
        const auto& e = list.Entries[i];
        EXPECT_TRUE(e.HasInfo);
        EXPECT_EQ(e.Name, expected[i].Name) << i;
        EXPECT_EQ(e.Title, expected[i].Title) << i;
        EXPECT_EQ(e.Album, expected[i].Album) << i;
        EXPECT_EQ(e.Link, expected[i].Link) << i;
        EXPECT_EQ(e.Duration, expected[i].Duration) << i;
        EXPECT_EQ(e.QueueIndex, -1);
    }
    EXPECT_FALSE(list.Entries.back().HasInfo); // no directive before it
    EXPECT_TRUE(list.Groups.empty());
}

TEST(ZanM3U, WritesTheExactForm) {
    const std::string bytes = zantest::Write(kM3U8PlaylistWriterClass, [](TZanPlaylistWriter& writer) {
        TZanPlaylistItem item;
        item.SetFileName(u"/m/b.mp3");
        item.SetValue(zitArtist, u"A");
        item.SetValue(zitTitle, u"B");
        item.StreamInfo().Duration = 185000;
        writer.WriteItem(item, -1);
        TZanPlaylistItem station;
        station.SetFileName(u"http://h/s");
        station.SetValue(zitTitle, u"R\u00e9\u2028x"); // a line separator cannot start a line
        station.SetValue(zitLink, u"http://h/logo.png?w=1");
        writer.WriteItem(station, -1);
    });
    EXPECT_EQ(bytes, "#EXTM3U\r\n#EXTINF:185,A - B\r\n/m/b.mp3\r\n"
                     "#EXTINF:-1,R\xC3\xA9 x\r\n#EXTALBUMARTURL:http://h/logo.png?w=1\r\nhttp://h/s\r\n");
}

TEST(ZanM3U, RoundTripsThroughBothWriters) {
    auto write = [](const TZanPlaylistWriterClass& cls) {
        return zantest::Write(cls, [](TZanPlaylistWriter& writer) {
            TZanPlaylistItem item;
            item.SetFileName(u"http://h/\u00e9t\u00e9");
            item.SetValue(zitTitle, u"Caf\u00e9 \u65e5\u672c");
            item.SetValue(zitLink, u"http://h/c.png");
            item.StreamInfo().Duration = 61999;
            writer.WriteItem(item, 3);
        });
    };
    const auto utf8 = Read(write(kM3U8PlaylistWriterClass));
    ASSERT_EQ(utf8.Entries.size(), 1u);
    EXPECT_EQ(utf8.Entries[0].Name, u"http://h/\u00e9t\u00e9");
    EXPECT_EQ(utf8.Entries[0].Title, u"Caf\u00e9 \u65e5\u672c");
    EXPECT_EQ(utf8.Entries[0].Link, u"http://h/c.png");
    EXPECT_EQ(utf8.Entries[0].Duration, 61000u);
    // The 8-bit writer keeps what its code page holds and writes '?' for the rest; the reader
    // takes the invalid UTF-8 back through the 8-bit fallback.
    const auto legacy = Read(write(kM3UPlaylistWriterClass));
    ASSERT_EQ(legacy.Entries.size(), 1u);
    EXPECT_EQ(legacy.Entries[0].Name, u"http://h/\u00e9t\u00e9");
    EXPECT_EQ(legacy.Entries[0].Title, u"Caf\u00e9 ??");
}

TEST(ZanM3U, BadInputEndsInEntriesOrNone) {
    // Many lines: one entry each, in time and memory linear in the input.
    std::string many = "#EXTM3U\n";
    for (int i = 0; i < 200000; ++i)
        many += "#EXTINF:1,t\nhttp://h/" + std::to_string(i) + "\n";
    EXPECT_EQ(Read(many).Entries.size(), 200000u);
    const std::string cases[] = {
        "#EXTM3U\n#EXTINF:1 logo=\"never closed,T\nx.mp3\n",
        "#EXTM3U\n#EXTINF:99999999999999999999,T\nx.mp3\n",
        "#EXTM3U\n#EXTINF:" + std::string(1 << 20, '9') + "\nx.mp3\n",
        // A line far longer than any name is passed over, with the directive before it.
        "#EXTM3U\n#EXTINF:1 logo=\"" + std::string(1 << 20, 'a') + ",T\n" + std::string(1 << 20, 'b') +
            "\nx.mp3\n",
        // UTF-16 with an odd byte count.
        ZanEncodeText(u"#EXTM3U\nx.mp3", TZanTextEncoding::Utf16LE).insert(0, "\xFF\xFE") + "!",
        ZanEncodeText(u"#EXTM3U\nx.mp3", TZanTextEncoding::Utf16BE).insert(0, "\xFE\xFF") + "!",
    };
    for (const auto& c : cases) {
        const auto list = Read(c, kM3U);
        ASSERT_LE(list.Entries.size(), 1u);
        if (!list.Entries.empty()) {
            EXPECT_EQ(list.Entries[0].Name, u"x.mp3");
        }
    }
}

TEST(ZanPlaylistCorpus, RealM3UListsDetectOrAreRefused) {
    TUNEDEX_REQUIRE_CORPUS("playlists", folder);
    size_t files = 0, detected = 0;
    for (const auto& file : std::filesystem::recursive_directory_iterator(folder)) {
        const auto ext = file.path().extension();
        if (ext != ".m3u" && ext != ".m3u8" && ext != ".pls")
            continue;
        ++files;
        const std::string bytes = zantest::FileBytes(file.path());
        const auto list = Read(bytes);
        detected += list.Detected;
        // Whatever the registry says, the reader of the extension reads the file to its end.
        const auto direct = Read(bytes, ext == ".pls" ? &kPLSPlaylistReaderClass : kM3U);
        for (const auto& entry : direct.Entries)
            EXPECT_FALSE(entry.Name.empty() && ext != ".pls") << file.path();
    }
    EXPECT_GT(files, 40u);
    EXPECT_GT(detected, files / 2);
}

TEST(ZanPlaylistCorpus, IptvListsGiveTheKnownEntries) {
    TUNEDEX_REQUIRE_CORPUS("playlists/iptv-playlist-parser", folder);
    for (const auto& file : std::filesystem::directory_iterator(folder / "input")) {
        const auto json = folder / "expected-json" / file.path().filename().replace_extension(".json");
        if (!std::filesystem::exists(json))
            continue;
        rapidjson::Document expected;
        expected.Parse(zantest::FileBytes(json).c_str());
        ASSERT_TRUE(expected.IsObject()) << json;
        auto list = Read(zantest::FileBytes(file.path()), kM3U);
        // Lines outside any directive ("=====", stray text) are bare entries here; the expected
        // results leave them out.
        std::erase_if(list.Entries, [](const zantest::TEntry& e) { return !e.HasInfo; });
        const auto& items = expected["items"];
        ASSERT_EQ(list.Entries.size(), items.Size()) << file.path();
        for (rapidjson::SizeType i = 0; i < items.Size(); ++i) {
            const auto& e = list.Entries[i];
            EXPECT_EQ(ToUtf8(e.Name), items[i]["url"].GetString()) << file.path() << " " << i;
            EXPECT_EQ(ToUtf8(e.Title), ToUtf8(Trim(FromUtf8(items[i]["name"].GetString())))) << file.path();
            EXPECT_EQ(ToUtf8(e.Link), items[i]["tvg"]["logo"].GetString()) << file.path() << " " << i;
        }
        if (file.path().filename() == "base.m3u") {
            EXPECT_EQ(list.Entries[0].Album, u"\u0422\u043e\u043b\u044c\u043a\u043e Android");
        }
    }
}

TEST(ZanPlaylistCorpus, RemoteListsResolveAgainstTheirAddress) {
    TUNEDEX_REQUIRE_CORPUS("playlists/nightingale", folder);
    struct TCase {
        const char* Input;
        std::u16string Base;
        const char* Expected;
    } cases[] = {
        {"relative_remote.m3u", u"http://www.foo.com/", "relative_remote_result.xml"},
        {"relative_remote.pls", u"http://www.foo.com/", "relative_remote_result.xml"},
        {"absolute_remote.m3u", u"http://www.foo.com/mp3/", "absolute_remote_result.xml"},
        {"absolute_remote.pls", u"http://www.foo.com/mp3", "absolute_remote_result.xml"},
    };
    for (const auto& c : cases) {
        TNuvXMLDocument expected;
        TNuvFileStream stream((folder / "expected" / c.Expected).string(), TNuvFileMode::OpenRead);
        expected.LoadFromStream(stream);
        ASSERT_EQ(expected.Count(), 1u);
        const std::string path = (folder / c.Input).string();
        const auto* cls = path.ends_with(".pls") ? &kPLSPlaylistReaderClass : kM3U;
        const auto list = Read(zantest::FileBytes(folder / c.Input), cls, c.Base);
        ASSERT_EQ(list.Entries.size(), expected[0].Count()) << c.Input;
        for (size_t i = 0; i < list.Entries.size(); ++i)
            EXPECT_EQ(list.Entries[i].Name, expected[0][i].Attributes.GetValue(u"value")) << c.Input;
    }
}
