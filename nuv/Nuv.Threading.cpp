#include "nuv/Nuv.Threading.h"

#include "nuv/Nuv.Exceptions.h"
#include "nuv/Nuv.Log.h"
#include "nuv/Nuv.Strings.h"
#include "platform/Platform.System.h"
#include "platform/Platform.Threads.h"

#include <deque>
#include <mutex>

TNuvCriticalSection::TNuvCriticalSection(std::u16string name) : FName(std::move(name)) {}

TNuvCriticalSection::~TNuvCriticalSection() {
    if (const uint32_t owner = Owner())
        NuvLogError(u"App", Format(u"Attempt to destroy locked section (%d)", owner));
}

void TNuvCriticalSection::Acquired(uint32_t self) {
    // Having the flag while someone else is recorded as owner means the state is corrupt.
    if (const uint32_t owner = FOwner.load(std::memory_order_acquire); owner != 0) {
        ReleaseFlag();
        throw EInvalidOperation(Format(u"Section is locked by %d", owner));
    }
    FOwner.store(self, std::memory_order_release);
    ++FRecursionCount;
}

void TNuvCriticalSection::Enter() {
    const uint32_t self = platform::CurrentThreadId();
    if (FOwner.load(std::memory_order_acquire) == self) {
        ++FRecursionCount;
        return;
    }
    // Most sections are held for a few statements only: spin, then yield the processor a few
    // times, and only then sleep until the owner leaves. Sleeping for a fixed time instead would
    // leave the section idle while its next owner sleeps on.
    for (unsigned tries = 0;; ++tries) {
        int32_t expected = 0;
        if (FSpinFlag.compare_exchange_weak(expected, 1, std::memory_order_acquire))
            break;
        if (tries < 64)
            continue;
        if (tries < 80) {
            platform::Sleep(0);
            continue;
        }
        platform::WaitWhileEqual(FSpinFlag, 1);
    }
    Acquired(self);
}

void TNuvCriticalSection::ReleaseFlag() {
    FSpinFlag.store(0);
    // The store is the last access to the section: the next owner may destroy it at once. The
    // wake-up only names the flag's address, and costs nothing when nobody sleeps.
    platform::WakeOneWaiter(FSpinFlag);
}

bool TNuvCriticalSection::TryEnter() {
    const uint32_t self = platform::CurrentThreadId();
    if (FOwner.load(std::memory_order_acquire) == self) {
        ++FRecursionCount;
        return true;
    }
    int32_t expected = 0;
    if (!FSpinFlag.compare_exchange_strong(expected, 1, std::memory_order_acquire))
        return false;
    Acquired(self);
    return true;
}

void TNuvCriticalSection::Leave() {
    const uint32_t self = platform::CurrentThreadId();
    if (const uint32_t owner = FOwner.load(std::memory_order_acquire); owner != self)
        throw EInvalidOperation(Format(u"Section is not owned (%d)", owner));
    if (--FRecursionCount < 0) {
        FRecursionCount = 0;
        throw EInvalidOperation(u"Section.RecursionCount < 0");
    }
    if (FRecursionCount == 0) {
        FOwner.store(0, std::memory_order_release);
        ReleaseFlag();
    }
}

// ---- TNuvMainThread ---------------------------------------------------------------------------

namespace {

struct TMainThreadQueue {
    std::mutex Lock;
    std::deque<TNuvMainThread::TSynchronizeRecord> Records;
};

// A plain static, defined before the unloader below so that it is destroyed after it: a module
// that unloads must free its queue, and by then Finalize has dropped what was left in it.
TMainThreadQueue gMainThreadQueue;

TMainThreadQueue& MainThreadQueue() {
    return gMainThreadQueue;
}

// Identifies this module's calls in the process-wide queue, which other modules share.
const char gMainThreadOwner = 0;

// The module's code must not run after it unloads: calls still queued are dropped unrun.
struct TMainThreadUnloader {
    ~TMainThreadUnloader() { TNuvMainThread::Finalize(); }
} gMainThreadUnloader;

void RunRecord(const TNuvMainThread::TSynchronizeRecord& record) {
    try {
        if (record.Method)
            record.Method();
        if (record.Proc)
            record.Proc();
    } catch (const std::exception& e) {
        NuvLogError(u"App", u"TNuvMainThread: " + ExceptionMessage(e));
    }
}

} // namespace

void TNuvMainThread::Initialize() {
    if (!IsMainThread())
        throw EInvalidOperation(u"Cannot create window in non-main thread");
}

void TNuvMainThread::Finalize() {
    platform::DiscardMainThreadCalls(&gMainThreadOwner);
    std::deque<TSynchronizeRecord> dropped;
    TMainThreadQueue& queue = MainThreadQueue();
    std::lock_guard guard(queue.Lock);
    dropped.swap(queue.Records);
}

void TNuvMainThread::Run(TNuvThreadProc proc, bool wait) {
    Run(TSynchronizeRecord{nullptr, std::move(proc)}, wait);
}

void TNuvMainThread::Run(TSynchronizeRecord record, bool wait) {
    if (wait) {
        if (IsMainThread())
            RunRecord(record);
        else
            platform::SendToMainThread([&record] { RunRecord(record); });
        return;
    }
    TMainThreadQueue& queue = MainThreadQueue();
    {
        std::lock_guard guard(queue.Lock);
        queue.Records.push_back(std::move(record));
    }
    platform::PostToMainThread([] { ProcessQueue(); }, &gMainThreadOwner);
}

void TNuvMainThread::ProcessQueue() {
    TMainThreadQueue& queue = MainThreadQueue();
    for (;;) {
        TSynchronizeRecord record;
        {
            std::lock_guard guard(queue.Lock);
            if (queue.Records.empty())
                return;
            record = std::move(queue.Records.front());
            queue.Records.pop_front();
        }
        RunRecord(record);
    }
}

bool TNuvMainThread::IsMainThread() {
    return platform::IsMainThread();
}

TNuvWaitResult TNuvMainThread::WaitForHandle(platform::Event& handle, uint32_t timeoutMs) {
    return static_cast<TNuvWaitResult>(platform::WaitServingMainThread(handle, timeoutMs));
}
