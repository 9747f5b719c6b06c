#include "platform/Platform.Files.h"

#include "platform/Platform.System.h"
#include "platform/Platform.Win32.h"

#include <algorithm>
#include <atomic>

namespace platform {

namespace {

HANDLE Handle(FileHandle file) {
    return reinterpret_cast<HANDLE>(file);
}

std::string LastError() {
    return win32::SystemErrorText(::GetLastError());
}

} // namespace

FileHandle FileOpen(const std::string& path, FileMode mode, std::string& error) {
    const DWORD access = mode == FileMode::Read ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    const DWORD disposition = mode == FileMode::Create ? CREATE_ALWAYS : OPEN_EXISTING;
    // Others may read, write and delete while it is open, as POSIX lets them.
    const HANDLE file = ::CreateFileW(win32::Wide(win32::Utf8ToUtf16(path)), access,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = LastError();
        return InvalidFile;
    }
    return reinterpret_cast<FileHandle>(file);
}

void FileClose(FileHandle file) {
    if (file != InvalidFile)
        ::CloseHandle(Handle(file));
}

int64_t FileRead(FileHandle file, void* buffer, int64_t count, std::string& error) {
    if (count <= 0)
        return 0;
    DWORD read = 0;
    const DWORD asked = DWORD(std::min<int64_t>(count, 1 << 30));
    if (!::ReadFile(Handle(file), buffer, asked, &read, nullptr)) {
        error = LastError();
        return -1;
    }
    return read;
}

bool FileWrite(FileHandle file, const void* buffer, int64_t count, std::string& error) {
    auto* p = static_cast<const uint8_t*>(buffer);
    while (count > 0) {
        DWORD written = 0;
        if (!::WriteFile(Handle(file), p, DWORD(std::min<int64_t>(count, 1 << 30)), &written, nullptr)) {
            error = LastError();
            return false;
        }
        p += written;
        count -= written;
    }
    return true;
}

int64_t FileSeek(FileHandle file, int64_t offset, int origin) {
    LARGE_INTEGER distance{}, at{};
    distance.QuadPart = offset;
    const DWORD method = origin == 0 ? FILE_BEGIN : origin == 1 ? FILE_CURRENT : FILE_END;
    return ::SetFilePointerEx(Handle(file), distance, &at, method) ? int64_t(at.QuadPart) : -1;
}

bool FileResize(FileHandle file, int64_t size, std::string& error) {
    const int64_t position = FileSeek(file, 0, 1);
    if (FileSeek(file, size, 0) < 0 || !::SetEndOfFile(Handle(file))) {
        error = LastError();
        return false;
    }
    // The position stays where it was, as POSIX leaves it.
    FileSeek(file, position, 0);
    return true;
}

int64_t FileLength(FileHandle file) {
    LARGE_INTEGER size{};
    return ::GetFileSizeEx(Handle(file), &size) ? int64_t(size.QuadPart) : -1;
}

FileLockResult FileLock(FileHandle file, bool wait, std::string& error) {
    OVERLAPPED at{};
    const DWORD flags = LOCKFILE_EXCLUSIVE_LOCK | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY);
    if (::LockFileEx(Handle(file), flags, 0, MAXDWORD, MAXDWORD, &at))
        return FileLockResult::Locked;
    const DWORD code = ::GetLastError();
    if (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING)
        return FileLockResult::Busy;
    error = win32::SystemErrorText(code);
    return FileLockResult::Failed;
}

namespace {

// Makes a new file or folder of a unique name starting with `prefix` in the temporary folder.
// Unique among the process's own names by a counter, among other processes' by the process id; a
// name that exists all the same is refused by the system, and the next one is tried.
std::string CreateUnique(const std::string& prefix, std::string& error, bool (*create)(const wchar_t*)) {
    static std::atomic<uint32_t> counter{0};
    const std::string folder = TemporaryFolder();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = folder + "\\" + prefix + std::to_string(::GetCurrentProcessId()) + "-" +
                                 std::to_string(counter.fetch_add(1)) + "-" +
                                 std::to_string(::GetTickCount());
        if (create(win32::Wide(win32::Utf8ToUtf16(name))))
            return name;
        const DWORD code = ::GetLastError();
        if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) {
            error = win32::SystemErrorText(code);
            return {};
        }
    }
    error = "no unused name";
    return {};
}

} // namespace

std::string TemporaryFileCreate(const std::string& prefix, std::string& error) {
    return CreateUnique(prefix, error, [](const wchar_t* name) {
        const HANDLE file = ::CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_TEMPORARY, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return false;
        ::CloseHandle(file);
        return true;
    });
}

std::string TemporaryFolderCreate(const std::string& prefix, std::string& error) {
    // The user's temporary folder is the user's own; the new folder inherits that.
    return CreateUnique(prefix, error,
                        [](const wchar_t* name) { return ::CreateDirectoryW(name, nullptr) != 0; });
}

bool FileRemove(const std::string& path) {
    return ::DeleteFileW(win32::Wide(win32::Utf8ToUtf16(path))) != 0;
}

bool StandardOutputIsTerminal() {
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

uint32_t ProcessId() {
    return ::GetCurrentProcessId();
}

void SetEnvironment(const std::string& name, const std::string& value) {
    // The C runtime keeps a copy of its own that getenv reads: both are changed.
    const std::u16string wideName = win32::Utf8ToUtf16(name);
    const std::u16string wideValue = win32::Utf8ToUtf16(value);
    ::SetEnvironmentVariableW(win32::Wide(wideName), value.empty() ? nullptr : win32::Wide(wideValue));
    ::_wputenv_s(win32::Wide(wideName), win32::Wide(wideValue));
}

} // namespace platform

namespace platform {

void RemoveEnvironment(const std::string& name) {
    SetEnvironment(name, "");
}

} // namespace platform
