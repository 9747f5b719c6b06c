// What the threading services compute the same way on every system.
#include "platform/Platform.Internal.h"

#include <algorithm>
#include <chrono>

namespace platform {

std::shared_ptr<Timer> MakeTimer(uint32_t intervalMs, std::function<void()> tick, const void* owner) {
    auto timer = std::make_shared<Timer>();
    timer->Interval = std::chrono::milliseconds(std::max<uint32_t>(intervalMs, 1));
    timer->Due = Clock::now() + timer->Interval;
    timer->Tick = std::move(tick);
    timer->Owner = owner;
    return timer;
}

std::shared_ptr<Timer> DueTimer(const TimerList& timers, Clock::time_point now) {
    std::shared_ptr<Timer> due;
    for (const auto& timer : timers)
        if (!timer->Running && timer->Due <= now && (!due || timer->Due < due->Due))
            due = timer;
    return due;
}

Clock::time_point NextTimerDue(const TimerList& timers) {
    Clock::time_point next = Clock::time_point::max();
    for (const auto& timer : timers)
        if (!timer->Running)
            next = std::min(next, timer->Due);
    return next;
}

std::shared_ptr<Timer> TakeTimer(TimerList& timers, TimerId id) {
    const auto it = std::find_if(timers.begin(), timers.end(), [&](const auto& t) { return t->Id == id; });
    if (it == timers.end())
        return nullptr;
    if ((*it)->Running) {
        (*it)->Stopped = true;
        return nullptr;
    }
    std::shared_ptr<Timer> taken = std::move(*it);
    timers.erase(it);
    return taken;
}

size_t TakeOwnedCalls(std::deque<PostedCall>& posted, TimerList& timers, const void* owner,
                      std::deque<PostedCall>& calls, TimerList& taken) {
    for (auto it = posted.begin(); it != posted.end();) {
        if (it->Owner == owner) {
            calls.push_back(std::move(*it));
            it = posted.erase(it);
        } else {
            ++it;
        }
    }
    for (auto it = timers.begin(); it != timers.end();) {
        if ((*it)->Owner == owner && !(*it)->Running) {
            taken.push_back(std::move(*it));
            it = timers.erase(it);
        } else {
            if ((*it)->Owner == owner)
                (*it)->Stopped = true;
            ++it;
        }
    }
    return calls.size();
}

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
