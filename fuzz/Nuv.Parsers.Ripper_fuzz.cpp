// The extraction rules on any markers, options and text: every application ends, every piece lies
// in the text, and markup removal never leaves a NUL.
// Input: start markers, LF, finish markers, LF, one option byte, then the text (all UTF-8).

#include "nuv/Nuv.Parsers.Ripper.h"
#include "nuv/Nuv.Strings.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    const size_t first = input.find('\n');
    const size_t second = first == input.npos ? input.npos : input.find('\n', first + 1);
    if (second == input.npos || second + 1 >= input.size())
        return 0;
    const std::u16string start = FromUtf8(input.substr(0, first));
    const std::u16string finish = FromUtf8(input.substr(first + 1, second - first - 1));
    const auto options = uint8_t(input[second + 1]);
    const std::u16string text = FromUtf8(input.substr(second + 2));

    const TNuvRipperRuleAimingByTags rule(start, finish, options & 3);
    const TNuvListOfString pieces = rule.Rip(text);
    if (pieces.size() > text.size() + 1)
        __builtin_trap();
    for (const auto& piece : pieces)
        if (text.find(piece) == std::u16string::npos)
            __builtin_trap();

    TNuvRipperRuleRemoveHtmlTags stripped(
        std::make_unique<TNuvRipperRuleAimingByTags>(start, finish, options & 3));
    for (const auto& piece : stripped.Rip(text))
        for (size_t i = 0; i < piece.size(); ++i)
            if (piece[i] == 0)
                __builtin_trap();
    DecodeMarkupText(text);
    return 0;
}
