#include "platform/Platform.Locale.h"

#include "platform/Platform.Internal.h"

#include "platform/Platform.Win32.h"

namespace platform {

namespace {

// The user's default locale, as the system's NLS functions name it ("de-DE").
const std::u16string& UserLocale() {
    static const std::u16string name = [] {
        wchar_t buffer[LOCALE_NAME_MAX_LENGTH] = {};
        const int length = ::GetUserDefaultLocaleName(buffer, LOCALE_NAME_MAX_LENGTH);
        return length > 1 ? std::u16string(win32::Utf16(buffer), size_t(length - 1)) : std::u16string();
    }();
    return name;
}

// Locale names are given in the "de_DE" form; the system writes "de-DE", and "" is its invariant
// locale, as it is the root locale here.
std::u16string SystemLocaleName(const std::string& locale) {
    std::u16string name = win32::Utf8ToUtf16(locale);
    for (char16_t& c : name)
        if (c == u'_')
            c = u'-';
    return name;
}

int Compare(DWORD flags, std::u16string_view a, std::u16string_view b) {
    const int result = ::CompareStringEx(win32::Wide(UserLocale()), flags, win32::Wide(a), int(a.size()),
                                         win32::Wide(b), int(b.size()), nullptr, nullptr, 0);
    if (result == 0) {
        const int c = a.compare(b);
        return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    return result - CSTR_EQUAL;
}

std::u16string MapCase(DWORD flags, std::u16string_view text) {
    if (text.empty())
        return {};
    const wchar_t* locale = win32::Wide(UserLocale());
    const int length =
        ::LCMapStringEx(locale, flags, win32::Wide(text), int(text.size()), nullptr, 0, nullptr, nullptr, 0);
    if (length <= 0)
        return std::u16string(text);
    std::u16string out(size_t(length), u'\0');
    ::LCMapStringEx(locale, flags, win32::Wide(text), int(text.size()),
                    reinterpret_cast<wchar_t*>(out.data()), length, nullptr, nullptr, 0);
    return out;
}

std::u16string LocaleText(const std::u16string& locale, LCTYPE type) {
    wchar_t buffer[64] = {};
    const int length = ::GetLocaleInfoEx(win32::Wide(locale), type, buffer, 64);
    return length > 1 ? std::u16string(win32::Utf16(buffer), size_t(length - 1)) : std::u16string();
}

} // namespace

int CompareTextLocale(std::u16string_view a, std::u16string_view b) {
    // Linguistic comparison without regard to case or width; accents still count.
    return Compare(NORM_IGNORECASE | NORM_IGNOREWIDTH | NORM_LINGUISTIC_CASING, a, b);
}

int CompareStringLocale(std::u16string_view a, std::u16string_view b) {
    return Compare(NORM_LINGUISTIC_CASING, a, b);
}

std::u16string UpperCaseLocale(std::u16string_view text) {
    return MapCase(LCMAP_UPPERCASE | LCMAP_LINGUISTIC_CASING, text);
}

std::u16string LowerCaseLocale(std::u16string_view text) {
    return MapCase(LCMAP_LOWERCASE | LCMAP_LINGUISTIC_CASING, text);
}

std::u16string UpperCaseSimple(std::u16string_view text) {
    // The invariant locale's one-to-one mapping, unit by unit; surrogates map to themselves.
    std::u16string result(text);
    for (char16_t& c : result) {
        if (c >= u'a' && c <= u'z')
            c = char16_t(c - 32);
        else if (c >= 0x80 && (c < 0xD800 || c > 0xDFFF)) {
            wchar_t upper = 0;
            const wchar_t in = wchar_t(c);
            if (::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, &in, 1, &upper, 1, nullptr, nullptr,
                                0) == 1)
                c = char16_t(upper);
        }
    }
    return result;
}

std::string CollationLocaleName() {
    std::string name = win32::Utf16ToUtf8(UserLocale());
    for (char& c : name)
        if (c == '-')
            c = '_';
    return name;
}

std::u16string TimeSeparatorOf(const std::string& locale) {
    return TimeSeparatorInPattern(LocaleText(SystemLocaleName(locale), LOCALE_SSHORTTIME), u"Hh");
}

std::u16string TimeSeparator() {
    static const std::u16string separator = TimeSeparatorOf(CollationLocaleName());
    return separator;
}

std::u16string DecimalSeparatorOf(const std::string& locale) {
    const std::u16string symbol = LocaleText(SystemLocaleName(locale), LOCALE_SDECIMAL);
    return symbol.size() == 1 ? symbol : u".";
}

std::u16string DecimalSeparator() {
    static const std::u16string separator = DecimalSeparatorOf(CollationLocaleName());
    return separator;
}

namespace {

// The blocks whose characters take two columns, as East Asian Width "W" and "F" give them.
constexpr char32_t kWideRanges[][2] = {
    {0x1100, 0x115F}, {0x231A, 0x231B},   {0x2329, 0x232A},   {0x23E9, 0x23EC},   {0x2E80, 0x303E},
    {0x3041, 0x33FF}, {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},   {0xA960, 0xA97F},
    {0xAC00, 0xD7A3}, {0xF900, 0xFAFF},   {0xFE10, 0xFE19},   {0xFE30, 0xFE6F},   {0xFF00, 0xFF60},
    {0xFFE0, 0xFFE6}, {0x1F300, 0x1F64F}, {0x1F900, 0x1F9FF}, {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD},
};

bool IsWide(char32_t c) {
    for (const auto& range : kWideRanges)
        if (c >= range[0] && c <= range[1])
            return true;
    return false;
}

} // namespace

size_t DisplayWidth(std::u16string_view text) {
    size_t width = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        const bool pair = (c & 0xFC00) == 0xD800 && i + 1 < text.size() && (text[i + 1] & 0xFC00) == 0xDC00;
        if (pair) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
        } else {
            // Combining marks take no column of their own; the system's character types tell them.
            WORD type = 0;
            const wchar_t unit = wchar_t(c);
            if (::GetStringTypeW(CT_CTYPE3, &unit, 1, &type) && (type & C3_NONSPACING) && c >= 0x300)
                continue;
            // Format characters: soft hyphen, zero-width and direction marks, the byte order mark.
            if (c == 0xAD || (c >= 0x200B && c <= 0x200F) || (c >= 0x202A && c <= 0x202E) ||
                (c >= 0x2060 && c <= 0x2064) || (c >= 0x2066 && c <= 0x2069) || c == 0xFEFF)
                continue;
        }
        width += IsWide(c) ? 2 : 1;
        if (pair)
            ++i;
    }
    return width;
}

} // namespace platform
