#include "zan/Zan.FileFormats.M3U.h"

#include "nuv/Nuv.Strings.h"

#include <algorithm>
#include <limits>

namespace {

bool IsLineSpace(char16_t c) {
    return c == u' ' || c == u'\r' || c == u'\n' || c == u'\t' || c == 0;
}

// An optional '-' and decimal digits (ASCII or full-width); anything else gives 0.
int32_t ParseDuration(std::u16string_view run) {
    bool negative = false;
    if (!run.empty() && run[0] == u'-') {
        negative = true;
        run.remove_prefix(1);
    }
    if (run.empty())
        return 0;
    int64_t value = 0;
    for (char16_t c : run) {
        int digit;
        if (IsAsciiDigit(c))
            digit = c - u'0';
        else if (c >= 0xFF10 && c <= 0xFF19)
            digit = c - 0xFF10;
        else
            return 0;
        value = value * 10 + digit;
        if (value > std::numeric_limits<int32_t>::max())
            return 0;
    }
    return int32_t(negative ? -value : value);
}

// The text between `marker` followed by '"' and the next '"', found ignoring ASCII case;
// empty when either is missing.
std::u16string QuotedAttribute(std::u16string_view area, std::u16string_view lowerArea,
                               std::u16string_view marker) {
    const std::u16string key = std::u16string(marker) + u'"';
    const size_t at = lowerArea.find(key);
    if (at == std::u16string_view::npos)
        return {};
    const size_t start = at + key.size();
    const size_t end = area.find(u'"', start);
    if (end == std::u16string_view::npos)
        return {};
    return std::u16string(area.substr(start, end - start));
}

// The comma that ends the attribute area: the first one outside double quotes. An unbalanced
// quote makes it the first comma of all, as the line gives nothing better.
size_t TitleComma(std::u16string_view line) {
    bool quoted = false;
    for (size_t i = 8; i < line.size(); ++i) {
        if (line[i] == u'"')
            quoted = !quoted;
        else if (line[i] == u',' && !quoted)
            return i;
    }
    return line.find(u',');
}

uint32_t SecondsToMilliseconds(int64_t seconds) {
    if (seconds <= 0)
        return 0;
    const int64_t ms = seconds * 1000;
    return ms > int64_t(std::numeric_limits<uint32_t>::max()) ? std::numeric_limits<uint32_t>::max()
                                                              : uint32_t(ms);
}

} // namespace

std::u16string ZanOneLine(std::u16string_view text) {
    std::u16string out(text);
    for (char16_t& c : out)
        if (c == u'\r' || c == u'\n' || c == 0x2028 || c == 0x2029 || c == 0x85)
            c = u' ';
    return out;
}

TM3UPlaylistReader::TM3UPlaylistReader(const std::u16string& fileName)
    : TZanPlaylistTextReader(fileName, TZanTextEncoding::Utf8) {}

TM3UPlaylistReader::TM3UPlaylistReader(TNuvStream* stream, bool ownsStream)
    : TZanPlaylistTextReader(stream, ownsStream, TZanTextEncoding::Utf8) {}

void TM3UPlaylistReader::Load(TZanPlaylistSummary*, IZanPlaylistItemsReceiver* receiver) {
    if (!receiver)
        return;
    int32_t duration = 0;
    std::u16string title, group, picture;
    bool extended = false;
    const std::u16string_view text = FText;
    size_t pos = 0;
    while (pos < text.size()) {
        while (pos < text.size() && IsLineSpace(text[pos]))
            ++pos;
        if (pos >= text.size())
            break;
        size_t end = text.find_first_of(u"\r\n", pos);
        if (end == std::u16string_view::npos)
            end = text.size();
        const std::u16string_view line = text.substr(pos, end - pos);
        pos = end;
        if (line[0] == u'#') {
            if (line.starts_with(u"#EXTINF:")) {
                extended = true;
                const size_t comma = TitleComma(line);
                if (comma == std::u16string_view::npos) {
                    title = line.size() > 9 ? std::u16string(line.substr(9, kZanMaxNameLength))
                                            : std::u16string();
                    continue;
                }
                title = line.substr(comma + 1, kZanMaxNameLength);
                // Full-width digits belong to the run too, or their parse could never see them.
                size_t run = 8;
                while (run < comma &&
                       (line[run] == u'+' || line[run] == u'-' || (line[run] >= u'0' && line[run] <= u'9') ||
                        (line[run] >= 0xFF10 && line[run] <= 0xFF19)))
                    ++run;
                duration = ParseDuration(line.substr(8, run - 8));
                if (run + 1 < comma) {
                    const std::u16string_view area =
                        line.substr(run + 1, std::min(comma - run - 1, kZanMaxNameLength));
                    const std::u16string lower = AsciiLower(area);
                    picture = QuotedAttribute(area, lower, u"logo=");
                    group = QuotedAttribute(area, lower, u"group-title=");
                }
            } else if (line.starts_with(u"#EXTGRP:")) {
                group = line.substr(8, kZanMaxNameLength);
                extended = true;
            } else if (line.starts_with(u"#EXTALBUMARTURL:")) {
                picture = line.substr(16, kZanMaxNameLength);
                extended = true;
            }
            continue;
        }
        if (line.size() > kZanMaxNameLength) {
            duration = 0;
            title.clear();
            picture.clear();
            extended = false;
            continue;
        }
        const std::u16string name = ResolveFileName(std::u16string(line));
        if (!extended) {
            receiver->AddItem(name, nullptr, -1);
            continue;
        }
        auto item = std::make_unique<TZanPlaylistItem>();
        item->SetFileName(name);
        item->SetValue(zitAlbum, group);
        item->SetValue(zitTitle, title);
        item->SetValue(zitLink, picture);
        item->StreamInfo().Duration = SecondsToMilliseconds(duration);
        receiver->AddItem(name, std::make_shared<TZanFileInfoKeeper>(std::move(item)), -1);
        duration = 0;
        title.clear();
        picture.clear();
        extended = false;
    }
}

// ---------------------------------------------------------------------------------------------

TM3UPlaylistWriter::TM3UPlaylistWriter(TNuvStream* stream, bool ownsStream)
    : TM3UPlaylistWriter(stream, ownsStream, TZanTextEncoding::Default8Bit) {}

TM3UPlaylistWriter::TM3UPlaylistWriter(TNuvStream* stream, bool ownsStream, TZanTextEncoding encoding)
    : TZanPlaylistTextWriter(stream, ownsStream, encoding, encoding != TZanTextEncoding::Utf8) {}

void TM3UPlaylistWriter::WriteHeader() {
    WriteLine(u"#EXTM3U");
}

void TM3UPlaylistWriter::WriteItem(const TZanCustomFileInfo& info, int32_t) {
    const uint32_t duration = info.StreamInfo().Duration;
    WriteLine(u"#EXTINF:" + (duration == 0 ? std::u16string(u"-1") : IntToStr(duration / 1000)) + u"," +
              ZanOneLine(TZanFileInfoUtils::MakeDisplayTitle(info)));
    const std::u16string& link = info.GetValue(zitLink);
    if (!link.empty() && IsImageLink(link))
        WriteLine(u"#EXTALBUMARTURL:" + ZanOneLine(link));
    WriteLine(ZanOneLine(ConvertFileName(info.FileName())));
}

TM3U8PlaylistWriter::TM3U8PlaylistWriter(TNuvStream* stream, bool ownsStream)
    : TM3UPlaylistWriter(stream, ownsStream, TZanTextEncoding::Utf8) {}

const TZanPlaylistReaderClass kM3UPlaylistReaderClass = {
    u"TM3UPlaylistReader",
    [](TNuvStream* stream, bool owns) -> std::unique_ptr<TZanPlaylistReader> {
        return std::make_unique<TM3UPlaylistReader>(stream, owns);
    },
    [](const std::u16string& fileName) -> std::unique_ptr<TZanPlaylistReader> {
        return std::make_unique<TM3UPlaylistReader>(fileName);
    }};

const TZanPlaylistWriterClass kM3UPlaylistWriterClass = {
    u"TM3UPlaylistWriter", [](TNuvStream* stream, bool owns) -> std::unique_ptr<TZanPlaylistWriter> {
        return std::make_unique<TM3UPlaylistWriter>(stream, owns);
    }};

const TZanPlaylistWriterClass kM3U8PlaylistWriterClass = {
    u"TM3U8PlaylistWriter", [](TNuvStream* stream, bool owns) -> std::unique_ptr<TZanPlaylistWriter> {
        return std::make_unique<TM3U8PlaylistWriter>(stream, owns);
    }};
