#include "platform/Platform.System.h"

#include "platform/Platform.Internal.h"

#include "platform/Platform.Paths.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string_view>
#include <thread>
#include <vector>

extern char** environ;

namespace platform {

uint32_t CurrentThreadId() {
    thread_local const uint32_t id = static_cast<uint32_t>(::syscall(SYS_gettid));
    return id;
}

uint64_t TickCount64() {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

uint32_t TickCount() {
    return static_cast<uint32_t>(TickCount64());
}

void Sleep(uint32_t milliseconds) {
    if (milliseconds == 0)
        std::this_thread::yield();
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

unsigned ProcessorCount() {
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : n;
}

std::string OperatingSystemVersion() {
    struct utsname name {};
    if (::uname(&name) != 0)
        return {};
    return std::string(name.sysname) + " " + name.release;
}

std::string Md5Hex(const void* data, size_t size) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (EVP_Digest(data, size, digest.data(), &length, EVP_md5(), nullptr) != 1)
        return {};
    return HexText(digest.data(), length);
}

std::string RandomHex(size_t size) {
    std::vector<unsigned char> bytes(size);
    if (size > 0 && RAND_bytes(bytes.data(), int(size)) != 1)
        throw std::runtime_error("the system's random source gave no bytes");
    return HexText(bytes.data(), size);
}

std::string TemporaryFolder() {
    const char* dir = std::getenv("TMPDIR");
    std::string folder = dir && *dir ? dir : "/tmp";
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

namespace {
size_t PageRound(size_t size) {
    static const size_t page = size_t(::sysconf(_SC_PAGESIZE));
    return (size + page - 1) / page * page;
}
} // namespace

void* AllocateLargeBlock(size_t size) {
    size = PageRound(size);
    void* block = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED)
        throw std::bad_alloc();
    ::madvise(block, size, MADV_HUGEPAGE); // a hint; kernels without huge pages ignore it
    return block;
}

void* ResizeLargeBlock(void* block, size_t oldSize, size_t newSize) {
    oldSize = PageRound(oldSize);
    newSize = PageRound(newSize);
    if (oldSize == newSize)
        return block;
    void* moved = ::mremap(block, oldSize, newSize, MREMAP_MAYMOVE);
    if (moved == MAP_FAILED)
        throw std::bad_alloc();
    if (newSize > oldSize)
        ::madvise(moved, newSize, MADV_HUGEPAGE);
    return moved;
}

void FreeLargeBlock(void* block, size_t size) {
    if (block)
        ::munmap(block, PageRound(size));
}

bool ShellOpen(const std::string& target) {
    if (HandToShellOpenHandler(target))
        return true;
    const char* argv[] = {"xdg-open", target.c_str(), nullptr};
    pid_t pid = 0;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const bool spawned =
        posix_spawnp(&pid, "xdg-open", &actions, nullptr, const_cast<char* const*>(argv), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    if (!spawned)
        return false;
    // An opener that finds no program for the target says so by ending at once with a failure; one
    // that has handed the target on ends with success or keeps running with the program it started.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        const pid_t ended = ::waitpid(pid, &status, WNOHANG);
        if (ended == pid)
            return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (ended < 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // Reap it on a detached thread so no zombie is left behind.
    std::thread([pid] { ::waitpid(pid, nullptr, 0); }).detach();
    return true;
}

bool FileExists(const std::string& name) {
    struct stat info {};
    return !name.empty() && name.find('\0') == std::string::npos && stat(name.c_str(), &info) == 0 &&
           !S_ISDIR(info.st_mode);
}

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      uint32_t timeoutMs, const std::vector<std::string>& environment) {
    ProgramRun run;
    int out[2] = {-1, -1}, err[2] = {-1, -1};
    if (::pipe2(out, O_CLOEXEC) != 0)
        return run;
    if (::pipe2(err, O_CLOEXEC) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        return run;
    }
    std::vector<char*> argv;
    std::vector<std::string> texts = {program};
    texts.insert(texts.end(), arguments.begin(), arguments.end());
    for (std::string& text : texts)
        argv.push_back(text.data());
    argv.push_back(nullptr);
    // The variables `environment` names are left out of the process's and set as it says.
    std::vector<std::string> variables;
    const auto named = [](std::string_view entry) { return entry.substr(0, entry.find('=')); };
    for (char** entry = environ; *entry; ++entry)
        if (std::none_of(environment.begin(), environment.end(),
                         [&](const std::string& change) { return named(change) == named(*entry); }))
            variables.emplace_back(*entry);
    for (const std::string& change : environment)
        if (change.find('=') != std::string::npos)
            variables.push_back(change);
    std::vector<char*> envp;
    for (std::string& variable : variables)
        envp.push_back(variable.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    pid_t pid = 0;
    const bool spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) == 0;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    if (spawned) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
        std::string* texts[2] = {&run.Out, &run.Err};
        int open = 2;
        while (open > 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                run.TimedOut = true;
                ::kill(pid, SIGKILL);
                break;
            }
            if (::poll(fds, 2, int(std::min<int64_t>(left.count(), 1000))) < 0 && errno != EINTR)
                break;
            for (int i = 0; i < 2; ++i) {
                if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                    continue;
                char buffer[8192];
                const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
                if (got > 0) {
                    texts[i]->append(buffer, size_t(got));
                } else if (got == 0 || errno != EINTR) {
                    fds[i].fd = -1;
                    --open;
                }
            }
        }
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        if (!run.TimedOut && WIFEXITED(status))
            run.Status = WEXITSTATUS(status);
    }
    ::close(out[0]);
    ::close(err[0]);
    return run;
}

std::string ExecutablePath() {
    std::string path(4096, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0 || size_t(length) >= path.size())
        return {};
    path.resize(size_t(length));
    return path;
}

} // namespace platform

namespace platform {

void* LoadModule(const std::string& path, std::string& error) {
    void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        const char* reason = ::dlerror();
        error = reason ? reason : "unknown error";
    }
    return module;
}

void* ModuleSymbol(void* module, const char* name) {
    return ::dlsym(module, name);
}

void UnloadModule(void* module) {
    ::dlclose(module);
}

} // namespace platform
