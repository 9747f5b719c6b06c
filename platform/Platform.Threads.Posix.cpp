#include "platform/Platform.Internal.h"

#include "platform/Platform.System.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace platform {

namespace {

// The process-wide singletons are never destroyed: pool threads and late senders may still
// reach them while the process exits.
template <typename T> T& Leaked() {
    static T* const instance = new T;
    return *instance;
}

// ---- Pool ----

struct WorkItem {
    void (*Work)(void*);
    void* Context;
    std::shared_ptr<WorkGroup::State> Group; // counted until the item has returned
};

struct Pool {
    std::mutex Lock;
    std::condition_variable Arrived;
    std::deque<WorkItem> Items;
    unsigned Threads = 0;
    unsigned Idle = 0;
    uint32_t IdleTimeoutMs = 10000;
};

thread_local ThreadPriority tCurrentPriority = ThreadPriority::Normal;

void EnqueueLocked(Pool& pool, WorkItem item);

void PoolThread() {
    Pool& pool = Leaked<Pool>();
    std::unique_lock lock(pool.Lock);
    for (;;) {
        if (pool.Items.empty()) {
            ++pool.Idle;
            const bool arrived = pool.Arrived.wait_for(lock, std::chrono::milliseconds(pool.IdleTimeoutMs),
                                                       [&] { return !pool.Items.empty(); });
            --pool.Idle;
            if (!arrived) {
                --pool.Threads;
                return;
            }
        }
        WorkItem item = std::move(pool.Items.front());
        pool.Items.pop_front();
        lock.unlock();
        try {
            item.Work(item.Context);
        } catch (...) {
            // Work items handle their own failures; one that does not must not take the pool down.
        }
        if (item.Group)
            LeaveWorkGroup(std::move(item.Group));
        // A thread whose priority stays lowered would run later items slowly; let it end instead.
        const bool usable =
            tCurrentPriority == ThreadPriority::Normal || SetCurrentThreadPriority(ThreadPriority::Normal);
        lock.lock();
        if (!usable) {
            --pool.Threads;
            return;
        }
    }
}

// ---- Main thread ----

struct SentCall {
    const std::function<void()>* Call;
    bool Done = false;
    std::exception_ptr Error;
    std::condition_variable Finished;
};

struct MainQueue {
    std::mutex Lock;
    std::condition_variable Arrived; // the main thread waits here
    std::deque<SentCall*> Sent;
    std::deque<PostedCall> Posted;
    std::vector<std::shared_ptr<Timer>> Timers;
    TimerId NextTimerId = 1;
    bool Woken = false;
};

std::atomic<uint32_t> gMainThreadId{0};

// Runs the first sent call; the lock is released while it runs.
void RunOneSent(MainQueue& q, std::unique_lock<std::mutex>& lock) {
    SentCall* sent = q.Sent.front();
    q.Sent.pop_front();
    lock.unlock();
    std::exception_ptr error;
    try {
        (*sent->Call)();
    } catch (...) {
        error = std::current_exception();
    }
    lock.lock();
    // The record lives on the sender's stack: notify before the lock lets the sender return.
    sent->Error = std::move(error);
    sent->Done = true;
    sent->Finished.notify_one();
}

// Runs the first posted call; the lock is released while it runs.
void RunOnePosted(MainQueue& q, std::unique_lock<std::mutex>& lock) {
    std::function<void()> call = std::move(q.Posted.front().Call);
    q.Posted.pop_front();
    lock.unlock();
    // Relock on every exit, also when the call raises, and destroy the closure outside the lock.
    struct Relock {
        std::unique_lock<std::mutex>& Lock;
        std::function<void()>& Call;
        ~Relock() {
            Call = nullptr;
            Lock.lock();
        }
    } relock{lock, call};
    call();
}

void RunTimer(MainQueue& q, std::unique_lock<std::mutex>& lock, const std::shared_ptr<Timer>& timer) {
    timer->Running = true;
    lock.unlock();
    struct Finish {
        MainQueue& Q;
        std::unique_lock<std::mutex>& Lock;
        const std::shared_ptr<Timer>& T;
        ~Finish() {
            Lock.lock();
            T->Running = false;
            // Late ticks are not made up for: the next one is a full interval away.
            T->Due = Clock::now() + T->Interval;
            if (T->Stopped) {
                std::erase(Q.Timers, T);
                std::function<void()> tick = std::move(T->Tick);
                Lock.unlock();
                tick = nullptr;
                Lock.lock();
            }
        }
    } finish{q, lock, timer};
    timer->Tick();
}

// One step of the pump: the first sent call, else the first posted call, else a due timer.
bool ServeOne(MainQueue& q, std::unique_lock<std::mutex>& lock, bool timers) {
    if (!q.Sent.empty()) {
        RunOneSent(q, lock);
        return true;
    }
    if (!q.Posted.empty()) {
        RunOnePosted(q, lock);
        return true;
    }
    if (timers && !q.Timers.empty()) {
        if (const auto timer = DueTimer(q.Timers, Clock::now())) {
            RunTimer(q, lock, timer);
            return true;
        }
    }
    return false;
}

// Main-thread calls run on the main thread only; a pump elsewhere would break that promise.
void RequireMainThread(const char* function) {
    if (!IsMainThread())
        throw std::logic_error(std::string(function) + " called off the main thread");
}

Clock::time_point Deadline(uint32_t timeoutMs) {
    return timeoutMs == Infinite ? Clock::time_point::max()
                                 : Clock::now() + std::chrono::milliseconds(timeoutMs);
}

void WaitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, Clock::time_point until) {
    if (until == Clock::time_point::max())
        cv.wait(lock);
    else
        cv.wait_until(lock, until);
}

} // namespace

// ---- Thread pool ------------------------------------------------------------------------------

namespace {

void EnqueueLocked(Pool& pool, WorkItem item) {
    pool.Items.push_back(std::move(item));
    if (pool.Items.size() > pool.Idle) {
        try {
            std::thread(PoolThread).detach();
            ++pool.Threads;
        } catch (const std::system_error&) {
            // With threads alive the item still runs once one is free; without any it never would.
            if (pool.Threads == 0) {
                pool.Items.pop_back();
                throw;
            }
        }
    }
    pool.Arrived.notify_one();
}

} // namespace

void QueueWorkItem(void (*work)(void* context), void* context) {
    Pool& pool = Leaked<Pool>();
    std::lock_guard guard(pool.Lock);
    EnqueueLocked(pool, {work, context, nullptr});
}

void WorkGroup::Queue(void (*work)(void* context), void* context) {
    EnterWorkGroup(FState);
    try {
        Pool& pool = Leaked<Pool>();
        std::lock_guard guard(pool.Lock);
        EnqueueLocked(pool, {work, context, FState});
    } catch (...) {
        LeaveWorkGroup(FState);
        throw;
    }
}

ThreadPoolStatistics ThreadPoolState() {
    Pool& pool = Leaked<Pool>();
    std::lock_guard guard(pool.Lock);
    return {pool.Threads, pool.Idle, static_cast<unsigned>(pool.Items.size())};
}

void SetThreadPoolIdleTimeout(uint32_t milliseconds) {
    Pool& pool = Leaked<Pool>();
    std::lock_guard guard(pool.Lock);
    pool.IdleTimeoutMs = milliseconds;
}

// ---- Thread priorities ------------------------------------------------------------------------

bool SetCurrentThreadPriority(ThreadPriority priority) {
    if (priority == tCurrentPriority)
        return true;
    // Linux keeps a nice value per thread; lowering it is always allowed, raising it is not
    // without privileges.
    int nice = 0;
    switch (priority) {
    case ThreadPriority::Low:
        nice = 19;
        break;
    case ThreadPriority::Normal:
        nice = 0;
        break;
    case ThreadPriority::High:
        nice = -5;
        break;
    }
    if (::setpriority(PRIO_PROCESS, static_cast<id_t>(CurrentThreadId()), nice) != 0)
        return false;
    tCurrentPriority = priority;
    return true;
}

ThreadPriority CurrentThreadPriority() {
    return tCurrentPriority;
}

// ---- Events -----------------------------------------------------------------------------------

Event::Event(bool signalled) : FSignalled(signalled) {}

Event::~Event() = default;

void Event::Set() {
    bool wakeMain = false;
    {
        std::lock_guard guard(FLock);
        FSignalled.store(true);
        FChanged.notify_all();
        // Read while the event is certainly alive; the waiter may destroy it once it sees it set.
        wakeMain = FMainThreadWaiters.load() > 0;
    }
    if (wakeMain)
        WakeMainThread();
}

void Event::Reset() {
    std::lock_guard guard(FLock);
    FSignalled.store(false);
}

bool Event::IsSet() const {
    return FSignalled.load();
}

WaitResult Event::Wait(uint32_t timeoutMs) {
    std::unique_lock lock(FLock);
    const auto isSet = [this] { return FSignalled.load(); };
    if (timeoutMs == Infinite) {
        FChanged.wait(lock, isSet);
        return WaitResult::Signalled;
    }
    return FChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), isSet) ? WaitResult::Signalled
                                                                                : WaitResult::TimedOut;
}

WaitResult WaitServingMainThread(Event& event, uint32_t timeoutMs) {
    if (!IsMainThread())
        return event.Wait(timeoutMs);
    if (event.IsSet())
        return WaitResult::Signalled;
    if (timeoutMs == 0)
        return WaitResult::TimedOut;

    // Registered before the state is tested, so a Set that misses the test sees the waiter.
    event.FMainThreadWaiters.fetch_add(1);
    struct Unregister {
        Event& E;
        ~Unregister() { E.FMainThreadWaiters.fetch_sub(1); }
    } unregister{event};

    const Clock::time_point deadline = Deadline(timeoutMs);
    MainQueue& q = Leaked<MainQueue>();
    std::unique_lock lock(q.Lock);
    for (;;) {
        if (event.IsSet())
            return WaitResult::Signalled;
        if (ServeOne(q, lock, false))
            continue;
        if (Clock::now() >= deadline)
            return WaitResult::TimedOut;
        WaitUntil(q.Arrived, lock, deadline);
    }
}

// ---- The main thread --------------------------------------------------------------------------

void SetMainThread() {
    gMainThreadId.store(CurrentThreadId());
}

uint32_t MainThreadId() {
    const uint32_t id = gMainThreadId.load();
    // The process's first thread has the process's id.
    return id != 0 ? id : static_cast<uint32_t>(::getpid());
}

bool IsMainThread() {
    return CurrentThreadId() == MainThreadId();
}

void PostToMainThread(std::function<void()> call, const void* owner) {
    MainQueue& q = Leaked<MainQueue>();
    std::lock_guard guard(q.Lock);
    q.Posted.push_back({std::move(call), owner});
    q.Arrived.notify_one();
}

void SendToMainThread(const std::function<void()>& call) {
    if (IsMainThread()) {
        call();
        return;
    }
    MainQueue& q = Leaked<MainQueue>();
    SentCall sent;
    sent.Call = &call;
    std::unique_lock lock(q.Lock);
    q.Sent.push_back(&sent);
    q.Arrived.notify_one();
    sent.Finished.wait(lock, [&] { return sent.Done; });
    if (sent.Error)
        std::rethrow_exception(sent.Error);
}

size_t DiscardMainThreadCalls(const void* owner) {
    MainQueue& q = Leaked<MainQueue>();
    std::deque<PostedCall> discarded;
    std::vector<std::shared_ptr<Timer>> timers;
    {
        std::lock_guard guard(q.Lock);
        TakeOwnedCalls(q.Posted, q.Timers, owner, discarded, timers);
    }
    // The closures are destroyed here, outside the lock, in case their destructors post.
    return discarded.size();
}

size_t RunPostedCalls() {
    RequireMainThread("RunPostedCalls");
    MainQueue& q = Leaked<MainQueue>();
    size_t count = 0;
    std::unique_lock lock(q.Lock);
    while (!q.Posted.empty()) {
        RunOnePosted(q, lock);
        ++count;
    }
    return count;
}

bool PumpMainThread(uint32_t timeoutMs) {
    RequireMainThread("PumpMainThread");
    MainQueue& q = Leaked<MainQueue>();
    std::unique_lock lock(q.Lock);
    bool ran = false;
    while (ServeOne(q, lock, true))
        ran = true;
    if (ran || timeoutMs == 0)
        return ran;
    const Clock::time_point deadline = Deadline(timeoutMs);
    for (;;) {
        if (q.Woken) {
            q.Woken = false;
            return false;
        }
        if (ServeOne(q, lock, true)) {
            while (ServeOne(q, lock, true)) {
            }
            return true;
        }
        const Clock::time_point now = Clock::now();
        if (now >= deadline)
            return false;
        WaitUntil(q.Arrived, lock, std::min(deadline, NextTimerDue(q.Timers)));
    }
}

bool PumpMainThreadUntil(const std::function<bool()>& done, uint32_t timeoutMs) {
    RequireMainThread("PumpMainThreadUntil");
    const Clock::time_point deadline = Deadline(timeoutMs);
    MainQueue& q = Leaked<MainQueue>();
    std::unique_lock lock(q.Lock);
    for (;;) {
        lock.unlock();
        if (done())
            return true;
        lock.lock();
        if (ServeOne(q, lock, true))
            continue;
        const Clock::time_point now = Clock::now();
        if (now >= deadline)
            break;
        if (q.Woken) {
            q.Woken = false;
            continue;
        }
        const auto slice = now + std::chrono::milliseconds(50);
        WaitUntil(q.Arrived, lock, std::min({deadline, NextTimerDue(q.Timers), slice}));
    }
    lock.unlock();
    return done();
}

void WakeMainThread() {
    MainQueue& q = Leaked<MainQueue>();
    std::lock_guard guard(q.Lock);
    q.Woken = true;
    q.Arrived.notify_all();
}

TimerId StartMainThreadTimer(uint32_t intervalMs, std::function<void()> tick, const void* owner) {
    MainQueue& q = Leaked<MainQueue>();
    auto timer = MakeTimer(intervalMs, std::move(tick), owner);
    std::lock_guard guard(q.Lock);
    timer->Id = q.NextTimerId++;
    q.Timers.push_back(timer);
    // A pump asleep until a later deadline must learn of the earlier one.
    q.Arrived.notify_one();
    return timer->Id;
}

void StopMainThreadTimer(TimerId id) {
    MainQueue& q = Leaked<MainQueue>();
    std::shared_ptr<Timer> removed;
    {
        std::lock_guard guard(q.Lock);
        removed = TakeTimer(q.Timers, id);
    }
}

// ---- Processor times --------------------------------------------------------------------------

bool SystemProcessorTimes(ProcessorTimes& times) {
    std::ifstream stat("/proc/stat");
    std::string line;
    if (!stat || !std::getline(stat, line) || line.rfind("cpu ", 0) != 0)
        return false;
    std::istringstream fields(line.substr(4));
    uint64_t user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0, steal = 0;
    if (!(fields >> user >> nice >> system >> idle))
        return false;
    // Older kernels end the line early; the missing counters are zero.
    fields >> iowait >> irq >> softirq >> steal;
    times.Idle = idle + iowait;
    times.User = user;
    times.Kernel = system + irq + softirq + steal;
    times.Nice = nice;
    return true;
}

void WaitWhileEqual(const std::atomic<int32_t>& value, int32_t expected) {
    value.wait(expected);
}

void WakeOneWaiter(std::atomic<int32_t>& value) {
    value.notify_one();
}

} // namespace platform
