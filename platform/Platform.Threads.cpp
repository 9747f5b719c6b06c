// What the threading services compute the same way on every system.
#include "platform/Platform.Internal.h"

#include <chrono>

namespace platform {

void EnterWorkGroup(const std::shared_ptr<WorkGroup::State>& group) {
    std::lock_guard guard(group->Lock);
    ++group->Running;
}

void LeaveWorkGroup(std::shared_ptr<WorkGroup::State> group) {
    std::lock_guard guard(group->Lock);
    if (--group->Running == 0)
        group->Idle.notify_all();
}

WorkGroup::WorkGroup() : FState(std::make_shared<State>()) {}

WorkGroup::~WorkGroup() = default;

bool WorkGroup::WaitIdle(uint32_t timeoutMs) {
    std::unique_lock lock(FState->Lock);
    const auto idle = [this] { return FState->Running == 0; };
    if (timeoutMs == Infinite) {
        FState->Idle.wait(lock, idle);
        return true;
    }
    return FState->Idle.wait_for(lock, std::chrono::milliseconds(timeoutMs), idle);
}

void QueueWorkItem(std::function<void()> work) {
    auto* owned = new std::function<void()>(std::move(work));
    try {
        QueueWorkItem(
            [](void* context) {
                const std::unique_ptr<std::function<void()>> call(
                    static_cast<std::function<void()>*>(context));
                (*call)();
            },
            owned);
    } catch (...) {
        delete owned;
        throw;
    }
}

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
