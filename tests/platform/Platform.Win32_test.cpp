// What the Windows backend does through the system itself: the main thread's calls reach a
// message-only window that any message loop serves, code pages come from the system, MD5 from
// its cryptography provider. Built on Windows only.
#include "platform/Platform.Encoding.h"
#include "platform/Platform.Files.h"
#include "platform/Platform.Locale.h"
#include "platform/Platform.Paths.h"
#include "platform/Platform.System.h"
#include "platform/Platform.Threads.h"
#include "platform/Platform.Win32.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace {

// A player's own message loop: GetMessage and DispatchMessage until `done`, never a pump of ours.
void RunPlayerLoop(const std::function<bool()>& done) {
    const DWORD until = ::GetTickCount() + 10000;
    while (!done() && ::GetTickCount() < until) {
        if (::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT) != WAIT_OBJECT_0)
            continue;
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
}

} // namespace

TEST(Win32MainThreadWindow, APlayersMessageLoopServesPostedAndSentCalls) {
    testsupport::Watchdog guard;
    std::vector<int> order;
    platform::PostToMainThread([&] { order.push_back(1); });
    platform::PostToMainThread([&] { order.push_back(2); });
    // The calls wait for a message-only window of the main thread with the registered message.
    EXPECT_NE(::FindWindowExW(HWND_MESSAGE, nullptr, L"Tunedex.MainThread", nullptr), nullptr);
    EXPECT_NE(::RegisterWindowMessageW(L"Tunedex.MainThread.Call"), 0u);

    std::atomic<bool> sent{false};
    std::thread worker([&] {
        platform::SendToMainThread([&] { order.push_back(3); });
        sent = true;
    });
    RunPlayerLoop([&] { return sent.load() && order.size() == 3; });
    worker.join();
    ASSERT_EQ(order.size(), 3u);
    // The posted calls keep their order, whatever the sent one did in between.
    EXPECT_LT(std::find(order.begin(), order.end(), 1), std::find(order.begin(), order.end(), 2));
}

TEST(Win32MainThreadWindow, AWaitOnTheMainThreadServesSentCallsThroughTheMessageQueue) {
    testsupport::Watchdog guard;
    platform::Event done;
    std::atomic<uint32_t> ranOn{0};
    std::thread worker([&] {
        platform::SendToMainThread([&] { ranOn = ::GetCurrentThreadId(); });
        done.Set();
    });
    EXPECT_EQ(platform::WaitServingMainThread(done, 10000), platform::WaitResult::Signalled);
    worker.join();
    EXPECT_EQ(ranOn.load(), ::GetCurrentThreadId());
}

TEST(Win32ThreadPool, LongItemsRunSideBySideOnThePoolsThreads) {
    testsupport::Watchdog guard;
    constexpr int kItems = 6;
    std::atomic<int> started{0};
    std::atomic<bool> onMain{false};
    platform::Event all;
    platform::WorkGroup group;
    struct TState {
        std::atomic<int>& Started;
        platform::Event& All;
        std::atomic<bool>& OnMain;
    } state{started, all, onMain};
    for (int i = 0; i < kItems; ++i)
        group.Queue(
            [](void* context) {
                auto& s = *static_cast<TState*>(context);
                if (platform::IsMainThread())
                    s.OnMain = true;
                if (++s.Started == kItems)
                    s.All.Set();
                // Each item blocks until all have started: the pool must not hold any back.
                s.All.Wait(platform::Infinite);
            },
            &state);
    EXPECT_EQ(all.Wait(10000), platform::WaitResult::Signalled);
    EXPECT_TRUE(group.WaitIdle(10000));
    EXPECT_FALSE(onMain);
}

TEST(Win32CodePages, TheLegacyCodePageIsTheSystemsAnsiCodePage) {
    if (std::getenv("TUNEDEX_CODEPAGE"))
        GTEST_SKIP() << "TUNEDEX_CODEPAGE chooses another code page";
    const UINT ansi = ::GetACP();
    const std::string name = platform::LegacyCodePage();
    EXPECT_TRUE(name == "windows-" + std::to_string(ansi) || (ansi == 1252 && name == "windows-1252"))
        << name;
    // Whatever the page, its own bytes come back as they went.
    const std::u16string text = platform::FromLegacy("Radio 1");
    EXPECT_EQ(text, u"Radio 1");
    EXPECT_EQ(platform::ToLegacy(text), "Radio 1");
}

TEST(Win32CodePages, DecodersKeepACharacterCutBetweenCalls) {
    struct TCase {
        const char* Encoding;
        std::string Bytes;
        std::u16string Text;
    } cases[] = {
        {"Shift_JIS", "\x82\xa0\x82\xa2", u"\u3042\u3044"},
        {"windows-1251", "\xcf\xf0\xe8", u"\u041f\u0440\u0438"},
        {"UTF-8", "\xe2\x82\xac!", u"\u20ac!"},
        {"ISO-8859-15", "\xa4", u"\u20ac"},
    };
    for (const auto& c : cases) {
        auto decoder = platform::TEncodingDecoder::Open(c.Encoding);
        ASSERT_TRUE(decoder) << c.Encoding;
        std::u16string out;
        // One byte at a time: every multi-byte character is cut.
        for (size_t i = 0; i < c.Bytes.size(); ++i) {
            char16_t buffer[8];
            const auto r = decoder->Decode(reinterpret_cast<const uint8_t*>(c.Bytes.data()) + i, 1, buffer, 8,
                                           i + 1 == c.Bytes.size());
            ASSERT_FALSE(r.Invalid) << c.Encoding;
            EXPECT_EQ(r.BytesRead, 1u) << c.Encoding;
            out.append(buffer, r.CharsWritten);
        }
        EXPECT_EQ(out, c.Text) << c.Encoding;
    }
    // A sequence the page does not define stops the decoder where it begins; so does a cut one at
    // the end of the input.
    auto utf8 = platform::TEncodingDecoder::Open("utf-8");
    char16_t buffer[8];
    const uint8_t bad[] = {'a', 0xff, 'b'};
    auto r = utf8->Decode(bad, 3, buffer, 8, true);
    EXPECT_TRUE(r.Invalid);
    EXPECT_EQ(r.BytesRead, 1u);
    auto cut = platform::TEncodingDecoder::Open("Shift_JIS");
    const uint8_t half[] = {'a', 0x82};
    r = cut->Decode(half, 2, buffer, 8, true);
    EXPECT_TRUE(r.Invalid);
    EXPECT_EQ(r.CharsWritten, 1u);
    EXPECT_FALSE(platform::TEncodingDecoder::Open("no-such-encoding"));
}

TEST(Win32Crypto, Md5OfKnownTexts) {
    struct TCase {
        std::string Text, Digest;
    } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"The quick brown fox jumps over the lazy dog", "9e107d9d372bb6826bd81d3542a419d6"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::Md5Hex(c.Text.data(), c.Text.size()), c.Digest) << c.Text;
}

TEST(Win32Files, TemporaryFilesLocksAndWideNames) {
    std::string error;
    const std::string name = platform::TemporaryFileCreate("tunedex-win32-\xc3\xa9-", error);
    ASSERT_FALSE(name.empty()) << error;
    EXPECT_TRUE(platform::FileExists(name));
    const platform::FileHandle first = platform::FileOpen(name, platform::FileMode::ReadWrite, error);
    const platform::FileHandle second = platform::FileOpen(name, platform::FileMode::ReadWrite, error);
    ASSERT_NE(first, platform::InvalidFile);
    ASSERT_NE(second, platform::InvalidFile);
    EXPECT_TRUE(platform::FileWrite(first, "abc", 3, error));
    EXPECT_EQ(platform::FileLength(first), 3);
    EXPECT_EQ(platform::FileLock(first, false, error), platform::FileLockResult::Locked);
    EXPECT_EQ(platform::FileLock(second, false, error), platform::FileLockResult::Busy);
    platform::FileClose(first);
    EXPECT_EQ(platform::FileLock(second, false, error), platform::FileLockResult::Locked);
    platform::FileClose(second);
    EXPECT_TRUE(platform::FileRemove(name));
    EXPECT_FALSE(platform::FileExists(name));
}

TEST(Win32DisplayWidth, WideCombiningAndFormatCharacters) {
    struct TCase {
        std::u16string Text;
        size_t Width;
    } cases[] = {
        {u"abc", 3},      {u"\u65e5\u672c", 4}, {u"e\u0301", 1},
        {u"a\u200bb", 2}, {u"\U0001F3B5", 2},   {u"\uff21", 2},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::DisplayWidth(c.Text), c.Width);
}

TEST(Win32CommandLine, ArgumentsComeBackAsTheyWere) {
    const std::vector<std::string> arguments[] = {
        {"tool", "plain", "two words", ""},
        {"tool", R"(say "hi")", R"(C:\folder\)", R"(C:\with space\)", R"(a\\"b)"},
        {"tool", "tab\there", "\xc3\xa9t\xc3\xa9 \xe2\x82\xac"},
    };
    for (const auto& command : arguments) {
        const std::u16string line = platform::win32::CommandLine(command);
        int count = 0;
        wchar_t** parsed = ::CommandLineToArgvW(platform::win32::Wide(line), &count);
        ASSERT_NE(parsed, nullptr);
        std::vector<std::string> back;
        for (int i = 0; i < count; ++i)
            back.push_back(platform::win32::Utf16ToUtf8(platform::win32::Utf16(parsed[i])));
        ::LocalFree(parsed);
        EXPECT_EQ(back, command) << platform::win32::Utf16ToUtf8(line);
    }
}
