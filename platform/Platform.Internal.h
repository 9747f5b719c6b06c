#pragma once
// What the backends of each system share: the counting of a work group's items, the shell
// handler, the reading of a time pattern.

#include "platform/Platform.System.h"
#include "platform/Platform.Threads.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct WorkGroup::State {
    std::mutex Lock;
    std::condition_variable Idle;
    size_t Running = 0; // queued or running, not yet returned
};

// The main thread's posted calls and timers, kept alike by every backend under its queue's lock.
using Clock = std::chrono::steady_clock;

struct PostedCall {
    std::function<void()> Call;
    const void* Owner;
};

struct Timer {
    TimerId Id;
    Clock::duration Interval;
    Clock::time_point Due;
    std::function<void()> Tick;
    const void* Owner;
    bool Running = false;
    bool Stopped = false;
};

using TimerList = std::vector<std::shared_ptr<Timer>>;

// A timer of `intervalMs` (at least 1) first due one interval from now, without its identifier.
std::shared_ptr<Timer> MakeTimer(uint32_t intervalMs, std::function<void()> tick, const void* owner);
// The earliest timer that is due and not already ticking further up the stack, or none.
std::shared_ptr<Timer> DueTimer(const TimerList& timers, Clock::time_point now);
// When the next timer that is not ticking is due; the end of time when there is none.
Clock::time_point NextTimerDue(const TimerList& timers);
// Takes the timer out of the list and answers it, for the caller to destroy outside its lock; a
// ticking timer is only marked stopped (its pump removes it when the tick returns).
std::shared_ptr<Timer> TakeTimer(TimerList& timers, TimerId id);
// Takes the owner's posted calls and idle timers out, marks its ticking timers stopped, and answers
// how many calls were taken. What was taken is moved into `calls` and `taken`, so that the caller
// destroys the closures outside its lock, in case their destructors post.
size_t TakeOwnedCalls(std::deque<PostedCall>& posted, TimerList& timers, const void* owner,
                      std::deque<PostedCall>& calls, TimerList& taken);

// Counts an item of the group as queued.
void EnterWorkGroup(const std::shared_ptr<WorkGroup::State>& group);
// Counts it as returned. The group's state is kept alive by the item until here, so a waiter that
// wakes and destroys its group leaves nothing dangling.
void LeaveWorkGroup(std::shared_ptr<WorkGroup::State> group);

// Lower-case hexadecimal text of the bytes.
std::string HexText(const unsigned char* bytes, size_t size);

// Hands the target to the handler SetShellOpenHandler set, if any; false when there is none.
bool HandToShellOpenHandler(const std::string& target);

// The character between the hour and the minute fields of a short time pattern ("HH:mm" gives
// ":"), or ":" when anything else stands there. `hourLetters` are the pattern's hour letters.
std::u16string TimeSeparatorInPattern(std::u16string_view pattern, std::u16string_view hourLetters);

} // namespace platform
