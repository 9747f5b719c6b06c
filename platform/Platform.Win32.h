#pragma once
// Shared by the Windows backend's sources only: the wide-character form of text at the system's
// API, which is UTF-16 as our own text is, so the buffers are handed over as they are.
//
// Thread-safety: every function may be called from any thread.

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows' wide characters are UTF-16 units");

namespace platform::win32 {

inline const wchar_t* Wide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}
inline const wchar_t* Wide(std::u16string_view text) {
    return reinterpret_cast<const wchar_t*>(text.data());
}
inline const char16_t* Utf16(const wchar_t* text) {
    return reinterpret_cast<const char16_t*>(text);
}

// UTF-8 to UTF-16 and back; invalid sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// The command line that starts a program with these arguments (UTF-8; the first is the program),
// each quoted so that the C runtime's parser reads it back as it was.
std::u16string CommandLine(const std::vector<std::string>& arguments);

// The system's text for an error code, or "error N".
std::string SystemErrorText(DWORD code);

} // namespace platform::win32
