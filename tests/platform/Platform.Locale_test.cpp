#include "platform/Platform.Locale.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace platform;

TEST(Locale, ComparesWithAndWithoutCase) {
    EXPECT_EQ(CompareTextLocale(u"Rock", u"rOCK"), 0);
    EXPECT_EQ(CompareTextLocale(u"\u00e9t\u00e9", u"\u00c9T\u00c9"), 0);
    EXPECT_EQ(CompareTextLocale(u"ete", u"\u00e9t\u00e9"), -1); // accents still count
    EXPECT_EQ(CompareTextLocale(u"apple", u"Banana"), -1);      // letters, not code points
    EXPECT_EQ(CompareTextLocale(u"", u""), 0);
    EXPECT_EQ(CompareTextLocale(u"", u"a"), -1);
    EXPECT_NE(CompareStringLocale(u"Rock", u"rock"), 0);
    EXPECT_EQ(CompareStringLocale(u"Rock", u"Rock"), 0);
    EXPECT_EQ(CompareStringLocale(u"apple", u"Banana"), -1);
}

TEST(Locale, MapsCaseFully) {
#ifdef _WIN32
    // The system's case mapping is one character for one: sharp s has no single upper case.
    EXPECT_EQ(UpperCaseLocale(u"stra\u00dfe"), u"STRA\u00dfE");
#else
    EXPECT_EQ(UpperCaseLocale(u"stra\u00dfe"), u"STRASSE"); // grows by one character
#endif
    EXPECT_EQ(LowerCaseLocale(u"\u00c9T\u00c9 FM"), u"\u00e9t\u00e9 fm");
    EXPECT_EQ(UpperCaseLocale(u""), u"");
    EXPECT_EQ(UpperCaseLocale(u"\U0001F3B5 x"), u"\U0001F3B5 X");
}

TEST(Locale, ThreadsCompareAtTheSameTime) {
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                if (CompareTextLocale(u"Radio Caf\u00e9", u"RADIO CAF\u00c9") != 0)
                    ++wrong;
                if (UpperCaseLocale(u"abc") != u"ABC")
                    ++wrong;
            }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(wrong, 0);
}

TEST(Locale, TimeSeparatorComesFromTheLocalesTimePattern) {
    EXPECT_EQ(TimeSeparatorOf(""), u":");
    EXPECT_EQ(TimeSeparatorOf("en_US"), u":");
    EXPECT_EQ(TimeSeparatorOf("fi_FI"), u".");
    EXPECT_EQ(TimeSeparator().size(), 1u);
}

TEST(Locale, DecimalSeparatorComesFromTheLocalesNumberSymbols) {
    EXPECT_EQ(DecimalSeparatorOf(""), u".");
    EXPECT_EQ(DecimalSeparatorOf("en_US"), u".");
    EXPECT_EQ(DecimalSeparatorOf("de_DE"), u",");
    EXPECT_EQ(DecimalSeparator().size(), 1u);
}
