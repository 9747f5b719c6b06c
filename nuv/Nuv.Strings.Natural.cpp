#include "nuv/Nuv.Strings.Natural.h"

#include "platform/Platform.Locale.h"

namespace {

size_t RunEnd(std::u16string_view text, size_t start, bool digits) {
    size_t i = start;
    while (i < text.size() && IsNaturalDigit(text[i]) == digits)
        ++i;
    return i;
}

// Compares two digit runs by value without converting them, so runs of any length compare
// correctly: after dropping leading zeros, the longer run is the larger number.
int CompareDigitRuns(std::u16string_view a, std::u16string_view b) {
    auto significant = [](std::u16string_view run) {
        size_t i = 0;
        while (i + 1 < run.size() && NaturalDigitValue(run[i]) == 0)
            ++i;
        return run.substr(i);
    };
    a = significant(a);
    b = significant(b);
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    for (size_t i = 0; i < a.size(); ++i) {
        const int da = NaturalDigitValue(a[i]);
        const int db = NaturalDigitValue(b[i]);
        if (da != db)
            return da < db ? -1 : 1;
    }
    return 0;
}

} // namespace

int CompareTextNatural(std::u16string_view a, std::u16string_view b) {
    size_t i = 0;
    size_t j = 0;
    for (;;) {
        if (i >= a.size())
            return j < b.size() ? -1 : 0;
        if (j >= b.size())
            return 1;
        const bool digitA = IsNaturalDigit(a[i]);
        const bool digitB = IsNaturalDigit(b[j]);
        int result;
        if (digitA && digitB) {
            const size_t endA = RunEnd(a, i, true);
            const size_t endB = RunEnd(b, j, true);
            result = CompareDigitRuns(a.substr(i, endA - i), b.substr(j, endB - j));
            i = endA;
            j = endB;
        } else if (digitA != digitB) {
            result = platform::CompareTextLocale(a.substr(i, 1), b.substr(j, 1));
            ++i;
            ++j;
        } else {
            const size_t endA = RunEnd(a, i, false);
            const size_t endB = RunEnd(b, j, false);
            result = platform::CompareTextLocale(a.substr(i, endA - i), b.substr(j, endB - j));
            i = endA;
            j = endB;
        }
        if (result != 0)
            return result;
    }
}
