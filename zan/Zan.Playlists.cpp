#include "zan/Zan.Playlists.h"

#include "nuv/Nuv.FileFormats.XML.h"
#include "nuv/Nuv.Strings.h"
#include "platform/Platform.Encoding.h"
#include "platform/Platform.Paths.h"

namespace paths = platform::nativepaths;

namespace {

constexpr size_t kReaderBufferSize = 256 * 1024;
constexpr size_t kDetectWindow = 256;

std::u16string DecodeUtf16(std::string_view bytes, bool bigEndian) {
    std::u16string out(bytes.size() / 2, u'\0');
    for (size_t i = 0; i < out.size(); ++i) {
        const uint8_t a = uint8_t(bytes[2 * i]), b = uint8_t(bytes[2 * i + 1]);
        out[i] = bigEndian ? char16_t(a << 8 | b) : char16_t(b << 8 | a);
    }
    return out;
}

std::u16string Decode8Bit(std::string_view bytes) {
    if (platform::LegacyCodePageIsSingleByte())
        return platform::FromLegacy(bytes);
    std::u16string out(bytes.size(), u'\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        out[i] = uint8_t(bytes[i]) < 0x80 ? char16_t(bytes[i]) : u'\uFFFD';
    return out;
}

// Decodes with the named encoding; false at the first byte sequence it does not define.
bool DecodeStrict(std::string_view bytes, const std::string& encoding, std::u16string& out) {
    auto decoder = platform::TEncodingDecoder::Open(encoding);
    if (!decoder)
        return false;
    // No supported encoding makes more UTF-16 units than it had bytes.
    out.assign(bytes.size(), u'\0');
    size_t read = 0, written = 0;
    const auto* input = reinterpret_cast<const uint8_t*>(bytes.data());
    while (read < bytes.size()) {
        const auto result = decoder->Decode(input + read, bytes.size() - read, out.data() + written,
                                            out.size() - written, true);
        if (result.Invalid)
            return false;
        read += result.BytesRead;
        written += result.CharsWritten;
        if (result.BytesRead == 0 && result.CharsWritten == 0) {
            if (written < out.size())
                return false;
            out.resize(out.size() + bytes.size() - read + 16);
        }
    }
    out.resize(written);
    return true;
}

// The RFC 3986 rule: "." and ".." segments of a path removed.
std::u16string RemoveDotSegments(std::u16string_view path) {
    std::vector<std::u16string_view> segments;
    const bool absolute = !path.empty() && path[0] == u'/';
    size_t i = absolute ? 1 : 0;
    bool trailing = false;
    while (i <= path.size()) {
        size_t j = path.find(u'/', i);
        if (j == std::u16string_view::npos)
            j = path.size();
        const std::u16string_view segment = path.substr(i, j - i);
        trailing = false;
        if (segment == u"..") {
            if (!segments.empty())
                segments.pop_back();
            trailing = true;
        } else if (segment == u".")
            trailing = true;
        else
            segments.push_back(segment);
        i = j + 1;
    }
    std::u16string out = absolute ? u"/" : u"";
    for (size_t k = 0; k < segments.size(); ++k) {
        if (k)
            out += u'/';
        out += segments[k];
    }
    if (trailing && !out.empty() && out.back() != u'/')
        out += u'/';
    return out;
}

// The scheme of a reference ("http"), or empty when it has none.
size_t SchemeLength(std::u16string_view text) {
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c == u':')
            return i;
        if (!(IsAsciiLetter(c) || (i > 0 && (IsAsciiDigit(c) || c == u'+' || c == u'-' || c == u'.'))))
            return 0;
    }
    return 0;
}

// Resolves a reference against a base address (RFC 3986, section "Reference Resolution").
std::u16string ResolveReference(std::u16string_view base, std::u16string_view ref) {
    if (SchemeLength(ref) > 0)
        return std::u16string(ref);
    const size_t schemeEnd = SchemeLength(base);
    const std::u16string_view scheme = base.substr(0, schemeEnd + 1); // with ':'
    std::u16string_view rest = base.substr(schemeEnd + 1);
    rest = rest.substr(0, rest.find(u'#'));
    std::u16string_view authority;
    if (rest.substr(0, 2) == u"//") {
        const size_t end = rest.find_first_of(u"/?", 2);
        authority = rest.substr(0, end);
        rest = end == std::u16string_view::npos ? std::u16string_view() : rest.substr(end);
    }
    const size_t queryAt = rest.find(u'?');
    const std::u16string_view basePath = rest.substr(0, queryAt);
    const std::u16string_view baseQuery = queryAt == std::u16string_view::npos ? u"" : rest.substr(queryAt);
    std::u16string prefix = std::u16string(scheme) + std::u16string(authority);
    if (ref.substr(0, 2) == u"//")
        return std::u16string(scheme) + std::u16string(ref);
    const size_t tailAt = ref.find_first_of(u"?#");
    const std::u16string_view refPath = ref.substr(0, tailAt);
    const std::u16string_view refTail = tailAt == std::u16string_view::npos ? u"" : ref.substr(tailAt);
    if (refPath.empty()) {
        if (!refTail.empty() && refTail[0] == u'?')
            return prefix + std::u16string(basePath) + std::u16string(refTail);
        return prefix + std::u16string(basePath) + std::u16string(baseQuery) + std::u16string(refTail);
    }
    if (refPath[0] == u'/')
        return prefix + RemoveDotSegments(refPath) + std::u16string(refTail);
    std::u16string merged;
    if (!authority.empty() && basePath.empty())
        merged = u"/";
    else
        merged = std::u16string(basePath.substr(0, basePath.rfind(u'/') + 1));
    merged += refPath;
    return prefix + RemoveDotSegments(merged) + std::u16string(refTail);
}

std::string ReadWholeStream(TNuvStream& stream) {
    const int64_t remaining = stream.Size() - stream.Position();
    const std::u16string refusal = NuvDocumentSizeRefusal(remaining);
    if (!refusal.empty())
        throw EStreamError(refusal);
    return stream.ReadAll();
}

} // namespace

const std::u16string* TZanSettingsSection::Find(std::u16string_view name) const {
    for (const auto& line : FLines)
        if (SameTextAscii(line.first, name))
            return &line.second;
    return nullptr;
}

bool ZanDecodeUtf8Strict(std::string_view bytes, std::u16string& text) {
    return DecodeStrict(bytes, "UTF-8", text);
}

std::u16string ZanDecodeText(std::string_view bytes, TZanTextEncoding fallback) {
    TZanTextEncoding encoding = fallback;
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        encoding = TZanTextEncoding::Utf8;
        bytes.remove_prefix(3);
    } else if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFF\xFE") {
        encoding = TZanTextEncoding::Utf16LE;
        bytes.remove_prefix(2);
    } else if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFE\xFF") {
        encoding = TZanTextEncoding::Utf16BE;
        bytes.remove_prefix(2);
    }
    std::u16string out;
    switch (encoding) {
    case TZanTextEncoding::Utf16LE:
    case TZanTextEncoding::Utf16BE:
        return DecodeUtf16(bytes, encoding == TZanTextEncoding::Utf16BE);
    case TZanTextEncoding::Default8Bit:
        return Decode8Bit(bytes);
    case TZanTextEncoding::Utf8:
        if (DecodeStrict(bytes, "UTF-8", out))
            return out;
        break;
    case TZanTextEncoding::None:
    case TZanTextEncoding::Legacy:
        if (DecodeStrict(bytes, platform::LegacyCodePage(), out))
            return out;
        break;
    }
    return Decode8Bit(bytes);
}

std::string ZanEncodeText(std::u16string_view text, TZanTextEncoding encoding) {
    switch (encoding) {
    case TZanTextEncoding::Utf8:
        return ToUtf8(text);
    case TZanTextEncoding::Utf16LE:
    case TZanTextEncoding::Utf16BE: {
        std::string out(text.size() * 2, '\0');
        const bool big = encoding == TZanTextEncoding::Utf16BE;
        for (size_t i = 0; i < text.size(); ++i) {
            out[2 * i + (big ? 1 : 0)] = char(text[i] & 0xFF);
            out[2 * i + (big ? 0 : 1)] = char(text[i] >> 8);
        }
        return out;
    }
    case TZanTextEncoding::Default8Bit:
        if (!platform::LegacyCodePageIsSingleByte()) {
            std::string out(text.size(), '?');
            for (size_t i = 0; i < text.size(); ++i)
                if (text[i] < 0x80)
                    out[i] = char(text[i]);
            return out;
        }
        [[fallthrough]];
    case TZanTextEncoding::None:
    case TZanTextEncoding::Legacy:
        return platform::ToLegacy(text, '?');
    }
    return {};
}

// ---------------------------------------------------------------------------------------------

TZanPlaylistFiler::TZanPlaylistFiler(TNuvStream* stream, bool ownsStream, std::u16string fileName)
    : FStream(stream), FOwnsStream(ownsStream), FFileName(std::move(fileName)) {}

TZanPlaylistFiler::~TZanPlaylistFiler() {
    if (FOwnsStream)
        delete FStream;
}

TZanPlaylistReader::TZanPlaylistReader(const std::u16string& fileName)
    : TZanPlaylistFiler(
          new TNuvBufferedFileStream(ToUtf8(fileName), TNuvFileMode::OpenRead, kReaderBufferSize), true,
          fileName) {
    AddBaseFolder(paths::Drive(fileName));
    AddBaseFolder(paths::Folder(fileName));
}

TZanPlaylistReader::TZanPlaylistReader(TNuvStream* stream, bool ownsStream)
    : TZanPlaylistFiler(stream, ownsStream) {}

void TZanPlaylistReader::AddBaseFolder(const std::u16string& folder) {
    if (!folder.empty())
        FBaseFolders.insert(FBaseFolders.begin(), folder);
}

void TZanPlaylistReader::SetBaseAddress(const std::u16string& address) {
    bool fileUri = false;
    const std::u16string path = paths::FileUriToPath(address, &fileUri);
    if (!fileUri && platform::HasUrlForm(address))
        FBaseAddress = address;
    else
        AddBaseFolder(paths::Folder(path));
}

std::u16string TZanPlaylistReader::ResolveFileName(const std::u16string& name) {
    // An entry without a name stays without one rather than becoming the folder or the playlist.
    if (name.empty())
        return name;
    if (!FBaseAddress.empty())
        return platform::HasUrlForm(name) ? name : ResolveReference(FBaseAddress, name);
    if (FBaseFolders.empty() || !paths::IsRelative(name))
        return name;
    // A name rooted without a drive (possible only where names have drives) lies on the folder's
    // drive, not inside the folder.
    const bool rooted = paths::IsSeparator(name.front());
    auto join = [&](const std::u16string& folder) { return (rooted ? paths::Drive(folder) : folder) + name; };
    if (!FFolderChosen) {
        FFolderChosen = true;
        FPath = FBaseFolders.front();
        if (FBaseFolders.size() > 1)
            for (const auto& folder : FBaseFolders)
                if (platform::FileExists(ToUtf8(join(folder)))) {
                    FPath = folder;
                    break;
                }
    }
    std::u16string result = join(FPath);
    if (result.find(u"..") != std::u16string::npos)
        result = paths::Normalize(result);
    return result;
}

std::unique_ptr<TNuvXMLDocument> TZanPlaylistReader::TakePreimage() {
    return nullptr;
}

std::unique_ptr<TZanSettingsSection> TZanPlaylistReader::TakeSettings() {
    return nullptr;
}

TZanPlaylistTextReader::TZanPlaylistTextReader(const std::u16string& fileName,
                                               TZanTextEncoding defaultEncoding)
    : TZanPlaylistReader(fileName) {
    Decode(defaultEncoding);
}

TZanPlaylistTextReader::TZanPlaylistTextReader(TNuvStream* stream, bool ownsStream,
                                               TZanTextEncoding defaultEncoding)
    : TZanPlaylistReader(stream, ownsStream) {
    Decode(defaultEncoding);
}

void TZanPlaylistTextReader::Decode(TZanTextEncoding defaultEncoding) {
    if (!FStream)
        return;
    const std::string bytes = ReadWholeStream(*FStream);
    FText = ZanDecodeText(bytes, defaultEncoding);
}

// ---------------------------------------------------------------------------------------------

TZanPlaylistWriter::TZanPlaylistWriter(TNuvStream* stream, bool ownsStream, std::u16string fileName)
    : TZanPlaylistFiler(stream, ownsStream, std::move(fileName)) {}

void TZanPlaylistWriter::SetBasePath(const std::u16string& path) {
    FPath = path;
}

std::u16string TZanPlaylistWriter::ConvertFileName(const std::u16string& name) {
    return FPath.empty() ? name : MakeRelative(FPath, name);
}

std::u16string TZanPlaylistWriter::MakeRelative(const std::u16string& basePath, const std::u16string& name) {
    if (paths::IsRelative(name) || platform::HasUrlForm(name))
        return name;
    const std::u16string base = paths::WithTrailingSeparator(basePath);
    const std::u16string folder = paths::Folder(name);
    std::u16string ancestor = base;
    while (!ancestor.empty() && !paths::StartsWithFolder(ancestor, folder)) {
        ancestor.pop_back(); // its separator
        ancestor = paths::Folder(ancestor);
    }
    if (ancestor.empty())
        return name;
    size_t climbs = 0;
    for (size_t i = ancestor.size(); i < base.size(); ++i)
        if (paths::IsSeparator(base[i]))
            ++climbs;
    const std::u16string drive = paths::Drive(name);
    if (climbs > 2 && paths::SameFolder(ancestor, drive + paths::kSeparator))
        return name.substr(drive.size());
    std::u16string out;
    for (size_t i = 0; i < climbs; ++i) {
        out += u"..";
        out += paths::kSeparator;
    }
    return out + name.substr(ancestor.size());
}

void TZanPlaylistWriter::Finish() {
    if (FFinished)
        return;
    FFinished = true;
    DoFinish();
}

void TZanPlaylistWriter::FinishQuietly() noexcept {
    try {
        Finish();
    } catch (...) {
        // A destructor reports nothing; callers who care call Finish themselves.
    }
}

TZanPlaylistTextWriter::TZanPlaylistTextWriter(TNuvStream* stream, bool ownsStream, TZanTextEncoding encoding,
                                               bool preamble)
    : TZanPlaylistWriter(stream, ownsStream), FEncoding(encoding) {
    if (!preamble || !FStream)
        return;
    if (encoding == TZanTextEncoding::Utf8)
        FStream->WriteBuffer("\xEF\xBB\xBF", 3);
    else if (encoding == TZanTextEncoding::Utf16LE)
        FStream->WriteBuffer("\xFF\xFE", 2);
    else if (encoding == TZanTextEncoding::Utf16BE)
        FStream->WriteBuffer("\xFE\xFF", 2);
}

void TZanPlaylistTextWriter::WriteLine(std::u16string_view text, bool endLine) {
    std::string bytes = ZanEncodeText(text, FEncoding);
    if (endLine)
        bytes += ZanEncodeText(u"\r\n", FEncoding);
    FStream->WriteBuffer(bytes.data(), int64_t(bytes.size()));
}

// ---------------------------------------------------------------------------------------------

void TZanPlaylistFormats::Register(std::u16string fileMask, std::u16string description,
                                   std::u16string signature, const TZanPlaylistReaderClass* readerClass,
                                   const TZanPlaylistWriterClass* writerClass) {
    FFormats.push_back(
        {std::move(fileMask), std::move(signature), std::move(description), readerClass, writerClass});
}

bool TZanPlaylistFormats::FindBySignature(std::u16string_view text, TFormatInfo& info) const {
    for (const auto& format : FFormats)
        if (!format.Signature.empty() && text.find(format.Signature) != std::u16string_view::npos) {
            info = format;
            return true;
        }
    return false;
}

bool TZanPlaylistFormats::FindByExtension(std::u16string_view extension, TFormatInfo& info) const {
    if (!extension.empty() && extension[0] == u'.')
        extension.remove_prefix(1);
    const std::u16string mask = u"*." + std::u16string(extension) + u";";
    for (const auto& format : FFormats)
        if (format.WriterClass && SameTextAscii(format.FileMask, mask)) {
            info = format;
            return true;
        }
    return false;
}

std::u16string TZanPlaylistFormats::GetReadableMasks() const {
    std::u16string out;
    for (const auto& format : FFormats)
        if (format.ReaderClass)
            out += format.FileMask;
    return out;
}

bool TZanPlaylistFormats::Detect(TNuvStream& stream, std::unique_ptr<TZanPlaylistReader>& reader) const {
    reader.reset();
    std::string window(kDetectWindow, '\0');
    stream.SetPosition(0);
    int64_t got = 0;
    while (got < int64_t(window.size())) {
        const int64_t n = stream.Read(window.data() + got, int64_t(window.size()) - got);
        if (n <= 0)
            break;
        got += n;
    }
    window.resize(size_t(got));
    TFormatInfo info;
    if (!FindBySignature(ZanDecodeText(window, TZanTextEncoding::None), info) || !info.ReaderClass)
        return false;
    stream.SetPosition(0);
    reader = info.ReaderClass->FromStream(&stream, false);
    return reader != nullptr;
}
