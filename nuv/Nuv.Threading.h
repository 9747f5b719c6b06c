#pragma once
// Locks and main-thread calls.

#include "platform/Platform.Threads.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

// A recursive lock that knows its owner, so misuse is reported instead of deadlocking silently.
//
// Thread-safety: Enter and Leave may be called from any thread; Leave only by the owner.
class TNuvCriticalSection {
public:
    explicit TNuvCriticalSection(std::u16string name = {});
    // A section destroyed while held is a programming error; it is written to the error log
    // ("Attempt to destroy locked section (%d)") because a destructor must not throw.
    ~TNuvCriticalSection();
    TNuvCriticalSection(const TNuvCriticalSection&) = delete;
    TNuvCriticalSection& operator=(const TNuvCriticalSection&) = delete;

    // Takes the lock; re-entering from the owner only counts.
    void Enter();
    // Releases one level; raises EInvalidOperation when the caller does not own the section.
    void Leave();
    // Takes the lock only when it is free or already ours.
    bool TryEnter();

    // Owner thread id, 0 when free.
    uint32_t Owner() const { return FOwner.load(std::memory_order_acquire); }
    int32_t RecursionCount() const { return FRecursionCount; }
    const std::u16string& Name() const { return FName; }

    // BasicLockable, for std::lock_guard and std::unique_lock.
    void lock() { Enter(); }
    void unlock() { Leave(); }

private:
    void Acquired(uint32_t self);
    void ReleaseFlag();

    std::atomic<int32_t> FSpinFlag{0};
    std::atomic<uint32_t> FOwner{0};
    int32_t FRecursionCount = 0;
    std::u16string FName;
};

// Outcome of a wait, as WaitForHandle and the task events report it.
enum TNuvWaitResult : uint32_t { wrSignaled = 0, wrTimeout = 1, wrAbandoned = 2, wrError = 3 };

// A closure run on the main thread.
using TNuvThreadProc = std::function<void()>;

// Calls on the main thread, the thread that runs the host's main loop.
//
// Thread-safety: Run and IsMainThread may be called from any thread; ProcessQueue and Initialize
// only on the main thread. WaitForHandle may be called anywhere and serves the main thread's
// calls while the main thread waits.
class TNuvMainThread {
public:
    // One queued call: a method (bound to its object) and a closure, either of which may be empty.
    struct TSynchronizeRecord {
        TNuvThreadProc Method;
        TNuvThreadProc Proc;
    };

    // Binds the service to the main thread; raises EInvalidOperation on any other thread.
    // Calling it is optional: the service works without it. It lets a module loaded on the
    // wrong thread fail at once rather than wait forever for a main loop that never serves it.
    static void Initialize();
    // Discards the queued calls without running them, for a module that is about to unload.
    static void Finalize();

    // Runs the closure on the main thread. With wait, returns after it has run: at once on the
    // main thread, else the caller blocks until the main thread's loop (or a wait there) has run
    // it. Without wait the call is queued and runs later on the main thread, after the calls
    // queued before it: never at once, also on the main thread.
    // An exception derived from std::exception is written to the error log (tag "App"); others
    // propagate (to the pump, or to a waiting caller).
    static void Run(TNuvThreadProc proc, bool wait);
    // The same for a method of an object that outlives the call.
    template <typename T> static void Run(T* object, void (T::*method)(), bool wait) {
        Run(TSynchronizeRecord{[object, method] { (object->*method)(); }, nullptr}, wait);
    }
    // The same for a record: its Method runs, else its Proc.
    static void Run(TSynchronizeRecord record, bool wait);

    // Runs every queued call in order, including those queued while it runs. Main thread only.
    static void ProcessQueue();

    // Whether the calling thread is the main thread.
    static bool IsMainThread();

    // Waits for the event. Off the main thread a plain wait; on the main thread the wait keeps
    // running calls sent and queued to the main thread, so a worker that waits for the main
    // thread can finish while the main thread waits for it. Infinite is
    // platform::Infinite.
    static TNuvWaitResult WaitForHandle(platform::Event& handle, uint32_t timeoutMs);
};
