#include "nuv/Nuv.Strings.h"

#include <gtest/gtest.h>

TEST(Utf, RoundTripsEveryPlane) {
    const std::u16string text = u"Radio \u00e9t\u00e9 \u65e5\u672c \U0001F3B5 end";
    EXPECT_EQ(FromUtf8(ToUtf8(text)), text);
    EXPECT_EQ(ToUtf8(u"\U0001F3B5"), "\xF0\x9F\x8E\xB5");
}

TEST(Utf, MalformedInputBecomesReplacementCharacters) {
    struct Case {
        std::string bytes;
        std::u16string expected;
    };
    const Case cases[] = {
        {"a\xFF"
         "b",
         u"a\uFFFDb"},
        {"\xC3", u"\uFFFD"},             // truncated two-byte sequence
        {"\xC0\xAF", u"\uFFFD"},         // overlong "/"
        {"\xED\xA0\x80", u"\uFFFD"},     // encoded surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD"}, // beyond U+10FFFF
        {"\xE2\x82"
         "x",
         u"\uFFFDx"}, // cut short before an ASCII byte
    };
    for (const auto& c : cases)
        EXPECT_EQ(FromUtf8(c.bytes), c.expected) << c.bytes;
    EXPECT_EQ(ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

TEST(Format, Conversions) {
    struct Case {
        std::u16string got, expected;
    };
    const Case cases[] = {
        {Format(u"Error: %d. %s", -3, u"Range is not supported by Server"),
         u"Error: -3. Range is not supported by Server"},
        {Format(u"%.2f KB", 1.5), u"1.50 KB"},
        {Format(u"Cannot create object (%d)", int32_t(0x80004005)), u"Cannot create object (-2147467259)"},
        {Format(u"0x%.8X", int32_t(0x80004001)), u"0x80004001"},
        {Format(u"[%5d|%-3s|%03d]", 42, u"a", 7), u"[   42|a  |007]"},
        {Format(u"100%% of %s", u"it"), u"100% of it"},
        {Format(u"missing %s and %d"), u"missing  and "},
        {Format(u"text as number %d", u"x"), u"text as number x"},
        {Format(u"unknown %q stays"), u"unknown %q stays"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.got, c.expected) << ToUtf8(c.expected);
}

TEST(Numbers, ParseStrictly) {
    int64_t v = 99;
    EXPECT_TRUE(TryStrToInt(u" -12 ", v));
    EXPECT_EQ(v, -12);
    EXPECT_TRUE(TryStrToInt(u"-9223372036854775808", v));
    EXPECT_EQ(v, INT64_MIN);
    for (auto bad : {u"", u"12a", u"--1", u"9223372036854775808", u" "}) {
        v = 7;
        EXPECT_FALSE(TryStrToInt(bad, v)) << ToUtf8(bad);
        EXPECT_EQ(v, 7);
    }
    EXPECT_EQ(IntToStr(INT64_MIN), u"-9223372036854775808");
}

TEST(Texts, SplitJoinTrimReplace) {
    EXPECT_EQ(Split(u"a;;b", u";"), (std::vector<std::u16string>{u"a", u"", u"b"}));
    EXPECT_EQ(Split(u"", u";"), (std::vector<std::u16string>{u""}));
    EXPECT_EQ(Join({u"a", u"b"}, u", "), u"a, b");
    EXPECT_EQ(Trim(u"\t x y \r\n"), u"x y");
    EXPECT_EQ(ReplaceAll(u"a'b''", u"'", u"''"), u"a''b''''");
    EXPECT_TRUE(SameTextAscii(u"Content-Type", u"content-TYPE"));
    EXPECT_FALSE(SameTextAscii(u"\u00c9", u"\u00e9")); // ASCII only, by design
    EXPECT_TRUE(EndsTextAscii(u".M3U8", u"list.m3u8"));
}
