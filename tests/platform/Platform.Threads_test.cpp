#include "platform/Platform.Threads.h"

#include "platform/Platform.System.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#endif

#include <atomic>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

// The test body is the main thread and pumps.

namespace {

constexpr uint32_t kPatienceMs = 10000;

bool PumpUntil(const std::function<bool()>& done) {
    return platform::PumpMainThreadUntil(done, kPatienceMs);
}

} // namespace

TEST(ThreadPool, GrowsWhileEveryThreadIsBusyAndShrinksWhenIdle) {
    testsupport::Watchdog guard;
    platform::SetThreadPoolIdleTimeout(30);
    // Each item waits until all have started: only a pool that grew can run them all.
    constexpr int kItems = 12;
    std::atomic<int> started{0};
    platform::Event allStarted;
    std::atomic<int> finished{0};
    for (int i = 0; i < kItems; ++i)
        platform::QueueWorkItem([&] {
            if (++started == kItems)
                allStarted.Set();
            allStarted.Wait(platform::Infinite);
            ++finished;
        });
    EXPECT_EQ(allStarted.Wait(kPatienceMs), platform::WaitResult::Signalled);
    ASSERT_TRUE(PumpUntil([&] { return finished == kItems; }));
    EXPECT_TRUE(PumpUntil([] { return platform::ThreadPoolState().Threads == 0; }));
    platform::SetThreadPoolIdleTimeout(10000);
}

TEST(ThreadPool, AThreadLeftAtLowPriorityServesNoFurtherWork) {
    testsupport::Watchdog guard;
    std::atomic<bool> lowered{false};
    std::atomic<int> niceAfter{-100};
    std::atomic<bool> normal{false};
    platform::QueueWorkItem(
        [&] { lowered = platform::SetCurrentThreadPriority(platform::ThreadPriority::Low); });
    ASSERT_TRUE(PumpUntil([&] { return lowered.load(); }));
    // Whether or not the lowered thread could be restored, the next item runs at normal priority.
    platform::QueueWorkItem([&] {
        normal = platform::CurrentThreadPriority() == platform::ThreadPriority::Normal;
#ifdef _WIN32
        niceAfter = ::GetThreadPriority(::GetCurrentThread()); // THREAD_PRIORITY_NORMAL is 0
#else
        niceAfter = ::getpriority(PRIO_PROCESS, static_cast<id_t>(platform::CurrentThreadId()));
#endif
    });
    ASSERT_TRUE(PumpUntil([&] { return niceAfter != -100; }));
    EXPECT_EQ(niceAfter, 0);
    EXPECT_TRUE(normal);
}

// What a module unloading needs: the wait ends only once each item has returned to the pool, not
// when the item last signalled something.
TEST(ThreadPoolWorkGroup, WaitsUntilEveryItemHasReturned) {
    testsupport::Watchdog guard;
    struct Item {
        platform::Event Release;
        platform::Event Signalled;
        std::atomic<bool> Returned{false};
    };
    constexpr int kItems = 4;
    std::vector<std::unique_ptr<Item>> items;
    for (int i = 0; i < kItems; ++i)
        items.push_back(std::make_unique<Item>());
    {
        platform::WorkGroup group;
        EXPECT_TRUE(group.WaitIdle(0)) << "an empty group is idle";
        for (auto& item : items)
            group.Queue(
                [](void* context) {
                    auto* self = static_cast<Item*>(context);
                    self->Release.Wait(platform::Infinite);
                    self->Signalled.Set();
                    platform::Sleep(20);
                    self->Returned = true;
                },
                item.get());
        EXPECT_FALSE(group.WaitIdle(30));
        for (auto& item : items)
            item->Release.Set();
        for (auto& item : items)
            ASSERT_EQ(item->Signalled.Wait(kPatienceMs), platform::WaitResult::Signalled);
        ASSERT_TRUE(group.WaitIdle(kPatienceMs));
        for (auto& item : items)
            EXPECT_TRUE(item->Returned);
        // The group goes at once: the pool threads must not touch it on their way back.
    }
    // Items outside any group are not counted.
    platform::WorkGroup other;
    auto blocker = std::make_shared<platform::Event>();
    platform::QueueWorkItem([blocker] { blocker->Wait(platform::Infinite); });
    EXPECT_TRUE(other.WaitIdle(0));
    blocker->Set();
}

TEST(MainThreadQueue, SentCallsRunOnTheMainThreadAndPassBackTheirErrors) {
    testsupport::Watchdog guard;
    std::atomic<bool> onMain{false};
    std::string error;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        platform::SendToMainThread([&] { onMain = platform::IsMainThread(); });
        try {
            platform::SendToMainThread([] { throw std::runtime_error("refused"); });
        } catch (const std::runtime_error& e) {
            error = e.what();
        }
        done = true;
    });
    ASSERT_TRUE(PumpUntil([&] { return done.load(); }));
    worker.join();
    EXPECT_TRUE(onMain);
    EXPECT_EQ(error, "refused");
}

TEST(MainThreadQueue, PostedCallsOfAnOwnerCanBeDiscarded) {
    const int owner = 0;
    std::vector<int> ran;
    platform::PostToMainThread([&] { ran.push_back(1); }, &owner);
    platform::PostToMainThread([&] { ran.push_back(2); });
    platform::PostToMainThread([&] { ran.push_back(3); }, &owner);
    EXPECT_EQ(platform::DiscardMainThreadCalls(&owner), 2u);
    EXPECT_EQ(platform::RunPostedCalls(), 1u);
    EXPECT_EQ(ran, std::vector<int>{2});
}

TEST(MainThreadQueue, APumpWaitsForWorkAndCanBeWoken) {
    testsupport::Watchdog guard;
    EXPECT_FALSE(platform::PumpMainThread(0));
    const uint32_t start = platform::TickCount();
    EXPECT_FALSE(platform::PumpMainThreadUntil([] { return false; }, 40));
    EXPECT_GE(platform::TickCount() - start, 40u);

    bool refused = false;
    std::thread([&] {
        try {
            platform::PumpMainThread(0);
        } catch (const std::logic_error&) {
            refused = true;
        }
    }).join();
    EXPECT_TRUE(refused) << "a pump off the main thread would run main-thread calls there";

    std::thread poster([] {
        platform::Sleep(10);
        platform::PostToMainThread([] {});
    });
    EXPECT_TRUE(platform::PumpMainThread(kPatienceMs));
    poster.join();

    // A condition that changes without a call to run is noticed when the changer wakes the pump.
    std::atomic<bool> flag{false};
    std::thread waker([&] {
        platform::Sleep(10);
        flag = true;
        platform::WakeMainThread();
    });
    EXPECT_TRUE(platform::PumpMainThreadUntil([&] { return flag.load(); }, kPatienceMs));
    waker.join();
}

TEST(MainThreadTimer, TicksWhileThePumpRunsAndStopsFromItsOwnTick) {
    testsupport::Watchdog guard;
    int ticks = 0;
    platform::TimerId id = 0;
    id = platform::StartMainThreadTimer(5, [&] {
        if (++ticks == 3)
            platform::StopMainThreadTimer(id);
    });
    EXPECT_NE(id, 0u);
    ASSERT_TRUE(PumpUntil([&] { return ticks == 3; }));
    platform::PumpMainThreadUntil([] { return false; }, 30);
    EXPECT_EQ(ticks, 3);

    int other = 0;
    const platform::TimerId second = platform::StartMainThreadTimer(5, [&] { ++other; });
    platform::StopMainThreadTimer(second);
    platform::PumpMainThreadUntil([] { return false; }, 30);
    EXPECT_EQ(other, 0);
}

TEST(ProcessorTimes, UsageIsTheBusyShareBetweenTwoReadings) {
    using T = platform::ProcessorTimes;
    struct Case {
        T Before, After;
        uint32_t Percent;
    };
    const Case cases[] = {
        {{100, 10, 10, 0}, {200, 10, 10, 0}, 0}, // idle only
        {{0, 0, 0, 0}, {0, 60, 30, 10}, 100},    // busy only
        {{100, 0, 0, 0}, {175, 20, 5, 0}, 25},   // a quarter busy
        {{100, 50, 50, 0}, {100, 50, 50, 0}, 0}, // no time passed
        {{500, 0, 0, 0}, {400, 50, 50, 0}, 100}, // a counter stepping back counts as no time
        {{0, 0, 0, 0}, {1, 1, 0, 1}, 66},        // rounded down
    };
    for (const Case& c : cases)
        EXPECT_EQ(platform::ProcessorUsagePercent(c.Before, c.After), c.Percent);

    T now;
    ASSERT_TRUE(platform::SystemProcessorTimes(now));
    EXPECT_GT(now.Idle + now.User + now.Kernel + now.Nice, 0u);
}

TEST(ManualResetEvent, WaitsWithTimeOuts) {
    testsupport::Watchdog guard;
    platform::Event event;
    EXPECT_EQ(event.Wait(0), platform::WaitResult::TimedOut);
    EXPECT_EQ(event.Wait(15), platform::WaitResult::TimedOut);
    std::thread setter([&] {
        platform::Sleep(5);
        event.Set();
    });
    EXPECT_EQ(event.Wait(platform::Infinite), platform::WaitResult::Signalled);
    setter.join();
    EXPECT_EQ(event.Wait(0), platform::WaitResult::Signalled) << "a manual-reset event stays set";
    event.Reset();
    EXPECT_FALSE(event.IsSet());
    EXPECT_EQ(platform::WaitServingMainThread(event, 10), platform::WaitResult::TimedOut);
}

TEST(ValueWait, ASleeperWakesOnceTheValueChangesAndIsWoken) {
    testsupport::Watchdog watchdog;
    // Many rounds, so that a wake-up that comes between a sleeper's check and its sleep is met.
    std::atomic<int32_t> value{1};
    std::atomic<int> rounds{0};
    std::thread sleeper([&] {
        for (int round = 0; round < 2000; ++round) {
            while (value.load() == 1)
                platform::WaitWhileEquals(value, 1);
            value.store(1);
            ++rounds;
        }
    });
    for (int round = 0; round < 2000; ++round) {
        while (value.load() != 1 || rounds.load() != round)
            std::this_thread::yield();
        value.store(0);
        platform::WakeOneWaiting(value);
    }
    sleeper.join();
    EXPECT_EQ(rounds.load(), 2000);
}
