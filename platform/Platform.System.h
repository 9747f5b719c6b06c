#pragma once
// Operating-system basics the code expects from Windows, on POSIX.
//
// Thread-safety: every function here may be called from any thread.

#include "platform/Platform.Files.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform {

// 32-bit id of the calling thread, stable for its lifetime and never 0.
uint32_t CurrentThreadId();

// Milliseconds since an arbitrary start, monotonic; the 32-bit form wraps as a tick counter does.
uint64_t TickCount64();
uint32_t TickCount();

// Sleep(0) yields the processor; any other value sleeps at least that many milliseconds.
void Sleep(uint32_t milliseconds);

// Number of processors available to the process, at least 1.
unsigned ProcessorCount();

// Kernel name and release, for example "Linux 6.1.0-18-amd64"; empty when unknown.
std::string OperatingSystemVersion();

// Lower-case hexadecimal MD5 digest of the bytes.
std::string Md5Hex(const void* data, size_t size);

// Lower-case hexadecimal text of `size` bytes from the system's cryptographic random source, for
// secrets such as access tokens; raises std::runtime_error when the source gives none.
std::string RandomHex(size_t size);

// Folder for temporary files, ending without a separator.
std::string TemporaryFolder();

// Large anonymous memory blocks (sizes rounded up to whole pages): they grow by remapping,
// never by copying, and ask the kernel for huge pages, so filling one costs few page faults.
// Allocation failures raise std::bad_alloc.
void* AllocateLargeBlock(size_t size);
void* ResizeLargeBlock(void* block, size_t oldSize, size_t newSize);
void FreeLargeBlock(void* block, size_t size);

// Opens an address or a folder with the desktop's handler (xdg-open). When a handler is set, the
// target goes to it instead. Answers false when the opener could not be started or gave up at once
// (it is waited for a moment, no longer); true once it runs on, or the handler took the target.
bool ShellOpen(const std::string& target);

// Sets the handler ShellOpen hands its targets to (empty: the desktop's handler again) and answers
// the one it replaces. The host uses it to open targets its own way; tests record them instead of
// starting programs.
using ShellOpenHandler = std::function<void(const std::string& target)>;
ShellOpenHandler SetShellOpenHandler(ShellOpenHandler handler);

// What a program run to its end wrote and how it ended.
struct ProgramRun {
    // The exit status; -1 when it could not be started, was killed or ran out of time.
    int Status = -1;
    bool TimedOut = false;
    std::string Out, Err;
};
// Runs the program (a path; argv[0] is `program`) with the process's environment changed by
// `environment` ("NAME=VALUE" sets a variable, "NAME" removes it), its standard input empty, and
// collects what it writes until it ends. After `timeoutMs` it is killed.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      uint32_t timeoutMs, const std::vector<std::string>& environment = {});

#ifdef _WIN32
// A process cannot be forked here, so work that goes on after the program has returned runs in a
// new process of the same program instead: the continuation. StartContinuation starts it with
// the command line this process was started with, without a console, its standard streams on the
// null device, outside this process's job where the job allows it, and with the environment
// variable `marker` naming the write end of a pipe, the one handle it inherits. Answers the read
// end, which reads to its end once the continuation has closed its end or ended; InvalidFile,
// with the system's reason in `error`, when it cannot be started.
FileHandle StartContinuation(const std::string& marker, std::string& error);
// In the continuation: the pipe's write end that `marker` names, no longer inheritable; the
// variable is removed, so that programs this one starts are no continuations. InvalidFile in any
// other process.
FileHandle ContinuationChannel(const std::string& marker);
#endif

// Full path of the running program, or empty when it cannot be had.
std::string ExecutablePath();

// Loads a shared library (UTF-8 path), binding every symbol at once; the libraries it needs are
// looked for beside it first. Answers nullptr with the system's reason in `error` when it cannot.
void* LoadModule(const std::string& path, std::string& error);
// The address of an exported symbol, or nullptr.
void* ModuleSymbol(void* module, const char* name);
void UnloadModule(void* module);

} // namespace platform
