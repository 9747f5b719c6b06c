// What the threading services compute the same way on every system.
#include "platform/Platform.Threads.h"

namespace platform {

uint32_t ProcessorUsagePercent(const ProcessorTimes& before, const ProcessorTimes& after) {
    // Some counters (waiting for input/output) may step backwards; a negative step counts as none.
    const auto delta = [](uint64_t a, uint64_t b) { return b > a ? b - a : 0; };
    const uint64_t idle = delta(before.Idle, after.Idle);
    const uint64_t busy =
        delta(before.User, after.User) + delta(before.Kernel, after.Kernel) + delta(before.Nice, after.Nice);
    const uint64_t total = idle + busy;
    return total == 0 ? 0 : static_cast<uint32_t>(busy * 100 / total);
}

} // namespace platform
