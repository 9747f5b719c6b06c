#pragma once
// Background tasks: one process-wide dispatcher that hands tasks to the system's thread pool,
// keeps the number in flight within a limit that follows the processor load, and lets callers
// cancel a task with or without waiting for it to end.

#include "nuv/Nuv.Threading.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TNuvTaskDispatcher;

enum class TNuvTaskPriority { Low, Normal, High };

// A submitted task's identity. Handles are only compared, never dereferenced: one of a task that
// has ended matches nothing, and no later task ever gets the same handle. 0 is no task.
using TaskHandle = uint64_t;

// The event a task signals when it has ended. Reference counted: a canceller keeps its own
// reference, so the event outlives the task.
class INuvTaskEvent {
public:
    virtual ~INuvTaskEvent() = default;
    virtual void Signal() = 0;
    // Waits for the signal (serving main-thread calls when called on the main thread). A wait by
    // the thread that runs the awaited task would never end and fails at once with wrError.
    virtual TNuvWaitResult WaitFor(uint32_t timeoutMs, uint32_t taskThreadId) = 0;
};

// A manual-reset event, created non-signalled.
class TNuvTaskEvent final : public INuvTaskEvent {
public:
    void Signal() override;
    TNuvWaitResult WaitFor(uint32_t timeoutMs, uint32_t taskThreadId) override;

private:
    platform::Event FEvent;
};

// A unit of background work. The dispatcher owns a task from submission until it destroys it.
//
// Thread-safety: Cancel and IsCanceled may be called from any thread; the rest belongs to the
// thread that runs the task.
class TNuvTask {
public:
    TNuvTask() = default;
    virtual ~TNuvTask() = default;
    TNuvTask(const TNuvTask&) = delete;
    TNuvTask& operator=(const TNuvTask&) = delete;

    // Runs once after Execute, also when Execute raised or never ran (a task cancelled before it
    // started). The base calls the completion handler, if any, as its mode says.
    virtual void Complete();
    // The work; long work polls IsCanceled.
    virtual void Execute() = 0;
    virtual std::u16string Description() const { return {}; }
    virtual TNuvTaskPriority Priority() const { return TNuvTaskPriority::Normal; }

    // Asks the task to stop; a running task is never interrupted.
    void Cancel() { FCanceled.exchange(1); }
    // True once the task or any task it runs inside has been cancelled.
    bool IsCanceled() const;

    // How the completion handler runs: in the worker thread, on the main thread with the worker
    // waiting, or queued to the main thread.
    enum TCompletionMode : uint8_t { cmWorkerThread = 0, cmMainThreadWait = 1, cmMainThreadQueue = 2 };
    void SetCompletionHandler(TNuvThreadProc handler, TCompletionMode mode);

    // The handle given at submission (0 for a task run in the caller's thread).
    TaskHandle Handle() const { return FHandle; }
    // The worker thread running the task, 0 before it starts.
    uint32_t ThreadId() const { return FThreadId.load(std::memory_order_acquire); }

private:
    friend class TNuvTaskDispatcher;

    std::atomic<int32_t> FCanceled{0};
    TNuvTaskDispatcher* FDispatcher = nullptr;
    const TNuvTask* FParent = nullptr;
    std::atomic<uint32_t> FThreadId{0};
    TNuvThreadProc FCompletionHandler;
    TCompletionMode FCompletionMode = cmWorkerThread;
    TaskHandle FHandle = 0;
};

// The cancellation query handed to a closure task: true once the task is cancelled.
using TNuvCancelQuery = std::function<bool()>;
// The work of a TNuvSimpleTask.
using TNuvTaskProc = std::function<void(const TNuvCancelQuery& isCanceled)>;

// A task made of one closure, called with the task's cancellation query.
class TNuvSimpleTask : public TNuvTask {
public:
    explicit TNuvSimpleTask(TNuvTaskProc proc) : FProc(std::move(proc)) {}
    void Execute() override;

private:
    TNuvTaskProc FProc;
};

// Hands tasks to the thread pool, at most the limit at once; the rest wait in submission order.
//
// Thread-safety: every operation may be called from any thread, except that the load monitor is
// switched on or off, and the dispatcher created, on the main thread.
class TNuvTaskDispatcher {
public:
    // Limits the active tasks to 4 per processor and starts the load monitor. Main thread only.
    TNuvTaskDispatcher();
    // Stops the monitor, starts nothing more and cancels every task, waiting for the active ones.
    ~TNuvTaskDispatcher();
    TNuvTaskDispatcher(const TNuvTaskDispatcher&) = delete;
    TNuvTaskDispatcher& operator=(const TNuvTaskDispatcher&) = delete;

    // Takes ownership of the task and queues it; it starts when the limit allows.
    TaskHandle Run(std::unique_ptr<TNuvTask> task);
    // Runs the closure as a TNuvSimpleTask.
    TaskHandle Run(TNuvTaskProc proc);

    // Cancels the task. A pending task gets its Complete in the caller's thread and is destroyed
    // without running. A running one is flagged; with wait the call returns once it has ended
    // (serving main-thread calls meanwhile when called on the main thread). Returns false only
    // when waiting failed; a null handle or one of a task that has ended gives true at once.
    bool Cancel(TaskHandle handle, bool wait);
    // Cancels every pending and active task; with wait, returns when no task is active.
    void CancelAll(bool wait);

    // Runs the task in the caller's thread and destroys it. Cancelling the task the caller runs
    // in also cancels this one. Complete runs also when Execute raised; that exception then
    // continues to the caller.
    void RunInCurrentThread(std::unique_ptr<TNuvTask> task);
    // The active task the calling thread runs, else null.
    TNuvTask* ActiveTaskOfCurrentThread();

    // Sets the floor and the current limit to max(n, 1) and starts what the limit allows.
    void SetMaxActiveTasks(int32_t n);
    // Starts or stops the one-second load monitor. Main thread only.
    void SetUseCpuUsageMonitor(bool on);
    // "Active: 2", or "Active: 8 (Pending: 3)" while tasks wait.
    std::u16string ToString();

    // The current limit and its floor.
    int32_t MaxActiveTasks();
    int32_t MinActiveTasks();

    // The load monitor's measurement: the processors' busy share in percent since the previous
    // call. The default reads the system's processor times; tests supply their own.
    void SetProcessorUsageSource(std::function<uint32_t()> source);
    // One monitor tick: takes a sample and, every ten samples, moves the limit by one towards
    // the load (down at 95 % or more, up at 80 % or less while tasks wait, back to the floor when
    // none wait), between the floor and 8 tasks per processor. Main thread.
    void MonitorTick();

private:
    static void WorkerProc(void* context);
    static void RunTask(TNuvTask* task);
    void TryStart();
    TNuvTask* StartLocked();
    TNuvTask* Finished(TNuvTask* task, bool mayContinue);

    // An active task's place in the list. It outlives the task, so that the list still shows the
    // task while the worker destroys it, and the task's event until it is signalled.
    struct TActiveTask {
        TNuvTask* Task; // null while the worker destroys it
        TaskHandle Handle;
        uint32_t ThreadId;
        std::shared_ptr<INuvTaskEvent> Event;
        uint32_t RunningThreadId() const { return Task ? Task->ThreadId() : ThreadId; }
    };
    std::vector<TActiveTask>::iterator FindActive(TaskHandle handle);

    std::vector<TActiveTask> FActive;
    int32_t FLimit = 0;
    std::array<uint32_t, 10> FSamples{};
    platform::TimerId FMonitorTimer = 0;
    int32_t FSampleCount = 0;
    TNuvCriticalSection FLock{u"TaskLock"};
    int32_t FMinimum = 0;
    platform::ProcessorTimes FPreviousTimes;
    bool FHavePreviousTimes = false;
    std::deque<std::unique_ptr<TNuvTask>> FPending;
    std::function<uint32_t()> FUsageSource;
    // The workers this dispatcher queued, until each has returned to the pool: the dispatcher's
    // module must not be unloaded while a pool thread is still on its way out through its code.
    platform::WorkGroup FWorkers;
};

// The process-wide dispatcher, created on first use, which must be on the main thread.
TNuvTaskDispatcher& TaskDispatcher();
