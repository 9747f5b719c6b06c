#pragma once
// What a command shares with the other `tunedex` processes of its profile and with the plug-in's
// log: the profile's lock, which lets one command at a time change the catalogues while commands
// that only read go on; the continuation of a command in a process of its own (`--no-wait`); and
// the reasons the plug-in logged for catalogues it could not refresh or values it could not list.
//
// Thread-safety: main thread only.

#include "host/Orvo.Host.Cli.h"
#include "sdk/api/OrvoAPI.Tunedex.h"

#include <csignal>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

// The profile folder the host uses with these settings, created when missing.
std::filesystem::path CliProfileFolder(const TOrvoHostSettings& settings);

// The profile's lock, held from construction to destruction by a command that changes catalogues.
// It is an advisory lock on a file of the profile folder, so it goes with the process that holds
// it, also when that process is killed.
class TOrvoCliProfileLock {
public:
    // Takes the lock. While another process holds it, says so on the error stream and waits for
    // it, or without `wait` raises Exception.
    TOrvoCliProfileLock(TOrvoCliContext& context, bool wait);
    ~TOrvoCliProfileLock();
    TOrvoCliProfileLock(const TOrvoCliProfileLock&) = delete;
    TOrvoCliProfileLock& operator=(const TOrvoCliProfileLock&) = delete;

private:
    intptr_t FFile = -1; // a platform::FileHandle
};

// Lets the command that started a background continuation end with this status and what the
// continuation wrote so far; later output goes nowhere. Calls after the first do nothing.
using TOrvoCliDetach = std::function<void(int status)>;
// The work of a command; `detach` is empty when it runs in the foreground.
using TOrvoCliWork = std::function<int(TOrvoCliContext& context, const TOrvoCliDetach& detach)>;

// Runs `work` in a process of its own that outlives this one, writing to streams that this
// process writes out once the work detaches or ends, and answers the status it detached or
// ended with. The work's errors are reported as the command line reports them. The background
// process starts with nothing but the calling thread, so this must be called before the command
// starts any thread; a process that runs others raises Exception. On Windows the background
// process is the program started anew with the same arguments, which runs the work when it
// comes here: what the command does before calling this, it does there again.
int RunInBackground(TOrvoCliContext& context, const TOrvoCliWork& work);

// Says that this process is the `tunedex` program run from its own command line, which alone can
// be started anew as a continuation on Windows; called by the program before it runs the command.
// Elsewhere (a test running commands in its own process) RunInBackground raises there.
void CliRunsAsTheProgram();

// Runs `work` of a command that changes catalogues while it holds the profile's lock: here,
// waiting for the lock, or with `noWait` in the background, failing when the lock is taken.
int RunChangingCatalogues(TOrvoCliContext& context, bool noWait, const TOrvoCliWork& work);

// The plug-in's error log while a command runs. The plug-in logs only where TUNEDEX_LOG points,
// so without one the host points it at a file of its own for the command; a log the user
// configured is read from where it stood when the command began. Made before the plug-in loads,
// which reads where to log once.
//
// Thread-safety: the reads may run on any thread; the constructor and destructor change the
// process's environment and belong to the command's thread.
class TOrvoCliPluginLog {
public:
    TOrvoCliPluginLog();
    ~TOrvoCliPluginLog();
    TOrvoCliPluginLog(const TOrvoCliPluginLog&) = delete;
    TOrvoCliPluginLog& operator=(const TOrvoCliPluginLog&) = delete;

    // Why the refresh of the catalogue titled `title` failed since the command began, as its
    // refresh outcome entry says: the last one, or empty.
    std::u16string ErrorOf(std::u16string_view title) const;
    // The warning of the catalogue titled `title`: where a document stopped short after some
    // stations were read; the last one, or empty.
    std::u16string WarningOf(std::u16string_view title) const;
    // Why the catalogue editor's look-up of `address` failed since the command began; empty when
    // it did not.
    std::u16string LookUpErrorOf(std::u16string_view address) const;

private:
    std::u16string Find(TTunedexRefreshOutcome outcome, std::u16string_view title) const;

    std::string FPath;
    uintmax_t FStart = 0;
    bool FOwned = false;
};

// Ctrl-C (Ctrl-Break too on Windows, and with `terminate` also SIGTERM) while a command waits: from
// construction to destruction the signal only raises a flag, which the command's wait polls, so that it can
// stop its work as a person would (a refresh through the task's cancel button).
class TOrvoCliInterrupt {
public:
    explicit TOrvoCliInterrupt(bool terminate = false);
    ~TOrvoCliInterrupt();
    TOrvoCliInterrupt(const TOrvoCliInterrupt&) = delete;
    TOrvoCliInterrupt& operator=(const TOrvoCliInterrupt&) = delete;

    bool Interrupted() const;

private:
    void (*FPrevious[3])(int) = {SIG_DFL, SIG_DFL, SIG_DFL};
    bool FTerminate;
};
