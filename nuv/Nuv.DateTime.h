#pragma once
// Dates and times as day counts: whole days since 30 December 1899, with the time of day as the
// fraction (0.5 is noon). This is how the catalogue stores when a provider was last updated.
//
// Thread-safety: all functions may be called from any thread.

#include <cstdint>
#include <string>
#include <string_view>

// Days since 30 December 1899; the fraction is the time of day.
using TDateTime = double;

// A date and time split into its calendar fields.
struct TNuvDateTimeParts {
    int32_t Year = 1899;
    int32_t Month = 12; // 1 to 12
    int32_t Day = 30;   // 1 to 31
    int32_t Hour = 0;
    int32_t Minute = 0;
    int32_t Second = 0;
    int32_t Millisecond = 0;

    bool operator==(const TNuvDateTimeParts&) const = default;
};

// The day count of the fields (proleptic Gregorian calendar).
TDateTime EncodeDateTime(const TNuvDateTimeParts& parts);
// The fields of a day count, the time rounded to the millisecond. A negative count keeps its
// fraction as the time of day (-1.25 is 29 December 1899, 06:00), as stored dates always have.
TNuvDateTimeParts DecodeDateTime(TDateTime value);

// The present local date and time.
TDateTime NuvNow();

// Writes the value with a pattern: "yyyy" (four-digit year), "yy", "MM"/"M" (month), "dd"/"d",
// "hh"/"h" (hour, 24-hour clock), "mm"/"m" (minute), "ss"/"s", "zzz" (milliseconds); ":" becomes
// `timeSeparator`; any other character stands for itself. Letters are case-sensitive, so that
// months (M) and minutes (m) never depend on their neighbours.
std::u16string FormatDateTime(std::u16string_view pattern, TDateTime value,
                              std::u16string_view timeSeparator = u":");
