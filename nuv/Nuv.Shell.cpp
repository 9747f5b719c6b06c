#include "nuv/Nuv.Shell.h"

#include "nuv/Nuv.Strings.h"
#include "platform/Platform.System.h"

#include <filesystem>
#include <system_error>

std::u16string ShellOpenAddress(std::u16string_view text) {
    if (text.empty())
        return {};
    std::u16string target(text);
    if (text.find(u"//") == std::u16string_view::npos) {
        std::error_code error;
        if (!std::filesystem::is_directory(std::filesystem::path(ToUtf8(text)), error))
            target = u"https://" + target;
    }
    platform::ShellOpen(ToUtf8(target));
    return target;
}

namespace {

// Whether the text begins with a scheme and its ":": letters, digits, "+", "-" and "." from a
// letter on. "host:8080" and "host:8080/path" name a port, not a scheme.
bool HasScheme(std::u16string_view text) {
    const size_t colon = text.find(u':');
    if (colon == std::u16string_view::npos || colon == 0 || !IsAsciiLetter(text[0]))
        return false;
    for (size_t i = 0; i < colon; ++i) {
        const char16_t c = text[i];
        if (!IsAsciiAlphaNumeric(c) && c != u'+' && c != u'-' && c != u'.')
            return false;
    }
    size_t end = colon + 1;
    while (end < text.size() && IsAsciiDigit(text[end]))
        ++end;
    const bool port = end > colon + 1 &&
                      (end == text.size() || text[end] == u'/' || text[end] == u'?' || text[end] == u'#');
    return !port;
}

} // namespace

std::u16string WebPageAddress(std::u16string_view text) {
    for (const char16_t c : text)
        if (c < 0x20 || c == 0x7F)
            return {};
    std::u16string address;
    if (StartsTextAscii(u"http://", text) || StartsTextAscii(u"https://", text))
        address = text;
    else if (text.starts_with(u"//"))
        address = u"https:" + std::u16string(text);
    else if (!text.empty() && !HasScheme(text) && text[0] != u'/')
        address = u"https://" + std::u16string(text);
    // Something must follow the "//".
    const size_t rest = address.find(u"//");
    if (address.empty() || rest + 2 >= address.size() || address[rest + 2] == u'/')
        return {};
    return address;
}

bool ShellOpenWebPage(std::u16string_view text) {
    const std::u16string address = WebPageAddress(text);
    return !address.empty() && platform::ShellOpen(ToUtf8(address));
}
