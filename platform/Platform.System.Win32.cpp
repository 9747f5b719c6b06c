#include "platform/Platform.System.h"

#include "platform/Platform.Internal.h"

#include "platform/Platform.Paths.h"

#include "platform/Platform.Win32.h"

#include <bcrypt.h>
#include <objbase.h>
#include <shellapi.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <cwchar>
#include <functional>
#include <mutex>
#include <new>
#include <stdexcept>
#include <thread>
#include <vector>

namespace platform {

namespace win32 {

std::u16string Utf8ToUtf16(std::string_view text) {
    if (text.empty())
        return {};
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::u16string out(size_t(std::max(length, 0)), u'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), reinterpret_cast<wchar_t*>(out.data()),
                          length);
    return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
    if (text.empty())
        return {};
    const int length =
        ::WideCharToMultiByte(CP_UTF8, 0, Wide(text), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(std::max(length, 0)), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, Wide(text), int(text.size()), out.data(), length, nullptr, nullptr);
    return out;
}

std::string SystemErrorText(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                              FORMAT_MESSAGE_IGNORE_INSERTS,
                                          nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::u16string reason = length ? std::u16string(Utf16(text), length) : std::u16string();
    if (text)
        ::LocalFree(text);
    while (!reason.empty() && (reason.back() == u'\n' || reason.back() == u'\r' || reason.back() == u' ' ||
                               reason.back() == u'.'))
        reason.pop_back();
    return reason.empty() ? "error " + std::to_string(code) : Utf16ToUtf8(reason);
}

namespace {

// One argument as the C runtime's command-line parser reads it back: quoted when it holds blanks
// or quotes, backslashes doubled only where a quote follows them.
void AppendArgument(std::wstring& line, const std::wstring& argument) {
    if (!line.empty())
        line += L' ';
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        line += argument;
        return;
    }
    line += L'"';
    size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, L'\\');
    line += L'"';
}

} // namespace

std::u16string CommandLine(const std::vector<std::string>& arguments) {
    std::wstring line;
    for (const std::string& argument : arguments)
        AppendArgument(line, std::wstring(Wide(Utf8ToUtf16(argument))));
    return std::u16string(Utf16(line.c_str()), line.size());
}

} // namespace win32

uint32_t CurrentThreadId() {
    return ::GetCurrentThreadId();
}

uint64_t TickCount64() {
    return ::GetTickCount64();
}

uint32_t TickCount() {
    return ::GetTickCount();
}

void Sleep(uint32_t milliseconds) {
    ::Sleep(milliseconds);
}

unsigned ProcessorCount() {
    const DWORD n = ::GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
    return n == 0 ? 1 : unsigned(n);
}

std::string OperatingSystemVersion() {
    // GetVersionEx answers what the program's manifest claims, not what runs; ntdll does not lie.
    using TRtlGetVersion = LONG(WINAPI*)(OSVERSIONINFOW*);
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    const auto get = ntdll ? reinterpret_cast<TRtlGetVersion>(
                                 reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlGetVersion")))
                           : nullptr;
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (!get || get(&info) != 0)
        return {};
    return "Windows NT " + std::to_string(info.dwMajorVersion) + "." + std::to_string(info.dwMinorVersion) +
           "." + std::to_string(info.dwBuildNumber);
}

std::string Md5Hex(const void* data, size_t size) {
    std::array<unsigned char, 16> digest{};
    // The provider is opened per call: it is cheap next to what callers hash, and a handle kept
    // for the process would have to outlive every thread that might still hash at exit.
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_MD5_ALGORITHM, nullptr, 0)))
        return {};
    auto* bytes = const_cast<PUCHAR>(static_cast<const unsigned char*>(data));
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool done = BCRYPT_SUCCESS(::BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0));
    // The system takes the length as 32 bits: larger data goes in slices.
    for (size_t offset = 0; done && offset < size;) {
        const ULONG slice = ULONG(std::min<size_t>(size - offset, 1u << 30));
        done = BCRYPT_SUCCESS(::BCryptHashData(hash, bytes + offset, slice, 0));
        offset += slice;
    }
    done = done && BCRYPT_SUCCESS(::BCryptFinishHash(hash, digest.data(), ULONG(digest.size()), 0));
    if (hash)
        ::BCryptDestroyHash(hash);
    ::BCryptCloseAlgorithmProvider(algorithm, 0);
    if (!done)
        return {};
    return HexText(digest.data(), digest.size());
}

std::string RandomHex(size_t size) {
    std::vector<unsigned char> bytes(size);
    // Slices: the system takes the length as 32 bits.
    for (size_t offset = 0; offset < size;) {
        const ULONG slice = ULONG(std::min<size_t>(size - offset, 1u << 30));
        if (!BCRYPT_SUCCESS(
                ::BCryptGenRandom(nullptr, bytes.data() + offset, slice, BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
            throw std::runtime_error("the system's random source gave no bytes");
        offset += slice;
    }
    return HexText(bytes.data(), size);
}

std::string TemporaryFolder() {
    wchar_t buffer[MAX_PATH + 2];
    const DWORD length = ::GetTempPathW(MAX_PATH + 2, buffer);
    if (length == 0 || length > MAX_PATH + 1)
        return ".";
    std::u16string folder(win32::Utf16(buffer), length);
    // "C:\" keeps its separator: without it the name would mean the drive's current folder.
    while (folder.size() > 3 && (folder.back() == u'\\' || folder.back() == u'/'))
        folder.pop_back();
    return win32::Utf16ToUtf8(folder);
}

// Reserved and committed at once: the blocks are filled straight away. Growing copies into a new
// block, as the system cannot move pages between reservations.
void* AllocateLargeBlock(size_t size) {
    void* block = ::VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (!block)
        throw std::bad_alloc();
    return block;
}

void* ResizeLargeBlock(void* block, size_t oldSize, size_t newSize) {
    if (newSize == oldSize)
        return block;
    void* moved = AllocateLargeBlock(newSize);
    std::memcpy(moved, block, std::min(oldSize, newSize));
    FreeLargeBlock(block, oldSize);
    return moved;
}

void FreeLargeBlock(void* block, size_t) {
    if (block)
        ::VirtualFree(block, 0, MEM_RELEASE);
}

bool ShellOpen(const std::string& target) {
    if (HandToShellOpenHandler(target))
        return true;
    const std::u16string wide = win32::Utf8ToUtf16(target);
    // The shell may start its handler through COM on this thread.
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    const HINSTANCE result =
        ::ShellExecuteW(nullptr, L"open", win32::Wide(wide), nullptr, nullptr, SW_SHOWNORMAL);
    if (SUCCEEDED(com))
        ::CoUninitialize();
    // Values above 32 mean the shell handed the target on.
    return reinterpret_cast<INT_PTR>(result) > 32;
}

bool FileExists(const std::string& name) {
    if (name.empty() || name.find('\0') != std::string::npos)
        return false;
    const DWORD attributes = ::GetFileAttributesW(win32::Wide(win32::Utf8ToUtf16(name)));
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

namespace {

std::wstring WideText(const std::string& utf8) {
    return std::wstring(win32::Wide(win32::Utf8ToUtf16(utf8)));
}

// The process's environment with the changes applied, as the block CreateProcessW takes.
std::wstring EnvironmentBlock(const std::vector<std::string>& changes) {
    const auto named = [](std::wstring_view entry) {
        // A leading '=' belongs to the name ("=C:=C:\\" keeps the drive's folder).
        return entry.substr(0, entry.find(L'=', 1));
    };
    std::vector<std::wstring> wideChanges;
    for (const std::string& change : changes)
        wideChanges.push_back(WideText(change));
    std::wstring block;
    if (wchar_t* strings = ::GetEnvironmentStringsW()) {
        for (const wchar_t* entry = strings; *entry; entry += std::wcslen(entry) + 1) {
            const std::wstring_view name = named(entry);
            const bool changed =
                std::any_of(wideChanges.begin(), wideChanges.end(), [&](const std::wstring& c) {
                    return ::CompareStringOrdinal(c.data(), int(named(c).size()), name.data(),
                                                  int(name.size()), TRUE) == CSTR_EQUAL;
                });
            if (!changed)
                block.append(entry).push_back(L'\0');
        }
        ::FreeEnvironmentStringsW(strings);
    }
    for (const std::wstring& change : wideChanges)
        if (change.find(L'=', 1) != std::wstring::npos)
            block.append(change).push_back(L'\0');
    block.push_back(L'\0');
    return block;
}

struct THandle {
    HANDLE Value = nullptr;
    THandle() = default;
    THandle(const THandle&) = delete;
    THandle& operator=(const THandle&) = delete;
    ~THandle() { Close(); }
    void Close() {
        if (Value && Value != INVALID_HANDLE_VALUE)
            ::CloseHandle(Value);
        Value = nullptr;
    }
    HANDLE Release() {
        const HANDLE value = Value;
        Value = nullptr;
        return value;
    }
};

// The null device, for a child's standard streams; inherited by the programs the process starts.
HANDLE InheritedNullDevice() {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return ::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                         OPEN_EXISTING, 0, nullptr);
}

} // namespace

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      uint32_t timeoutMs, const std::vector<std::string>& environment) {
    ProgramRun run;
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    THandle outRead, outWrite, errRead, errWrite, input;
    if (!::CreatePipe(&outRead.Value, &outWrite.Value, &inherit, 0) ||
        !::CreatePipe(&errRead.Value, &errWrite.Value, &inherit, 0))
        return run;
    // Only the child's ends are inherited.
    ::SetHandleInformation(outRead.Value, HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(errRead.Value, HANDLE_FLAG_INHERIT, 0);
    input.Value = InheritedNullDevice();
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input.Value;
    startup.hStdOutput = outWrite.Value;
    startup.hStdError = errWrite.Value;
    const std::wstring application = WideText(program);
    std::vector<std::string> command{program};
    command.insert(command.end(), arguments.begin(), arguments.end());
    std::u16string line = win32::CommandLine(command);
    std::wstring block = EnvironmentBlock(environment);
    PROCESS_INFORMATION process{};
    const bool started = ::CreateProcessW(
        application.c_str(), reinterpret_cast<wchar_t*>(line.data()), nullptr, nullptr, TRUE,
        CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW, block.data(), nullptr, &startup, &process);
    outWrite.Close();
    errWrite.Close();
    if (!started)
        return run;
    THandle child, thread;
    child.Value = process.hProcess;
    thread.Value = process.hThread;
    // Both pipes are drained at once, so a child that fills one while we wait on the other cannot
    // stall; the readers end when the child's ends close (also when it is killed).
    const auto drain = [](HANDLE pipe, std::string& text) {
        char buffer[8192];
        DWORD got = 0;
        while (::ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0)
            text.append(buffer, got);
    };
    std::thread errors(drain, errRead.Value, std::ref(run.Err));
    std::thread output(drain, outRead.Value, std::ref(run.Out));
    if (::WaitForSingleObject(child.Value, timeoutMs) != WAIT_OBJECT_0) {
        run.TimedOut = true;
        ::TerminateProcess(child.Value, 1);
        ::WaitForSingleObject(child.Value, INFINITE);
    }
    output.join();
    errors.join();
    DWORD status = 0;
    if (!run.TimedOut && ::GetExitCodeProcess(child.Value, &status))
        run.Status = int(status);
    return run;
}

FileHandle StartContinuation(const std::string& marker, std::string& error) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    THandle read, write, null;
    if (!::CreatePipe(&read.Value, &write.Value, &inherit, 0)) {
        error = win32::SystemErrorText(::GetLastError());
        return InvalidFile;
    }
    ::SetHandleInformation(read.Value, HANDLE_FLAG_INHERIT, 0);
    null.Value = InheritedNullDevice();
    if (null.Value == INVALID_HANDLE_VALUE) {
        error = win32::SystemErrorText(::GetLastError());
        return InvalidFile;
    }
    // Handles another thread made inheritable meanwhile stay with this process: the child
    // inherits the listed ones only. Where the list is not to be had, it inherits every
    // inheritable handle, as any started program would.
    HANDLE inherited[] = {write.Value, null.Value};
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<char> storage(size);
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
    const bool listed = size > 0 && ::InitializeProcThreadAttributeList(attributes, 1, 0, &size);
    const bool limited =
        listed && ::UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                              sizeof inherited, nullptr, nullptr);
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = limited ? sizeof startup : sizeof startup.StartupInfo;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = null.Value;
    startup.StartupInfo.hStdOutput = null.Value;
    startup.StartupInfo.hStdError = null.Value;
    startup.lpAttributeList = limited ? attributes : nullptr;
    const std::u16string program = win32::Utf8ToUtf16(ExecutablePath());
    // The command line as it came, not as the C runtime split it: nothing is lost to quoting.
    std::wstring line = ::GetCommandLineW();
    std::wstring block =
        EnvironmentBlock({marker + "=" + std::to_string(reinterpret_cast<uintptr_t>(write.Value))});
    const DWORD flags = CREATE_UNICODE_ENVIRONMENT | DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP |
                        (limited ? EXTENDED_STARTUPINFO_PRESENT : 0);
    PROCESS_INFORMATION process{};
    // A job that ends its processes with the program's would end the continuation too; a job
    // that lets none go keeps it.
    bool started = ::CreateProcessW(win32::Wide(program), line.data(), nullptr, nullptr, TRUE,
                                    flags | CREATE_BREAKAWAY_FROM_JOB, block.data(), nullptr,
                                    &startup.StartupInfo, &process);
    if (!started && ::GetLastError() == ERROR_ACCESS_DENIED)
        started = ::CreateProcessW(win32::Wide(program), line.data(), nullptr, nullptr, TRUE, flags,
                                   block.data(), nullptr, &startup.StartupInfo, &process);
    const DWORD failure = started ? 0 : ::GetLastError();
    if (listed)
        ::DeleteProcThreadAttributeList(attributes);
    if (!started) {
        error = win32::SystemErrorText(failure);
        return InvalidFile;
    }
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return reinterpret_cast<FileHandle>(read.Release());
}

FileHandle ContinuationChannel(const std::string& marker) {
    const std::u16string name = win32::Utf8ToUtf16(marker);
    wchar_t value[32];
    const DWORD length = ::GetEnvironmentVariableW(win32::Wide(name), value, DWORD(std::size(value)));
    if (length == 0 || length >= std::size(value))
        return InvalidFile;
    RemoveEnvironment(marker);
    wchar_t* end = nullptr;
    const unsigned long long number = std::wcstoull(value, &end, 10);
    const HANDLE channel = reinterpret_cast<HANDLE>(uintptr_t(number));
    // A variable left in the environment by chance names no pipe of ours.
    DWORD handleFlags = 0;
    if (end == value || *end || !::GetHandleInformation(channel, &handleFlags) ||
        ::GetFileType(channel) != FILE_TYPE_PIPE)
        return InvalidFile;
    // A program this process starts would hold the pipe open, and the command waiting on it.
    ::SetHandleInformation(channel, HANDLE_FLAG_INHERIT, 0);
    return reinterpret_cast<FileHandle>(channel);
}

std::string ExecutablePath() {
    std::u16string path(MAX_PATH, u'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, reinterpret_cast<wchar_t*>(path.data()), DWORD(path.size()));
        if (length == 0)
            return {};
        if (length < path.size()) {
            path.resize(length);
            return win32::Utf16ToUtf8(path);
        }
        path.resize(path.size() * 2);
    }
}

} // namespace platform

namespace platform {

void* LoadModule(const std::string& path, std::string& error) {
    const std::u16string wide = win32::Utf8ToUtf16(path);
    // With a full path, the libraries the module needs are looked for in its own folder first.
    HMODULE module = ::LoadLibraryExW(win32::Wide(wide), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module) {
        error = win32::SystemErrorText(::GetLastError());
    }
    return module;
}

void* ModuleSymbol(void* module, const char* name) {
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(module), name));
}

void UnloadModule(void* module) {
    ::FreeLibrary(static_cast<HMODULE>(module));
}

} // namespace platform
