#pragma once
// Natural ("logical") order of texts: runs of digits compare by their value, everything else
// compares in the user's locale without regard to case, so "Track 9" sorts before "Track 10".
//
// Thread-safety: all functions are pure and may be called from any thread.

#include <cstdint>
#include <string_view>

// True for '0'..'9' and the full-width digits U+FF10..U+FF19.
constexpr bool IsNaturalDigit(char16_t c) {
    return (c >= u'0' && c <= u'9') || (c >= u'\uFF10' && c <= u'\uFF19');
}

// The value 0..9 of a character for which IsNaturalDigit is true.
constexpr int NaturalDigitValue(char16_t c) {
    return c <= u'9' ? c - u'0' : c - u'\uFF10';
}

// Natural comparison without regard to case: -1, 0 or 1. Digit runs are compared by value,
// whatever their length, so "007" equals "7"; a shorter text that is a prefix sorts first.
int CompareTextNatural(std::u16string_view a, std::u16string_view b);
