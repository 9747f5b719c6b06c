#include "sdk/apiWrappers.Streams.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// A stream whose every operation fails, as a broken file would.
class TBrokenStream : public TNuvStream {
public:
    explicit TBrokenStream(bool* destroyed) : FDestroyed(destroyed) {}
    ~TBrokenStream() override { *FDestroyed = true; }
    int64_t Read(void*, int64_t) override { throw EStreamError(u"read"); }
    int64_t Write(const void*, int64_t) override { throw EStreamError(u"write"); }
    int64_t Seek(int64_t, TNuvSeekOrigin) override { throw EStreamError(u"seek"); }
    void SetSize(int64_t) override { throw EStreamError(u"size"); }

private:
    bool* FDestroyed;
};

ComPtr<TOrvoStreamAdapter> MemoryAdapter(std::string_view bytes) {
    return TOrvoStreamAdapter::Create(std::make_unique<TNuvMemoryStream>(bytes.data(), bytes.size()));
}

TEST(StreamAdapter, SeekReportsWhetherTheStreamLandedWhereAsked) {
    struct Case {
        int64_t Start, Offset;
        int32_t Origin;
        HRESULT Result;
        int64_t Position;
    };
    const Case cases[] = {
        {0, 3, 0, S_OK, 3},          {0, 20, 0, S_OK, 20}, // past the end is allowed, as for files
        {4, 2, 1, S_OK, 6},          {4, -4, 1, S_OK, 0},         {0, -2, 2, S_OK, 8},
        {0, 0, 2, S_OK, 10},         {5, 1, 3, E_INVALIDARG, 5},  {5, 1, -1, E_INVALIDARG, 5},
        {5, -1, 0, E_UNEXPECTED, 5}, {2, -3, 1, E_UNEXPECTED, 2},
    };
    for (const auto& c : cases) {
        auto adapter = MemoryAdapter("0123456789");
        ASSERT_EQ(adapter->Seek(c.Start, 0), S_OK);
        EXPECT_EQ(adapter->Seek(c.Offset, c.Origin), c.Result) << c.Offset << " from " << c.Origin;
        EXPECT_EQ(adapter->Position(), c.Position) << c.Offset << " from " << c.Origin;
    }
}

TEST(StreamAdapter, ReadsWritesAndResizes) {
    auto adapter = MemoryAdapter("abcdef");
    EXPECT_EQ(adapter->Size(), 6);
    uint8_t buffer[8] = {};
    EXPECT_EQ(adapter->Read(buffer, 4), 4);
    EXPECT_EQ(std::memcmp(buffer, "abcd", 4), 0);
    EXPECT_EQ(adapter->Read(buffer, 8), 2);
    EXPECT_EQ(adapter->Read(buffer, 8), 0);

    uint32_t written = 99;
    EXPECT_EQ(adapter->Write(reinterpret_cast<const uint8_t*>("XY"), 2, &written), S_OK);
    EXPECT_EQ(written, 2u);
    EXPECT_EQ(adapter->Write(reinterpret_cast<const uint8_t*>("Z"), 1, nullptr), S_OK);
    EXPECT_EQ(adapter->Size(), 9);
    EXPECT_EQ(adapter->SetSize(2), S_OK);
    EXPECT_EQ(adapter->Size(), 2);
    EXPECT_EQ(adapter->Position(), 2);
    EXPECT_EQ(adapter->SetSize(-1), E_UNEXPECTED);
    EXPECT_EQ(adapter->Read(nullptr, 1), -1);
}

TEST(StreamAdapter, ErrorsOfTheStreamStayInsideAndOwnershipDecidesItsEnd) {
    bool destroyed = false;
    {
        TBrokenStream stream(&destroyed);
        auto adapter = TOrvoStreamAdapter::Create(&stream, false);
        uint8_t byte = 0;
        uint32_t written = 7;
        EXPECT_EQ(adapter->Read(&byte, 1), -1);
        EXPECT_EQ(adapter->Write(&byte, 1, &written), E_UNEXPECTED);
        EXPECT_EQ(written, 0u);
        EXPECT_EQ(adapter->SetSize(1), E_UNEXPECTED);
        EXPECT_EQ(adapter->Seek(0, 0), E_UNEXPECTED);
        EXPECT_EQ(adapter->Size(), -1);
        EXPECT_EQ(adapter->Position(), -1);
        adapter.Reset();
        EXPECT_FALSE(destroyed);
    }
    destroyed = false;
    auto owning = TOrvoStreamAdapter::Create(new TBrokenStream(&destroyed), true);
    owning.Reset();
    EXPECT_TRUE(destroyed);
}

TEST(StreamAdapter, ResourcesCompiledIntoTheProgram) {
    auto text = TOrvoStreamAdapter::CreateFromResource(u"FIXTURE", u"txt");
    EXPECT_EQ(text->Source().ReadAll(), "Tunedex resource fixture\n");

    auto glyph = TOrvoStreamAdapter::CreateFromResource(u"glyph", u"PNG");
    uint8_t bytes[16] = {};
    ASSERT_EQ(glyph->Read(bytes, sizeof bytes), 12);
    EXPECT_EQ(std::memcmp(bytes, "\x89PNG\r\n\x1a\n\x00\x01\x02\xff", 12), 0);
    // A write changes the adapter's copy, never the compiled-in bytes.
    ASSERT_EQ(glyph->Seek(0, 0), S_OK);
    EXPECT_EQ(glyph->Write(reinterpret_cast<const uint8_t*>("X"), 1, nullptr), S_OK);
    auto again = TOrvoStreamAdapter::CreateFromResource(u"glyph", u"PNG");
    EXPECT_EQ(again->Source().ReadAll()[0], '\x89');

    try {
        TOrvoStreamAdapter::CreateFromResource(u"glyph", u"TXT");
        FAIL() << "no exception";
    } catch (const EStreamError& e) {
        EXPECT_EQ(e.Message(), u"Resource glyph not found");
    }
}

} // namespace
