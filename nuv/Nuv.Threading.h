#pragma once
// Locks and main-thread calls.

#include <atomic>
#include <cstdint>
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

    std::atomic<int32_t> FSpinFlag{0};
    std::atomic<uint32_t> FOwner{0};
    int32_t FRecursionCount = 0;
    std::u16string FName;
};
