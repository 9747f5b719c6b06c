#include "nuv/Nuv.WeakRef.h"

#include "nuv/Nuv.Exceptions.h"
#include "nuv/Nuv.Log.h"
#include "nuv/Nuv.Threading.h"
#include "platform/Platform.Threads.h"

#include <mutex>

namespace nuv::detail {

struct TNuvLifetimeState {
    std::mutex Lock;
    int Pins = 0;
    bool Revoked = false;
    // Set once revoked with no pin left.
    platform::Event Released;
};

bool AcquirePin(TNuvLifetimeState& state) noexcept {
    std::lock_guard guard(state.Lock);
    if (state.Revoked)
        return false;
    ++state.Pins;
    return true;
}

void ReleasePin(TNuvLifetimeState& state) noexcept {
    std::lock_guard guard(state.Lock);
    if (--state.Pins == 0 && state.Revoked)
        state.Released.Set();
}

} // namespace nuv::detail

TNuvLifetime::TNuvLifetime() : FState(std::make_shared<nuv::detail::TNuvLifetimeState>()) {}

TNuvLifetime::~TNuvLifetime() {
    Revoke();
}

void TNuvLifetime::Revoke() noexcept {
    {
        std::lock_guard guard(FState->Lock);
        if (!FState->Revoked) {
            FState->Revoked = true;
            if (FState->Pins == 0)
                FState->Released.Set();
        }
    }
    // A queued call served during the wait may raise; the wait itself must go on to the end.
    for (;;) {
        try {
            TNuvMainThread::WaitForHandle(FState->Released, platform::Infinite);
            return;
        } catch (const std::exception& e) {
            NuvLogError(u"App", ExceptionMessage(e));
        } catch (...) {
            NuvLogError(u"App", u"An unknown error was raised while waiting for pinned calls");
        }
    }
}
