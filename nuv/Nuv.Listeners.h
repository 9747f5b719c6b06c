#pragma once
// A thread-safe list of listeners that tolerates changes made by the listeners it is calling.

#include "nuv/Nuv.Threading.h"

#include <algorithm>
#include <cstddef>
#include <mutex>
#include <vector>

// Listeners are not owned: each removes itself before it is destroyed. A walk holds the list's
// recursive lock, so a listener removed on another thread is never called after Remove returns.
//
// Thread-safety: Add, Remove and the walk may be called from any thread. A listener may add or
// remove listeners (itself included) from inside a call: a removed listener that has not been
// called yet is skipped, and one added during a walk is first called by the next walk.
template <typename TListener> class TNuvListenerList {
public:
    TNuvListenerList() = default;
    TNuvListenerList(const TNuvListenerList&) = delete;
    TNuvListenerList& operator=(const TNuvListenerList&) = delete;

    // Appends the listener; a null or already listed one is ignored.
    void Add(TListener* listener) {
        if (!listener)
            return;
        std::lock_guard guard(FLock);
        if (std::find(FItems.begin(), FItems.end(), listener) == FItems.end())
            FItems.push_back(listener);
    }

    // Removes the listener when it is listed.
    void Remove(TListener* listener) {
        std::lock_guard guard(FLock);
        const auto at = std::find(FItems.begin(), FItems.end(), listener);
        if (at != FItems.end())
            FItems.erase(at);
    }

    size_t Count() const {
        std::lock_guard guard(FLock);
        return FItems.size();
    }

protected:
    // Calls `call(listener)` for every listener in the order of addition.
    template <typename F> void Walk(F&& call) {
        std::lock_guard guard(FLock);
        const std::vector<TListener*> snapshot = FItems;
        for (TListener* listener : snapshot) {
            if (std::find(FItems.begin(), FItems.end(), listener) != FItems.end())
                call(*listener);
        }
    }

private:
    mutable TNuvCriticalSection FLock;
    std::vector<TListener*> FItems;
};

// Keeps a listener in a list for the life of a scope, or of the object it is a member of: added
// at construction, removed at destruction however the scope is left.
//
// Thread-safety: as the list's Add and Remove.
template <typename TListener> class TNuvListenerScope {
public:
    TNuvListenerScope(TNuvListenerList<TListener>& list, TListener* listener)
        : FList(list), FListener(listener) {
        FList.Add(FListener);
    }
    ~TNuvListenerScope() { FList.Remove(FListener); }
    TNuvListenerScope(const TNuvListenerScope&) = delete;
    TNuvListenerScope& operator=(const TNuvListenerScope&) = delete;

private:
    TNuvListenerList<TListener>& FList;
    TListener* FListener;
};
