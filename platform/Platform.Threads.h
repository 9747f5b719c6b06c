#pragma once
// What the code expects of the operating system's threading: a thread pool for long work items,
// manual-reset events, the main thread's queue of sent and posted calls with a pump and periodic
// timers, thread priorities and the system's processor times.
//
// The main thread is the thread that runs the host's main loop. By default it is the process's
// first thread; a host whose loop runs elsewhere calls SetMainThread on that thread before it
// loads the plug-in. Everything sent or posted to the main thread runs only while that thread
// pumps: in PumpMainThread, PumpMainThreadUntil or WaitServingMainThread.
//
// Thread-safety: every function may be called from any thread unless its comment says otherwise.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace platform {

// A time-out that never expires.
inline constexpr uint32_t Infinite = 0xFFFFFFFF;

// ---- Thread pool ------------------------------------------------------------------------------

// Runs work(context) on a pool thread. An idle thread takes it; when every thread is busy a new
// thread is started, so a long item never holds up another. Threads idle for longer than the
// pool's idle time-out end. Raises std::system_error when the pool has no thread and none can be
// started. After the function returns, the pool runs none of the caller's code: a module may be
// unloaded as soon as its last work item has returned.
void QueueWorkItem(void (*work)(void* context), void* context);

// The same for a closure, which the pool destroys after running it.
void QueueWorkItem(std::function<void()> work);

// Counts a module's work items from queuing until the pool has returned from them. A module that
// runs code on pool threads cannot tell from that code when the thread has left it (its own last
// instructions still run after any signal it gives), so the pool, which outlives every module,
// does the counting. Wait for the group to go idle before the module is unloaded.
class WorkGroup {
public:
    WorkGroup();
    // Does not wait: a group destroyed with items running only stops counting them.
    ~WorkGroup();
    WorkGroup(const WorkGroup&) = delete;
    WorkGroup& operator=(const WorkGroup&) = delete;

    // QueueWorkItem, counted in this group.
    void Queue(void (*work)(void* context), void* context);
    // Waits until every item queued in the group has returned to the pool; false on time-out.
    bool WaitIdle(uint32_t timeoutMs = Infinite);

    struct State;

private:
    std::shared_ptr<State> FState;
};

struct ThreadPoolStatistics {
    unsigned Threads = 0; // threads alive
    unsigned Idle = 0;    // threads waiting for work
    unsigned Queued = 0;  // items not yet taken by a thread
};
ThreadPoolStatistics ThreadPoolState();

// How long a pool thread waits for work before it ends (default 10,000 ms).
void SetThreadPoolIdleTimeout(uint32_t milliseconds);

// ---- Thread priorities ------------------------------------------------------------------------

enum class ThreadPriority { Low, Normal, High };

// Sets the calling thread's priority: Low is the lowest scheduling priority, Normal the default,
// High a raised one. Returns false when the system refuses (raising needs privileges on Linux;
// the thread then keeps its priority). A pool thread that cannot return to Normal after its
// work item ends, instead of serving further items at a lowered priority.
bool SetCurrentThreadPriority(ThreadPriority priority);

// The priority last set on the calling thread.
ThreadPriority CurrentThreadPriority();

// ---- Events and waits -------------------------------------------------------------------------

enum class WaitResult : uint32_t { Signalled = 0, TimedOut = 1, Abandoned = 2, Failed = 3 };

// A manual-reset event: once set it stays set, releasing every waiter, until reset.
// The object must outlive every call on it; share it (std::shared_ptr) between a thread that
// sets it and one that may destroy it after its wait.
class Event {
public:
    explicit Event(bool signalled = false);
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    // Signals the event: every wait, present or future, returns until Reset. Any thread.
    void Set();
    void Reset();
    bool IsSet() const;
    // A plain wait that serves nothing; Infinite waits without limit.
    WaitResult Wait(uint32_t timeoutMs);

private:
    friend WaitResult WaitServingMainThread(Event& event, uint32_t timeoutMs);
#ifdef _WIN32
    void* FHandle; // the system's manual-reset event, which waits for messages can wait on too
#else
    std::mutex FLock;
    std::condition_variable FChanged;
    std::atomic<bool> FSignalled;
    std::atomic<int> FMainThreadWaiters{0};
#endif
};

// Waits for the event. Off the main thread this is Event::Wait. On the main thread, sent and
// posted calls are served while waiting (timers are not), so a worker that waits for the main
// thread can finish while the main thread waits for it. A zero time-out only tests the event.
WaitResult WaitServingMainThread(Event& event, uint32_t timeoutMs);

// Sleeps while `value` holds `expected`; it may also return without a change, so callers check
// again. WakeOneWaiter wakes one thread sleeping on it. The wake-up only names the value's
// address, so the value may already be gone. (The C++ library's own atomic wait loses wake-ups
// where the system offers it no such wait.)
void WaitWhileEqual(const std::atomic<int32_t>& value, int32_t expected);
void WakeOneWaiter(std::atomic<int32_t>& value);

// ---- The main thread --------------------------------------------------------------------------

// Makes the calling thread the main thread.
void SetMainThread();
uint32_t MainThreadId();
bool IsMainThread();

// Queues a call to run on the main thread after every call posted before it. Posting never runs
// the call at once, also on the main thread. The owner tag lets a module discard its calls.
void PostToMainThread(std::function<void()> call, const void* owner = nullptr);

// Runs the call on the main thread and returns after it has run; on the main thread it runs at
// once. An exception escaping the call is raised again in the sender. Sent calls are served
// before posted ones. The main thread must be pumping, else the sender waits until it does.
void SendToMainThread(const std::function<void()>& call);

// Destroys the posted calls of an owner without running them, for a module that unloads.
// Returns how many were discarded.
size_t DiscardMainThreadCalls(const void* owner);

// The pumps below raise std::logic_error when called off the main thread.

// Main thread only: runs the posted calls queued now and any posted while they run, in order.
// Returns how many ran.
size_t RunPostedCalls();

// Main thread only: runs whatever is due (sent calls, then posted calls, then due timers);
// when nothing was, waits up to timeoutMs for something to arrive and runs that. Returns true
// when anything ran. An exception escaping a posted call or a timer propagates to the caller,
// which may pump again to run the rest.
bool PumpMainThread(uint32_t timeoutMs);

// Main thread only: pumps until done() answers true or the time-out passes; returns done().
// done() is checked after every call run and at least every 50 ms; a thread that changes its
// answer can call WakeMainThread to have it checked at once.
bool PumpMainThreadUntil(const std::function<bool()>& done, uint32_t timeoutMs = Infinite);

// Wakes a pump or a waiting main thread so that it checks its conditions again.
void WakeMainThread();

// A periodic timer whose tick runs on the main thread while it pumps. A tick that falls due while
// the previous one is late runs once, not twice. Returns the timer's id, never 0.
using TimerId = uint64_t;
TimerId StartMainThreadTimer(uint32_t intervalMs, std::function<void()> tick, const void* owner = nullptr);

// Stops a timer. Stopped on the main thread, the timer does not tick again; its closure is
// destroyed here, or after its tick when the tick itself stops it. Unknown ids are ignored.
void StopMainThreadTimer(TimerId id);

// ---- Processor times --------------------------------------------------------------------------

// The system's processor time counters since boot, summed over all processors, in clock ticks.
struct ProcessorTimes {
    uint64_t Idle = 0;   // idle and waiting for input/output
    uint64_t User = 0;   // user mode
    uint64_t Kernel = 0; // kernel mode, including interrupts
    uint64_t Nice = 0;   // user mode at lowered priority
};

// Reads the counters; false when the system does not give them.
bool SystemProcessorTimes(ProcessorTimes& times);

// Busy share in percent (0..100) between two readings; 0 when no time passed.
uint32_t ProcessorUsagePercent(const ProcessorTimes& before, const ProcessorTimes& after);

} // namespace platform
