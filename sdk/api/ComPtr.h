#pragma once
// A small owner of one interface reference: AddRef on copy, Release on destruction.
//
// Thread-safety: one ComPtr is used by one thread at a time; distinct ComPtrs to one object may
// live on different threads (the object's count is atomic).

#include "sdk/api/OrvoAPI.h"

#include <cstddef>
#include <type_traits>
#include <utility>

template <typename T> class ComPtr {
public:
    ComPtr() noexcept = default;
    ComPtr(std::nullptr_t) noexcept {}
    // Takes a new reference to p.
    ComPtr(T* p) noexcept : FPtr(p) { AddRefPtr(); }
    ComPtr(const ComPtr& other) noexcept : FPtr(other.FPtr) { AddRefPtr(); }
    ComPtr(ComPtr&& other) noexcept : FPtr(std::exchange(other.FPtr, nullptr)) {}
    template <typename U>
    requires std::is_convertible_v<U*, T*> ComPtr(const ComPtr<U>& other)
    noexcept : FPtr(other.get()) { AddRefPtr(); }
    template <typename U>
    requires std::is_convertible_v<U*, T*> ComPtr(ComPtr<U>&& other)
    noexcept : FPtr(other.Detach()) {}
    ~ComPtr() { ReleasePtr(); }

    ComPtr& operator=(const ComPtr& other) noexcept {
        ComPtr(other).Swap(*this);
        return *this;
    }
    ComPtr& operator=(ComPtr&& other) noexcept {
        ComPtr(std::move(other)).Swap(*this);
        return *this;
    }
    ComPtr& operator=(std::nullptr_t) noexcept {
        Reset();
        return *this;
    }

    // Adopts a reference the caller already owns (no AddRef).
    static ComPtr Attach(T* p) noexcept {
        ComPtr result;
        result.FPtr = p;
        return result;
    }
    // Gives up the reference without releasing it.
    T* Detach() noexcept { return std::exchange(FPtr, nullptr); }
    void Reset() noexcept { ComPtr().Swap(*this); }
    void Swap(ComPtr& other) noexcept { std::swap(FPtr, other.FPtr); }

    T* get() const noexcept { return FPtr; }
    T* operator->() const noexcept { return FPtr; }
    T& operator*() const noexcept { return *FPtr; }
    explicit operator bool() const noexcept { return FPtr != nullptr; }

    // Releases the held reference and gives the address to receive a new one, for out parameters.
    T** put() noexcept {
        Reset();
        return &FPtr;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

    // Queries the held object for interface U; null when it is absent or the object is null.
    template <typename U> ComPtr<U> As() const noexcept {
        ComPtr<U> result;
        if (FPtr)
            FPtr->QueryInterface(U::IID, result.put_void());
        return result;
    }

    friend bool operator==(const ComPtr& a, const ComPtr& b) noexcept { return a.FPtr == b.FPtr; }
    friend bool operator==(const ComPtr& a, std::nullptr_t) noexcept { return a.FPtr == nullptr; }

private:
    void AddRefPtr() const noexcept {
        if (FPtr)
            FPtr->AddRef();
    }
    void ReleasePtr() noexcept {
        if (T* p = std::exchange(FPtr, nullptr))
            p->Release();
    }

    T* FPtr = nullptr;
};

// Queries any object for interface U.
template <typename U, typename T> ComPtr<U> QueryAs(T* object) noexcept {
    ComPtr<U> result;
    if (object)
        object->QueryInterface(U::IID, result.put_void());
    return result;
}
