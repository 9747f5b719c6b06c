#include "nuv/Nuv.Streams.h"

#include "nuv/Nuv.Exceptions.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <numeric>

namespace {

std::vector<uint8_t> Pattern(size_t n) {
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i)
        bytes[i] = uint8_t(i * 7 + i / 251);
    return bytes;
}

// The same scenario must hold for every stream kind.
void ExerciseStream(TNuvStream& s) {
    const auto bytes = Pattern(300 * 1024 + 17);
    s.WriteBuffer(bytes.data(), int64_t(bytes.size()));
    EXPECT_EQ(s.Size(), int64_t(bytes.size()));
    s.SetPosition(0);
    std::vector<uint8_t> back(bytes.size());
    s.ReadBuffer(back.data(), int64_t(back.size()));
    EXPECT_EQ(back, bytes);
    char extra;
    EXPECT_EQ(s.Read(&extra, 1), 0);

    // Overwrite in the middle after a read, then read across the seam.
    s.SetPosition(10);
    uint8_t four[4];
    s.ReadBuffer(four, 4);
    s.WriteBuffer("WXYZ", 4);
    s.SetPosition(12);
    char six[6];
    s.ReadBuffer(six, 6);
    EXPECT_EQ(std::string(six + 2, 4), "WXYZ");
    EXPECT_EQ(s.Position(), 18);

    s.SetSize(5);
    EXPECT_EQ(s.Size(), 5);
    EXPECT_LE(s.Position(), 5);
    EXPECT_THROW(s.ReadBuffer(six, 6), EStreamError);
}

} // namespace

TEST(Streams, MemoryFileBufferedAndTemporaryBehaveAlike) {
    TNuvMemoryStream memory;
    ExerciseStream(memory);
    const std::string path = (std::filesystem::temp_directory_path() / "tunedex-stream-test.bin").string();
    {
        TNuvFileStream file(path, TNuvFileMode::Create);
        ExerciseStream(file);
    }
    {
        TNuvBufferedFileStream buffered(path, TNuvFileMode::Create, 4096);
        ExerciseStream(buffered);
    }
    std::filesystem::remove(path);
    TNuvTemporaryFileStream temporary("Tunedex", 256 * 1024);
    ExerciseStream(temporary);
}

TEST(Streams, TemporaryFileIsDeletedWithItsStream) {
    std::string name;
    {
        TNuvTemporaryFileStream temporary("Tunedex");
        name = temporary.FileName();
        temporary.WriteBuffer("abc", 3);
        EXPECT_TRUE(std::filesystem::exists(name));
        EXPECT_NE(std::filesystem::path(name).filename().string().find("Tunedex"), std::string::npos);
    }
    EXPECT_FALSE(std::filesystem::exists(name));
}

TEST(Streams, BufferedWritesReachTheFileWhenTheStreamCloses) {
    const std::string path = (std::filesystem::temp_directory_path() / "tunedex-stream-flush.bin").string();
    {
        TNuvBufferedFileStream s(path, TNuvFileMode::Create, 1 << 16);
        s.WriteBuffer("hello", 5);
    }
    EXPECT_EQ(std::filesystem::file_size(path), 5u);
    std::filesystem::remove(path);
}

TEST(Streams, OpeningAMissingFileNamesIt) {
    try {
        TNuvFileStream s("/nonexistent/dir/file", TNuvFileMode::OpenRead);
        FAIL() << "opened a missing file";
    } catch (const EStreamError& e) {
        EXPECT_NE(std::string(e.what()).find("/nonexistent/dir/file"), std::string::npos);
    }
}
