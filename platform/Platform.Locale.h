#pragma once
// Locale-aware comparison and case mapping of UTF-16 text, in the user's default locale.
//
// The "C"/POSIX locale of a bare process is read as the root locale: its collation would order
// by code point and so tell "a" from "A", which no user-facing comparison wants.
//
// Thread-safety: every function may be called from any thread at any time. Each thread keeps
// its own collators, so comparisons never wait for one another.

#include <string>
#include <string_view>

namespace platform {

// Compares in the default locale without regard to case (accents still count): -1, 0 or 1.
int CompareTextLocale(std::u16string_view a, std::u16string_view b);

// Compares in the default locale, case included: -1, 0 or 1.
int CompareStringLocale(std::u16string_view a, std::u16string_view b);

// Full case mapping in the default locale (a mapping may change the length).
std::u16string UpperCaseLocale(std::u16string_view text);
std::u16string LowerCaseLocale(std::u16string_view text);
// Upper case one UTF-16 unit at a time with the locale-independent simple mapping, so the result
// has the text's length and a position in it is the same position in the text (surrogates and
// characters whose upper case is longer stay as they are).
std::u16string UpperCaseSimple(std::u16string_view text);

// The locale the functions above use, for example "de_DE" or "" for the root locale.
std::string CollationLocaleName();

// The character that separates hours from minutes in the default locale's times, for example
// ":" or "." (Finnish). ":" when the locale's short time pattern puts anything other than one
// punctuation character there, so a separator is always one character.
std::u16string TimeSeparator();
// The same for a named locale ("" is the root locale).
std::u16string TimeSeparatorOf(const std::string& locale);

// The character that separates the integer part of a number from its fraction in the default
// locale, for example "." or "," (German); "." when the locale's symbol is not one character.
std::u16string DecimalSeparator();
// The same for a named locale ("" is the root locale).
std::u16string DecimalSeparatorOf(const std::string& locale);

// The columns a terminal gives the text: two for wide and full-width characters (CJK), none for
// combining marks and format characters, one for the rest.
size_t DisplayWidth(std::u16string_view text);

} // namespace platform
