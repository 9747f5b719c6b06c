#pragma once
// Helpers every test suite shares.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

namespace testsupport {

// The public corpora folder; TUNEDEX_CORPUS overrides the build's default.
inline std::filesystem::path CorpusDir() {
    if (const char* env = std::getenv("TUNEDEX_CORPUS"); env && *env)
        return env;
    return TUNEDEX_CORPUS_DIR;
}

// Ends the process when a test outlives its time limit, so a deadlock fails at once and with a
// name instead of stalling the suite until the runner's own time-out.
class Watchdog {
public:
    explicit Watchdog(std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        FThread = std::thread([this, limit] {
            std::unique_lock lock(FLock);
            if (!FDone.wait_for(lock, limit, [this] { return FFinished; })) {
                std::fprintf(stderr, "watchdog: test did not finish within %lld ms (deadlock?)\n",
                             static_cast<long long>(limit.count()));
                std::abort();
            }
        });
    }
    ~Watchdog() {
        {
            std::lock_guard guard(FLock);
            FFinished = true;
        }
        FDone.notify_one();
        FThread.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    std::mutex FLock;
    std::condition_variable FDone;
    bool FFinished = false;
    std::thread FThread;
};

} // namespace testsupport

// Skips the test with a clear message when a corpus folder is absent, as on a user's machine.
#define TUNEDEX_REQUIRE_CORPUS(sub, var)                                                                     \
    const std::filesystem::path var = testsupport::CorpusDir() / (sub);                                      \
    if (!std::filesystem::exists(var))                                                                       \
    GTEST_SKIP() << "corpus folder " << var << " is absent"
