#pragma once
// Files by handle, as the system opens them: what the file streams and the profile's lock need.
// Names are UTF-8. Failures answer the system's reason in `error`.
//
// Thread-safety: any thread; one handle is used by one thread at a time.

#include <cstdint>
#include <string>

namespace platform {

using FileHandle = intptr_t;
inline constexpr FileHandle InvalidFile = -1;

enum class FileMode {
    Read,      // an existing file, for reading
    ReadWrite, // an existing file
    Create     // created, or emptied when it exists
};

// The handle is not inherited by programs the process starts.
FileHandle FileOpen(const std::string& path, FileMode mode, std::string& error);
void FileClose(FileHandle file);
// Bytes read, 0 at the end of the file, -1 on failure.
int64_t FileRead(FileHandle file, void* buffer, int64_t count, std::string& error);
// Writes everything; false on failure.
bool FileWrite(FileHandle file, const void* buffer, int64_t count, std::string& error);
// Moves the position (origin 0: from the start, 1: from here, 2: from the end); the new position,
// or -1 on failure.
int64_t FileSeek(FileHandle file, int64_t offset, int origin);
bool FileResize(FileHandle file, int64_t size, std::string& error);
// The file's size, or -1.
int64_t FileLength(FileHandle file);

// Takes an exclusive advisory lock on the whole file, held until the handle is closed or the
// process ends. With `wait`, waits while another process holds it; without, answers Busy.
enum class FileLockResult { Locked, Busy, Failed };
FileLockResult FileLock(FileHandle file, bool wait, std::string& error);

// Creates a new, empty file with a unique name starting with `prefix` in the temporary folder and
// answers its name; empty on failure.
std::string TemporaryFileCreate(const std::string& prefix, std::string& error);
// The same for a new, empty folder only the user may enter.
std::string TemporaryFolderCreate(const std::string& prefix, std::string& error);
// Deletes a file; false when it could not.
bool FileRemove(const std::string& path);

// Whether the standard output is a terminal (a console on Windows).
bool StandardOutputIsTerminal();

// The process's id.
uint32_t ProcessId();
// Sets or removes a variable of the process's environment. (Windows keeps no empty variables: an
// empty value removes it there.)
void SetEnvironment(const std::string& name, const std::string& value);
void RemoveEnvironment(const std::string& name);

} // namespace platform
