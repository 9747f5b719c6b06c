#include "nuv/Nuv.Threading.Pool.h"

#include "nuv/Nuv.Exceptions.h"
#include "nuv/Nuv.Log.h"
#include "nuv/Nuv.Strings.h"
#include "platform/Platform.System.h"

#include <algorithm>
#include <exception>
#include <mutex>
#include <numeric>

namespace {

// Process-wide, so that no two tasks ever share a handle, whichever dispatcher ran them.
std::atomic<TaskHandle> gLastTaskHandle{0};

platform::ThreadPriority ThreadPriorityOf(TNuvTaskPriority priority) {
    switch (priority) {
    case TNuvTaskPriority::Low:
        return platform::ThreadPriority::Low;
    case TNuvTaskPriority::High:
        return platform::ThreadPriority::High;
    case TNuvTaskPriority::Normal:
        break;
    }
    return platform::ThreadPriority::Normal;
}

// Logs the exception being handled; called only from a catch block.
void LogTaskError(const TNuvTask& task, std::u16string_view stage) noexcept {
    try {
        std::u16string message;
        try {
            throw;
        } catch (const std::exception& e) {
            message = ExceptionMessage(e);
        } catch (...) {
            message = u"unknown exception";
        }
        std::u16string description = task.Description();
        NuvLogError(u"ThreadPool", (description.empty() ? std::u16string(u"task") : description) + u" " +
                                       std::u16string(stage) + u": " + message);
    } catch (...) {
        // Logging is best effort; a failure here must not end a worker thread.
    }
}

void CompleteTask(TNuvTask& task) noexcept {
    try {
        task.Complete();
    } catch (...) {
        LogTaskError(task, u"Complete");
    }
}

// Completes and destroys tasks that never started, the last submitted first.
void DiscardUnstarted(std::deque<std::unique_ptr<TNuvTask>>& tasks) {
    while (!tasks.empty()) {
        std::unique_ptr<TNuvTask> task = std::move(tasks.back());
        tasks.pop_back();
        task->Cancel();
        CompleteTask(*task);
    }
}

} // namespace

// ---- TNuvTaskEvent ----------------------------------------------------------------------------

void TNuvTaskEvent::Signal() {
    FEvent.Set();
}

TNuvWaitResult TNuvTaskEvent::WaitFor(uint32_t timeoutMs, uint32_t taskThreadId) {
    if (timeoutMs != 0 && taskThreadId == platform::CurrentThreadId() && !FEvent.IsSet())
        return wrError;
    return TNuvMainThread::WaitForHandle(FEvent, timeoutMs);
}

// ---- TNuvTask ---------------------------------------------------------------------------------

void TNuvTask::Complete() {
    if (!FCompletionHandler)
        return;
    switch (FCompletionMode) {
    case cmWorkerThread:
        FCompletionHandler();
        break;
    case cmMainThreadWait:
        TNuvMainThread::Run(FCompletionHandler, true);
        break;
    default:
        TNuvMainThread::Run(FCompletionHandler, false);
        break;
    }
}

bool TNuvTask::IsCanceled() const {
    for (const TNuvTask* task = this; task; task = task->FParent)
        if (task->FCanceled.load() != 0)
            return true;
    return false;
}

void TNuvTask::SetCompletionHandler(TNuvThreadProc handler, TCompletionMode mode) {
    FCompletionHandler = std::move(handler);
    FCompletionMode = mode;
}

void TNuvSimpleTask::Execute() {
    if (FProc)
        FProc([this] { return IsCanceled(); });
}

// ---- TNuvTaskDispatcher -----------------------------------------------------------------------

TNuvTaskDispatcher::TNuvTaskDispatcher() {
    SetMaxActiveTasks(static_cast<int32_t>(4 * platform::ProcessorCount()));
    SetUseCpuUsageMonitor(true);
}

TNuvTaskDispatcher::~TNuvTaskDispatcher() {
    if (FMonitorTimer != 0)
        platform::StopMainThreadTimer(FMonitorTimer);
    {
        std::lock_guard guard(FLock);
        FLimit = 0;
        FMinimum = 0;
    }
    try {
        CancelAll(true);
    } catch (...) {
        // A destructor must not throw; CancelAll only raises what a served main-thread call let escape.
    }
    // Every task has ended, but a worker may still be returning through this module's code.
    FWorkers.WaitIdle();
}

TaskHandle TNuvTaskDispatcher::Run(std::unique_ptr<TNuvTask> task) {
    if (!task)
        return 0;
    // Read before the task leaves our hands: it may run and be destroyed at once.
    const TaskHandle handle = ++gLastTaskHandle;
    task->FHandle = handle;
    std::lock_guard guard(FLock);
    FPending.push_back(std::move(task));
    TryStart();
    return handle;
}

TaskHandle TNuvTaskDispatcher::Run(TNuvTaskProc proc) {
    return Run(std::make_unique<TNuvSimpleTask>(std::move(proc)));
}

std::vector<TNuvTaskDispatcher::TActiveTask>::iterator TNuvTaskDispatcher::FindActive(TaskHandle handle) {
    return std::find_if(FActive.begin(), FActive.end(),
                        [&](const TActiveTask& a) { return a.Handle == handle; });
}

// Moves the first pending task to the active list when the limit allows; the lock is held.
TNuvTask* TNuvTaskDispatcher::StartLocked() {
    if (static_cast<int64_t>(FActive.size()) >= FLimit || FPending.empty())
        return nullptr;
    TNuvTask* task = FPending.front().release();
    FPending.pop_front();
    task->FDispatcher = this;
    FActive.push_back({task, task->FHandle, 0, std::make_shared<TNuvTaskEvent>()});
    return task;
}

void TNuvTaskDispatcher::TryStart() {
    std::lock_guard guard(FLock);
    // Fill every free place, so a raised limit takes effect at once.
    while (TNuvTask* task = StartLocked()) {
        try {
            FWorkers.Queue(&TNuvTaskDispatcher::WorkerProc, task);
        } catch (...) {
            // Back to the head of the queue: a task in the active list that never runs would make
            // every wait for it endless.
            FActive.pop_back();
            FPending.emplace_front(task);
            throw;
        }
    }
}

void TNuvTaskDispatcher::WorkerProc(void* context) {
    auto* task = static_cast<TNuvTask*>(context);
    TNuvTaskDispatcher* dispatcher = task->FDispatcher;
    // A worker that ends a task goes on with the next pending one itself: handing it to another
    // pool thread would cost a thread switch per task. A thread left at a lowered priority
    // returns to the pool instead, which will not use it for normal work.
    while (task) {
        RunTask(task);
        const bool normal = platform::CurrentThreadPriority() == platform::ThreadPriority::Normal ||
                            platform::SetCurrentThreadPriority(platform::ThreadPriority::Normal);
        task = dispatcher->Finished(task, normal);
    }
}

void TNuvTaskDispatcher::RunTask(TNuvTask* task) {
    task->FThreadId.store(platform::CurrentThreadId(), std::memory_order_release);
    try {
        // Refused raising is no reason not to run the task.
        platform::SetCurrentThreadPriority(ThreadPriorityOf(task->Priority()));
        try {
            task->Execute();
        } catch (...) {
            LogTaskError(*task, u"Execute");
        }
        CompleteTask(*task);
    } catch (...) {
        LogTaskError(*task, u"start");
    }
}

// Ends a task: returns the next task for this worker to run, or null.
TNuvTask* TNuvTaskDispatcher::Finished(TNuvTask* task, bool mayContinue) {
    const TaskHandle handle = task->FHandle;
    {
        std::lock_guard guard(FLock);
        const auto active = FindActive(handle);
        active->ThreadId = task->ThreadId();
        active->Task = nullptr; // cancelling from now on only waits
    }
    // Destroyed before the task leaves the list and its event is signalled: whoever waits for
    // the task may free what its destructor still touches, or unload its code, once it returns.
    // (A destructor is noexcept: one that raised would end the process here, not be caught.)
    delete task;
    std::shared_ptr<INuvTaskEvent> event;
    TNuvTask* next = nullptr;
    {
        // Unless a next task keeps the list from emptying, this is the worker's last touch of the
        // dispatcher: once the list is empty, it may be destroyed.
        std::lock_guard guard(FLock);
        const auto active = FindActive(handle);
        event = std::move(active->Event);
        FActive.erase(active);
        if (mayContinue)
            next = StartLocked();
        try {
            TryStart();
        } catch (const std::exception& e) {
            NuvLogError(u"ThreadPool", u"Cannot start a task: " + ExceptionMessage(e));
        }
    }
    event->Signal();
    return next;
}

bool TNuvTaskDispatcher::Cancel(TaskHandle handle, bool wait) {
    if (handle == 0)
        return true;
    std::shared_ptr<INuvTaskEvent> event;
    uint32_t threadId = 0;
    std::deque<std::unique_ptr<TNuvTask>> unstarted;
    {
        std::lock_guard guard(FLock);
        const auto pending = std::find_if(FPending.begin(), FPending.end(),
                                          [&](const auto& task) { return task->FHandle == handle; });
        if (pending != FPending.end()) {
            unstarted.push_back(std::move(*pending));
            FPending.erase(pending);
        } else {
            const auto active = FindActive(handle);
            if (active != FActive.end()) {
                if (active->Task)
                    active->Task->Cancel();
                event = active->Event;
                threadId = active->RunningThreadId();
            }
        }
    }
    if (!unstarted.empty()) {
        // Completed outside the lock: a Complete that calls the main thread must not hold up
        // a main thread that is submitting a task.
        DiscardUnstarted(unstarted);
        return true;
    }
    // A handle that matches nothing belongs to a task that has ended.
    if (!event)
        return true;
    return event->WaitFor(wait ? platform::Infinite : 0, threadId) != wrError;
}

void TNuvTaskDispatcher::CancelAll(bool wait) {
    std::deque<std::unique_ptr<TNuvTask>> unstarted;
    {
        std::lock_guard guard(FLock);
        unstarted.swap(FPending);
        for (auto it = FActive.rbegin(); it != FActive.rend(); ++it)
            if (it->Task)
                it->Task->Cancel();
    }
    DiscardUnstarted(unstarted);
    if (!wait)
        return;
    const uint32_t self = platform::CurrentThreadId();
    for (;;) {
        TaskHandle next = 0;
        {
            std::lock_guard guard(FLock);
            // A task that cancels everything cannot wait for its own end.
            for (const TActiveTask& active : FActive)
                if (active.RunningThreadId() != self) {
                    next = active.Handle;
                    break;
                }
        }
        if (next == 0)
            return;
        Cancel(next, true);
    }
}

void TNuvTaskDispatcher::RunInCurrentThread(std::unique_ptr<TNuvTask> task) {
    if (!task)
        return;
    task->FParent = ActiveTaskOfCurrentThread();
    std::exception_ptr error;
    try {
        task->Execute();
    } catch (...) {
        error = std::current_exception();
    }
    try {
        task->Complete();
    } catch (...) {
        if (!error)
            error = std::current_exception();
    }
    task.reset();
    if (error)
        std::rethrow_exception(error);
}

TNuvTask* TNuvTaskDispatcher::ActiveTaskOfCurrentThread() {
    const uint32_t self = platform::CurrentThreadId();
    std::lock_guard guard(FLock);
    for (const TActiveTask& active : FActive)
        if (active.Task && active.Task->ThreadId() == self)
            return active.Task;
    return nullptr;
}

void TNuvTaskDispatcher::SetMaxActiveTasks(int32_t n) {
    {
        std::lock_guard guard(FLock);
        FMinimum = FLimit = std::max<int32_t>(n, 1);
    }
    TryStart();
}

void TNuvTaskDispatcher::SetUseCpuUsageMonitor(bool on) {
    if (!platform::IsMainThread())
        throw EInvalidOperation(u"SetUseCpuUsageMonitor must be called from MainThread");
    if (on == (FMonitorTimer != 0))
        return;
    if (on) {
        FSampleCount = 0;
        FHavePreviousTimes = platform::SystemProcessorTimes(FPreviousTimes);
        FMonitorTimer = platform::StartMainThreadTimer(1000, [this] { MonitorTick(); });
    } else {
        platform::StopMainThreadTimer(FMonitorTimer);
        FMonitorTimer = 0;
    }
}

std::u16string TNuvTaskDispatcher::ToString() {
    std::lock_guard guard(FLock);
    std::u16string text = u"Active: " + IntToStr(static_cast<int64_t>(FActive.size()));
    if (!FPending.empty())
        text += u" (Pending: " + IntToStr(static_cast<int64_t>(FPending.size())) + u")";
    return text;
}

int32_t TNuvTaskDispatcher::MaxActiveTasks() {
    std::lock_guard guard(FLock);
    return FLimit;
}

int32_t TNuvTaskDispatcher::MinActiveTasks() {
    std::lock_guard guard(FLock);
    return FMinimum;
}

void TNuvTaskDispatcher::SetProcessorUsageSource(std::function<uint32_t()> source) {
    FUsageSource = std::move(source);
}

void TNuvTaskDispatcher::MonitorTick() {
    uint32_t usage = 0;
    if (FUsageSource) {
        usage = std::min<uint32_t>(FUsageSource(), 100);
    } else {
        platform::ProcessorTimes now;
        // Without a reading there is nothing to judge the load by; the limit stays as it is.
        if (!platform::SystemProcessorTimes(now))
            return;
        const bool havePrevious = FHavePreviousTimes;
        const platform::ProcessorTimes previous = FPreviousTimes;
        FPreviousTimes = now;
        FHavePreviousTimes = true;
        if (!havePrevious)
            return;
        usage = platform::ProcessorUsagePercent(previous, now);
    }

    std::copy_backward(FSamples.begin(), FSamples.end() - 1, FSamples.end());
    FSamples[0] = usage;
    FSampleCount = std::min(FSampleCount + 1, static_cast<int32_t>(FSamples.size()));
    if (FSampleCount < static_cast<int32_t>(FSamples.size()))
        return;
    const uint32_t average = std::accumulate(FSamples.begin(), FSamples.end(), 0u) / FSamples.size();

    {
        std::lock_guard guard(FLock);
        const auto active = static_cast<int32_t>(FActive.size());
        int32_t target = FMinimum;
        if (!FPending.empty())
            target = average >= 95 ? active - 1 : average <= 80 ? active + 1 : active;
        const int32_t ceiling = std::max(FMinimum, static_cast<int32_t>(8 * platform::ProcessorCount()));
        target = std::clamp(target, FMinimum, ceiling);
        if (target == FLimit)
            return;
        FLimit = target;
        FSampleCount = 0;
    }
    TryStart();
}

TNuvTaskDispatcher& TaskDispatcher() {
    static TNuvTaskDispatcher dispatcher;
    return dispatcher;
}
