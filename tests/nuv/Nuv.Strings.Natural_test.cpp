#include "nuv/Nuv.Strings.Natural.h"

#include "nuv/Nuv.Strings.h"

#include <gtest/gtest.h>

TEST(NaturalCompare, DigitRunsCompareByValue) {
    struct Case {
        const char16_t* a;
        const char16_t* b;
        int expected;
    };
    const Case cases[] = {
        {u"Track 9", u"Track 10", -1},
        {u"Track 10", u"Track 9", 1},
        {u"a", u"A", 0},
        {u"007", u"7", 0},
        {u"0", u"00", 0},
        {u"\uFF11\uFF10", u"9", 1}, // full-width 10
        {u"\uFF17", u"7", 0},       // full-width 7
        {u"x", u"x1", -1},          // a prefix sorts first
        {u"", u"", 0},
        {u"", u"a", -1},
        {u"a", u"", 1},
        {u"1a", u"a1", -1}, // a digit against a letter compares the characters
        {u"v1.10", u"v1.9", 1},
        {u"FM 101.5", u"fm 101.5", 0},
        {u"\u00c9cole 2", u"\u00e9cole 10", -1},
        {u"18446744073709551616", u"18446744073709551615", 1}, // beyond 64 bits
        {u"0000000000000000000000001", u"2", -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CompareTextNatural(c.a, c.b), c.expected) << ToUtf8(c.a) << " vs " << ToUtf8(c.b);
        EXPECT_EQ(CompareTextNatural(c.b, c.a), -c.expected) << ToUtf8(c.b) << " vs " << ToUtf8(c.a);
    }
}
