// The threading services on Windows are the system's own: its thread pool, its manual-reset events,
// and the main thread's message queue, reached through a message-only window that receives a
// registered message for every posted call, while sent calls are sent messages. Anything that
// pumps the main thread's messages, a player's own message loop included, serves them.
#include "platform/Platform.Internal.h"

#include "platform/Platform.System.h"
#include "platform/Platform.Win32.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <string>
#include <system_error>
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

// The system pool keeps its threads to itself; these counts are of our items only.
std::atomic<unsigned> gItemsRunning{0};
std::atomic<unsigned> gItemsQueued{0};

thread_local ThreadPriority tCurrentPriority = ThreadPriority::Normal;

void CALLBACK RunWorkItem(PTP_CALLBACK_INSTANCE instance, void* context) {
    // Items may run for minutes: the pool starts another thread rather than hold the next item.
    ::CallbackMayRunLong(instance);
    const std::unique_ptr<WorkItem> item(static_cast<WorkItem*>(context));
    --gItemsQueued;
    ++gItemsRunning;
    try {
        item->Work(item->Context);
    } catch (...) {
        // Work items handle their own failures; one that does not must not take the pool down.
    }
    // The pool thread serves other items next, at the priority they expect.
    if (tCurrentPriority != ThreadPriority::Normal)
        SetCurrentThreadPriority(ThreadPriority::Normal);
    --gItemsRunning;
    if (item->Group)
        LeaveWorkGroup(std::move(item->Group));
}

void Submit(WorkItem item) {
    auto owned = std::make_unique<WorkItem>(std::move(item));
    ++gItemsQueued;
    if (!::TrySubmitThreadpoolCallback(RunWorkItem, owned.get(), nullptr)) {
        --gItemsQueued;
        throw std::system_error(int(::GetLastError()), std::system_category(), "TrySubmitThreadpoolCallback");
    }
    owned.release();
}

// ---- Main thread ----

// The thread that loaded this library: the program's first thread, or the host thread that loads
// the plug-in.
std::atomic<uint32_t> gMainThreadId{::GetCurrentThreadId()};

struct SentCall {
    const std::function<void()>* Call;
    std::exception_ptr Error;
};

struct MainQueue {
    std::mutex Lock;
    std::condition_variable WindowMade; // senders that came before the window wait here
    HWND Window = nullptr;
    uint32_t WindowThread = 0;
    std::deque<PostedCall> Posted;
    std::vector<std::shared_ptr<Timer>> Timers;
    TimerId NextTimerId = 1;
};

// Registered once per session: every module that asks for the same name gets the same number.
UINT CallMessage() {
    static const UINT message = ::RegisterWindowMessageW(L"Tunedex.MainThread.Call");
    return message;
}
UINT WakeMessage() {
    static const UINT message = ::RegisterWindowMessageW(L"Tunedex.MainThread.Wake");
    return message;
}
constexpr const wchar_t* kWindowClass = L"Tunedex.MainThread";

// Main thread only: calls run by the window since the thread started, and whether a wake message
// arrived that no pump has answered yet.
thread_local uint64_t tCallsRun = 0;
thread_local bool tWoken = false;

// Runs the first posted call; one call message was posted for each call, so none is left behind.
void RunOnePosted() {
    MainQueue& q = Leaked<MainQueue>();
    std::function<void()> call;
    {
        std::lock_guard guard(q.Lock);
        if (q.Posted.empty())
            return; // discarded, or already run by RunPostedCalls
        call = std::move(q.Posted.front().Call);
        q.Posted.pop_front();
    }
    ++tCallsRun;
    call();
}

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == CallMessage() && message != 0) {
        if (wParam == 1) {
            // A sent call: the sender waits in SendMessage and takes any exception back.
            auto* sent = reinterpret_cast<SentCall*>(lParam);
            ++tCallsRun;
            try {
                (*sent->Call)();
            } catch (...) {
                sent->Error = std::current_exception();
            }
            return 0;
        }
        // A posted call's exception reaches the pump that dispatched it, as on other systems; it
        // must not unwind through the system's dispatcher, so it is carried over it.
        try {
            RunOnePosted();
        } catch (...) {
            return reinterpret_cast<LRESULT>(new std::exception_ptr(std::current_exception()));
        }
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

// The main thread's message-only window, made on the main thread the first time it is needed.
// Returns nullptr off the main thread when there is none yet.
HWND MainWindow() {
    MainQueue& q = Leaked<MainQueue>();
    const uint32_t mainThread = gMainThreadId.load();
    {
        std::lock_guard guard(q.Lock);
        if (q.Window && q.WindowThread == mainThread)
            return q.Window;
    }
    if (::GetCurrentThreadId() != mainThread)
        return nullptr;
    static const ATOM windowClass = [] {
        WNDCLASSEXW description{};
        description.cbSize = sizeof description;
        description.lpfnWndProc = WindowProcedure;
        description.hInstance = ::GetModuleHandleW(nullptr);
        description.lpszClassName = kWindowClass;
        return ::RegisterClassExW(&description);
    }();
    // A window of a former main thread stays with its thread; this thread gets its own.
    const HWND window = windowClass ? ::CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                                        nullptr, ::GetModuleHandleW(nullptr), nullptr)
                                    : nullptr;
    if (!window)
        throw std::system_error(int(::GetLastError()), std::system_category(), "CreateWindowEx");
    size_t waiting = 0;
    {
        std::lock_guard guard(q.Lock);
        q.Window = window;
        q.WindowThread = mainThread;
        waiting = q.Posted.size();
    }
    q.WindowMade.notify_all();
    // Calls posted before the window existed get their messages now, in their order.
    for (size_t i = 0; i < waiting; ++i)
        ::PostMessageW(window, CallMessage(), 0, 0);
    return window;
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

DWORD MillisecondsUntil(Clock::time_point until) {
    if (until == Clock::time_point::max())
        return INFINITE;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
    return left <= 0 ? 0 : DWORD(std::min<long long>(left, INFINITE - 1));
}

// What taking a message gave: none was there, a call ran (or another window's message was
// handled), a wake arrived, or a message ran nothing (the call it stood for was discarded).
enum class Step { None, Ran, Woken, Idle };

// Takes one message of the range from the thread's queue and dispatches it. Sent messages are
// delivered inside PeekMessage whatever the range, before any posted one.
Step PeekOne(UINT first, UINT last) {
    const uint64_t before = tCallsRun;
    MSG message{};
    if (!::PeekMessageW(&message, nullptr, first, last, PM_REMOVE))
        return tCallsRun != before ? Step::Ran : Step::None;
    if (message.message == WakeMessage())
        return tCallsRun != before ? Step::Ran : Step::Woken;
    if (message.message == WM_QUIT) {
        // Not ours to answer: it stays for the loop that asked for it.
        ::PostQuitMessage(int(message.wParam));
        return tCallsRun != before ? Step::Ran : Step::None;
    }
    ::TranslateMessage(&message);
    const LRESULT result = ::DispatchMessageW(&message);
    if (message.message != CallMessage())
        return Step::Ran;
    if (result != 0) {
        const std::unique_ptr<std::exception_ptr> error(reinterpret_cast<std::exception_ptr*>(result));
        std::rethrow_exception(*error);
    }
    return tCallsRun != before ? Step::Ran : Step::Idle;
}

Clock::time_point NextTimerDueNow() {
    MainQueue& q = Leaked<MainQueue>();
    std::lock_guard guard(q.Lock);
    return NextTimerDue(q.Timers);
}

bool RunDueTimer() {
    MainQueue& q = Leaked<MainQueue>();
    std::unique_lock lock(q.Lock);
    const auto timer = q.Timers.empty() ? nullptr : DueTimer(q.Timers, Clock::now());
    if (!timer)
        return false;
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
    return true;
}

// One step of the pump: the sent calls and the first message waiting, else a due timer.
Step ServeOne(bool timers) {
    Step step;
    while ((step = PeekOne(0, 0)) == Step::Idle) {
    }
    if (step != Step::None)
        return step;
    return timers && RunDueTimer() ? Step::Ran : Step::None;
}

// Waits until a message arrives for the thread or the time passes.
void WaitForMessages(Clock::time_point until) {
    ::MsgWaitForMultipleObjectsEx(0, nullptr, MillisecondsUntil(until), QS_ALLINPUT, 0);
}

} // namespace

// ---- Thread pool ------------------------------------------------------------------------------

void QueueWorkItem(void (*work)(void* context), void* context) {
    Submit({work, context, nullptr});
}

void WorkGroup::Queue(void (*work)(void* context), void* context) {
    EnterWorkGroup(FState);
    try {
        Submit({work, context, FState});
    } catch (...) {
        LeaveWorkGroup(FState);
        throw;
    }
}

ThreadPoolStatistics ThreadPoolState() {
    // The system does not tell how many threads its pool has: the threads counted are those
    // running our items, and none is reported idle.
    return {gItemsRunning.load(), 0, gItemsQueued.load()};
}

void SetThreadPoolIdleTimeout(uint32_t) {
    // The system's pool ends its idle threads by its own rules.
}

// ---- Thread priorities ------------------------------------------------------------------------

bool SetCurrentThreadPriority(ThreadPriority priority) {
    if (priority == tCurrentPriority)
        return true;
    int level = THREAD_PRIORITY_NORMAL;
    switch (priority) {
    case ThreadPriority::Low:
        level = THREAD_PRIORITY_LOWEST;
        break;
    case ThreadPriority::Normal:
        level = THREAD_PRIORITY_NORMAL;
        break;
    case ThreadPriority::High:
        level = THREAD_PRIORITY_ABOVE_NORMAL;
        break;
    }
    if (!::SetThreadPriority(::GetCurrentThread(), level))
        return false;
    tCurrentPriority = priority;
    return true;
}

ThreadPriority CurrentThreadPriority() {
    return tCurrentPriority;
}

// ---- Events -----------------------------------------------------------------------------------

Event::Event(bool signalled) : FHandle(::CreateEventW(nullptr, TRUE, signalled, nullptr)) {
    if (!FHandle)
        throw std::system_error(int(::GetLastError()), std::system_category(), "CreateEvent");
}

Event::~Event() {
    ::CloseHandle(FHandle);
}

void Event::Set() {
    ::SetEvent(FHandle);
}

void Event::Reset() {
    ::ResetEvent(FHandle);
}

bool Event::IsSet() const {
    return ::WaitForSingleObject(FHandle, 0) == WAIT_OBJECT_0;
}

WaitResult Event::Wait(uint32_t timeoutMs) {
    switch (::WaitForSingleObject(FHandle, timeoutMs == Infinite ? INFINITE : timeoutMs)) {
    case WAIT_OBJECT_0:
        return WaitResult::Signalled;
    case WAIT_TIMEOUT:
        return WaitResult::TimedOut;
    case WAIT_ABANDONED:
        return WaitResult::Abandoned;
    default:
        return WaitResult::Failed;
    }
}

WaitResult WaitServingMainThread(Event& event, uint32_t timeoutMs) {
    if (!IsMainThread())
        return event.Wait(timeoutMs);
    if (event.IsSet())
        return WaitResult::Signalled;
    if (timeoutMs == 0)
        return WaitResult::TimedOut;
    MainWindow();
    const Clock::time_point deadline = Deadline(timeoutMs);
    for (;;) {
        // Serve everything there is (sent calls first, then posted ones; timers wait for a pump)
        // before looking at the event: a call posted before the event was set must have run when
        // the wait returns, and a sent call can set the event while the same look delivers it.
        while (PeekOne(CallMessage(), CallMessage()) != Step::None) {
        }
        if (event.IsSet())
            return WaitResult::Signalled;
        // Note a wake for the pump that follows.
        if (PeekOne(WakeMessage(), WakeMessage()) == Step::Woken)
            tWoken = true;
        const DWORD result = ::MsgWaitForMultipleObjectsEx(1, &event.FHandle, MillisecondsUntil(deadline),
                                                           QS_SENDMESSAGE | QS_POSTMESSAGE, 0);
        if (result == WAIT_FAILED)
            return WaitResult::Failed;
        if (result == WAIT_TIMEOUT) {
            while (PeekOne(CallMessage(), CallMessage()) != Step::None) {
            }
            return event.IsSet() ? WaitResult::Signalled : WaitResult::TimedOut;
        }
        // The event or a message: the next round serves what came before it looks at the event,
        // since a call sent meanwhile may have been delivered inside the wait itself and set it
        // while a call posted before it still waits in the queue.
    }
}

// ---- Waits on a value ---------------------------------------------------------------------------

void WaitWhileEquals(const std::atomic<int32_t>& value, int32_t expected) {
    static_assert(sizeof(value) == sizeof(int32_t) && std::atomic<int32_t>::is_always_lock_free,
                  "the system waits on the atomic's own bytes");
    ::WaitOnAddress(const_cast<std::atomic<int32_t>*>(&value), &expected, sizeof expected, INFINITE);
}

void WakeOneWaiting(const std::atomic<int32_t>& value) {
    ::WakeByAddressSingle(const_cast<std::atomic<int32_t>*>(&value));
}

// ---- The main thread --------------------------------------------------------------------------

void SetMainThread() {
    gMainThreadId.store(CurrentThreadId());
}

uint32_t MainThreadId() {
    return gMainThreadId.load();
}

bool IsMainThread() {
    return CurrentThreadId() == MainThreadId();
}

void PostToMainThread(std::function<void()> call, const void* owner) {
    MainQueue& q = Leaked<MainQueue>();
    HWND window = nullptr;
    {
        std::lock_guard guard(q.Lock);
        q.Posted.push_back({std::move(call), owner});
        if (q.WindowThread == gMainThreadId.load())
            window = q.Window;
    }
    // Without a window yet, the main thread posts the message when it makes one.
    if (!window)
        window = MainWindow();
    if (window)
        ::PostMessageW(window, CallMessage(), 0, 0);
}

void SendToMainThread(const std::function<void()>& call) {
    if (IsMainThread()) {
        call();
        return;
    }
    MainQueue& q = Leaked<MainQueue>();
    HWND window = nullptr;
    {
        std::unique_lock lock(q.Lock);
        q.WindowMade.wait(lock, [&] { return q.Window && q.WindowThread == gMainThreadId.load(); });
        window = q.Window;
    }
    SentCall sent{&call, nullptr};
    ::SendMessageW(window, CallMessage(), 1, reinterpret_cast<LPARAM>(&sent));
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
    // The closures are destroyed here, outside the lock, in case their destructors post. Their
    // messages stay queued and find nothing to run.
    return discarded.size();
}

size_t RunPostedCalls() {
    RequireMainThread("RunPostedCalls");
    MainQueue& q = Leaked<MainQueue>();
    size_t count = 0;
    for (;;) {
        {
            std::lock_guard guard(q.Lock);
            if (q.Posted.empty())
                return count;
        }
        RunOnePosted();
        ++count;
    }
}

bool PumpMainThread(uint32_t timeoutMs) {
    RequireMainThread("PumpMainThread");
    MainWindow();
    bool ran = false;
    for (Step step; (step = ServeOne(true)) != Step::None;) {
        if (step == Step::Woken)
            tWoken = true;
        else
            ran = true;
    }
    if (ran || timeoutMs == 0)
        return ran;
    const Clock::time_point deadline = Deadline(timeoutMs);
    for (;;) {
        if (tWoken) {
            tWoken = false;
            return false;
        }
        const Step step = ServeOne(true);
        if (step == Step::Woken) {
            tWoken = true;
            continue;
        }
        if (step == Step::Ran) {
            for (Step more; (more = ServeOne(true)) != Step::None;)
                if (more == Step::Woken)
                    tWoken = true;
            return true;
        }
        if (Clock::now() >= deadline)
            return false;
        WaitForMessages(std::min(deadline, NextTimerDueNow()));
    }
}

bool PumpMainThreadUntil(const std::function<bool()>& done, uint32_t timeoutMs) {
    RequireMainThread("PumpMainThreadUntil");
    MainWindow();
    const Clock::time_point deadline = Deadline(timeoutMs);
    for (;;) {
        if (done())
            return true;
        const Step step = ServeOne(true);
        if (step == Step::Ran)
            continue;
        if (step == Step::Woken)
            tWoken = true;
        const Clock::time_point now = Clock::now();
        if (now >= deadline)
            break;
        if (tWoken) {
            tWoken = false;
            continue;
        }
        WaitForMessages(std::min({deadline, NextTimerDueNow(), now + std::chrono::milliseconds(50)}));
    }
    return done();
}

void WakeMainThread() {
    MainQueue& q = Leaked<MainQueue>();
    HWND window = nullptr;
    {
        std::lock_guard guard(q.Lock);
        if (q.WindowThread == gMainThreadId.load())
            window = q.Window;
    }
    if (window)
        ::PostMessageW(window, WakeMessage(), 0, 0);
}

TimerId StartMainThreadTimer(uint32_t intervalMs, std::function<void()> tick, const void* owner) {
    MainQueue& q = Leaked<MainQueue>();
    auto timer = MakeTimer(intervalMs, std::move(tick), owner);
    TimerId id = 0;
    {
        std::lock_guard guard(q.Lock);
        timer->Id = id = q.NextTimerId++;
        q.Timers.push_back(timer);
    }
    // A pump asleep until a later deadline must learn of the earlier one.
    WakeMainThread();
    return id;
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
    FILETIME idle{}, kernel{}, user{};
    if (!::GetSystemTimes(&idle, &kernel, &user))
        return false;
    const auto ticks = [](const FILETIME& t) { return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    // The system counts in 100 ns units, and its kernel time includes the idle time.
    times.Idle = ticks(idle);
    times.User = ticks(user);
    times.Kernel = ticks(kernel) - std::min(ticks(kernel), ticks(idle));
    times.Nice = 0;
    return true;
}

} // namespace platform
