// What the system services do the same way on every system.
#include "platform/Platform.Internal.h"

#include <mutex>

namespace platform {

std::string HexText(const unsigned char* bytes, size_t size) {
    static constexpr char hex[] = "0123456789abcdef";
    std::string text;
    text.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        text += hex[bytes[i] >> 4];
        text += hex[bytes[i] & 15];
    }
    return text;
}

namespace {
std::mutex GShellOpenLock;
ShellOpenHandler GShellOpenHandler;
} // namespace

ShellOpenHandler SetShellOpenHandler(ShellOpenHandler handler) {
    std::lock_guard lock(GShellOpenLock);
    std::swap(GShellOpenHandler, handler);
    return handler;
}

bool HandToShellOpenHandler(const std::string& target) {
    ShellOpenHandler handler;
    {
        std::lock_guard lock(GShellOpenLock);
        handler = GShellOpenHandler;
    }
    // Called outside the lock, so that a handler may itself set another handler.
    if (!handler)
        return false;
    handler(target);
    return true;
}

std::u16string TimeSeparatorInPattern(std::u16string_view pattern, std::u16string_view hourLetters) {
    const std::u16string fallback = u":";
    const size_t hour = pattern.find_first_of(hourLetters);
    if (hour == std::u16string_view::npos)
        return fallback;
    const size_t after = pattern.find_first_not_of(pattern[hour], hour);
    const size_t minute = pattern.find(u'm', hour);
    if (after == std::u16string_view::npos || minute != after + 1)
        return fallback;
    const char16_t separator = pattern[after];
    // Letters and quotes are pattern syntax, and a blank would read as a gap, not a separator.
    const bool letter = (separator >= u'A' && separator <= u'Z') || (separator >= u'a' && separator <= u'z');
    if (letter || separator == u'\'' || separator <= u' ')
        return fallback;
    return std::u16string(1, separator);
}

} // namespace platform
