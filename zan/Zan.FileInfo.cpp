#include "zan/Zan.FileInfo.h"

#include "nuv/Nuv.Strings.h"
#include "platform/Platform.Paths.h"

#include <sys/stat.h>

#include <charconv>
#include <cmath>
#include <mutex>

namespace {

constexpr std::u16string_view kTextNames[kZanInfoTextCount] = {
    u"Album",     u"AlbumArtist", u"Artist",    u"Comment",   u"Composer",  u"Copyright", u"Date",
    u"EncodedBy", u"Genre",       u"CueSheet",  u"Link",      u"Lyrics",    u"Title",     u"Track",
    u"Disk",      u"Publisher",   u"AlbumGain", u"AlbumPeak", u"TrackGain", u"TrackPeak", u"Mood",
    u"ISRC",      u"Catalog",     u"Lyricist",  u"Conductor", u"Key"};

constexpr size_t kLongTextLimit = 524288;
constexpr size_t kLinkLimit = 2048;
constexpr size_t kTextLimit = 360;

std::mutex& HookLock() {
    static std::mutex lock;
    return lock;
}

bool FileSystemDates(const std::u16string& fileName, double& created, double& modified) {
    struct stat info {};
    const std::string path = ToUtf8(fileName);
    if (path.empty() || stat(path.c_str(), &info) != 0)
        return false;
    // Days since 1899-12-30; the file system keeps no creation date, so the change time stands in.
    constexpr double kUnixEpochDays = 25569.0;
    created = kUnixEpochDays + double(info.st_ctime) / 86400.0;
    modified = kUnixEpochDays + double(info.st_mtime) / 86400.0;
    return true;
}

TZanFileDateHook& Hook() {
    static TZanFileDateHook hook = FileSystemDates;
    return hook;
}

// Cuts to `limit` units without leaving half of a surrogate pair at the end.
void CutTo(std::u16string& text, size_t limit) {
    if (text.size() <= limit)
        return;
    text.resize(limit);
    if (!text.empty() && text.back() >= 0xD800 && text.back() < 0xDC00)
        text.pop_back();
}

// The number before the first space, '.' as decimal separator; 0 when it does not parse.
double LeadingNumber(std::u16string_view text) {
    const size_t space = text.find(u' ');
    const std::u16string_view token = text.substr(0, space);
    std::string ascii;
    for (char16_t c : token) {
        if (c > 0x7F)
            return 0;
        ascii += char(c);
    }
    double value = 0;
    const char* first = ascii.data();
    if (!ascii.empty() && ascii[0] == '+')
        ++first;
    const auto [end, error] = std::from_chars(first, ascii.data() + ascii.size(), value);
    if (error != std::errc() || end != ascii.data() + ascii.size() || !std::isfinite(value))
        return 0;
    return value;
}

bool IsGain(int index) {
    return index == zitAlbumGain || index == zitTrackGain;
}

bool IsPeak(int index) {
    return index == zitAlbumPeak || index == zitTrackPeak;
}

std::u16string GainText(double value) {
    return Format(u"%.2f dB", value);
}

std::u16string PeakText(double value) {
    return value <= 0 ? std::u16string() : Format(u"%.6f", value);
}

bool SameTextIgnoringAsciiCase(const std::u16string& a, const std::u16string& b) {
    return SameTextAscii(a, b);
}

} // namespace

std::u16string_view ZanInfoTextName(int index) {
    return index >= 0 && index < kZanInfoTextCount ? kTextNames[index] : std::u16string_view();
}

TZanFileDateHook ZanSetFileDateHook(TZanFileDateHook hook) {
    std::lock_guard guard(HookLock());
    TZanFileDateHook old = std::move(Hook());
    Hook() = hook ? std::move(hook) : TZanFileDateHook(FileSystemDates);
    return old;
}

// ---------------------------------------------------------------------------------------------

TZanCustomFileInfo::TZanCustomFileInfo() = default;

TZanCustomFileInfo::~TZanCustomFileInfo() {
    // Nothing is notified while an info goes away.
    ++FUpdateCount;
}

void TZanCustomFileInfo::Assign(const TZanCustomFileInfo* source) {
    if (!source) {
        Clear();
        return;
    }
    if (source == this)
        return;
    BeginUpdate();
    SetFlag(kFlagAssigning, true);
    AssignValues(*source);
    SetFlag(kFlagAssigning, false);
    Changed();
    EndUpdate();
}

void TZanCustomFileInfo::AssignValues(const TZanCustomFileInfo& source) {
    SetFileName(source.FFileName);
    FStreamInfo = source.FStreamInfo;
    FFileDateOfCreation = source.FFileDateOfCreation;
    FFileDateOfModification = source.FFileDateOfModification;
    for (int i = 0; i < kZanInfoTextCount; ++i)
        SetValue(i, source.FValues[i]);
    FFileSize = source.FFileSize;
    FRating = source.FRating;
    FBPM = source.FBPM;
}

void TZanCustomFileInfo::Intersect(const TZanCustomFileInfo& other) {
    BeginUpdate();
    for (int i = 0; i < kZanInfoTextCount; ++i)
        if (!SameTextIgnoringAsciiCase(FValues[i], other.FValues[i]))
            SetValue(i, u"");
    if (FBPM != other.FBPM)
        SetBPM(0);
    if (FRating != other.FRating)
        SetRating(0);
    EndUpdate();
}

void TZanCustomFileInfo::Merge(const TZanCustomFileInfo& other, uint32_t) {
    BeginUpdate();
    for (int i = 0; i < kZanInfoTextCount; ++i)
        if (FValues[i].empty() && !other.FValues[i].empty())
            SetValue(i, other.FValues[i]);
    if (FBPM == 0)
        SetBPM(other.FBPM);
    if (FRating == 0)
        SetRating(other.FRating);
    EndUpdate();
}

void TZanCustomFileInfo::Clear() {
    BeginUpdate();
    FStreamInfo.Clear();
    FFileSize = 0;
    ClearTags();
    Changed();
    EndUpdate();
}

void TZanCustomFileInfo::ClearTags() {
    BeginUpdate();
    FRating = 0;
    FBPM = 0;
    for (auto& value : FValues)
        value.clear();
    Changed();
    EndUpdate();
}

std::unique_ptr<TZanCustomFileInfo> TZanCustomFileInfo::Clone() const {
    auto copy = std::make_unique<TZanCustomFileInfo>();
    copy->Assign(this);
    return copy;
}

std::u16string TZanCustomFileInfo::GetPropertyValue(std::u16string_view name) const {
    for (int i = 0; i < kZanInfoTextCount; ++i)
        if (name == kTextNames[i])
            return FValues[i];
    if (name == u"TrackNumber")
        return TrackNumber();
    if (name == u"TrackTotal")
        return TrackTotal();
    if (name == u"DiskNumber")
        return DiskNumber();
    if (name == u"DiskTotal")
        return DiskTotal();
    if (name == u"FileName")
        return FFileName;
    if (name == u"FileSize")
        return IntToStr(FFileSize);
    if (name == u"BPM")
        return IntToStr(FBPM);
    if (name == u"Rating")
        return IntToStr(FRating);
    if (name == u"Bitrate")
        return IntToStr(FStreamInfo.Bitrate);
    if (name == u"Duration")
        return IntToStr(FStreamInfo.Duration);
    if (name == u"SampleRate")
        return IntToStr(FStreamInfo.SampleRate);
    if (name == u"Channels")
        return IntToStr(FStreamInfo.Channels & 0x0FFF);
    if (name == u"Bits")
        return IntToStr(FStreamInfo.Bits);
    return {};
}

bool TZanCustomFileInfo::IsEmpty() const {
    if (FBPM != 0 || FRating != 0)
        return false;
    for (const auto& value : FValues)
        if (!value.empty())
            return false;
    return true;
}

const std::u16string& TZanCustomFileInfo::GetValue(int index) const {
    static const std::u16string empty;
    return index >= 0 && index < kZanInfoTextCount ? FValues[index] : empty;
}

void TZanCustomFileInfo::SetValue(int index, std::u16string_view text) {
    if (index < 0 || index >= kZanInfoTextCount || FValues[index] == text)
        return;
    std::u16string value(text);
    if (!Flag(kFlagAssigning))
        NormalizeValue(index, value);
    FValues[index] = std::move(value);
    Changed();
}

void TZanCustomFileInfo::NormalizeValue(int index, std::u16string& text) const {
    for (char16_t& c : text)
        if (c == 0 || c == u'\t')
            c = u' ';
    size_t begin = 0, end = text.size();
    while (begin < end && text[begin] < 33)
        ++begin;
    while (end > begin && text[end - 1] < 33)
        --end;
    text = text.substr(begin, end - begin);
    if (index == zitComment || index == zitCueSheet || index == zitLyrics)
        CutTo(text, kLongTextLimit);
    else if (index == zitLink)
        CutTo(text, kLinkLimit);
    else if (IsGain(index)) {
        if (!text.empty())
            text = GainText(LeadingNumber(text));
    } else if (IsPeak(index)) {
        if (!text.empty())
            text = PeakText(LeadingNumber(text));
    } else
        CutTo(text, kTextLimit);
}

void TZanCustomFileInfo::BeginUpdate() {
    ++FUpdateCount;
}

void TZanCustomFileInfo::EndUpdate() {
    if (FUpdateCount > 0 && --FUpdateCount == 0 && Flag(kFlagChangePending))
        Changed();
}

void TZanCustomFileInfo::Changed() {
    FFlags |= kFlagChangePending;
    if (FUpdateCount == 0) {
        FFlags &= uint16_t(~kFlagChangePending);
        DoChanged();
    }
}

void TZanCustomFileInfo::SetFlag(uint16_t mask, bool on) {
    const uint16_t old = FFlags;
    FFlags = on ? uint16_t(FFlags | mask) : uint16_t(FFlags & ~mask);
    if (old != FFlags && (mask == kFlagState || mask == kFlagURL))
        FlagChanged(mask);
}

void TZanCustomFileInfo::SetFileName(std::u16string_view name) {
    if (name == FFileName)
        return;
    BeginUpdate();
    if (Flag(kFlagAssigning))
        FFileName.assign(name);
    else {
        std::u16string value(name);
        // Dot segments of a file name are resolved as text; an address keeps them, since the
        // server decides what they mean.
        if (!platform::HasUrlForm(value) &&
            (value.find(u"./") != std::u16string::npos || value.find(u".\\") != std::u16string::npos))
            value = platform::nativepaths::Normalize(value);
        FFileName = Trim(value);
    }
    FileNameChanged();
    Changed();
    EndUpdate();
}

void TZanCustomFileInfo::FileNameChanged() {
    FFileDateOfCreation = -1;
    FFileDateOfModification = -1;
}

void TZanCustomFileInfo::SetFileSize(int64_t size) {
    if (size != FFileSize) {
        FFileSize = size;
        Changed();
    }
}

void TZanCustomFileInfo::SetBPM(int16_t bpm) {
    if (bpm < 0)
        bpm = 0;
    if (bpm != FBPM) {
        FBPM = bpm;
        Changed();
    }
}

void TZanCustomFileInfo::SetRating(int16_t rating) {
    if (rating != FRating) {
        FRating = rating;
        Changed();
    }
}

std::u16string TZanCustomFileInfo::Half(int index, bool total) const {
    std::u16string number, rest;
    TZanFileInfoTrackNumbersHelper::SplitNumbers(FValues[index], number, rest);
    return total ? rest : number;
}

void TZanCustomFileInfo::SetHalf(int index, bool total, std::u16string_view value) {
    SetValue(index, total ? TZanFileInfoTrackNumbersHelper::JoinNumbers(Half(index, false), value)
                          : TZanFileInfoTrackNumbersHelper::JoinNumbers(value, Half(index, true)));
}

float TZanCustomFileInfo::GainOrPeakAsSingle(int index) const {
    return float(LeadingNumber(GetValue(index)));
}

void TZanCustomFileInfo::SetGainOrPeakAsSingle(int index, float value) {
    if (IsGain(index))
        SetValue(index, GainText(value));
    else if (IsPeak(index))
        SetValue(index, PeakText(value));
}

double TZanCustomFileInfo::FileDateOfCreation() {
    if (FFileDateOfCreation < 0) {
        FFileDateOfCreation = FFileDateOfModification = 0;
        FetchFileDates();
    }
    return FFileDateOfCreation;
}

double TZanCustomFileInfo::FileDateOfModification() {
    FileDateOfCreation();
    return FFileDateOfModification;
}

void TZanCustomFileInfo::FetchFileDates() {
    TZanFileDateHook hook;
    {
        std::lock_guard guard(HookLock());
        hook = Hook();
    }
    double created = 0, modified = 0;
    if (hook && hook(FFileName, created, modified)) {
        FFileDateOfCreation = created;
        FFileDateOfModification = modified;
    }
}

// ---------------------------------------------------------------------------------------------

TZanPlaylistItem::TZanPlaylistItem() {
    SetFlag(kFlagState, true);
}

std::unique_ptr<TZanCustomFileInfo> TZanPlaylistItem::Clone() const {
    auto copy = std::make_unique<TZanCustomFileInfo>();
    copy->Assign(this);
    return copy;
}

void TZanPlaylistItem::SetCustom(std::u16string_view custom) {
    if (custom != FCustom) {
        FCustom.assign(custom);
        Changed();
    }
}

void TZanPlaylistItem::AssignValues(const TZanCustomFileInfo& source) {
    TZanCustomFileInfo::AssignValues(source);
    if (auto item = dynamic_cast<const TZanPlaylistItem*>(&source)) {
        FFormat = item->FFormat;
        SetStateFlag(item->StateFlag());
        SetCustom(item->FCustom);
    }
}

void TZanPlaylistItem::FileNameChanged() {
    TZanCustomFileInfo::FileNameChanged();
    SetFlag(kFlagURL, platform::HasUrlForm(FileName()));
    FFormat.clear();
}

// ---------------------------------------------------------------------------------------------

bool IsImageLink(std::u16string_view text) {
    static constexpr std::u16string_view kImageExtensions[] = {u".bmp",  u".gif", u".jpg",
                                                               u".jpeg", u".png", u".webp"};
    const size_t folder = text.find_last_of(u"\\/:");
    const size_t dot = text.rfind(u'.');
    if (dot == std::u16string_view::npos || (folder != std::u16string_view::npos && dot < folder))
        return false;
    std::u16string_view extension = text.substr(dot);
    for (;;) {
        for (auto known : kImageExtensions)
            if (SameTextAscii(extension, known))
                return true;
        size_t cut = extension.rfind(u'&');
        if (cut == std::u16string_view::npos)
            cut = extension.rfind(u'?');
        if (cut == std::u16string_view::npos)
            return false;
        extension = extension.substr(0, cut);
    }
}

void TZanFileInfoTrackNumbersHelper::SplitNumbers(std::u16string_view text, std::u16string& number,
                                                  std::u16string& total) {
    const size_t slash = text.find(u'/');
    number.assign(text.substr(0, slash));
    total.assign(slash == std::u16string_view::npos ? std::u16string_view() : text.substr(slash + 1));
}

std::u16string TZanFileInfoTrackNumbersHelper::JoinNumbers(std::u16string_view number,
                                                           std::u16string_view total) {
    std::u16string out(number);
    if (!total.empty() && number.find(u'/') == std::u16string_view::npos) {
        out += u'/';
        out += total;
    }
    return out;
}

std::u16string TZanFileInfoUtils::MakeDisplayTitle(const TZanCustomFileInfo& info) {
    const std::u16string& artist = info.GetValue(zitArtist);
    const std::u16string& title = info.GetValue(zitTitle);
    if (!artist.empty() && !title.empty())
        return artist + u" - " + title;
    if (!title.empty())
        return title;
    std::u16string_view name = info.FileName();
    const size_t folder = name.find_last_of(u"\\/");
    if (folder != std::u16string_view::npos)
        name.remove_prefix(folder + 1);
    const size_t dot = name.rfind(u'.');
    return std::u16string(name.substr(0, dot));
}
