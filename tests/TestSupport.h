#pragma once
// Helpers every test suite shares.

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace testsupport {

// The public corpora folder; TUNEDEX_CORPUS overrides the build's default.
inline std::filesystem::path CorpusDir() {
    if (const char* env = std::getenv("TUNEDEX_CORPUS"); env && *env)
        return env;
    return TUNEDEX_CORPUS_DIR;
}

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
class TScopedFolder {
public:
    TScopedFolder() {
        static std::atomic<unsigned> counter{0};
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        FPath = std::filesystem::temp_directory_path() /
                ("tunedex-test-" + std::to_string(::getpid()) + "-" + std::to_string(stamp) + "-" +
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

} // namespace testsupport

// Skips the test with a clear message when a corpus folder is absent, as on a user's machine.
#define TUNEDEX_REQUIRE_CORPUS(sub, var)                                                                     \
    const std::filesystem::path var = testsupport::CorpusDir() / (sub);                                      \
    if (!std::filesystem::exists(var))                                                                       \
    GTEST_SKIP() << "corpus folder " << var << " is absent"
