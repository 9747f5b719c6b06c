#include "nuv/Nuv.Log.h"

#include "nuv/Nuv.Strings.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

namespace {

struct LogState {
    std::mutex lock;
    bool configured = false;
    bool named = false; // by NuvLogSetFile, which the environment does not override
    std::string path;
};

// Destroyed with the module: a plug-in that unloads must not leave its log state behind, and
// its finalisation has waited for every worker that could log by then.
LogState& State() {
    static LogState state;
    return state;
}

// Caller holds the lock.
const std::string& PathLocked(LogState& s) {
    if (!s.configured) {
        const char* env = std::getenv("TUNEDEX_LOG");
        s.path = env ? env : "";
        s.configured = true;
    }
    return s.path;
}

} // namespace

void NuvLogError(std::u16string_view tag, std::u16string_view message) {
    LogState& s = State();
    std::lock_guard guard(s.lock);
    const std::string& path = PathLocked(s);
    if (path.empty())
        return;
    FILE* f = std::fopen(path.c_str(), "a");
    if (!f)
        return;
    char stamp[32];
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm);
    std::fprintf(f, "%s [%s] %s\n", stamp, ToUtf8(tag).c_str(), ToUtf8(message).c_str());
    std::fclose(f);
}

void NuvLogSetFile(const std::string& path) {
    LogState& s = State();
    std::lock_guard guard(s.lock);
    s.path = path;
    s.configured = true;
    s.named = true;
}

void NuvLogReadEnvironment() {
    LogState& s = State();
    std::lock_guard guard(s.lock);
    if (!s.named)
        s.configured = false;
}

std::string NuvLogFile() {
    LogState& s = State();
    std::lock_guard guard(s.lock);
    return PathLocked(s);
}
