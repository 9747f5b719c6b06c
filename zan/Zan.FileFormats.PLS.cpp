#include "zan/Zan.FileFormats.PLS.h"

#include "zan/Zan.FileFormats.M3U.h"

#include "nuv/Nuv.Strings.h"

#include <limits>
#include <unordered_map>

namespace {

bool IsLineBreak(char16_t c) {
    return c == u'\r' || c == u'\n' || c == 0x2028;
}

// The keys and values of the first "[playlist]" section, keys in lower case (the first of a
// repeated key wins), and how many lines the section has.
size_t ReadPlaylistSection(std::u16string_view text,
                           std::unordered_map<std::u16string, std::u16string>& keys) {
    bool inSection = false, seen = false;
    size_t lines = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = pos;
        while (end < text.size() && !IsLineBreak(text[end]))
            ++end;
        const std::u16string_view line = text.substr(pos, end - pos);
        pos = end;
        while (pos < text.size() && IsLineBreak(text[pos]))
            ++pos;
        if (line.empty())
            continue;
        if (line[0] == u'[') {
            if (seen && inSection)
                break;
            inSection = SameTextAscii(line.substr(1, line.size() >= 2 ? line.size() - 2 : 0), u"playlist");
            seen = seen || inSection;
            continue;
        }
        if (!inSection)
            continue;
        ++lines;
        const size_t equals = line.find(u'=');
        std::u16string key = AsciiLower(line.substr(0, equals));
        const std::u16string_view value =
            equals == std::u16string_view::npos ? std::u16string_view() : line.substr(equals + 1);
        keys.try_emplace(std::move(key), value);
    }
    return lines;
}

bool IntegerValue(const std::unordered_map<std::u16string, std::u16string>& keys, const std::u16string& key,
                  int64_t& value) {
    const auto it = keys.find(key);
    return it != keys.end() && TryStrToInt(it->second, value);
}

} // namespace

void TPLSPlaylistReader::Load(TZanPlaylistSummary*, IZanPlaylistItemsReceiver* receiver) {
    if (!receiver || !FStream)
        return;
    const int64_t remaining = FStream->Size() - FStream->Position();
    const std::u16string refusal = NuvDocumentSizeRefusal(remaining);
    if (!refusal.empty())
        throw EStreamError(refusal);
    const std::u16string text = ZanDecodeText(FStream->ReadAll(), TZanTextEncoding::None);
    std::unordered_map<std::u16string, std::u16string> keys;
    const size_t lines = ReadPlaylistSection(text, keys);
    int64_t count = 0;
    if (!keys.contains(u"numberofentries")) {
        // Lists that leave the count out are common; their highest FileN says it.
        for (const auto& [key, value] : keys) {
            int64_t n = 0;
            if (key.starts_with(u"file") && key.size() > 4 && key[4] != u' ' && key[4] != u'+' &&
                key[4] != u'-' && TryStrToInt(std::u16string_view(key).substr(4), n) && n > count)
                count = n;
        }
    } else if (!IntegerValue(keys, u"numberofentries", count))
        count = 0;
    if (count < 0 || count > std::numeric_limits<int32_t>::max())
        count = 0;
    count = std::min<int64_t>(count, int64_t(lines));
    for (int64_t i = 1; i <= count; ++i) {
        const std::u16string n = IntToStr(i);
        auto item = std::make_unique<TZanPlaylistItem>();
        const auto file = keys.find(u"file" + n);
        if (file != keys.end() && file->second.size() > kZanMaxNameLength)
            continue;
        item->SetFileName(ResolveFileName(file == keys.end() ? std::u16string() : file->second));
        if (const auto title = keys.find(u"title" + n); title != keys.end())
            item->SetValue(zitTitle, title->second);
        int64_t length = 0;
        if (IntegerValue(keys, u"length" + n, length) && length > 0)
            item->StreamInfo().Duration =
                uint32_t(std::min<int64_t>(length, std::numeric_limits<uint32_t>::max() / 1000) * 1000);
        const std::u16string name = item->FileName();
        receiver->AddItem(name, std::make_shared<TZanFileInfoKeeper>(std::move(item)), -1);
    }
}

// ---------------------------------------------------------------------------------------------

TPLSPlaylistWriter::TPLSPlaylistWriter(TNuvStream* stream, bool ownsStream)
    : TZanPlaylistTextWriter(stream, ownsStream, TZanTextEncoding::Default8Bit, true) {}

TPLSPlaylistWriter::~TPLSPlaylistWriter() {
    FinishQuietly();
}

void TPLSPlaylistWriter::WriteHeader() {
    WriteLine(u"[playlist]");
}

void TPLSPlaylistWriter::WriteItem(const TZanCustomFileInfo& info, int32_t) {
    const std::u16string n = IntToStr(++FCount);
    WriteLine(u"File" + n + u"=" + ZanOneLine(ConvertFileName(info.FileName())));
    WriteLine(u"Length" + n + u"=" + IntToStr(info.StreamInfo().Duration / 1000));
    WriteLine(u"Title" + n + u"=" + ZanOneLine(TZanFileInfoUtils::MakeDisplayTitle(info)));
}

void TPLSPlaylistWriter::DoFinish() {
    WriteLine(u"NumberOfEntries=" + IntToStr(FCount));
    WriteLine(u"Version=2");
}

const TZanPlaylistReaderClass kPLSPlaylistReaderClass = {
    u"TPLSPlaylistReader",
    [](TNuvStream* stream, bool owns) -> std::unique_ptr<TZanPlaylistReader> {
        return std::make_unique<TPLSPlaylistReader>(stream, owns);
    },
    [](const std::u16string& fileName) -> std::unique_ptr<TZanPlaylistReader> {
        return std::make_unique<TPLSPlaylistReader>(fileName);
    }};

const TZanPlaylistWriterClass kPLSPlaylistWriterClass = {
    u"TPLSPlaylistWriter", [](TNuvStream* stream, bool owns) -> std::unique_ptr<TZanPlaylistWriter> {
        return std::make_unique<TPLSPlaylistWriter>(stream, owns);
    }};
