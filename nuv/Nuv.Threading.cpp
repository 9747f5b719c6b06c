#include "nuv/Nuv.Threading.h"

#include "nuv/Nuv.Exceptions.h"
#include "nuv/Nuv.Log.h"
#include "nuv/Nuv.Strings.h"
#include "platform/Platform.System.h"

TNuvCriticalSection::TNuvCriticalSection(std::u16string name) : FName(std::move(name)) {}

TNuvCriticalSection::~TNuvCriticalSection() {
    if (const uint32_t owner = Owner())
        NuvLogError(u"App", Format(u"Attempt to destroy locked section (%d)", owner));
}

void TNuvCriticalSection::Acquired(uint32_t self) {
    // Having the flag while someone else is recorded as owner means the state is corrupt.
    if (const uint32_t owner = FOwner.load(std::memory_order_acquire); owner != 0) {
        FSpinFlag.store(0, std::memory_order_release);
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
    // Spin briefly before yielding: most sections are held for a few statements only.
    unsigned tries = 0;
    for (;;) {
        int32_t expected = 0;
        if (FSpinFlag.compare_exchange_weak(expected, 1, std::memory_order_acquire))
            break;
        ++tries;
        if (tries < 64)
            continue;
        platform::Sleep((tries & 1) ? 0 : 1);
    }
    Acquired(self);
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
        FSpinFlag.store(0, std::memory_order_release);
    }
}
