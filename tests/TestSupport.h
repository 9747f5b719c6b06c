#pragma once
// Helpers every test suite shares.

#include "platform/Platform.Files.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

namespace testsupport {

// Expectations that differ by system: path forms, chiefly.
#ifdef _WIN32
inline constexpr bool kWindows = true;
#else
inline constexpr bool kWindows = false;
#endif

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

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
class TScopedFolder {
public:
    TScopedFolder() {
        static std::atomic<unsigned> counter{0};
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        FPath = std::filesystem::temp_directory_path() /
                ("tunedex-test-" + std::to_string(platform::ProcessId()) + "-" + std::to_string(stamp) + "-" +
                 std::to_string(counter++));
        std::filesystem::create_directories(FPath);
    }
    ~TScopedFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(FPath, ignored);
    }
    TScopedFolder(const TScopedFolder&) = delete;
    TScopedFolder& operator=(const TScopedFolder&) = delete;

    const std::filesystem::path& Path() const { return FPath; }
    // A file name inside the folder, as UTF-16.
    std::u16string File(const std::string& name) const {
        const std::string path = (FPath / name).string();
        return std::u16string(path.begin(), path.end());
    }

private:
    std::filesystem::path FPath;
};

// Sets an environment variable for one scope (null unsets it) and restores it afterwards.
class TScopedEnvironment {
public:
    TScopedEnvironment(const char* name, const char* value) : FName(name) {
        if (const char* old = std::getenv(name)) {
            FOld = old;
            FHadOld = true;
        }
        if (value)
            platform::SetEnvironment(name, value);
        else
            platform::RemoveEnvironment(name);
    }
    TScopedEnvironment(const char* name, const std::string& value)
        : TScopedEnvironment(name, value.c_str()) {}
    ~TScopedEnvironment() {
        if (FHadOld)
            platform::SetEnvironment(FName, FOld);
        else
            platform::RemoveEnvironment(FName);
    }
    TScopedEnvironment(const TScopedEnvironment&) = delete;
    TScopedEnvironment& operator=(const TScopedEnvironment&) = delete;

private:
    const char* FName;
    std::string FOld;
    bool FHadOld = false;
};

} // namespace testsupport

// Skips the test with a clear message when a corpus folder is absent, as on a user's machine.
#define TUNEDEX_REQUIRE_CORPUS(sub, var)                                                                     \
    const std::filesystem::path var = testsupport::CorpusDir() / (sub);                                      \
    if (!std::filesystem::exists(var))                                                                       \
    GTEST_SKIP() << "corpus folder " << var << " is absent"
