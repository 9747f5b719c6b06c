#include "nuv/Nuv.Streams.h"

#include "nuv/Nuv.Exceptions.h"
#include "nuv/Nuv.Strings.h"
#include "platform/Platform.Files.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

[[noreturn]] void RaiseStream(const std::u16string& what) {
    throw EStreamError(what);
}

} // namespace

int64_t TNuvStream::Size() {
    const int64_t here = Position();
    const int64_t size = Seek(0, TNuvSeekOrigin::End);
    Seek(here, TNuvSeekOrigin::Begin);
    return size;
}

void TNuvStream::ReadBuffer(void* buffer, int64_t count) {
    auto* p = static_cast<uint8_t*>(buffer);
    while (count > 0) {
        const int64_t n = Read(p, count);
        if (n <= 0)
            RaiseStream(u"Stream read error");
        p += n;
        count -= n;
    }
}

void TNuvStream::WriteBuffer(const void* buffer, int64_t count) {
    if (count > 0 && Write(buffer, count) != count)
        RaiseStream(u"Stream write error");
}

int64_t TNuvStream::CopyFrom(TNuvStream& source, int64_t count) {
    std::vector<uint8_t> chunk(256 * 1024);
    int64_t copied = 0;
    while (count < 0 || copied < count) {
        int64_t want = int64_t(chunk.size());
        if (count >= 0)
            want = std::min(want, count - copied);
        const int64_t n = source.Read(chunk.data(), want);
        if (n <= 0) {
            if (count >= 0)
                RaiseStream(u"Stream read error");
            break;
        }
        WriteBuffer(chunk.data(), n);
        copied += n;
    }
    return copied;
}

namespace {

std::atomic<int64_t> MaxDocumentSize{kNuvMaxDocumentSize};

std::u16string MiB(int64_t bytes) {
    const int64_t tenths = bytes * 10 / (int64_t(1) << 20);
    return Format(u"%d.%d MiB", tenths / 10, tenths % 10);
}

} // namespace

int64_t NuvMaxDocumentSize() {
    return MaxDocumentSize.load();
}

int64_t NuvSetMaxDocumentSize(int64_t bytes) {
    return MaxDocumentSize.exchange(bytes);
}

std::u16string NuvDocumentSizeRefusal(int64_t size) {
    const int64_t limit = NuvMaxDocumentSize();
    if (size <= limit)
        return {};
    return Format(u"the document is too large to read (%s; the limit is %s)", MiB(size), MiB(limit));
}

std::string TNuvStream::ReadAll() {
    std::string out;
    // Room for what remains at once: growing by doubling would need twice a large document's
    // size while the text is moved.
    if (const int64_t remaining = Size() - Position(); remaining > 0)
        out.reserve(size_t(remaining));
    char chunk[64 * 1024];
    for (;;) {
        const int64_t n = Read(chunk, sizeof chunk);
        if (n <= 0)
            return out;
        out.append(chunk, size_t(n));
    }
}

// ---- memory

TNuvMemoryStream::TNuvMemoryStream(const void* data, size_t size) {
    Reserve(size);
    if (size)
        std::memcpy(FBuffer, data, size);
    FSize = size;
}

TNuvMemoryStream::~TNuvMemoryStream() {
    std::free(FBuffer);
}

void TNuvMemoryStream::Reserve(size_t capacity) {
    if (capacity <= FCapacity)
        return;
    // realloc rather than new[]: large blocks are remapped instead of copied as they grow.
    void* grown = std::realloc(FBuffer, capacity);
    if (!grown)
        throw std::bad_alloc();
    FBuffer = static_cast<uint8_t*>(grown);
    FCapacity = capacity;
}

int64_t TNuvMemoryStream::Read(void* buffer, int64_t count) {
    if (count <= 0 || FPosition >= FSize)
        return 0;
    const size_t n = std::min(size_t(count), FSize - FPosition);
    std::memcpy(buffer, FBuffer + FPosition, n);
    FPosition += n;
    return int64_t(n);
}

int64_t TNuvMemoryStream::Write(const void* buffer, int64_t count) {
    if (count <= 0)
        return 0;
    const size_t end = FPosition + size_t(count);
    if (end > FCapacity)
        Reserve(std::max({end, FCapacity * 2, size_t(4096)}));
    if (FPosition > FSize) // a seek past the end leaves a gap that reads as zeros
        std::memset(FBuffer + FSize, 0, FPosition - FSize);
    std::memcpy(FBuffer + FPosition, buffer, size_t(count));
    FPosition = end;
    FSize = std::max(FSize, end);
    return count;
}

int64_t TNuvMemoryStream::Seek(int64_t offset, TNuvSeekOrigin origin) {
    int64_t base = origin == TNuvSeekOrigin::Begin     ? 0
                   : origin == TNuvSeekOrigin::Current ? int64_t(FPosition)
                                                       : int64_t(FSize);
    const int64_t target = base + offset;
    if (target < 0)
        RaiseStream(u"Stream seek error");
    FPosition = size_t(target);
    return target;
}

void TNuvMemoryStream::SetSize(int64_t size) {
    if (size < 0)
        RaiseStream(u"Stream size error");
    Reserve(size_t(size));
    if (size_t(size) > FSize)
        std::memset(FBuffer + FSize, 0, size_t(size) - FSize);
    FSize = size_t(size);
    FPosition = std::min(FPosition, FSize);
}

// ---- file

TNuvFileStream::TNuvFileStream(const std::string& path, TNuvFileMode mode) : FFileName(path) {
    const platform::FileMode how = mode == TNuvFileMode::OpenRead        ? platform::FileMode::Read
                                   : mode == TNuvFileMode::OpenReadWrite ? platform::FileMode::ReadWrite
                                                                         : platform::FileMode::Create;
    std::string error;
    FHandle = platform::FileOpen(path, how, error);
    if (FHandle == platform::InvalidFile)
        RaiseStream(Format(u"Cannot open file \"%s\". %s", FromUtf8(path), FromUtf8(error)));
}

TNuvFileStream::~TNuvFileStream() {
    platform::FileClose(FHandle);
}

int64_t TNuvFileStream::Read(void* buffer, int64_t count) {
    std::string error;
    const int64_t n = platform::FileRead(FHandle, buffer, count, error);
    if (n < 0)
        RaiseStream(Format(u"Cannot read file \"%s\". %s", FromUtf8(FFileName), FromUtf8(error)));
    return n;
}

int64_t TNuvFileStream::Write(const void* buffer, int64_t count) {
    if (count <= 0)
        return 0;
    std::string error;
    if (!platform::FileWrite(FHandle, buffer, count, error))
        RaiseStream(Format(u"Cannot write file \"%s\". %s", FromUtf8(FFileName), FromUtf8(error)));
    return count;
}

int64_t TNuvFileStream::Seek(int64_t offset, TNuvSeekOrigin origin) {
    const int from = origin == TNuvSeekOrigin::Begin ? 0 : origin == TNuvSeekOrigin::Current ? 1 : 2;
    const int64_t at = platform::FileSeek(FHandle, offset, from);
    if (at < 0)
        RaiseStream(u"Stream seek error");
    return at;
}

void TNuvFileStream::SetSize(int64_t size) {
    std::string error;
    if (!platform::FileResize(FHandle, size, error))
        RaiseStream(Format(u"Cannot resize file \"%s\". %s", FromUtf8(FFileName), FromUtf8(error)));
    if (Position() > size)
        Seek(size, TNuvSeekOrigin::Begin);
}

// ---- buffered file

TNuvBufferedFileStream::TNuvBufferedFileStream(const std::string& path, TNuvFileMode mode, size_t bufferSize)
    : TNuvFileStream(path, mode), FBuffer(std::max<size_t>(bufferSize, 4096)) {}

TNuvBufferedFileStream::~TNuvBufferedFileStream() {
    try {
        Flush();
    } catch (...) {
        // A failed final write cannot be reported from a destructor; callers who care Flush first.
    }
}

void TNuvBufferedFileStream::Flush() {
    if (FPending) {
        const size_t n = FPending;
        FPending = 0;
        TNuvFileStream::Write(FBuffer.data(), int64_t(n));
    }
}

void TNuvBufferedFileStream::Drop() {
    if (FEnd > FBegin)
        TNuvFileStream::Seek(-int64_t(FEnd - FBegin), TNuvSeekOrigin::Current);
    FBegin = FEnd = 0;
}

int64_t TNuvBufferedFileStream::Read(void* buffer, int64_t count) {
    Flush();
    auto* out = static_cast<uint8_t*>(buffer);
    int64_t done = 0;
    while (done < count) {
        if (FBegin == FEnd) {
            if (size_t(count - done) >= FBuffer.size()) {
                const int64_t n = TNuvFileStream::Read(out + done, count - done);
                if (n <= 0)
                    break;
                done += n;
                continue;
            }
            const int64_t n = TNuvFileStream::Read(FBuffer.data(), int64_t(FBuffer.size()));
            if (n <= 0)
                break;
            FBegin = 0;
            FEnd = size_t(n);
        }
        const size_t take = std::min(size_t(count - done), FEnd - FBegin);
        std::memcpy(out + done, FBuffer.data() + FBegin, take);
        FBegin += take;
        done += int64_t(take);
    }
    return done;
}

int64_t TNuvBufferedFileStream::Write(const void* buffer, int64_t count) {
    if (count <= 0)
        return 0;
    Drop();
    if (FPending + size_t(count) > FBuffer.size()) {
        Flush();
        if (size_t(count) >= FBuffer.size())
            return TNuvFileStream::Write(buffer, count);
    }
    std::memcpy(FBuffer.data() + FPending, buffer, size_t(count));
    FPending += size_t(count);
    return count;
}

int64_t TNuvBufferedFileStream::Seek(int64_t offset, TNuvSeekOrigin origin) {
    if (origin == TNuvSeekOrigin::Current && offset == 0) {
        const int64_t file = TNuvFileStream::Seek(0, TNuvSeekOrigin::Current);
        return file + int64_t(FPending) - int64_t(FEnd - FBegin);
    }
    Flush();
    Drop();
    return TNuvFileStream::Seek(offset, origin);
}

void TNuvBufferedFileStream::SetSize(int64_t size) {
    Flush();
    Drop();
    TNuvFileStream::SetSize(size);
}

int64_t TNuvBufferedFileStream::Size() {
    Flush();
    const int64_t size = platform::FileLength(FHandle);
    if (size < 0)
        RaiseStream(u"Stream size error");
    return size;
}

// ---- temporary file

std::string TNuvTemporaryFileStream::MakeFile(const std::string& prefix) {
    std::string error;
    std::string name = platform::TemporaryFileCreate(prefix, error);
    if (name.empty())
        RaiseStream(Format(u"Cannot create temporary file. %s", FromUtf8(error)));
    return name;
}

TNuvTemporaryFileStream::TNuvTemporaryFileStream(const std::string& prefix, size_t bufferSize)
    : TNuvBufferedFileStream(MakeFile(prefix), TNuvFileMode::OpenReadWrite, bufferSize) {}

TNuvTemporaryFileStream::~TNuvTemporaryFileStream() {
    // Still open here: the system removes it once the stream's handle is closed, as files are
    // opened sharing deletion.
    platform::FileRemove(FFileName);
}
