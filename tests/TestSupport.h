#pragma once
// Helpers every test suite shares.

#include <gtest/gtest.h>

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

} // namespace testsupport

// Skips the test with a clear message when a corpus folder is absent, as on a user's machine.
#define TUNEDEX_REQUIRE_CORPUS(sub, var)                                                                     \
    const std::filesystem::path var = testsupport::CorpusDir() / (sub);                                      \
    if (!std::filesystem::exists(var))                                                                       \
    GTEST_SKIP() << "corpus folder " << var << " is absent"
