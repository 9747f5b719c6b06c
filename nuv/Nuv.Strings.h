#pragma once
// Text routines shared by every layer. Text is UTF-16 (std::u16string); UTF-8 appears only at
// the edges (files, network, terminal) and is converted here.
//
// Thread-safety: all functions are pure and may be called from any thread.

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string ToUtf8(std::u16string_view text);
// UTF-8 to UTF-16; each malformed sequence becomes U+FFFD.
std::u16string FromUtf8(std::string_view text);
// ASCII/Latin-1 bytes widened one to one (for protocol texts known to be ASCII).
std::u16string FromAscii(std::string_view text);

// One argument of Format: integers, floating-point numbers or texts.
using TNuvFormatArg = std::variant<int64_t, uint64_t, double, std::u16string_view>;

// printf-style formatting of UTF-16 patterns: %d %u %x %X %f %g %e %s %c and %%, with the flags
// "-" and "0", a width and a precision. Numbers are written with the invariant "." separator.
// A conversion without an argument, or of the wrong kind, is written as the argument allows
// ("%d" of a text writes the text) rather than raising, because patterns may come from
// translators.
std::u16string FormatV(std::u16string_view pattern, const std::vector<TNuvFormatArg>& args);

namespace nuv_detail {
inline TNuvFormatArg ToFormatArg(std::u16string_view v) {
    return v;
}
inline TNuvFormatArg ToFormatArg(const std::u16string& v) {
    return std::u16string_view(v);
}
inline TNuvFormatArg ToFormatArg(const char16_t* v) {
    return std::u16string_view(v ? v : u"");
}
inline TNuvFormatArg ToFormatArg(double v) {
    return v;
}
inline TNuvFormatArg ToFormatArg(float v) {
    return double(v);
}
inline TNuvFormatArg ToFormatArg(bool v) {
    return int64_t(v);
}
template <typename T>
requires std::is_integral_v<T> TNuvFormatArg ToFormatArg(T v) {
    if constexpr (std::is_signed_v<T>)
        return int64_t(v);
    else
        return uint64_t(v);
}
} // namespace nuv_detail

template <typename... Args> std::u16string Format(std::u16string_view pattern, const Args&... args) {
    return FormatV(pattern, {nuv_detail::ToFormatArg(args)...});
}

// Decimal text of an integer.
std::u16string IntToStr(int64_t value);
// Decimal integer at the start of the text (after optional blanks and a sign); false when the
// text holds no number or more than that. The value is left unchanged on failure.
bool TryStrToInt(std::u16string_view text, int64_t& value);
int64_t StrToIntDef(std::u16string_view text, int64_t fallback);

// ASCII character classes, the same in every locale (the characters of addresses, identifiers and
// the markup of documents).
constexpr bool IsAsciiDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}
constexpr bool IsAsciiLetter(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}
constexpr bool IsAsciiAlphaNumeric(char16_t c) {
    return IsAsciiLetter(c) || IsAsciiDigit(c);
}
// The value of an ASCII hexadecimal digit of either case; -1 for any other character.
constexpr int AsciiHexDigitValue(char16_t c) {
    if (IsAsciiDigit(c))
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}
// Whether every character of the text is below U+0080.
bool IsAscii(std::u16string_view text);

// ASCII-only case mapping and comparison (invariant: protocol keys, header names, schemes).
std::u16string AsciiUpper(std::u16string_view text);
std::u16string AsciiLower(std::u16string_view text);
bool SameTextAscii(std::u16string_view a, std::u16string_view b);
bool StartsTextAscii(std::u16string_view prefix, std::u16string_view text);
bool EndsTextAscii(std::u16string_view suffix, std::u16string_view text);

// Removes leading and trailing characters at or below U+0020, as a catalogue trims its values.
std::u16string Trim(std::u16string_view text);

// Splits at every occurrence of the separator; an empty text gives one empty item.
std::vector<std::u16string> Split(std::u16string_view text, std::u16string_view separator);
std::u16string Join(const std::vector<std::u16string>& items, std::u16string_view separator);
// Replaces every occurrence of `from` (non-empty) by `to`.
std::u16string ReplaceAll(std::u16string_view text, std::u16string_view from, std::u16string_view to);

// Standard Base64 (A-Z, a-z, 0-9, "+", "/", "=" padding) of the bytes, without line breaks.
std::string EncodeBase64(std::string_view bytes);
