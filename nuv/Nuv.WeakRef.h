#pragma once
// Weak references that cannot dangle: an object keeps a TNuvLifetime, hands out TNuvWeakRef
// values, and revokes them before it goes. A holder pins the object for the length of one call;
// revoking waits until every pin has ended, so an object is never destroyed under a running call,
// and once revoked every later pin comes back empty.

#include <memory>
#include <type_traits>
#include <utility>

class TNuvLifetime;

namespace nuv::detail {
struct TNuvLifetimeState;
// True when the object is not revoked; the pin then counts until ReleasePin.
bool AcquirePin(TNuvLifetimeState& state) noexcept;
void ReleasePin(TNuvLifetimeState& state) noexcept;
} // namespace nuv::detail

// A reference to an object that may go away. Copyable; empty by default. Lock gives a pin.
//
// Thread-safety: any number of threads may copy and lock the same reference.
template <typename T> class TNuvWeakRef {
public:
    // Holds the object alive against revocation while it lives; empty when it was revoked (or the
    // reference is empty). A pin belongs to one thread and must end before that thread revokes.
    class TPin {
    public:
        TPin() = default;
        TPin(TPin&& other) noexcept
            : FState(std::move(other.FState)), FObject(std::exchange(other.FObject, nullptr)) {}
        TPin& operator=(TPin&& other) noexcept {
            if (this != &other) {
                Release();
                FState = std::move(other.FState);
                FObject = std::exchange(other.FObject, nullptr);
            }
            return *this;
        }
        TPin(const TPin&) = delete;
        TPin& operator=(const TPin&) = delete;
        ~TPin() { Release(); }

        explicit operator bool() const { return FObject != nullptr; }
        T* get() const { return FObject; }
        T* operator->() const { return FObject; }
        T& operator*() const { return *FObject; }

    private:
        friend class TNuvWeakRef;
        TPin(std::shared_ptr<nuv::detail::TNuvLifetimeState> state, T* object)
            : FState(std::move(state)), FObject(object) {}
        void Release() noexcept {
            if (FObject)
                nuv::detail::ReleasePin(*FState);
            FObject = nullptr;
            FState.reset();
        }

        std::shared_ptr<nuv::detail::TNuvLifetimeState> FState;
        T* FObject = nullptr;
    };

    TNuvWeakRef() = default;
    // The same reference seen as a base class.
    template <typename U>
    requires std::is_convertible_v<U*, T*> TNuvWeakRef(const TNuvWeakRef<U>& other)
        : FState(other.FState), FObject(other.FObject) {}

    // A pin of the object, or an empty pin once the object has revoked its references.
    TPin Lock() const {
        if (!FObject || !nuv::detail::AcquirePin(*FState))
            return {};
        return TPin(FState, FObject);
    }

private:
    template <typename> friend class TNuvWeakRef;
    friend class TNuvLifetime;
    TNuvWeakRef(std::shared_ptr<nuv::detail::TNuvLifetimeState> state, T* object)
        : FState(std::move(state)), FObject(object) {}

    std::shared_ptr<nuv::detail::TNuvLifetimeState> FState;
    T* FObject = nullptr;
};

// The owner's side: one per object, usually a member of it. Revoke as the first step of the
// destructor of the most derived class that hands out references, so that no pinned call sees a
// half-destroyed object; the destructor here revokes as well, for objects that did not.
//
// Thread-safety: Ref may be called from any thread. Revoke may be called from any thread that
// holds no pin of the object; on the main thread its wait keeps serving calls sent and queued to
// the main thread, so a pinned call that waits for the main thread can end.
class TNuvLifetime {
public:
    TNuvLifetime();
    ~TNuvLifetime();
    TNuvLifetime(const TNuvLifetime&) = delete;
    TNuvLifetime& operator=(const TNuvLifetime&) = delete;

    // A reference to `object`, which this lifetime belongs to.
    template <typename T> TNuvWeakRef<T> Ref(T* object) const { return TNuvWeakRef<T>(FState, object); }
    // Empties every reference and returns once no pin holds the object. Later calls do nothing.
    void Revoke() noexcept;

private:
    std::shared_ptr<nuv::detail::TNuvLifetimeState> FState;
};
