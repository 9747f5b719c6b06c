#include "nuv/Nuv.DateTime.h"

#include <gtest/gtest.h>

#include <ctime>

TEST(DateTime, EncodesAndDecodesDayCounts) {
    struct Case {
        TNuvDateTimeParts Parts;
        TDateTime Value;
    };
    const Case cases[] = {
        {{1899, 12, 30, 0, 0, 0, 0}, 0.0},
        {{1900, 1, 1, 12, 0, 0, 0}, 2.5},
        {{2000, 2, 29, 18, 0, 0, 0}, 36585.75},
        {{1899, 12, 29, 6, 0, 0, 0}, -1.25},
        {{2024, 6, 11, 14, 5, 9, 250}, 45454.0 + (14 * 3600 + 5 * 60 + 9.25) / 86400.0},
    };
    for (const Case& c : cases) {
        EXPECT_DOUBLE_EQ(EncodeDateTime(c.Parts), c.Value) << c.Parts.Year << "-" << c.Parts.Month;
        EXPECT_EQ(DecodeDateTime(c.Value), c.Parts) << c.Value;
    }
    // A time a hair before midnight rounds into the next day rather than to 24:00:00.
    EXPECT_EQ(DecodeDateTime(1.0 - 1e-10), (TNuvDateTimeParts{1899, 12, 31, 0, 0, 0, 0}));
}

TEST(DateTime, FormatsWithPatternAndTimeSeparator) {
    const TDateTime value = EncodeDateTime({2024, 6, 1, 9, 5, 7, 42});
    EXPECT_EQ(FormatDateTime(u"yyyy.MM.dd hh:mm:ss", value), u"2024.06.01 09:05:07");
    EXPECT_EQ(FormatDateTime(u"yyyy.MM.dd hh:mm:ss", value, u"."), u"2024.06.01 09.05.07");
    EXPECT_EQ(FormatDateTime(u"d/M/yy h:m:s.zzz", value), u"1/6/24 9:5:7.042");
}

TEST(DateTime, NowIsTheLocalTime) {
    const std::time_t seconds = std::time(nullptr);
    std::tm local{};
    localtime_r(&seconds, &local);
    const TNuvDateTimeParts now = DecodeDateTime(NuvNow());
    EXPECT_EQ(now.Year, local.tm_year + 1900);
    EXPECT_EQ(now.Month, local.tm_mon + 1);
    // Within a minute of the clock read above, whatever the time zone.
    const int expected = local.tm_hour * 60 + local.tm_min, got = now.Hour * 60 + now.Minute;
    const int minutes = ((got - expected) % 1440 + 1440) % 1440;
    EXPECT_TRUE(minutes <= 1 || minutes == 1439) << got << " vs " << expected;
}
