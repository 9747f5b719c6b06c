#pragma once
// One small stream abstraction (read, write, seek, size) with memory, file, buffered-file and
// temporary-file implementations.
//
// Thread-safety: a stream object is used by one thread at a time.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

enum class TNuvSeekOrigin { Begin = 0, Current = 1, End = 2 };

// The most bytes a parser that holds a whole document in memory takes: far above the largest
// real catalogue, far below what would exhaust the memory of a player. Parsers that stream are
// not bound by it.
constexpr int64_t kNuvMaxDocumentSize = int64_t(256) << 20;
// The limit in force: kNuvMaxDocumentSize unless NuvSetMaxDocumentSize changed it.
int64_t NuvMaxDocumentSize();
// Changes the limit (so that tests need not make documents of that size); returns the previous
// one. Any thread.
int64_t NuvSetMaxDocumentSize(int64_t bytes);
// Why a document of `size` bytes may not be held in memory whole, or empty text when it may.
std::u16string NuvDocumentSizeRefusal(int64_t size);

class TNuvStream {
public:
    virtual ~TNuvStream() = default;
    TNuvStream() = default;
    TNuvStream(const TNuvStream&) = delete;
    TNuvStream& operator=(const TNuvStream&) = delete;

    // Reads up to count bytes; returns how many were read (0 at the end).
    virtual int64_t Read(void* buffer, int64_t count) = 0;
    // Writes count bytes; returns how many were written. Raises EStreamError on failure.
    virtual int64_t Write(const void* buffer, int64_t count) = 0;
    // Moves the position; returns the new absolute position. Raises EStreamError when impossible.
    virtual int64_t Seek(int64_t offset, TNuvSeekOrigin origin) = 0;
    // Changes the size; the position is kept unless it lies past the new end.
    virtual void SetSize(int64_t size) = 0;
    // The size in bytes.
    virtual int64_t Size();

    int64_t Position() { return Seek(0, TNuvSeekOrigin::Current); }
    void SetPosition(int64_t position) { Seek(position, TNuvSeekOrigin::Begin); }
    // Reads exactly count bytes or raises EStreamError.
    void ReadBuffer(void* buffer, int64_t count);
    // Writes exactly count bytes or raises EStreamError.
    void WriteBuffer(const void* buffer, int64_t count);
    // Copies count bytes from source's position (all that remains when count is negative).
    int64_t CopyFrom(TNuvStream& source, int64_t count = -1);
    // Reads everything from the position to the end.
    std::string ReadAll();
};

// A growable in-memory stream. Growth does not zero the new bytes and large buffers grow in
// place where the allocator can, so filling one is about as fast as the memory allows.
class TNuvMemoryStream : public TNuvStream {
public:
    TNuvMemoryStream() = default;
    // A copy of the bytes, positioned at the start.
    TNuvMemoryStream(const void* data, size_t size);
    ~TNuvMemoryStream() override;
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TNuvSeekOrigin origin) override;
    void SetSize(int64_t size) override;
    int64_t Size() override { return int64_t(FSize); }

    // The bytes held; valid until the next write or size change.
    const uint8_t* Memory() const { return FBuffer; }
    std::string_view View() const { return {reinterpret_cast<const char*>(FBuffer), FSize}; }

private:
    void Reserve(size_t capacity);
    uint8_t* FBuffer = nullptr;
    bool FLarge = false; // FBuffer is a platform large block rather than a heap block
    size_t FSize = 0;
    size_t FCapacity = 0;
    size_t FPosition = 0;
};

enum class TNuvFileMode { OpenRead, OpenReadWrite, Create };

// An unbuffered file; the file is closed with the stream.
class TNuvFileStream : public TNuvStream {
public:
    // Opens or creates the file (UTF-8 path); raises EStreamError "Cannot open file "%s". %s".
    TNuvFileStream(const std::string& path, TNuvFileMode mode);
    ~TNuvFileStream() override;
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TNuvSeekOrigin origin) override;
    void SetSize(int64_t size) override;
    const std::string& FileName() const { return FFileName; }

protected:
    intptr_t FHandle = -1; // a platform::FileHandle
    std::string FFileName;
};

// A file read and written through one buffer of the given size.
class TNuvBufferedFileStream : public TNuvFileStream {
public:
    // Opens as TNuvFileStream does; the buffer is at least 4 KiB. Bytes still buffered are written
    // by Flush, or by the destructor, which cannot report a failure: callers who care Flush first.
    TNuvBufferedFileStream(const std::string& path, TNuvFileMode mode, size_t bufferSize = 64 * 1024);
    ~TNuvBufferedFileStream() override;
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TNuvSeekOrigin origin) override;
    void SetSize(int64_t size) override;
    int64_t Size() override;
    // Writes buffered bytes to the file.
    void Flush();

private:
    void Drop(); // forget read-ahead, moving the file position back to the logical one
    std::vector<uint8_t> FBuffer;
    size_t FBegin = 0, FEnd = 0; // read-ahead window in FBuffer
    size_t FPending = 0;         // bytes waiting to be written
};

// A buffered file in the temporary folder, named from a prefix, deleted when the stream is
// destroyed (also when the work that used it failed).
class TNuvTemporaryFileStream : public TNuvBufferedFileStream {
public:
    // Creates a new, empty file; raises EStreamError when none can be made.
    TNuvTemporaryFileStream(const std::string& prefix, size_t bufferSize = 64 * 1024);
    ~TNuvTemporaryFileStream() override;

private:
    static std::string MakeFile(const std::string& prefix);
};
