#include "platform/Platform.Files.h"

#include "platform/Platform.System.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace platform {

FileHandle FileOpen(const std::string& path, FileMode mode, std::string& error) {
    int flags = O_CLOEXEC;
    switch (mode) {
    case FileMode::Read:
        flags |= O_RDONLY;
        break;
    case FileMode::ReadWrite:
        flags |= O_RDWR;
        break;
    case FileMode::Create:
        flags |= O_RDWR | O_CREAT | O_TRUNC;
        break;
    }
    const int file = ::open(path.c_str(), flags, 0644);
    if (file < 0)
        error = std::strerror(errno);
    return file < 0 ? InvalidFile : file;
}

void FileClose(FileHandle file) {
    if (file != InvalidFile)
        ::close(int(file));
}

int64_t FileRead(FileHandle file, void* buffer, int64_t count, std::string& error) {
    if (count <= 0)
        return 0;
    for (;;) {
        const ssize_t n = ::read(int(file), buffer, size_t(count));
        if (n >= 0)
            return n;
        if (errno != EINTR) {
            error = std::strerror(errno);
            return -1;
        }
    }
}

bool FileWrite(FileHandle file, const void* buffer, int64_t count, std::string& error) {
    auto* p = static_cast<const uint8_t*>(buffer);
    int64_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(int(file), p + done, size_t(count - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error = std::strerror(errno);
            return false;
        }
        done += n;
    }
    return true;
}

int64_t FileSeek(FileHandle file, int64_t offset, int origin) {
    const int whence = origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : SEEK_END;
    const off_t at = ::lseek(int(file), off_t(offset), whence);
    return at < 0 ? -1 : int64_t(at);
}

bool FileResize(FileHandle file, int64_t size, std::string& error) {
    if (::ftruncate(int(file), off_t(size)) == 0)
        return true;
    error = std::strerror(errno);
    return false;
}

int64_t FileLength(FileHandle file) {
    struct stat st {};
    return ::fstat(int(file), &st) == 0 ? int64_t(st.st_size) : -1;
}

FileLockResult FileLock(FileHandle file, bool wait, std::string& error) {
    if (::flock(int(file), LOCK_EX | LOCK_NB) == 0)
        return FileLockResult::Locked;
    if (errno != EWOULDBLOCK) {
        error = std::strerror(errno);
        return FileLockResult::Failed;
    }
    if (!wait)
        return FileLockResult::Busy;
    while (::flock(int(file), LOCK_EX) != 0)
        if (errno != EINTR) {
            error = std::strerror(errno);
            return FileLockResult::Failed;
        }
    return FileLockResult::Locked;
}

std::string TemporaryFileCreate(const std::string& prefix, std::string& error) {
    std::string pattern = TemporaryFolder() + "/" + prefix + "XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
        error = std::strerror(errno);
        return {};
    }
    ::close(fd);
    return pattern;
}

std::string TemporaryFolderCreate(const std::string& prefix, std::string& error) {
    std::string pattern = TemporaryFolder() + "/" + prefix + "XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        error = std::strerror(errno);
        return {};
    }
    return pattern;
}

bool FileRemove(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

bool StandardOutputIsTerminal() {
    return ::isatty(STDOUT_FILENO) == 1;
}

uint32_t ProcessId() {
    return uint32_t(::getpid());
}

void SetEnvironment(const std::string& name, const std::string& value) {
    ::setenv(name.c_str(), value.c_str(), 1);
}

void RemoveEnvironment(const std::string& name) {
    ::unsetenv(name.c_str());
}

} // namespace platform
