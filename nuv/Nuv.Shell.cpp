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
