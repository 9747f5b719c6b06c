#include "nuv/Nuv.Threading.Pool.h"

#include "nuv/Nuv.Exceptions.h"
#include "nuv/Nuv.Log.h"
#include "nuv/Nuv.Strings.h"
#include "platform/Platform.System.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

// The test body is the main thread: it pumps while it waits, as the host's loop does.

namespace {

constexpr uint32_t kPatienceMs = 10000;

// What happened to one task, kept beyond the task's life.
struct TTaskRecord {
    std::atomic<int> Executes{0};
    std::atomic<int> Completes{0};
    std::atomic<int> Destroyed{0};
    std::atomic<bool> CanceledAtComplete{false};
};

// A task that reports its life to a record and runs an optional body.
class TRecordingTask : public TNuvTask {
public:
    TRecordingTask(std::shared_ptr<TTaskRecord> record, std::function<void(TRecordingTask&)> body = {})
        : FRecord(std::move(record)), FBody(std::move(body)) {}
    ~TRecordingTask() override { ++FRecord->Destroyed; }
    void Execute() override {
        ++FRecord->Executes;
        if (FBody)
            FBody(*this);
    }
    void Complete() override {
        FRecord->CanceledAtComplete = IsCanceled();
        ++FRecord->Completes;
    }

private:
    std::shared_ptr<TTaskRecord> FRecord;
    std::function<void(TRecordingTask&)> FBody;
};

// A task body that holds its worker until the gate opens or the task is cancelled.
std::function<void(TRecordingTask&)> HoldUntil(platform::Event& gate, std::atomic<int>* started = nullptr) {
    return [&gate, started](TRecordingTask& task) {
        if (started)
            ++*started;
        while (!task.IsCanceled() && gate.Wait(5) != platform::WaitResult::Signalled) {
        }
    };
}

bool PumpUntil(const std::function<bool()>& done) {
    return platform::PumpMainThreadUntil(done, kPatienceMs);
}

// A dispatcher of the test's own, without the load monitor's real ticks. Tasks that hold their
// worker wait for Gate, which outlives the dispatcher.
struct TDispatcherFixture : ::testing::Test {
    TDispatcherFixture() { Dispatcher.SetUseCpuUsageMonitor(false); }
    ~TDispatcherFixture() override {
        Gate.Set();
        Dispatcher.CancelAll(true);
    }
    testsupport::Watchdog Guard;
    platform::Event Gate;
    TNuvTaskDispatcher Dispatcher;
};

using TaskDispatcherTest = TDispatcherFixture;

} // namespace

TEST_F(TaskDispatcherTest, RunsClosuresWithTheirCancellationQuery) {
    std::atomic<int> done{0};
    std::atomic<bool> sawCanceled{true};
    for (int i = 0; i < 20; ++i)
        EXPECT_NE(Dispatcher.Run([&](const TNuvCancelQuery& isCanceled) {
            if (!isCanceled())
                sawCanceled = false;
            ++done;
        }),
                  0u);
    ASSERT_TRUE(PumpUntil([&] { return done == 20 && Dispatcher.ToString() == u"Active: 0"; }));
    EXPECT_FALSE(sawCanceled);
}

TEST_F(TaskDispatcherTest, StartsPendingTasksInSubmissionOrderWithinTheLimit) {
    Dispatcher.SetMaxActiveTasks(1);
    auto blocker = std::make_shared<TTaskRecord>();
    Dispatcher.Run(std::make_unique<TRecordingTask>(blocker, HoldUntil(Gate)));
    std::mutex lock;
    std::vector<int> order;
    for (int i = 0; i < 6; ++i)
        Dispatcher.Run([&, i](const TNuvCancelQuery&) {
            std::lock_guard guard(lock);
            order.push_back(i);
        });
    EXPECT_EQ(Dispatcher.ToString(), u"Active: 1 (Pending: 6)");
    Gate.Set();
    ASSERT_TRUE(PumpUntil([&] { return Dispatcher.ToString() == u"Active: 0"; }));
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5}));
}

TEST_F(TaskDispatcherTest, RaisingTheLimitStartsEveryFreePlace) {
    Dispatcher.SetMaxActiveTasks(1);
    std::atomic<int> started{0};
    for (int i = 0; i < 4; ++i)
        Dispatcher.Run(
            std::make_unique<TRecordingTask>(std::make_shared<TTaskRecord>(), HoldUntil(Gate, &started)));
    EXPECT_EQ(Dispatcher.ToString(), u"Active: 1 (Pending: 3)");
    Dispatcher.SetMaxActiveTasks(4);
    EXPECT_EQ(Dispatcher.ToString(), u"Active: 4");
    ASSERT_TRUE(PumpUntil([&] { return started == 4; }));
    Dispatcher.SetMaxActiveTasks(0);
    EXPECT_EQ(Dispatcher.MaxActiveTasks(), 1);
    Gate.Set();
}

TEST_F(TaskDispatcherTest, CancellingAPendingTaskCompletesItWithoutExecuting) {
    Dispatcher.SetMaxActiveTasks(1);
    Dispatcher.Run(std::make_unique<TRecordingTask>(std::make_shared<TTaskRecord>(), HoldUntil(Gate)));
    auto pending = std::make_shared<TTaskRecord>();
    const TaskHandle handle = Dispatcher.Run(std::make_unique<TRecordingTask>(pending));

    EXPECT_TRUE(Dispatcher.Cancel(handle, false));
    EXPECT_EQ(pending->Executes, 0);
    EXPECT_EQ(pending->Completes, 1);
    EXPECT_TRUE(pending->CanceledAtComplete);
    EXPECT_EQ(pending->Destroyed, 1);
    EXPECT_EQ(Dispatcher.ToString(), u"Active: 1");
    Gate.Set();
}

TEST_F(TaskDispatcherTest, CancelOfAnEndedOrNullHandleIsTrueAtOnce) {
    std::atomic<bool> ran{false};
    const TaskHandle handle = Dispatcher.Run([&](const TNuvCancelQuery&) { ran = true; });
    ASSERT_TRUE(PumpUntil([&] { return ran && Dispatcher.ToString() == u"Active: 0"; }));
    EXPECT_TRUE(Dispatcher.Cancel(handle, true));
    EXPECT_TRUE(Dispatcher.Cancel(handle, false));
    EXPECT_TRUE(Dispatcher.Cancel(0, true));

    // A later task never takes over an ended task's handle, so a stale cancel cannot hit it.
    auto next = std::make_shared<TTaskRecord>();
    const TaskHandle nextHandle = Dispatcher.Run(std::make_unique<TRecordingTask>(next, HoldUntil(Gate)));
    EXPECT_NE(nextHandle, handle);
    EXPECT_TRUE(Dispatcher.Cancel(handle, true));
    Gate.Set();
    ASSERT_TRUE(PumpUntil([&] { return next->Destroyed == 1; }));
    EXPECT_FALSE(next->CanceledAtComplete);
}

TEST_F(TaskDispatcherTest, CancelWithWaitReturnsAfterTheTaskIsDestroyed) {
    auto record = std::make_shared<TTaskRecord>();
    std::atomic<int> started{0};
    const TaskHandle handle =
        Dispatcher.Run(std::make_unique<TRecordingTask>(record, HoldUntil(Gate, &started)));
    ASSERT_TRUE(PumpUntil([&] { return started == 1; }));
    EXPECT_TRUE(Dispatcher.Cancel(handle, true));
    EXPECT_EQ(record->Completes, 1);
    EXPECT_TRUE(record->CanceledAtComplete);
    EXPECT_EQ(record->Destroyed, 1);
    EXPECT_EQ(Dispatcher.ToString(), u"Active: 0");
}

TEST_F(TaskDispatcherTest, CancelWithWaitOnTheMainThreadServesTheTasksMainThreadCall) {
    std::atomic<bool> sending{false};
    std::atomic<bool> ranOnMain{false};
    auto record = std::make_shared<TTaskRecord>();
    const TaskHandle handle =
        Dispatcher.Run(std::make_unique<TRecordingTask>(record, [&](TRecordingTask& task) {
            sending = true;
            TNuvMainThread::Run([&] { ranOnMain = TNuvMainThread::IsMainThread(); }, true);
            while (!task.IsCanceled())
                platform::Sleep(1);
        }));
    // Cancel while the worker is blocked on the main thread, which only the wait itself can serve.
    while (!sending)
        platform::Sleep(0);
    EXPECT_TRUE(Dispatcher.Cancel(handle, true));
    EXPECT_TRUE(ranOnMain);
    EXPECT_EQ(record->Completes, 1);
    EXPECT_EQ(record->Destroyed, 1);
}

TEST_F(TaskDispatcherTest, ATaskThatRaisesIsCompletedAndLogged) {
    const auto log = std::filesystem::temp_directory_path() /
                     ("tunedex-pool-" + std::to_string(platform::CurrentThreadId()) + ".log");
    std::filesystem::remove(log);
    NuvLogSetFile(log.string());
    auto record = std::make_shared<TTaskRecord>();
    const TaskHandle handle = Dispatcher.Run(std::make_unique<TRecordingTask>(
        record, [](TRecordingTask&) { throw EInvalidOperation(u"disk on fire"); }));
    ASSERT_TRUE(PumpUntil([&] { return record->Destroyed == 1; }));
    NuvLogSetFile("");
    EXPECT_EQ(record->Completes, 1);
    EXPECT_FALSE(record->CanceledAtComplete);
    EXPECT_EQ(Dispatcher.ToString(), u"Active: 0");
    EXPECT_TRUE(Dispatcher.Cancel(handle, true));

    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    in.close(); // an open file cannot be removed on Windows
    std::filesystem::remove(log);
    EXPECT_NE(text.str().find("[ThreadPool]"), std::string::npos) << text.str();
    EXPECT_NE(text.str().find("disk on fire"), std::string::npos) << text.str();
}

TEST_F(TaskDispatcherTest, CancelAllWithWaitLeavesNothingActiveOrPending) {
    Dispatcher.SetMaxActiveTasks(2);
    std::atomic<int> started{0};
    std::vector<std::shared_ptr<TTaskRecord>> records;
    for (int i = 0; i < 5; ++i) {
        records.push_back(std::make_shared<TTaskRecord>());
        Dispatcher.Run(std::make_unique<TRecordingTask>(records.back(), HoldUntil(Gate, &started)));
    }
    ASSERT_TRUE(PumpUntil([&] { return started == 2; }));
    Dispatcher.CancelAll(true);
    EXPECT_EQ(Dispatcher.ToString(), u"Active: 0");
    for (size_t i = 0; i < records.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(records[i]->Executes, i < 2 ? 1 : 0);
        EXPECT_EQ(records[i]->Completes, 1);
        EXPECT_TRUE(records[i]->CanceledAtComplete);
        EXPECT_EQ(records[i]->Destroyed, 1);
    }
}

TEST_F(TaskDispatcherTest, ATaskCannotWaitForItself) {
    std::atomic<int> result{-1};
    std::atomic<bool> done{false};
    Dispatcher.Run([&](const TNuvCancelQuery&) {
        TNuvTask* self = Dispatcher.ActiveTaskOfCurrentThread();
        result = self ? Dispatcher.Cancel(self->Handle(), true) : 2;
        Dispatcher.CancelAll(true); // must not wait for itself either
        done = true;
    });
    ASSERT_TRUE(PumpUntil([&] { return done.load(); }));
    EXPECT_EQ(result, 0);
}

TEST_F(TaskDispatcherTest, WorkRunInTheCurrentThreadInheritsTheTasksCancellation) {
    std::atomic<bool> childSawCanceled{false};
    std::atomic<bool> parentFound{false};
    std::atomic<bool> done{false};
    const TaskHandle handle = Dispatcher.Run([&](const TNuvCancelQuery&) {
        Gate.Wait(platform::Infinite);
        parentFound = Dispatcher.ActiveTaskOfCurrentThread() != nullptr;
        auto record = std::make_shared<TTaskRecord>();
        Dispatcher.RunInCurrentThread(std::make_unique<TRecordingTask>(
            record, [&](TRecordingTask& child) { childSawCanceled = child.IsCanceled(); }));
        done = true;
    });
    EXPECT_EQ(Dispatcher.ActiveTaskOfCurrentThread(), nullptr);
    EXPECT_TRUE(Dispatcher.Cancel(handle, false));
    Gate.Set();
    ASSERT_TRUE(PumpUntil([&] { return done.load(); }));
    EXPECT_TRUE(parentFound);
    EXPECT_TRUE(childSawCanceled);
}

TEST_F(TaskDispatcherTest, RunInCurrentThreadCompletesDestroysAndPassesOnTheError) {
    auto record = std::make_shared<TTaskRecord>();
    EXPECT_THROW(Dispatcher.RunInCurrentThread(std::make_unique<TRecordingTask>(
                     record, [](TRecordingTask&) { throw EArgumentError(u"bad"); })),
                 EArgumentError);
    EXPECT_EQ(record->Executes, 1);
    EXPECT_EQ(record->Completes, 1);
    EXPECT_FALSE(record->CanceledAtComplete);
    EXPECT_EQ(record->Destroyed, 1);
}

TEST_F(TaskDispatcherTest, CompletionHandlerRunsAsItsModeSays) {
    struct THandlerTask : TNuvTask {
        void Execute() override {}
    };
    std::atomic<int> onMain{0};
    std::atomic<int> onWorker{0};
    const auto handler = [&] { ++(TNuvMainThread::IsMainThread() ? onMain : onWorker); };
    for (TNuvTask::TCompletionMode mode :
         {TNuvTask::cmWorkerThread, TNuvTask::cmMainThreadWait, TNuvTask::cmMainThreadQueue}) {
        auto task = std::make_unique<THandlerTask>();
        task->SetCompletionHandler(handler, mode);
        Dispatcher.Run(std::move(task));
    }
    ASSERT_TRUE(PumpUntil([&] { return onMain + onWorker == 3; }));
    EXPECT_EQ(onWorker, 1);
    EXPECT_EQ(onMain, 2);
}

TEST_F(TaskDispatcherTest, TheMonitorMustBeSwitchedOnTheMainThread) {
    std::string fromWorker;
    std::string created;
    std::thread([&] {
        try {
            Dispatcher.SetUseCpuUsageMonitor(true);
        } catch (const EInvalidOperation& e) {
            fromWorker = e.what();
        }
        try {
            TNuvTaskDispatcher other;
        } catch (const EInvalidOperation& e) {
            created = e.what();
        }
    }).join();
    EXPECT_EQ(fromWorker, "SetUseCpuUsageMonitor must be called from MainThread");
    EXPECT_EQ(created, "SetUseCpuUsageMonitor must be called from MainThread");
}

TEST(TaskDispatcherGlobal, IsCreatedOnFirstUseWithFourTasksPerProcessor) {
    testsupport::Watchdog guard;
    TNuvTaskDispatcher& dispatcher = TaskDispatcher();
    EXPECT_EQ(&dispatcher, &TaskDispatcher());
    EXPECT_EQ(dispatcher.MaxActiveTasks(), static_cast<int32_t>(4 * platform::ProcessorCount()));
    std::atomic<bool> ran{false};
    dispatcher.Run([&](const TNuvCancelQuery&) { ran = true; });
    ASSERT_TRUE(PumpUntil([&] { return ran.load(); }));
    dispatcher.CancelAll(true);
    EXPECT_EQ(dispatcher.ToString(), u"Active: 0");
}

// ---- The load monitor, fed with made-up processor samples ----

namespace {

struct TaskDispatcherMonitor : TDispatcherFixture {
    TaskDispatcherMonitor() {
        Dispatcher.SetProcessorUsageSource([this] { return Usage; });
    }
    // Holds `count` tasks running and leaves `pending` more waiting.
    void Load(int running, int pending) {
        Dispatcher.SetMaxActiveTasks(running);
        for (int i = 0; i < running + pending; ++i)
            Dispatcher.Run(
                std::make_unique<TRecordingTask>(std::make_shared<TTaskRecord>(), HoldUntil(Gate)));
    }
    void Ticks(uint32_t usage, int n) {
        Usage = usage;
        for (int i = 0; i < n; ++i)
            Dispatcher.MonitorTick();
    }
    uint32_t Usage = 0;
};

} // namespace

TEST_F(TaskDispatcherMonitor, MovesTheLimitByOneEveryTenSamplesWhileTasksWait) {
    Load(2, 3);
    struct Step {
        uint32_t Usage;
        int32_t Limit;
        const char16_t* State;
    };
    // The target follows the active count: busy processors take one away, idle ones add one.
    const Step steps[] = {
        {50, 3, u"Active: 3 (Pending: 2)"}, // 50 % <= 80 %: one more
        {80, 4, u"Active: 4 (Pending: 1)"}, // the bound itself still counts as idle
        {95, 3, u"Active: 4 (Pending: 1)"}, // busy: one less, running tasks are not stopped
        {90, 4, u"Active: 4 (Pending: 1)"}, // between: the active count
        {100, 3, u"Active: 4 (Pending: 1)"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.Usage);
        const int32_t before = Dispatcher.MaxActiveTasks();
        Ticks(step.Usage, 9);
        EXPECT_EQ(Dispatcher.MaxActiveTasks(), before) << "changed before ten samples";
        Ticks(step.Usage, 1);
        EXPECT_EQ(Dispatcher.MaxActiveTasks(), step.Limit);
        EXPECT_EQ(Dispatcher.ToString(), step.State);
    }
}

TEST_F(TaskDispatcherMonitor, AveragesTheLastTenSamples) {
    Load(2, 2);
    Ticks(100, 5);
    Ticks(60, 5); // average 80: idle enough
    EXPECT_EQ(Dispatcher.MaxActiveTasks(), 3);
    Ticks(99, 9);
    Ticks(50, 1); // average (9 * 99 + 50) / 10 = 94: unchanged from the active count
    EXPECT_EQ(Dispatcher.MaxActiveTasks(), 3);
}

TEST_F(TaskDispatcherMonitor, ReturnsToTheFloorWhenNothingWaits) {
    Load(2, 2);
    Ticks(10, 10);
    ASSERT_EQ(Dispatcher.MaxActiveTasks(), 3);
    Ticks(10, 10);
    ASSERT_EQ(Dispatcher.MaxActiveTasks(), 4);
    ASSERT_EQ(Dispatcher.ToString(), u"Active: 4");
    Ticks(10, 10);
    EXPECT_EQ(Dispatcher.MaxActiveTasks(), 2);
    EXPECT_EQ(Dispatcher.MinActiveTasks(), 2);
}

TEST_F(TaskDispatcherMonitor, StaysBetweenTheFloorAndEightTasksPerProcessor) {
    Load(1, 1);
    Ticks(100, 10);
    EXPECT_EQ(Dispatcher.MaxActiveTasks(), 1) << "went below the floor";

    const auto ceiling = static_cast<int32_t>(8 * platform::ProcessorCount());
    if (ceiling > 128)
        GTEST_SKIP() << "too many processors to fill the ceiling with waiting tasks";
    Gate.Set();
    Dispatcher.CancelAll(true);
    Gate.Reset();
    Load(ceiling - 1, 3);
    Ticks(0, 10);
    ASSERT_EQ(Dispatcher.MaxActiveTasks(), ceiling);
    Ticks(0, 10);
    EXPECT_EQ(Dispatcher.MaxActiveTasks(), ceiling);
    EXPECT_EQ(Dispatcher.ToString(), u"Active: " + IntToStr(ceiling) + u" (Pending: 2)");
}
