#include "platform/Platform.Encoding.h"

#include "platform/Platform.Win32.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace platform {

namespace {

struct TCodePageName {
    const char* Name; // the registry's own name, first for each code page
    UINT CodePage;
};

// Encodings as documents name them, with their usual aliases, and the system's code pages for them.
constexpr TCodePageName kCodePages[] = {
    {"UTF-8", CP_UTF8},
    {"utf8", CP_UTF8},
    {"US-ASCII", 20127},
    {"ascii", 20127},
    {"ANSI_X3.4-1968", 20127},
    {"ISO-8859-1", 28591},
    {"latin1", 28591},
    {"l1", 28591},
    {"ISO-8859-2", 28592},
    {"latin2", 28592},
    {"ISO-8859-3", 28593},
    {"ISO-8859-4", 28594},
    {"ISO-8859-5", 28595},
    {"cyrillic", 28595},
    {"ISO-8859-6", 28596},
    {"arabic", 28596},
    {"ISO-8859-7", 28597},
    {"greek", 28597},
    {"ISO-8859-8", 28598},
    {"hebrew", 28598},
    {"ISO-8859-9", 28599},
    {"latin5", 28599},
    {"ISO-8859-13", 28603},
    {"ISO-8859-15", 28605},
    {"latin-9", 28605},
    {"windows-1250", 1250},
    {"cp1250", 1250},
    {"windows-1251", 1251},
    {"cp1251", 1251},
    {"windows-1252", 1252},
    {"cp1252", 1252},
    {"windows-1253", 1253},
    {"cp1253", 1253},
    {"windows-1254", 1254},
    {"cp1254", 1254},
    {"windows-1255", 1255},
    {"cp1255", 1255},
    {"windows-1256", 1256},
    {"cp1256", 1256},
    {"windows-1257", 1257},
    {"cp1257", 1257},
    {"windows-1258", 1258},
    {"cp1258", 1258},
    {"windows-874", 874},
    {"TIS-620", 874},
    {"KOI8-R", 20866},
    {"KOI8-U", 21866},
    {"IBM437", 437},
    {"cp437", 437},
    {"IBM850", 850},
    {"cp850", 850},
    {"IBM866", 866},
    {"cp866", 866},
    {"macintosh", 10000},
    {"mac", 10000},
    {"Shift_JIS", 932},
    {"sjis", 932},
    {"windows-31j", 932},
    {"cp932", 932},
    {"EUC-JP", 20932},
    {"GBK", 936},
    {"GB2312", 936},
    {"cp936", 936},
    {"GB18030", 54936},
    {"Big5", 950},
    {"cp950", 950},
    {"EUC-KR", 949},
    {"cp949", 949},
};

bool SameName(std::string_view a, std::string_view b) {
    // Letter case, '-' and '_' do not tell encoding names apart ("utf_8", "Utf-8").
    const auto key = [](std::string_view s) {
        std::string k;
        for (const char c : s)
            if (c != '-' && c != '_')
                k += char(c >= 'A' && c <= 'Z' ? c + 32 : c);
        return k;
    };
    return key(a) == key(b);
}

const TCodePageName* Find(std::string_view name) {
    for (const auto& entry : kCodePages)
        if (SameName(entry.Name, name))
            return &entry;
    return nullptr;
}

const char* CanonicalName(UINT codePage) {
    for (const auto& entry : kCodePages)
        if (entry.CodePage == codePage)
            return entry.Name;
    return "";
}

// The length of the character that starts with `lead`, as far as its first bytes tell.
size_t CharacterLength(UINT codePage, const uint8_t* bytes, size_t available) {
    const uint8_t lead = bytes[0];
    switch (codePage) {
    case CP_UTF8:
        return lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    case 20932: // EUC-JP
        return lead == 0x8F ? 3 : (lead == 0x8E || lead >= 0xA1) ? 2 : 1;
    case 54936: // GB18030: two bytes, or four when the second is a digit
        if (lead < 0x81 || lead == 0xFF)
            return 1;
        return available >= 2 && bytes[1] >= 0x30 && bytes[1] <= 0x39 ? 4 : 2;
    default:
        return ::IsDBCSLeadByteEx(codePage, lead) ? 2 : 1;
    }
}

struct TState {
    UINT CodePage;
    std::vector<uint8_t> Pending; // the start of a character cut off at the end of the last input
};

// Converts whole characters; -1 when the system finds a sequence the code page does not define.
int Convert(UINT codePage, const uint8_t* input, size_t size, char16_t* output, size_t outputSize) {
    if (size == 0)
        return 0;
    const int length =
        ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, reinterpret_cast<const char*>(input), int(size),
                              reinterpret_cast<wchar_t*>(output), int(outputSize));
    return length > 0 ? length : -1;
}

} // namespace

std::unique_ptr<TEncodingDecoder> TEncodingDecoder::Open(std::string_view name) {
    if (name.empty() || name.find('\0') != std::string_view::npos)
        return nullptr;
    const TCodePageName* entry = Find(name);
    if (!entry || !::IsValidCodePage(entry->CodePage))
        return nullptr;
    return std::unique_ptr<TEncodingDecoder>(new TEncodingDecoder(new TState{entry->CodePage, {}}));
}

TEncodingDecoder::~TEncodingDecoder() {
    delete static_cast<TState*>(FConverter);
}

TEncodingDecoder::TResult TEncodingDecoder::Decode(const uint8_t* input, size_t inputSize, char16_t* output,
                                                   size_t outputSize, bool last) {
    auto& state = *static_cast<TState*>(FConverter);
    TResult result;
    // The bytes a character needs beyond those kept from the last call come first.
    std::vector<uint8_t> bytes = state.Pending;
    const size_t pendingSize = bytes.size();
    bytes.insert(bytes.end(), input, input + inputSize);

    // Whole characters whose units surely fit (no character gives more units than it has bytes).
    size_t end = 0, units = 0;
    bool cut = false; // the input ends inside a character
    while (end < bytes.size()) {
        const size_t length = CharacterLength(state.CodePage, bytes.data() + end, bytes.size() - end);
        if (end + length > bytes.size()) {
            cut = true;
            break;
        }
        if (units + std::min<size_t>(length, 2) > outputSize)
            break;
        end += length;
        units += std::min<size_t>(length, 2);
    }

    int written = Convert(state.CodePage, bytes.data(), end, output, outputSize);
    if (written < 0) {
        // Find the first character the code page does not define; what precedes it is delivered.
        size_t good = 0;
        while (good < end) {
            const size_t length = CharacterLength(state.CodePage, bytes.data() + good, end - good);
            char16_t scratch[4];
            if (Convert(state.CodePage, bytes.data() + good, length, scratch, 4) < 0)
                break;
            good += length;
        }
        end = good;
        written = std::max(0, Convert(state.CodePage, bytes.data(), end, output, outputSize));
        result.Invalid = true;
    } else if (cut && last) {
        result.Invalid = true; // an incomplete sequence at the end of the input
    }
    result.CharsWritten = size_t(written);
    size_t consumed = end;
    if (!result.Invalid && cut && !last) {
        // Keep the start of the cut character: the next input completes it.
        state.Pending.assign(bytes.begin() + std::ptrdiff_t(end), bytes.end());
        consumed = bytes.size();
    } else if (end < pendingSize) {
        // Too little room for even the kept character: it stays kept.
        state.Pending.erase(state.Pending.begin(), state.Pending.begin() + std::ptrdiff_t(end));
    } else {
        state.Pending.clear();
    }
    result.BytesRead = consumed >= pendingSize ? consumed - pendingSize : 0;
    return result;
}

std::string TEncodingDecoder::Name() const {
    return CanonicalName(static_cast<const TState*>(FConverter)->CodePage);
}

namespace {

// The legacy code page: TUNEDEX_CODEPAGE when it names one the system has, else the system's
// ANSI code page, as every program of the user's system reads 8-bit text.
UINT LegacyCodePageNumber() {
    static const UINT codePage = [] {
        const char* chosen = std::getenv("TUNEDEX_CODEPAGE");
        if (chosen && *chosen)
            if (const TCodePageName* entry = Find(chosen); entry && ::IsValidCodePage(entry->CodePage))
                return entry->CodePage;
        return ::GetACP();
    }();
    return codePage;
}

} // namespace

std::string LegacyCodePage() {
    const UINT codePage = LegacyCodePageNumber();
    const std::string name = CanonicalName(codePage);
    return name.empty() ? "windows-" + std::to_string(codePage) : name;
}

namespace {

std::string ToCodePage(std::u16string_view text, const char* substitute) {
    if (text.empty())
        return {};
    const UINT codePage = LegacyCodePageNumber();
    // UTF-8 and UTF-7 refuse a substitute character; they have every character anyway.
    const bool takesSubstitute = codePage != CP_UTF8 && codePage != CP_UTF7;
    const char* used = takesSubstitute ? substitute : nullptr;
    const int length =
        ::WideCharToMultiByte(codePage, 0, win32::Wide(text), int(text.size()), nullptr, 0, used, nullptr);
    if (length <= 0)
        return {};
    std::string out(size_t(length), '\0');
    ::WideCharToMultiByte(codePage, 0, win32::Wide(text), int(text.size()), out.data(), length, used,
                          nullptr);
    return out;
}

} // namespace

std::string ToLegacy(std::u16string_view text) {
    return ToCodePage(text, nullptr);
}

std::string ToLegacy(std::u16string_view text, char substitute) {
    return ToCodePage(text, &substitute);
}

bool LegacyCodePageIsSingleByte() {
    CPINFO info{};
    return ::GetCPInfo(LegacyCodePageNumber(), &info) && info.MaxCharSize == 1;
}

std::u16string FromLegacy(std::string_view bytes) {
    if (bytes.empty())
        return {};
    const UINT codePage = LegacyCodePageNumber();
    const int length = ::MultiByteToWideChar(codePage, 0, bytes.data(), int(bytes.size()), nullptr, 0);
    if (length <= 0)
        return {};
    std::u16string out(size_t(length), u'\0');
    ::MultiByteToWideChar(codePage, 0, bytes.data(), int(bytes.size()),
                          reinterpret_cast<wchar_t*>(out.data()), length);
    return out;
}

} // namespace platform
