#pragma once
// The file-info model: the tag texts, file name, size and stream properties of one media file,
// with the cleaning rules every stored value goes through, and the playlist entry built on it.
//
// Thread-safety: a file info is used by one thread at a time. The file-date hook may be set and
// used from any thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Stream properties of a media file.
struct TZanStreamInfo {
    int16_t Bits = 0;      // bits per sample
    int32_t Bitrate = 0;   // kbit/s
    uint16_t Channels = 0; // low 12 bits the channel count, the upper 4 carried along
    uint32_t Duration = 0; // milliseconds
    uint32_t SampleRate = 0;
    int64_t Reserved = 0;
    std::u16string ReservedText;

    void Clear() { *this = TZanStreamInfo(); }
    bool operator==(const TZanStreamInfo&) const = default;
};

// Indexes of the tag texts.
enum TZanInfoText : int {
    zitAlbum,
    zitAlbumArtist,
    zitArtist,
    zitComment,
    zitComposer,
    zitCopyright,
    zitDate,
    zitEncodedBy,
    zitGenre,
    zitCueSheet,
    zitLink,
    zitLyrics,
    zitTitle,
    zitTrack,
    zitDisk,
    zitPublisher,
    zitAlbumGain,
    zitAlbumPeak,
    zitTrackGain,
    zitTrackPeak,
    zitMood,
    zitISRC,
    zitCatalog,
    zitLyricist,
    zitConductor,
    zitKey,
};
constexpr int kZanInfoTextCount = 26;

// The published name of a tag text ("Album"), or "" for an index out of range.
std::u16string_view ZanInfoTextName(int index);

// Looks up the creation and modification dates (days since 1899-12-30) of a file; false when it
// cannot tell.
using TZanFileDateHook =
    std::function<bool(const std::u16string& fileName, double& created, double& modified)>;
// Replaces the process-wide hook (by default one that asks the file system); returns the old one.
TZanFileDateHook ZanSetFileDateHook(TZanFileDateHook hook);

class TZanCustomFileInfo {
public:
    TZanCustomFileInfo();
    virtual ~TZanCustomFileInfo();
    TZanCustomFileInfo(const TZanCustomFileInfo&) = delete;
    TZanCustomFileInfo& operator=(const TZanCustomFileInfo&) = delete;

    // Copies every value of `source`, uncleaned and with one change notification; a null source
    // clears.
    void Assign(const TZanCustomFileInfo* source);
    // Keeps only the texts equal to other's (ignoring ASCII case); BPM and Rating where they differ
    // become 0.
    virtual void Intersect(const TZanCustomFileInfo& other);
    // Fills the empty texts and zero numbers from other.
    virtual void Merge(const TZanCustomFileInfo& other, uint32_t flags);
    // Clears the stream info, the file size and the tags.
    virtual void Clear();
    // Rating and BPM to 0, the texts to empty.
    virtual void ClearTags();
    // A new info with the same values.
    virtual std::unique_ptr<TZanCustomFileInfo> Clone() const;
    // The value of a published property by its name ("Title", "TrackNumber", "Bitrate"), or "".
    virtual std::u16string GetPropertyValue(std::u16string_view name) const;
    // BPM and Rating are 0 and every text is empty.
    virtual bool IsEmpty() const;
    virtual std::u16string DisplayArtist() const { return GetValue(zitArtist); }
    virtual std::u16string DisplayTitle() const { return GetValue(zitTitle); }

    const std::u16string& GetValue(int index) const;
    // Stores the text cleaned (see NormalizeValue) unless it equals the stored one as given.
    void SetValue(int index, std::u16string_view text);

    void BeginUpdate();
    void EndUpdate();
    // Notifies now, or at the last EndUpdate.
    void Changed();

    const std::u16string& FileName() const { return FFileName; }
    // Stores the name trimmed (".." and "~" forms made full) and runs FileNameChanged.
    void SetFileName(std::u16string_view name);
    int64_t FileSize() const { return FFileSize; }
    void SetFileSize(int64_t size);
    int16_t BPM() const { return FBPM; }
    // Values of 0 or below store 0.
    void SetBPM(int16_t bpm);
    int16_t Rating() const { return FRating; }
    void SetRating(int16_t rating);
    TZanStreamInfo& StreamInfo() { return FStreamInfo; }
    const TZanStreamInfo& StreamInfo() const { return FStreamInfo; }

    // The halves of Track and Disk ("3/12").
    std::u16string TrackNumber() const { return Half(zitTrack, false); }
    std::u16string TrackTotal() const { return Half(zitTrack, true); }
    void SetTrackNumber(std::u16string_view number) { SetHalf(zitTrack, false, number); }
    void SetTrackTotal(std::u16string_view total) { SetHalf(zitTrack, true, total); }
    std::u16string DiskNumber() const { return Half(zitDisk, false); }
    std::u16string DiskTotal() const { return Half(zitDisk, true); }
    void SetDiskNumber(std::u16string_view number) { SetHalf(zitDisk, false, number); }
    void SetDiskTotal(std::u16string_view total) { SetHalf(zitDisk, true, total); }
    // The leading number of a gain or peak text, and setting it through the text's rule.
    float GainOrPeakAsSingle(int index) const;
    void SetGainOrPeakAsSingle(int index, float value);

    // Dates of the file, fetched through the file-date hook on first use.
    double FileDateOfCreation();
    double FileDateOfModification();

protected:
    virtual void AssignValues(const TZanCustomFileInfo& source);
    virtual void DoChanged() {}
    virtual void FileNameChanged();
    virtual void FetchFileDates();
    // Cleans a text before it is stored.
    virtual void NormalizeValue(int index, std::u16string& text) const;
    virtual void FlagChanged(uint16_t) {}

    enum : uint16_t {
        kFlagAssigning = 1,
        kFlagChangePending = 2,
        kFlagState = 4,
        kFlagURL = 16,
    };
    bool Flag(uint16_t mask) const { return (FFlags & mask) != 0; }
    // Sets or clears a flag; FlagChanged runs for the two public ones when they change.
    void SetFlag(uint16_t mask, bool on);

private:
    std::u16string Half(int index, bool total) const;
    void SetHalf(int index, bool total, std::u16string_view value);

    int16_t FBPM = 0;
    int16_t FRating = 0;
    uint16_t FFlags = 0;
    uint16_t FUpdateCount = 0;
    std::u16string FValues[kZanInfoTextCount];
    double FFileDateOfCreation = -1;
    double FFileDateOfModification = -1;
    int64_t FFileSize = 0;
    std::u16string FFileName;
    TZanStreamInfo FStreamInfo;
};

// A playlist entry: a file info with the texts the playlist formats carry besides the tags.
class TZanPlaylistItem : public TZanCustomFileInfo {
public:
    TZanPlaylistItem();
    // A plain file info with the same values (the playlist-only fields stay behind).
    std::unique_ptr<TZanCustomFileInfo> Clone() const override;

    const std::u16string& Custom() const { return FCustom; }
    void SetCustom(std::u16string_view custom);
    const std::u16string& Format() const { return FFormat; }
    void SetFormat(std::u16string_view format) { FFormat.assign(format); }
    bool StateFlag() const { return Flag(kFlagState); }
    void SetStateFlag(bool on) { SetFlag(kFlagState, on); }
    // The file name has URL form.
    bool URLFlag() const { return Flag(kFlagURL); }

protected:
    void AssignValues(const TZanCustomFileInfo& source) override;
    void FileNameChanged() override;

private:
    std::u16string FCustom;
    std::u16string FFormat;
};

// Hands a file info to whoever keeps the interface.
class IZanFileInfo {
public:
    virtual ~IZanFileInfo() = default;
    virtual TZanCustomFileInfo* GetData() = 0;
};

// Owns one file info for as long as someone holds it.
class TZanFileInfoKeeper : public IZanFileInfo {
public:
    explicit TZanFileInfoKeeper(std::unique_ptr<TZanCustomFileInfo> info) : FInfo(std::move(info)) {}
    TZanCustomFileInfo* GetData() override { return FInfo.get(); }

private:
    std::unique_ptr<TZanCustomFileInfo> FInfo;
};

// Whether the text names a picture by its extension (".png", ".jpg" and the like), looking past a
// query such as "?w=1&h=2".
bool IsImageLink(std::u16string_view text);

// Splitting and joining "number/total" texts.
struct TZanFileInfoTrackNumbersHelper {
    static void SplitNumbers(std::u16string_view text, std::u16string& number, std::u16string& total);
    static std::u16string JoinNumbers(std::u16string_view number, std::u16string_view total);
};

struct TZanFileInfoUtils {
    // "Artist - Title", or Title, or the file name without folder and extension.
    static std::u16string MakeDisplayTitle(const TZanCustomFileInfo& info);
};

// Playlist-level properties that only XSPF carries.
struct TZanPlaylistSummary {
    int32_t ContentFiles = 0;
    int64_t ContentDuration = 0;
    int64_t ContentSize = 0;
    std::u16string ID;
    std::u16string Name;
    bool NameIsAutoSet = false;
    int32_t PlaybackCursor = -1;
    int32_t PlaybackCursorAutoBookmark = 0; // milliseconds
    int32_t PlaybackTempo = 0;
    bool Preimage = false;
    bool PreimageAutoSync = false;
    bool ReadOnly = false;
    bool Shuffled = false;
    std::u16string SortingTemplate;
    std::vector<std::u16string> Custom;
    bool UserReordered = false;

    bool operator==(const TZanPlaylistSummary&) const = default;
};
