#include "zan/Zan.FileFormats.PLS.h"

#include "tests/TestSupport.h"
#include "tests/zan/Zan.TestSupport.h"

using zantest::Read;

namespace {

const TZanPlaylistReaderClass* const kPLS = &kPLSPlaylistReaderClass;

std::vector<std::u16string> Names(const zantest::TPlaylist& list) {
    std::vector<std::u16string> names;
    for (const auto& e : list.Entries)
        names.push_back(e.Name);
    return names;
}

} // namespace

TEST(ZanPLS, KeysCountsAndValues) {
    const auto list =
        Read("\xEF\xBB\xBFjunk=1\r\n[PlayList]\r\nnumberofentries=3\r\nfile1=http://a/1\r\nTITLE1=One\r\n"
             "Length1=-1\r\nFile2 =http://a/2\r\nLength2=blah\r\nFile3=http://a/3\r\n"
             "Length3=185\u2028Title3=Three\r\n[other]\r\nFile4=x\r\n",
             kPLS);
    ASSERT_EQ(list.Entries.size(), 3u);
    EXPECT_EQ(list.Entries[0].Name, u"http://a/1");
    EXPECT_EQ(list.Entries[0].Title, u"One");
    EXPECT_EQ(list.Entries[0].Duration, 0u);
    EXPECT_EQ(list.Entries[1].Name, u""); // "File2 " is another key
    EXPECT_EQ(list.Entries[2].Duration, 185000u);
    EXPECT_EQ(list.Entries[2].Title, u"Three");
}

TEST(ZanPLS, CountsThatLieAreBoundedByTheInput) {
    struct TCase {
        std::string Text;
        size_t Entries;
    } cases[] = {
        {"[playlist]\nNumberOfEntries=2\nFile1=a\n", 2}, // missing keys still make an entry
        {"[playlist]\nNumberOfEntries=2147483647\nFile1=a\n", 2},
        {"[playlist]\nNumberOfEntries=-5\nFile1=a\n", 0},
        {"[playlist]\nNumberOfEntries=x\nFile1=a\n", 0},
        {"[playlist]\nNumberOfEntries=1\nFile99999999=a\n", 1},
        {"[playlist]\nFile1=a\nFile2=b\n", 2}, // no count: the highest FileN says it
        {"[playlist]\nFile99999999=a\n", 1},
        {"no section\nFile1=a\n", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Read(c.Text, kPLS).Entries.size(), c.Entries) << c.Text;
}

TEST(ZanPLS, WritesTheExactFormAndRoundTrips) {
    const std::string bytes = zantest::Write(kPLSPlaylistWriterClass, [](TZanPlaylistWriter& writer) {
        TZanPlaylistItem item;
        item.SetFileName(u"s1.mp3");
        item.SetValue(zitTitle, u"Radio");
        writer.WriteItem(item, -1);
    });
    EXPECT_EQ(
        bytes,
        "[playlist]\r\nFile1=s1.mp3\r\nLength1=0\r\nTitle1=Radio\r\nNumberOfEntries=1\r\nVersion=2\r\n");
    EXPECT_EQ(zantest::Write(kPLSPlaylistWriterClass, [](TZanPlaylistWriter&) {}),
              "[playlist]\r\nNumberOfEntries=0\r\nVersion=2\r\n");

    const auto back = Read(zantest::Write(kPLSPlaylistWriterClass, [](TZanPlaylistWriter& writer) {
        for (int i = 0; i < 3; ++i) {
            TZanPlaylistItem item;
            item.SetFileName(u"http://h/" + IntToStr(i));
            item.SetValue(zitArtist, u"A\u00e9");
            item.SetValue(zitTitle, u"T\r\nFile9=x"); // a value cannot forge a key
            item.StreamInfo().Duration = 3000 * i;
            writer.WriteItem(item, -1);
        }
    }));
    ASSERT_TRUE(back.Detected);
    ASSERT_EQ(back.Entries.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(back.Entries[i].Name, u"http://h/" + IntToStr(i));
        EXPECT_EQ(back.Entries[i].Title, u"A\u00e9 - T  File9=x");
        EXPECT_EQ(back.Entries[i].Duration, uint32_t(3000 * i));
    }
}

TEST(ZanPLS, ManyEntriesReadInOnePass) {
    std::string text = "[playlist]\n";
    const int count = 100000;
    for (int i = 1; i <= count; ++i)
        text += "File" + std::to_string(i) + "=http://h/" + std::to_string(i) + "\n";
    text += "NumberOfEntries=" + std::to_string(count) + "\n";
    const auto list = Read(text);
    ASSERT_EQ(list.Entries.size(), size_t(count));
    EXPECT_EQ(list.Entries.back().Name, u"http://h/100000");
}

TEST(ZanPlaylistCorpus, RealPlsListsGiveTheirEntries) {
    TUNEDEX_REQUIRE_CORPUS("playlists", folder);
    struct TCase {
        const char* File;
        size_t Entries;
        std::u16string First;
    } cases[] = {
        {"totem-pl-parser/BassDrive.pls", 12, u"http://shouthostdirect16.streams.bassdrive.com:8200"},
        {"totem-pl-parser/missing-items.pls", 21,
         u"http://network.absoluteradio.co.uk/core/audio/ogg/live.pls?service=vr"},
        {"totem-pl-parser/emptyplaylist.pls", 0, u""},
        {"clementine/pls_somafm.pls", 4, u"http://streamer-dtc-aa05.somafm.com:80/stream/1018"},
    };
    for (const auto& c : cases) {
        const auto names = Names(Read(zantest::FileBytes(folder / c.File), kPLS, u"http://list.example/"));
        EXPECT_EQ(names.size(), c.Entries) << c.File;
        if (!names.empty()) {
            EXPECT_EQ(names[0], c.First) << c.File;
        }
    }
}
