#include "tests/TestProcess.h"

#ifdef _WIN32
#include "platform/Platform.Win32.h"
#else
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;
#endif

#include <stdexcept>

namespace testsupport {

#ifdef _WIN32

namespace {

HANDLE Inherited(const wchar_t* name, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    // The test reads the files while the program writes them, and removes them afterwards.
    return ::CreateFileW(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                         disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

} // namespace

TProcess::TProcess(const std::vector<std::string>& command, const std::filesystem::path& out,
                   const std::filesystem::path& err) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    // A console of its own, hidden, where Ctrl-C can reach it (see Interrupt).
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = Inherited(L"NUL", GENERIC_READ, OPEN_EXISTING);
    startup.hStdOutput = Inherited(out.c_str(), GENERIC_WRITE, CREATE_ALWAYS);
    startup.hStdError = Inherited(err.c_str(), GENERIC_WRITE, CREATE_ALWAYS);
    const std::u16string program = platform::win32::Utf8ToUtf16(command.at(0));
    std::u16string line = platform::win32::CommandLine(command);
    PROCESS_INFORMATION process{};
    const bool started =
        startup.hStdOutput != INVALID_HANDLE_VALUE && startup.hStdError != INVALID_HANDLE_VALUE &&
        ::CreateProcessW(platform::win32::Wide(program), reinterpret_cast<wchar_t*>(line.data()), nullptr,
                         nullptr, TRUE, CREATE_NEW_CONSOLE, nullptr, nullptr, &startup, &process);
    const DWORD failure = ::GetLastError();
    for (const HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError})
        if (handle != INVALID_HANDLE_VALUE)
            ::CloseHandle(handle);
    if (!started)
        throw std::runtime_error("cannot start " + command.at(0) + ": " +
                                 platform::win32::SystemErrorText(failure));
    ::CloseHandle(process.hThread);
    FProcess = reinterpret_cast<intptr_t>(process.hProcess);
    FId = process.dwProcessId;
}

TProcess::~TProcess() {
    if (!FProcess)
        return;
    ::TerminateProcess(reinterpret_cast<HANDLE>(FProcess), 137);
    Wait();
}

int TProcess::Wait() {
    const HANDLE process = reinterpret_cast<HANDLE>(FProcess);
    DWORD status = 1;
    ::WaitForSingleObject(process, INFINITE);
    ::GetExitCodeProcess(process, &status);
    ::CloseHandle(process);
    FProcess = 0;
    return int(status);
}

bool TProcess::Interrupt() const {
    // Ctrl-C goes to every process of a console: the test joins the program's for a moment,
    // ignoring the event itself meanwhile.
    const bool hadConsole = ::GetConsoleCP() != 0;
    ::FreeConsole();
    if (!::AttachConsole(FId))
        return false;
    ::SetConsoleCtrlHandler(nullptr, TRUE);
    const bool sent = ::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
    ::FreeConsole();
    ::SetConsoleCtrlHandler(nullptr, FALSE);
    if (hadConsole)
        ::AttachConsole(ATTACH_PARENT_PROCESS);
    return sent;
}

#else

TProcess::TProcess(const std::vector<std::string>& command, const std::filesystem::path& out,
                   const std::filesystem::path& err) {
    std::vector<std::string> args = command;
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        throw std::runtime_error("cannot start " + command.at(0));
    FProcess = pid;
    FId = uint32_t(pid);
}

TProcess::~TProcess() {
    if (!FProcess)
        return;
    kill(pid_t(FProcess), SIGKILL);
    Wait();
}

int TProcess::Wait() {
    int status = 0;
    while (waitpid(pid_t(FProcess), &status, 0) < 0 && errno == EINTR) {
    }
    FProcess = 0;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool TProcess::Interrupt() const {
    return kill(pid_t(FProcess), SIGINT) == 0;
}

#endif

} // namespace testsupport
