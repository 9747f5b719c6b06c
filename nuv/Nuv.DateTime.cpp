#include "nuv/Nuv.DateTime.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace {

constexpr int64_t kMillisecondsPerDay = 86400000;

constexpr std::chrono::sys_days kEpoch = std::chrono::sys_days(
    std::chrono::year_month_day(std::chrono::year(1899), std::chrono::month(12), std::chrono::day(30)));

void Pad(std::u16string& out, int64_t value, int width) {
    char digits[24];
    const int length = std::snprintf(digits, sizeof digits, "%0*lld", width, static_cast<long long>(value));
    for (int i = 0; i < length; ++i)
        out += char16_t(digits[i]);
}

} // namespace

TDateTime EncodeDateTime(const TNuvDateTimeParts& parts) {
    using namespace std::chrono;
    const sys_days date =
        sys_days(year_month_day(year(parts.Year), month(unsigned(parts.Month)), day(unsigned(parts.Day))));
    const double days = double((date - kEpoch).count());
    const double time =
        double(((int64_t(parts.Hour) * 60 + parts.Minute) * 60 + parts.Second) * 1000 + parts.Millisecond) /
        double(kMillisecondsPerDay);
    return days < 0 ? days - time : days + time;
}

TNuvDateTimeParts DecodeDateTime(TDateTime value) {
    using namespace std::chrono;
    TNuvDateTimeParts parts;
    if (!std::isfinite(value))
        return parts;
    int64_t days = int64_t(std::trunc(value));
    int64_t ms = std::llround(std::fabs(value - std::trunc(value)) * double(kMillisecondsPerDay));
    if (ms >= kMillisecondsPerDay) { // a time that rounds up to midnight belongs to the next day
        ms -= kMillisecondsPerDay;
        days += value < 0 ? -1 : 1;
    }
    const year_month_day date(kEpoch + std::chrono::days(days));
    parts.Year = int32_t(date.year());
    parts.Month = int32_t(unsigned(date.month()));
    parts.Day = int32_t(unsigned(date.day()));
    parts.Hour = int32_t(ms / 3600000);
    parts.Minute = int32_t(ms / 60000 % 60);
    parts.Second = int32_t(ms / 1000 % 60);
    parts.Millisecond = int32_t(ms % 1000);
    return parts;
}

TDateTime NuvNow() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    TNuvDateTimeParts parts;
    parts.Year = local.tm_year + 1900;
    parts.Month = local.tm_mon + 1;
    parts.Day = local.tm_mday;
    parts.Hour = local.tm_hour;
    parts.Minute = local.tm_min;
    parts.Second = std::min(local.tm_sec, 59); // a leap second reads as the one before it
    parts.Millisecond =
        int32_t(std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
    return EncodeDateTime(parts);
}

std::u16string FormatDateTime(std::u16string_view pattern, TDateTime value,
                              std::u16string_view timeSeparator) {
    const TNuvDateTimeParts parts = DecodeDateTime(value);
    std::u16string out;
    out.reserve(pattern.size() + 8);
    for (size_t i = 0; i < pattern.size();) {
        const char16_t c = pattern[i];
        size_t run = 1;
        while (i + run < pattern.size() && pattern[i + run] == c)
            ++run;
        switch (c) {
        case u'y':
            if (run >= 4)
                Pad(out, parts.Year, 4);
            else
                Pad(out, parts.Year % 100, 2);
            break;
        case u'M':
            Pad(out, parts.Month, run >= 2 ? 2 : 1);
            break;
        case u'd':
            Pad(out, parts.Day, run >= 2 ? 2 : 1);
            break;
        case u'h':
            Pad(out, parts.Hour, run >= 2 ? 2 : 1);
            break;
        case u'm':
            Pad(out, parts.Minute, run >= 2 ? 2 : 1);
            break;
        case u's':
            Pad(out, parts.Second, run >= 2 ? 2 : 1);
            break;
        case u'z':
            Pad(out, parts.Millisecond, run >= 3 ? 3 : 1);
            break;
        case u':':
            for (size_t k = 0; k < run; ++k)
                out += timeSeparator;
            break;
        default:
            out.append(run, c);
            break;
        }
        i += run;
    }
    return out;
}
