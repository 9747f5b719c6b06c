#include "nuv/Nuv.Parsers.Ripper.h"

#include "nuv/Nuv.Strings.h"

#include "platform/Platform.Locale.h"

#include <algorithm>
#include <climits>

TNuvRipperRule::TNuvRipperRule(std::unique_ptr<TNuvRipperRule> inner) : FInner(std::move(inner)) {}
TNuvRipperRule::~TNuvRipperRule() = default;

void TNuvRipperRule::Apply(TNuvListOfString& list) const {
    if (FInner)
        FInner->Apply(list);
    TNuvListOfString output;
    for (const auto& text : list)
        Extract(output, text);
    list = std::move(output);
}

TNuvListOfString TNuvRipperRule::Rip(std::u16string_view text) const {
    // Apply on a one-text list, without copying the text first: pages can be large.
    TNuvListOfString list;
    if (!FInner) {
        Extract(list, text);
        return list;
    }
    for (const auto& piece : FInner->Rip(text))
        Extract(list, piece);
    return list;
}

std::u16string TNuvRipperRule::RipFirst(std::u16string_view text) const {
    TNuvListOfString list = Rip(text);
    return list.empty() ? std::u16string() : std::move(list.front());
}

void TNuvRipperRule::Extract(TNuvListOfString& output, std::u16string_view text) const {
    output.emplace_back(text);
}

// ---- markers

namespace {

using TMarker = TNuvRipperRuleAimingByTags::TMarker;
constexpr size_t npos = std::u16string_view::npos;

// Where the marker's count-th occurrence lies completely inside [from, to), or npos. Each search
// starts at least one unit after the previous occurrence, so an empty marker or a huge count
// cannot keep it in place.
size_t FindMarker(const TMarker& marker, std::u16string_view searched, size_t from, size_t to) {
    const std::u16string_view range = searched.substr(0, to);
    size_t at = from;
    for (int32_t found = 1;; ++found) {
        if (at > to)
            return npos;
        const size_t p = range.find(marker.Text, at);
        if (p == npos || found >= marker.Count)
            return p;
        at = p + std::max<size_t>(marker.Text.size(), 1);
    }
}

} // namespace

std::vector<TMarker> TNuvRipperRuleAimingByTags::ParseMarkers(std::u16string_view text) {
    std::vector<TMarker> markers;
    if (text.empty())
        return markers;
    for (size_t begin = 0;;) {
        const size_t bar = text.find(u'|', begin);
        std::u16string_view item = text.substr(begin, bar == npos ? npos : bar - begin);
        TMarker marker;
        // "+N:" with at least one digit; anything else is taken whole.
        if (item.size() > 2 && item[0] == u'+' && item[1] >= u'0' && item[1] <= u'9') {
            size_t i = 1;
            int64_t count = 0;
            while (i < item.size() && item[i] >= u'0' && item[i] <= u'9')
                count = std::min<int64_t>(count * 10 + (item[i++] - u'0'), INT32_MAX);
            if (i < item.size() && item[i] == u':') {
                marker.Count = std::max<int32_t>(int32_t(count), 1);
                item.remove_prefix(i + 1);
            }
        }
        marker.Text.assign(item);
        markers.push_back(std::move(marker));
        if (bar == npos)
            break;
        begin = bar + 1;
    }
    return markers;
}

TNuvRipperRuleAimingByTags::TNuvRipperRuleAimingByTags(std::u16string_view startMarkers,
                                                       std::u16string_view finishMarkers, uint8_t options,
                                                       std::unique_ptr<TNuvRipperRule> inner)
    : TNuvRipperRule(std::move(inner)), FStart(ParseMarkers(startMarkers)),
      FFinish(ParseMarkers(finishMarkers)), FOptions(options) {
    if (FOptions & roIgnoreCase) {
        for (auto& marker : FStart)
            marker.Text = platform::UpperCaseSimple(marker.Text);
        for (auto& marker : FFinish)
            marker.Text = platform::UpperCaseSimple(marker.Text);
    }
}

void TNuvRipperRuleAimingByTags::Extract(TNuvListOfString& output, std::u16string_view text) const {
    Scan(text, [&](std::u16string_view piece) { output.emplace_back(piece); });
}

void TNuvRipperRuleAimingByTags::Scan(std::u16string_view text,
                                      const std::function<void(std::u16string_view piece)>& piece) const {
    if (FStart.empty() || FFinish.empty())
        return;
    std::u16string upper;
    std::u16string_view searched = text;
    if (FOptions & roIgnoreCase) {
        upper = platform::UpperCaseSimple(text);
        searched = upper;
    }
    const size_t steps = std::max(FStart.size(), FFinish.size());
    for (size_t position = 0;;) {
        const size_t passStart = position;
        size_t end = text.size();
        size_t firstFinish = npos;
        for (size_t i = 0; i < steps; ++i) {
            if (i < FStart.size()) {
                const size_t p = FindMarker(FStart[i], searched, position, end);
                if (p == npos)
                    return;
                position = p + FStart[i].Text.size();
            }
            if (i < FFinish.size()) {
                const size_t p = FindMarker(FFinish[i], searched, position, end);
                if (p == npos)
                    return;
                end = p;
                if (firstFinish == npos)
                    firstFinish = p;
            }
        }
        piece(text.substr(position, end - position));
        // A pass that cannot move forward (empty markers) would find the same piece forever.
        if (!(FOptions & roRepeat) || firstFinish == npos || firstFinish <= passStart)
            return;
        position = firstFinish;
    }
}

// ---- markup

namespace {

void AppendCode(std::u16string& out, uint32_t code) {
    if (code == 0 || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
        out += u'\uFFFD';
    else if (code > 0xFFFF) {
        code -= 0x10000;
        out += char16_t(0xD800 + (code >> 10));
        out += char16_t(0xDC00 + (code & 0x3FF));
    } else
        out += char16_t(code);
}

bool IsNameChar(char16_t c) {
    return IsAsciiAlphaNumeric(c) || c == u'#';
}

// The code of "#123" or "#x7B"; 0 when the rest is no number. Saturates above U+10FFFF.
uint32_t NumericReference(std::u16string_view name) {
    std::u16string_view digits = name.substr(1);
    uint32_t base = 10;
    if (!digits.empty() && (digits[0] == u'x' || digits[0] == u'X')) {
        base = 16;
        digits.remove_prefix(1);
    }
    if (digits.empty())
        return 0;
    uint32_t code = 0;
    for (char16_t c : digits) {
        const int digit = AsciiHexDigitValue(c);
        if (digit < 0 || uint32_t(digit) >= base)
            return 0;
        code = std::min<uint32_t>(code * base + uint32_t(digit), 0x110000);
    }
    return code;
}

} // namespace

std::u16string DecodeMarkupText(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c == u'\\' && i + 1 < text.size()) {
            const char16_t next = text[i + 1];
            if (std::u16string_view(u"\t\n\r'\"&<>").find(next) != npos) {
                out += next;
                ++i;
                continue;
            }
        } else if (c == u'&') {
            size_t j = i + 1;
            while (j < text.size() && IsNameChar(text[j]))
                ++j;
            if (j > i + 1 && j < text.size() && text[j] == u';') {
                const std::u16string_view name = text.substr(i + 1, j - i - 1);
                if (name == u"apos")
                    out += u'\'';
                else if (name == u"quot")
                    out += u'"';
                else if (name == u"amp")
                    out += u'&';
                else if (name == u"lt")
                    out += u'<';
                else if (name == u"gt")
                    out += u'>';
                else if (name[0] == u'#')
                    AppendCode(out, NumericReference(name));
                else
                    out += name;
                i = j;
                continue;
            }
        }
        out += c;
    }
    return out;
}

TNuvRipperRuleRemoveHtmlTags::TNuvRipperRuleRemoveHtmlTags(std::unique_ptr<TNuvRipperRule> inner)
    : TNuvRipperRule(std::move(inner)) {}

void TNuvRipperRuleRemoveHtmlTags::Extract(TNuvListOfString& output, std::u16string_view text) const {
    const std::u16string decoded = DecodeMarkupText(text);
    const std::u16string_view s = decoded;
    std::u16string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        const char16_t c = s[i];
        if (c == 0)
            break;
        if (c == u'\r' || c == u'\n')
            continue;
        if (c == u'<') {
            if (i + 2 < s.size() && (s[i + 1] | 0x20) == u'b' && (s[i + 2] | 0x20) == u'r')
                out += u"\r\n";
            const size_t close = s.find(u'>', i + 1);
            if (close == npos)
                break;
            i = close;
        } else if (c == u'\\' && i + 1 < s.size() && s[i + 1] == u'n') {
            out += u"\r\n";
            ++i;
        } else if (c == u'\\' && i + 5 < s.size() && s[i + 1] == u'u' && AsciiHexDigitValue(s[i + 2]) >= 0 &&
                   AsciiHexDigitValue(s[i + 3]) >= 0 && AsciiHexDigitValue(s[i + 4]) >= 0 &&
                   AsciiHexDigitValue(s[i + 5]) >= 0) {
            const char16_t code =
                char16_t(AsciiHexDigitValue(s[i + 2]) << 12 | AsciiHexDigitValue(s[i + 3]) << 8 |
                         AsciiHexDigitValue(s[i + 4]) << 4 | AsciiHexDigitValue(s[i + 5]));
            out += code == 0 ? u'\uFFFD' : code;
            i += 5;
        } else
            out += c;
    }
    output.push_back(std::move(out));
}
