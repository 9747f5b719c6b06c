#include "nuv/Nuv.WeakRef.h"

#include "nuv/Nuv.Threading.h"
#include "platform/Platform.Threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

struct TBase {
    int Value = 1;
};
struct TDerived : TBase {
    TNuvLifetime Lifetime;
};

} // namespace

TEST(WeakRef, RevokeWaitsForThePinsAndLaterLocksAreEmpty) {
    TDerived object;
    const TNuvWeakRef<TBase> ref = object.Lifetime.Ref(&object);
    EXPECT_FALSE(TNuvWeakRef<TBase>().Lock());
    auto pin = ref.Lock();
    ASSERT_TRUE(pin);
    EXPECT_EQ(pin->Value, 1);

    std::atomic<bool> revoked{false};
    std::thread revoker([&] {
        object.Lifetime.Revoke();
        revoked = true;
    });
    // Once revocation has begun no new pin is given, but the one held keeps the object.
    while (ref.Lock())
        std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(revoked.load());
    EXPECT_EQ(pin->Value, 1);
    pin = {};
    revoker.join();
    EXPECT_TRUE(revoked.load());
    EXPECT_FALSE(ref.Lock());
}

TEST(WeakRef, RevokingOnTheMainThreadServesAPinnedCallThatWaitsForIt) {
    platform::SetMainThread();
    int object = 0;
    TNuvLifetime lifetime;
    const TNuvWeakRef<int> ref = lifetime.Ref(&object);
    platform::Event pinned;
    std::thread worker([&] {
        const auto pin = ref.Lock();
        pinned.Set();
        TNuvMainThread::Run([&] { *pin = 2; }, true);
    });
    pinned.Wait(platform::Infinite);
    lifetime.Revoke();
    worker.join();
    EXPECT_EQ(object, 2);
}
