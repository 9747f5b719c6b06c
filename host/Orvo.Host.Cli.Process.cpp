#include "host/Orvo.Host.Cli.Process.h"

#include "platform/Platform.Files.h"
#include "platform/Platform.System.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

constexpr const char* kLockFile = "Tunedex.lock";
#ifdef _WIN32
// Tells the program that it is the continuation of a command, and where to say how it went.
constexpr const char* kContinuationMarker = "TUNEDEX_CONTINUATION";
#endif

// What the continuation says once it detaches: the status, the length of the output, the
// output, then the errors.
void Say(platform::FileHandle channel, int status, const std::string& out, const std::string& err) {
    const std::string message = std::to_string(status) + ' ' + std::to_string(out.size()) + ' ' + out + err;
    std::string ignored;
    platform::FileWrite(channel, message.data(), int64_t(message.size()), ignored);
}

std::string ReadAll(platform::FileHandle channel) {
    std::string data, ignored;
    char buffer[4096];
    // A pipe reads as failing once the writer is gone on some systems, as ending on others.
    for (int64_t n; (n = platform::FileRead(channel, buffer, sizeof buffer, ignored)) > 0;)
        data.append(buffer, size_t(n));
    return data;
}

// Runs the work as the continuation, which says how the command went on `channel` when it
// detaches or ends, and answers the work's status.
int RunContinuation(const TOrvoCliContext& context, const TOrvoCliWork& work, platform::FileHandle channel) {
    std::ostringstream out, err;
    TOrvoCliContext background{context.Settings, out, err};
    bool detached = false;
    const TOrvoCliDetach detach = [&](int status) {
        if (detached)
            return;
        detached = true;
        Say(channel, status, out.str(), err.str());
        platform::FileClose(channel);
        out.str({});
        err.str({});
    };
    const int status = RunReportingErrors(background, [&] { return work(background, detach); });
    detach(status);
    return status;
}

// Prints what the continuation said on `channel` and answers the status it gave.
int ReportContinuation(TOrvoCliContext& context, platform::FileHandle channel) {
    const std::string answer = ReadAll(channel);
    platform::FileClose(channel);
    std::istringstream in(answer);
    int status = TUNEDEX_EXIT_FAILURE;
    size_t length = 0;
    if (!(in >> status >> length) || in.get() != ' ') {
        context.Err << "tunedex: the background process ended without saying how it went\n";
        return TUNEDEX_EXIT_FAILURE;
    }
    const size_t at = size_t(in.tellg());
    context.Out << answer.substr(at, length) << std::flush;
    context.Err << answer.substr(std::min(answer.size(), at + length)) << std::flush;
    return status;
}

#ifndef _WIN32
bool RunsOtherThreads() {
    std::error_code error;
    size_t threads = 0;
    for (fs::directory_iterator it("/proc/self/task", error), end; !error && it != end; it.increment(error))
        ++threads;
    return threads > 1;
}
#endif

} // namespace

fs::path CliProfileFolder(const TOrvoHostSettings& settings) {
    const fs::path folder =
        settings.ProfileFolder.empty() ? TOrvoHost::DefaultProfileFolder() : settings.ProfileFolder;
    std::error_code error;
    fs::create_directories(folder, error);
    if (error || !fs::is_directory(folder))
        throw Exception(Format(u"Cannot create the profile folder \"%s\": %s", FromUtf8(folder.string()),
                               FromUtf8(error ? error.message() : "not a folder")));
    return folder;
}

// ---- the profile's lock

TOrvoCliProfileLock::TOrvoCliProfileLock(TOrvoCliContext& context, bool wait) {
    const fs::path folder = CliProfileFolder(context.Settings);
    const std::string path = (folder / kLockFile).string();
    std::string error;
    FFile = platform::FileOpen(path, platform::FileMode::ReadWrite, error);
    if (FFile == platform::InvalidFile)
        FFile = platform::FileOpen(path, platform::FileMode::Create, error);
    if (FFile == platform::InvalidFile)
        throw Exception(
            Format(u"Cannot open the profile's lock file \"%s\": %s", FromUtf8(path), FromUtf8(error)));
    platform::FileLockResult result = platform::FileLock(FFile, false, error);
    if (result == platform::FileLockResult::Busy && wait) {
        context.Err << "tunedex: another tunedex is changing the catalogues of "
                    << TerminalText(folder.string()) << "; waiting for it to finish...\n"
                    << std::flush;
        result = platform::FileLock(FFile, true, error);
    }
    if (result == platform::FileLockResult::Locked)
        return;
    platform::FileClose(FFile);
    FFile = platform::InvalidFile;
    if (result == platform::FileLockResult::Busy)
        throw Exception(Format(u"Another tunedex is changing the catalogues of %s; try again once it "
                               u"has finished, or leave out --no-wait to wait for it",
                               FromUtf8(folder.string())));
    throw Exception(
        Format(u"Cannot lock the profile \"%s\": %s", FromUtf8(folder.string()), FromUtf8(error)));
}

TOrvoCliProfileLock::~TOrvoCliProfileLock() {
    platform::FileClose(FFile);
}

// ---- the background continuation

namespace {
bool RunsAsTheProgram = false;
} // namespace

void CliRunsAsTheProgram() {
    RunsAsTheProgram = true;
}

#ifdef _WIN32
int RunInBackground(TOrvoCliContext& context, const TOrvoCliWork& work) {
    // Started anew, another program would run whatever it runs, not this command.
    if (!RunsAsTheProgram)
        throw Exception(u"--no-wait needs the tunedex program itself on Windows");
    // The continuation is this program again with the same arguments, so it comes here too.
    if (const platform::FileHandle channel = platform::ContinuationChannel(kContinuationMarker);
        channel != platform::InvalidFile)
        return RunContinuation(context, work, channel);
    std::string error;
    const platform::FileHandle channel = platform::StartContinuation(kContinuationMarker, error);
    if (channel == platform::InvalidFile)
        throw Exception(Format(u"Cannot start the background process: %s", FromUtf8(error)));
    return ReportContinuation(context, channel);
}
#else
int RunInBackground(TOrvoCliContext& context, const TOrvoCliWork& work) {
    // A child forked from a process with other threads would lack them, and any lock one of them
    // held would stay taken.
    if (RunsOtherThreads())
        throw Exception(u"Cannot go on in the background from a process that runs other threads");
    int channel[2];
    if (pipe(channel) != 0)
        throw Exception(u"Cannot start the background process (pipe)");
    // Programs the continuation starts must not hold the channel open while the command waits.
    fcntl(channel[1], F_SETFD, FD_CLOEXEC);
    std::cout.flush();
    std::cerr.flush();
    context.Out.flush();
    context.Err.flush();
    const pid_t child = fork();
    if (child < 0) {
        close(channel[0]);
        close(channel[1]);
        throw Exception(u"Cannot start the background process (fork)");
    }
    if (child == 0) {
        close(channel[0]);
        setsid();
        // Nobody reads the process's own streams once the command has returned; what it has to
        // say before then goes through the channel.
        if (const int null = open("/dev/null", O_RDWR); null >= 0) {
            dup2(null, STDIN_FILENO);
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
            if (null > STDERR_FILENO)
                close(null);
        }
        signal(SIGINT, SIG_IGN);
        // The command may be gone by the time the continuation detaches; the work goes on.
        signal(SIGPIPE, SIG_IGN);
        _exit(RunContinuation(context, work, channel[1]));
    }
    close(channel[1]);
    return ReportContinuation(context, channel[0]);
}
#endif

int RunChangingCatalogues(TOrvoCliContext& context, bool noWait, const TOrvoCliWork& work) {
    if (noWait)
        return RunInBackground(context, [&](TOrvoCliContext& background, const TOrvoCliDetach& detach) {
            TOrvoCliProfileLock lock(background, false);
            return work(background, detach);
        });
    TOrvoCliProfileLock lock(context, true);
    return work(context, {});
}

// ---- the plug-in's log

TOrvoCliPluginLog::TOrvoCliPluginLog() {
    if (const char* configured = std::getenv("TUNEDEX_LOG"); configured && *configured) {
        FPath = configured;
        std::error_code ignored;
        FStart = fs::file_size(FPath, ignored);
        if (ignored)
            FStart = 0;
    } else {
        FPath = platform::TemporaryFolder() + "/tunedex-" + std::to_string(platform::ProcessId()) + ".log";
        std::error_code ignored;
        fs::remove(FPath, ignored);
        platform::SetEnvironment("TUNEDEX_LOG", FPath);
        FOwned = true;
    }
}

TOrvoCliPluginLog::~TOrvoCliPluginLog() {
    if (!FOwned)
        return;
    platform::RemoveEnvironment("TUNEDEX_LOG");
    std::error_code ignored;
    fs::remove(FPath, ignored);
}

std::u16string TOrvoCliPluginLog::ErrorOf(std::u16string_view title) const {
    return Find(TTunedexRefreshOutcome::Failed, title);
}

std::u16string TOrvoCliPluginLog::WarningOf(std::u16string_view title) const {
    return Find(TTunedexRefreshOutcome::Warning, title);
}

std::u16string TOrvoCliPluginLog::LookUpErrorOf(std::u16string_view address) const {
    return Find(TTunedexRefreshOutcome::LookUpFailed, address);
}

std::u16string TOrvoCliPluginLog::Find(TTunedexRefreshOutcome outcome, std::u16string_view title) const {
    std::ifstream in(FPath, std::ios::binary);
    in.seekg(std::streamoff(FStart));
    std::u16string reason;
    TTunedexRefreshLogEntry entry;
    for (std::string line; std::getline(in, line);) {
        // Written in text mode on Windows, the lines end in CR LF.
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (ParseTunedexRefreshLogLine(FromUtf8(line), entry) && entry.Outcome == outcome &&
            entry.Title == title)
            reason = std::move(entry.Reason);
    }
    return reason;
}

namespace {

std::atomic<bool> InterruptRaised{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnInterrupt(int signal) {
    InterruptRaised.store(true);
    // Some systems reset the handler once it has run; a second Ctrl-C is still ours.
    std::signal(signal, OnInterrupt);
}

void Restore(int signal, void (*previous)(int)) {
    std::signal(signal, previous == SIG_ERR ? SIG_DFL : previous);
}

} // namespace

// Calls under way go on (the C library restarts them where the system can); the wait notices the
// flag within its next slice.
TOrvoCliInterrupt::TOrvoCliInterrupt(bool terminate) : FTerminate(terminate) {
    InterruptRaised.store(false);
    FPrevious[0] = std::signal(SIGINT, OnInterrupt);
    if (FTerminate)
        FPrevious[1] = std::signal(SIGTERM, OnInterrupt);
#ifdef SIGBREAK
    // Ctrl-Break, and the only console event that reaches a program started in a process group
    // of its own.
    FPrevious[2] = std::signal(SIGBREAK, OnInterrupt);
#endif
}

TOrvoCliInterrupt::~TOrvoCliInterrupt() {
    Restore(SIGINT, FPrevious[0]);
    if (FTerminate)
        Restore(SIGTERM, FPrevious[1]);
#ifdef SIGBREAK
    Restore(SIGBREAK, FPrevious[2]);
#endif
}

bool TOrvoCliInterrupt::Interrupted() const {
    return InterruptRaised.load();
}
