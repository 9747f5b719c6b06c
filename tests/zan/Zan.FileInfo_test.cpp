#include "zan/Zan.FileInfo.h"

#include "platform/Platform.Paths.h"

#include <gtest/gtest.h>

using namespace std::string_literals;

namespace {

class TCountingInfo : public TZanPlaylistItem {
public:
    int Changes = 0;
    std::vector<uint16_t> Flags;

protected:
    void DoChanged() override { ++Changes; }
    void FlagChanged(uint16_t mask) override { Flags.push_back(mask); }
};

} // namespace

TEST(ZanFileInfo, CleansTextsBeforeStoringThem) {
    struct TCase {
        int Index;
        std::u16string Input, Stored;
    } cases[] = {
        {zitTitle, u"  A\tB\u0000C \r\n"s, u"A B C"},
        {zitAlbumGain, u"-6.5 dB", u"-6.50 dB"},
        {zitTrackGain, u"junk", u"0.00 dB"},
        {zitTrackPeak, u"0.98765432 x", u"0.987654"},
        {zitAlbumPeak, u"-1", u""},
        {zitTitle, std::u16string(400, u'x'), std::u16string(360, u'x')},
        {zitLink, std::u16string(3000, u'x'), std::u16string(2048, u'x')},
        {zitComment, std::u16string(1000, u'x'), std::u16string(1000, u'x')},
        // A cut never leaves half of a surrogate pair behind.
        {zitGenre, std::u16string(359, u'x') + u"\U0001F3B5", std::u16string(359, u'x')},
    };
    for (const auto& c : cases) {
        TZanCustomFileInfo info;
        info.SetValue(c.Index, c.Input);
        EXPECT_EQ(info.GetValue(c.Index), c.Stored) << c.Index;
    }
}

TEST(ZanFileInfo, ComparesRawTextBeforeCleaningAndNotifiesOncePerUpdate) {
    TCountingInfo info;
    info.SetValue(zitTitle, u" Radio\t1 ");
    EXPECT_EQ(info.GetValue(zitTitle), u"Radio 1");
    EXPECT_EQ(info.Changes, 1);
    info.SetValue(zitTitle, u"Radio 1"); // equal to the stored text: nothing happens
    EXPECT_EQ(info.Changes, 1);
    info.BeginUpdate();
    info.SetValue(zitArtist, u"A");
    info.SetBPM(-5);
    info.SetFileSize(10);
    info.EndUpdate();
    EXPECT_EQ(info.Changes, 2);
    EXPECT_EQ(info.BPM(), 0);
}

TEST(ZanFileInfo, SplitsAndJoinsNumberAndTotal) {
    TZanCustomFileInfo info;
    info.SetValue(zitTrack, u"1/12");
    info.SetTrackNumber(u"3");
    EXPECT_EQ(info.GetValue(zitTrack), u"3/12");
    info.SetValue(zitTrack, u"4/5");
    info.SetTrackTotal(u"10");
    EXPECT_EQ(info.GetValue(zitTrack), u"4/10");
    info.SetValue(zitTrack, u"2");
    info.SetTrackTotal(u"");
    EXPECT_EQ(info.GetValue(zitTrack), u"2");
    info.SetDiskNumber(u"1");
    info.SetDiskTotal(u"2");
    EXPECT_EQ(info.GetPropertyValue(u"Disk"), u"1/2");
    EXPECT_EQ(info.GetPropertyValue(u"DiskTotal"), u"2");
}

TEST(ZanFileInfo, PlaylistItemFlagsAndAssign) {
    TCountingInfo item;
    EXPECT_TRUE(item.StateFlag());
    item.SetFileName(u"http://host/stream");
    EXPECT_TRUE(item.URLFlag());
    item.SetFileName(u" /music/a.mp3 ");
    EXPECT_EQ(item.FileName(), u"/music/a.mp3");
    EXPECT_FALSE(item.URLFlag());
    EXPECT_EQ(item.Flags, (std::vector<uint16_t>{16, 16}));
    item.SetFileName(u"/music/x/../b.mp3");
    const std::u16string normal = platform::nativepaths::ToNative(u"/music/b.mp3");
    EXPECT_EQ(item.FileName(), normal);

    item.SetStateFlag(false);
    item.SetFormat(u"MP3");
    item.SetCustom(u"c");
    item.SetValue(zitTitle, u"T");
    item.StreamInfo().Bitrate = 128;
    TZanPlaylistItem copy;
    copy.Assign(&item);
    EXPECT_FALSE(copy.StateFlag());
    EXPECT_EQ(copy.Format(), u"MP3");
    EXPECT_EQ(copy.Custom(), u"c");
    EXPECT_EQ(copy.GetValue(zitTitle), u"T");
    EXPECT_EQ(copy.StreamInfo().Bitrate, 128);
    auto clone = item.Clone();
    EXPECT_EQ(typeid(*clone), typeid(TZanCustomFileInfo));
    EXPECT_EQ(clone->FileName(), normal);
}

TEST(ZanFileInfo, DatesComeFromTheHookOnce) {
    int calls = 0;
    auto old = ZanSetFileDateHook([&](const std::u16string& name, double& created, double& modified) {
        ++calls;
        created = 1;
        modified = name == u"/x" ? 2 : 3;
        return true;
    });
    TZanCustomFileInfo info;
    info.SetFileName(u"/x");
    EXPECT_EQ(info.FileDateOfModification(), 2);
    EXPECT_EQ(info.FileDateOfCreation(), 1);
    EXPECT_EQ(calls, 1);
    info.SetFileName(u"/y");
    EXPECT_EQ(info.FileDateOfModification(), 3);
    EXPECT_EQ(calls, 2);
    ZanSetFileDateHook(old);
}

TEST(ZanFileInfo, ImageLinksAndDisplayTitles) {
    for (auto link : {u"cover.PNG", u"http://h/a/cover.jpg?s=1", u"http://h/c.png?w=1&h=2", u"x.webp"})
        EXPECT_TRUE(IsImageLink(link));
    for (auto link : {u"http://h/page", u"http://h.png/x", u"cover.png.txt", u""})
        EXPECT_FALSE(IsImageLink(link));

    TZanCustomFileInfo info;
    info.SetFileName(u"/music/song.name.mp3");
    EXPECT_EQ(TZanFileInfoUtils::MakeDisplayTitle(info), u"song.name");
    info.SetValue(zitArtist, u"A");
    EXPECT_EQ(TZanFileInfoUtils::MakeDisplayTitle(info), u"song.name");
    info.SetValue(zitTitle, u"B");
    EXPECT_EQ(TZanFileInfoUtils::MakeDisplayTitle(info), u"A - B");
}
