#include "host/Orvo.Host.Cli.Text.h"

#include "nuv/Nuv.Strings.h"

#include "platform/Platform.Locale.h"

namespace {

const char kHex[] = "0123456789ABCDEF";

// The visible form of a character that must not reach the terminal as it is, or empty.
std::string Escape(char32_t c) {
    switch (c) {
    case u'\t':
        return "\\t";
    case u'\n':
        return "\\n";
    case u'\r':
        return "\\r";
    default:
        break;
    }
    if (c < 0x20 || c == 0x7F)
        return {'\\', 'x', kHex[c >> 4], kHex[c & 0xF]};
    // C1 controls (CSI among them), line breaks a terminal may honour, and the marks that turn
    // the rest of a line round.
    if ((c >= 0x80 && c <= 0x9F) || c == 0x2028 || c == 0x2029 || (c >= 0x202A && c <= 0x202E) ||
        (c >= 0x2066 && c <= 0x2069))
        return {'\\', 'u', kHex[(c >> 12) & 0xF], kHex[(c >> 8) & 0xF], kHex[(c >> 4) & 0xF], kHex[c & 0xF]};
    return {};
}

} // namespace

std::string TerminalText(std::u16string_view text) {
    std::u16string kept;
    std::string shown;
    const auto flush = [&] {
        shown += ToUtf8(kept);
        kept.clear();
    };
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (const std::string escaped = Escape(unit); !escaped.empty()) {
            flush();
            shown += escaped;
        } else {
            kept += unit;
        }
    }
    flush();
    return shown;
}

std::string TerminalText(std::string_view utf8) {
    return TerminalText(FromUtf8(utf8));
}

std::string TerminalMessage(std::string_view utf8, size_t maxChars) {
    const std::u16string text = FromUtf8(utf8);
    if (text.size() <= maxChars)
        return TerminalText(std::u16string_view(text));
    size_t cut = maxChars;
    // Never between the two halves of a surrogate pair.
    if ((text[cut] & 0xFC00) == 0xDC00)
        --cut;
    return TerminalText(std::u16string_view(text).substr(0, cut)) + "... (" +
           std::to_string(text.size() - cut) + " more characters)";
}

size_t TerminalWidth(std::string_view utf8) {
    return platform::DisplayWidth(FromUtf8(utf8));
}
