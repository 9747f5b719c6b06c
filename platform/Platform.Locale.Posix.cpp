#include "platform/Platform.Locale.h"

#include "platform/Platform.Internal.h"

#include <unicode/uchar.h>
#include <unicode/ucol.h>
#include <unicode/udat.h>
#include <unicode/uloc.h>
#include <unicode/unum.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include <memory>

namespace platform {

namespace {

struct TCollatorCloser {
    void operator()(UCollator* collator) const noexcept { ucol_close(collator); }
};
using TCollatorPtr = std::unique_ptr<UCollator, TCollatorCloser>;

std::string ResolveLocale() {
    const char* name = uloc_getDefault();
    char variant[32] = {};
    UErrorCode status = U_ZERO_ERROR;
    uloc_getVariant(name, variant, sizeof variant, &status);
    if (U_SUCCESS(status) && std::string_view(variant) == "POSIX")
        return {};
    return name;
}

const std::string& LocaleName() {
    // The default locale is read once: a process does not change its user's locale.
    static const std::string name = ResolveLocale();
    return name;
}

TCollatorPtr OpenCollator(UColAttributeValue strength) {
    UErrorCode status = U_ZERO_ERROR;
    TCollatorPtr collator(ucol_open(LocaleName().c_str(), &status));
    if (U_FAILURE(status) || !collator) {
        status = U_ZERO_ERROR;
        collator.reset(ucol_open("", &status));
    }
    if (collator)
        ucol_setStrength(collator.get(), strength);
    return collator;
}

// A UCollator is not documented as safe for concurrent use, so every thread opens its own the
// first time it compares; later comparisons cost no locking at all.
UCollator* Collator(bool ignoreCase) {
    thread_local TCollatorPtr noCase = OpenCollator(UCOL_SECONDARY);
    thread_local TCollatorPtr withCase = OpenCollator(UCOL_TERTIARY);
    return ignoreCase ? noCase.get() : withCase.get();
}

int Compare(UCollator* collator, std::u16string_view a, std::u16string_view b) {
    if (!collator) {
        const int c = a.compare(b);
        return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    switch (ucol_strcoll(collator, a.data(), int32_t(a.size()), b.data(), int32_t(b.size()))) {
    case UCOL_LESS:
        return -1;
    case UCOL_GREATER:
        return 1;
    default:
        return 0;
    }
}

using TCaseMapper = int32_t (*)(UChar*, int32_t, const UChar*, int32_t, const char*, UErrorCode*);

std::u16string MapCase(TCaseMapper mapper, std::u16string_view text) {
    if (text.empty())
        return {};
    std::u16string out(text.size(), u'\0');
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = mapper(out.data(), int32_t(out.size()), text.data(), int32_t(text.size()),
                            LocaleName().c_str(), &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        out.resize(size_t(length));
        status = U_ZERO_ERROR;
        length = mapper(out.data(), int32_t(out.size()), text.data(), int32_t(text.size()),
                        LocaleName().c_str(), &status);
    }
    if (U_FAILURE(status))
        return std::u16string(text);
    out.resize(size_t(length));
    return out;
}

} // namespace

int CompareTextLocale(std::u16string_view a, std::u16string_view b) {
    return Compare(Collator(true), a, b);
}

int CompareStringLocale(std::u16string_view a, std::u16string_view b) {
    return Compare(Collator(false), a, b);
}

std::u16string UpperCaseLocale(std::u16string_view text) {
    return MapCase(u_strToUpper, text);
}

std::u16string LowerCaseLocale(std::u16string_view text) {
    return MapCase(u_strToLower, text);
}

std::u16string UpperCaseSimple(std::u16string_view text) {
    std::u16string result(text);
    for (char16_t& c : result)
        if (c >= u'a' && c <= u'z')
            c = char16_t(c - 32);
        else if (c >= 0x80 && !U16_IS_SURROGATE(c))
            if (const UChar32 upper = u_toupper(c); upper <= 0xFFFF)
                c = char16_t(upper);
    return result;
}

std::string CollationLocaleName() {
    return LocaleName();
}

std::u16string TimeSeparatorOf(const std::string& locale) {
    const std::u16string fallback = u":";
    UErrorCode status = U_ZERO_ERROR;
    UDateFormat* format = udat_open(UDAT_SHORT, UDAT_NONE, locale.c_str(), nullptr, 0, nullptr, 0, &status);
    if (U_FAILURE(status) || !format)
        return fallback;
    UChar pattern[64];
    const int32_t length = udat_toPattern(format, false, pattern, 64, &status);
    udat_close(format);
    if (U_FAILURE(status) || length <= 0 || length >= 64)
        return fallback;
    return TimeSeparatorInPattern(
        std::u16string_view(reinterpret_cast<const char16_t*>(pattern), size_t(length)), u"HhKk");
}

std::u16string TimeSeparator() {
    // Read once, as the locale itself is.
    static const std::u16string separator = TimeSeparatorOf(LocaleName());
    return separator;
}

std::u16string DecimalSeparatorOf(const std::string& locale) {
    const std::u16string fallback = u".";
    UErrorCode status = U_ZERO_ERROR;
    UNumberFormat* format = unum_open(UNUM_DECIMAL, nullptr, 0, locale.c_str(), nullptr, &status);
    if (U_FAILURE(status) || !format)
        return fallback;
    UChar symbol[8];
    const int32_t length = unum_getSymbol(format, UNUM_DECIMAL_SEPARATOR_SYMBOL, symbol, 8, &status);
    unum_close(format);
    if (U_FAILURE(status) || length != 1)
        return fallback;
    return std::u16string(1, char16_t(symbol[0]));
}

std::u16string DecimalSeparator() {
    static const std::u16string separator = DecimalSeparatorOf(LocaleName());
    return separator;
}

size_t DisplayWidth(std::u16string_view text) {
    size_t width = 0;
    for (size_t i = 0; i < text.size();) {
        UChar32 c;
        U16_NEXT(text.data(), i, text.size(), c);
        const int8_t type = u_charType(c);
        if (type == U_NON_SPACING_MARK || type == U_ENCLOSING_MARK || type == U_FORMAT_CHAR)
            continue;
        const int eaw = u_getIntPropertyValue(c, UCHAR_EAST_ASIAN_WIDTH);
        width += eaw == U_EA_WIDE || eaw == U_EA_FULLWIDTH ? 2 : 1;
    }
    return width;
}

} // namespace platform
