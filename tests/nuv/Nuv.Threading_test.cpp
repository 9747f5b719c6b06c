#include "nuv/Nuv.Threading.h"

#include "nuv/Nuv.Exceptions.h"
#include "nuv/Nuv.Log.h"
#include "platform/Platform.System.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

TEST(CriticalSection, IsRecursiveAndExcludesOtherThreads) {
    TNuvCriticalSection section(u"TestLock");
    int64_t counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                std::lock_guard outer(section);
                std::lock_guard inner(section); // re-entry by the owner must not deadlock
                ++counter;
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(counter, 80000);
    EXPECT_EQ(section.Owner(), 0u);
}

TEST(CriticalSection, ThreadsThatWentToSleepAreWokenByEveryRelease) {
    // Each holder keeps the section long enough for the others to stop spinning and sleep, so
    // every hand-over goes through a wake; one that went missing would leave a thread asleep.
    TNuvCriticalSection section;
    int64_t counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                std::lock_guard hold(section);
                for (int spin = 0; spin < 64; ++spin)
                    std::this_thread::yield();
                ++counter;
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(counter, 8000);
}

TEST(CriticalSection, MisuseIsReported) {
    TNuvCriticalSection section;
    try {
        section.Leave();
        FAIL() << "leaving a free section succeeded";
    } catch (const EInvalidOperation& e) {
        EXPECT_STREQ(e.what(), "Section is not owned (0)");
    }
    section.Enter();
    std::string fromOther;
    std::thread([&] {
        try {
            section.Leave();
        } catch (const EInvalidOperation& e) {
            fromOther = e.what();
        }
        EXPECT_FALSE(section.TryEnter());
    }).join();
    EXPECT_EQ(fromOther, "Section is not owned (" + std::to_string(section.Owner()) + ")");
    section.Leave();
    EXPECT_TRUE(section.TryEnter());
    section.Leave();
}

TEST(CriticalSection, DestroyingAHeldSectionIsLogged) {
    const auto log = std::filesystem::temp_directory_path() /
                     ("tunedex-lock-" + std::to_string(platform::CurrentThreadId()) + ".log");
    std::filesystem::remove(log);
    NuvLogSetFile(log.string());
    {
        TNuvCriticalSection section;
        section.Enter();
    }
    NuvLogSetFile("");
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    in.close(); // an open file cannot be removed on Windows
    std::filesystem::remove(log);
    EXPECT_NE(text.str().find("Attempt to destroy locked section (" +
                              std::to_string(platform::CurrentThreadId()) + ")"),
              std::string::npos)
        << text.str();
}

// ---- TNuvMainThread: the test body is the main thread and pumps ----

namespace {

constexpr uint32_t kPatienceMs = 10000;

bool PumpUntil(const std::function<bool()>& done) {
    return platform::PumpMainThreadUntil(done, kPatienceMs);
}

// Calls record their names here; only the main thread appends, but workers read it after joins.
struct TCallLog {
    std::mutex Lock;
    std::vector<std::string> Calls;
    void Add(std::string name) {
        std::lock_guard guard(Lock);
        Calls.push_back(std::move(name));
    }
    std::vector<std::string> Get() {
        std::lock_guard guard(Lock);
        return Calls;
    }
};

} // namespace

TEST(MainThread, TheTestBodyIsTheMainThread) {
    EXPECT_TRUE(TNuvMainThread::IsMainThread());
    EXPECT_NO_THROW(TNuvMainThread::Initialize());
    bool onWorker = true;
    std::string error;
    std::thread([&] {
        onWorker = TNuvMainThread::IsMainThread();
        try {
            TNuvMainThread::Initialize();
        } catch (const EInvalidOperation& e) {
            error = e.what();
        }
    }).join();
    EXPECT_FALSE(onWorker);
    EXPECT_EQ(error, "Cannot create window in non-main thread");
}

TEST(MainThread, QueuedCallsRunAfterTheCurrentCallInOrder) {
    testsupport::Watchdog guard;
    TCallLog log;
    // Queued from the main thread itself: nothing runs before the pump.
    TNuvMainThread::Run(
        [&] {
            log.Add("first");
            TNuvMainThread::Run([&] { log.Add("queued by first"); }, false);
            TNuvMainThread::Run([&] { log.Add("queued by first, second"); }, false);
            log.Add("first ends");
        },
        false);
    TNuvMainThread::Run([&] { log.Add("second"); }, false);
    EXPECT_TRUE(log.Get().empty());

    // Queued from a worker, after the main thread's own.
    std::thread([&] { TNuvMainThread::Run([&] { log.Add("from worker"); }, false); }).join();
    ASSERT_TRUE(PumpUntil([&] { return log.Get().size() == 6; }));
    EXPECT_EQ(log.Get(), (std::vector<std::string>{"first", "first ends", "second", "from worker",
                                                   "queued by first", "queued by first, second"}));
}

TEST(MainThread, RunWithWaitBlocksTheWorkerUntilTheMainThreadRanIt) {
    testsupport::Watchdog guard;
    struct TCounter {
        std::atomic<int> Calls{0};
        std::atomic<bool> OnMain{true};
        void Count() {
            if (!TNuvMainThread::IsMainThread())
                OnMain = false;
            ++Calls;
        }
    } counter;

    // On the main thread, with wait, the call runs at once.
    TNuvMainThread::Run(&counter, &TCounter::Count, true);
    EXPECT_EQ(counter.Calls, 1);

    std::atomic<bool> workerDone{false};
    std::atomic<int> seenAfterReturn{0};
    std::thread worker([&] {
        for (int i = 0; i < 50; ++i) {
            TNuvMainThread::Run([&] { counter.Count(); }, true);
            seenAfterReturn = counter.Calls.load(); // the call has run by the time Run returns
            if (seenAfterReturn != i + 2)
                break;
        }
        TNuvMainThread::Run(&counter, &TCounter::Count, true);
        workerDone = true;
    });
    ASSERT_TRUE(PumpUntil([&] { return workerDone.load(); }));
    worker.join();
    EXPECT_EQ(seenAfterReturn, 51);
    EXPECT_EQ(counter.Calls, 52);
    EXPECT_TRUE(counter.OnMain);
}

TEST(MainThread, ErrorsInCallsAreLoggedAndTheQueueGoesOn) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("tunedex-main-" + std::to_string(platform::CurrentThreadId()) + ".log");
    std::filesystem::remove(path);
    NuvLogSetFile(path.string());
    bool after = false;
    TNuvMainThread::Run([] { throw EInvalidOperation(u"main thread call failed"); }, false);
    TNuvMainThread::Run([&] { after = true; }, false);
    EXPECT_NO_THROW(PumpUntil([&] { return after; }));
    std::atomic<bool> sentReturned{false};
    std::thread worker([&] {
        TNuvMainThread::Run([] { throw EArgumentError(u"sent call failed"); }, true);
        sentReturned = true;
    });
    EXPECT_TRUE(PumpUntil([&] { return sentReturned.load(); }));
    worker.join();
    NuvLogSetFile("");
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    in.close(); // an open file cannot be removed on Windows
    std::filesystem::remove(path);
    EXPECT_TRUE(after);
    EXPECT_NE(text.str().find("[App] TNuvMainThread: main thread call failed"), std::string::npos)
        << text.str();
    EXPECT_NE(text.str().find("[App] TNuvMainThread: sent call failed"), std::string::npos) << text.str();
}

TEST(MainThread, FinalizeDropsQueuedCallsUnrun) {
    bool ran = false;
    TNuvMainThread::Run([&] { ran = true; }, false);
    TNuvMainThread::Finalize();
    platform::PumpMainThread(0);
    EXPECT_FALSE(ran);
}

TEST(MainThread, WaitForHandleResults) {
    testsupport::Watchdog guard;
    platform::Event event;
    const uint32_t start = platform::TickCount();
    EXPECT_EQ(TNuvMainThread::WaitForHandle(event, 30), wrTimeout);
    EXPECT_GE(platform::TickCount() - start, 30u);
    EXPECT_EQ(TNuvMainThread::WaitForHandle(event, 0), wrTimeout);

    TNuvWaitResult offMain = wrError;
    std::thread([&] { offMain = TNuvMainThread::WaitForHandle(event, 20); }).join();
    EXPECT_EQ(offMain, wrTimeout);

    event.Set();
    EXPECT_EQ(TNuvMainThread::WaitForHandle(event, 0), wrSignaled);
    std::thread([&] { offMain = TNuvMainThread::WaitForHandle(event, platform::Infinite); }).join();
    EXPECT_EQ(offMain, wrSignaled);
}

TEST(MainThread, WaitingOnTheMainThreadServesCallsSentAndQueuedMeanwhile) {
    testsupport::Watchdog guard;
    platform::Event finished;
    TCallLog log;
    std::thread worker([&] {
        TNuvMainThread::Run([&] { log.Add("queued"); }, false);
        TNuvMainThread::Run([&] { log.Add("sent"); }, true);
        finished.Set();
    });
    // Without serving, the worker would wait for the main thread forever and never set the event.
    EXPECT_EQ(TNuvMainThread::WaitForHandle(finished, platform::Infinite), wrSignaled);
    worker.join();
    // Sent calls go before queued ones, as they do in a pump; both have run.
    auto calls = log.Get();
    std::sort(calls.begin(), calls.end());
    EXPECT_EQ(calls, (std::vector<std::string>{"queued", "sent"}));
}
