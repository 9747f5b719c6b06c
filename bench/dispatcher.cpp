// The task dispatcher and the main-thread round trip, each against the least a program could do
// for the same work with the same threads: a mutex and condition-variable queue served by as many
// threads as the dispatcher runs tasks at once, and a condition-variable ping-pong.
//
// Prints: BENCH <name> value=... baseline=... ratio=... target<=3

#include "nuv/Nuv.Threading.Pool.h"
#include "platform/Platform.Threads.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kTasks = 100000;
constexpr int kRoundTrips = 10000;
constexpr int kRepeats = 5;

double Seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The best of several runs: the figure least disturbed by whatever else the machine does.
double Best(const std::function<double()>& run) {
    double best = 1e100;
    for (int i = 0; i < kRepeats; ++i)
        best = std::min(best, run());
    return best;
}

void Report(const char* name, double value, double baseline, double scale, const char* unit) {
    std::printf("BENCH %s value=%.3f%s baseline=%.3f%s ratio=%.2f target<=3\n", name, value * scale, unit,
                baseline * scale, unit, value / baseline);
    std::fflush(stdout);
}

// ---- Many small tasks ----

// Keeps the work from being optimised away; relaxed, as the threads share nothing through it.
std::atomic<uint64_t> gSink{0};

// The work of one task: a few dozen nanoseconds, so the figure is the machinery's.
void SmallWork(int i) {
    uint64_t x = static_cast<uint64_t>(i);
    for (int k = 0; k < 16; ++k)
        x = x * 6364136223846793005ull + 1442695040888963407ull;
    gSink.store(x, std::memory_order_relaxed);
}

double DispatcherRun() {
    TNuvTaskDispatcher& dispatcher = TaskDispatcher();
    std::atomic<int> left{kTasks};
    platform::Event done;
    const auto start = Clock::now();
    for (int i = 0; i < kTasks; ++i)
        dispatcher.Run([&, i](const TNuvCancelQuery&) {
            SmallWork(i);
            if (--left == 0)
                done.Set();
        });
    TNuvMainThread::WaitForHandle(done, platform::Infinite);
    const double seconds = Seconds(start);
    // The last task may still be leaving the dispatcher; it must not outlive `done`.
    dispatcher.CancelAll(true);
    return seconds;
}

// The baseline: one queue, one lock, one condition variable, the same number of threads.
double BaselineQueueRun(unsigned threads) {
    std::mutex lock;
    std::condition_variable arrived;
    std::deque<std::function<void()>> queue;
    bool stop = false;
    std::atomic<int> left{kTasks};
    std::mutex doneLock;
    std::condition_variable doneSignal;
    bool done = false;

    std::vector<std::thread> workers;
    for (unsigned t = 0; t < threads; ++t)
        workers.emplace_back([&] {
            std::unique_lock guard(lock);
            for (;;) {
                arrived.wait(guard, [&] { return stop || !queue.empty(); });
                if (queue.empty())
                    return;
                auto work = std::move(queue.front());
                queue.pop_front();
                guard.unlock();
                work();
                guard.lock();
            }
        });

    const auto start = Clock::now();
    for (int i = 0; i < kTasks; ++i) {
        {
            std::lock_guard guard(lock);
            queue.emplace_back([&, i] {
                SmallWork(i);
                if (--left == 0) {
                    std::lock_guard g(doneLock);
                    done = true;
                    doneSignal.notify_one();
                }
            });
        }
        arrived.notify_one();
    }
    {
        std::unique_lock guard(doneLock);
        doneSignal.wait(guard, [&] { return done; });
    }
    const double seconds = Seconds(start);
    {
        std::lock_guard guard(lock);
        stop = true;
    }
    arrived.notify_all();
    for (auto& w : workers)
        w.join();
    return seconds;
}

// ---- Main-thread round trips ----

double MainThreadRoundTrips() {
    std::atomic<bool> finished{false};
    int calls = 0;
    const auto start = Clock::now();
    std::thread worker([&] {
        for (int i = 0; i < kRoundTrips; ++i)
            TNuvMainThread::Run([&] { ++calls; }, true);
        finished = true;
        platform::WakeMainThread();
    });
    platform::PumpMainThreadUntil([&] { return finished.load(); });
    const double seconds = Seconds(start);
    worker.join();
    if (calls != kRoundTrips)
        std::fprintf(stderr, "main-thread calls: %d of %d ran\n", calls, kRoundTrips);
    return seconds;
}

double BaselinePingPong() {
    std::mutex lock;
    std::condition_variable changed;
    int turn = 0; // even: the worker's move, odd: the main thread's
    const auto start = Clock::now();
    std::thread worker([&] {
        std::unique_lock guard(lock);
        for (int i = 0; i < kRoundTrips; ++i) {
            ++turn;
            changed.notify_one();
            changed.wait(guard, [&] { return turn % 2 == 0; });
        }
    });
    {
        std::unique_lock guard(lock);
        for (int i = 0; i < kRoundTrips; ++i) {
            changed.wait(guard, [&] { return turn % 2 == 1; });
            ++turn;
            changed.notify_one();
        }
    }
    worker.join();
    return Seconds(start);
}

} // namespace

int main() {
    platform::SetMainThread();
    TNuvTaskDispatcher& dispatcher = TaskDispatcher();
    // The load monitor would move the limit during the run; both sides get the same threads.
    dispatcher.SetUseCpuUsageMonitor(false);
    const auto threads = static_cast<unsigned>(dispatcher.MaxActiveTasks());

    // Warm up the pool's threads and the allocator before measuring.
    DispatcherRun();
    BaselineQueueRun(threads);

    const double dispatcherSeconds = Best(DispatcherRun);
    const double baselineSeconds = Best([&] { return BaselineQueueRun(threads); });
    Report("dispatcher_100k_tasks", dispatcherSeconds, baselineSeconds, 1e3, "ms");

    const double roundTrip = Best(MainThreadRoundTrips) / kRoundTrips;
    const double pingPong = Best(BaselinePingPong) / kRoundTrips;
    Report("main_thread_round_trip", roundTrip, pingPong, 1e6, "us");
    return 0;
}
