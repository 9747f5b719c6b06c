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
#include <mutex>
#include <new>

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
    static constexpr char hex[] = "0123456789abcdef";
    std::string text;
    text.reserve(digest.size() * 2);
    for (const unsigned char byte : digest) {
        text += hex[byte >> 4];
        text += hex[byte & 15];
    }
    return text;
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
