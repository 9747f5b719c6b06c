#include "nuv/Nuv.Strings.h"

#include <charconv>
#include <cstdio>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

void AppendUtf16(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out += char16_t(cp);
    } else {
        cp -= 0x10000;
        out += char16_t(0xD800 + (cp >> 10));
        out += char16_t(0xDC00 + (cp & 0x3FF));
    }
}

std::u16string Widen(std::string_view ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

} // namespace

std::string ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 2);
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c < 0x80) {
            out += char(c);
            continue;
        }
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = kReplacement;
        }
        AppendUtf8(out, c);
    }
    return out;
}

std::u16string FromUtf8(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char b = p[i];
        if (b < 0x80) {
            // Most text is ASCII: widen a whole run at once.
            size_t end = i + 1;
            while (end < n && p[end] < 0x80)
                ++end;
            out.append(p + i, p + end);
            i = end;
            continue;
        }
        int extra;
        char32_t cp;
        char32_t min;
        if ((b & 0xE0) == 0xC0) {
            extra = 1, cp = b & 0x1F, min = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            extra = 2, cp = b & 0x0F, min = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            extra = 3, cp = b & 0x07, min = 0x10000;
        } else {
            out += char16_t(kReplacement);
            ++i;
            continue;
        }
        size_t j = 1;
        for (; j <= size_t(extra) && i + j < n && (p[i + j] & 0xC0) == 0x80; ++j)
            cp = (cp << 6) | (p[i + j] & 0x3F);
        if (j != size_t(extra) + 1 || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            // Skip the lead byte and the continuation bytes that belonged to it.
            out += char16_t(kReplacement);
            i += j;
            continue;
        }
        AppendUtf16(out, cp);
        i += j;
    }
    return out;
}

std::u16string FromAscii(std::string_view text) {
    return Widen(text);
}

namespace {

struct Spec {
    bool left = false;
    bool zero = false;
    int width = -1;
    int precision = -1;
};

void Pad(std::u16string& out, std::u16string_view body, const Spec& spec, bool numeric) {
    const int len = int(body.size());
    if (spec.width <= len) {
        out += body;
        return;
    }
    const size_t fill = size_t(spec.width - len);
    if (spec.left) {
        out += body;
        out.append(fill, u' ');
    } else if (spec.zero && numeric) {
        size_t sign = (!body.empty() && (body[0] == u'-' || body[0] == u'+')) ? 1 : 0;
        out += body.substr(0, sign);
        out.append(fill, u'0');
        out += body.substr(sign);
    } else {
        out.append(fill, u' ');
        out += body;
    }
}

std::u16string Number(const TNuvFormatArg& arg, char conv, const Spec& spec) {
    char buf[512];
    std::string fmt = "%";
    if (spec.precision >= 0) {
        fmt += '.';
        fmt += std::to_string(std::min(spec.precision, 100));
    }
    if (conv == 'f' || conv == 'g' || conv == 'e') {
        double v = 0;
        if (auto d = std::get_if<double>(&arg))
            v = *d;
        else if (auto i = std::get_if<int64_t>(&arg))
            v = double(*i);
        else if (auto u = std::get_if<uint64_t>(&arg))
            v = double(*u);
        fmt += conv;
        std::snprintf(buf, sizeof buf, fmt.c_str(), v);
        return Widen(buf);
    }
    if (auto d = std::get_if<double>(&arg)) {
        std::snprintf(buf, sizeof buf, "%.0f", *d);
        return Widen(buf);
    }
    if (conv == 'x' || conv == 'X') {
        uint64_t v = 0;
        if (auto i = std::get_if<int64_t>(&arg))
            v = uint64_t(*i);
        else if (auto u = std::get_if<uint64_t>(&arg))
            v = *u;
        // Negative 32-bit result codes print as their 32-bit pattern, as hex codes are read.
        if (auto i = std::get_if<int64_t>(&arg); i && *i < 0 && *i >= INT32_MIN)
            v = uint32_t(int32_t(*i));
        fmt += "ll";
        fmt += conv;
        std::snprintf(buf, sizeof buf, fmt.c_str(), (unsigned long long)v);
        return Widen(buf);
    }
    if (auto u = std::get_if<uint64_t>(&arg)) {
        fmt += "llu";
        std::snprintf(buf, sizeof buf, fmt.c_str(), (unsigned long long)*u);
    } else {
        int64_t v = std::get<int64_t>(arg);
        if (conv == 'u' && v < 0 && v >= INT32_MIN)
            v = int64_t(uint32_t(int32_t(v)));
        fmt += "lld";
        std::snprintf(buf, sizeof buf, fmt.c_str(), (long long)v);
    }
    return Widen(buf);
}

} // namespace

std::u16string FormatV(std::u16string_view pattern, const std::vector<TNuvFormatArg>& args) {
    std::u16string out;
    out.reserve(pattern.size() + 16 * args.size());
    size_t next = 0;
    for (size_t i = 0; i < pattern.size(); ++i) {
        const char16_t c = pattern[i];
        if (c != u'%' || i + 1 >= pattern.size()) {
            out += c;
            continue;
        }
        size_t j = i + 1;
        if (pattern[j] == u'%') {
            out += u'%';
            i = j;
            continue;
        }
        Spec spec;
        for (; j < pattern.size() && (pattern[j] == u'-' || pattern[j] == u'0'); ++j)
            (pattern[j] == u'-' ? spec.left : spec.zero) = true;
        for (; j < pattern.size() && pattern[j] >= u'0' && pattern[j] <= u'9'; ++j)
            spec.width = std::max(spec.width, 0) * 10 + (pattern[j] - u'0');
        if (j < pattern.size() && pattern[j] == u'.') {
            spec.precision = 0;
            for (++j; j < pattern.size() && pattern[j] >= u'0' && pattern[j] <= u'9'; ++j)
                spec.precision = spec.precision * 10 + (pattern[j] - u'0');
        }
        spec.width = std::min(spec.width, 4096);
        if (j >= pattern.size()) {
            out += pattern.substr(i);
            break;
        }
        const char16_t conv = pattern[j];
        static constexpr std::u16string_view conversions = u"duxXfgesc";
        if (conversions.find(conv) == std::u16string_view::npos) {
            out += pattern.substr(i, j - i + 1);
            i = j;
            continue;
        }
        i = j;
        if (next >= args.size())
            continue; // a missing argument writes nothing
        const TNuvFormatArg& arg = args[next++];
        if (auto s = std::get_if<std::u16string_view>(&arg)) {
            std::u16string_view body = *s;
            if (conv == u's' && spec.precision >= 0)
                body = body.substr(0, size_t(spec.precision));
            Pad(out, body, spec, false);
        } else if (conv == u's' || conv == u'c') {
            if (conv == u'c') {
                std::u16string ch(1, char16_t(std::get_if<int64_t>(&arg) ? *std::get_if<int64_t>(&arg) : 0));
                Pad(out, ch, spec, false);
            } else {
                Pad(out, Number(arg, std::holds_alternative<double>(arg) ? 'g' : 'd', Spec{}), spec, false);
            }
        } else {
            Pad(out, Number(arg, char(conv), spec), spec, true);
        }
    }
    return out;
}

std::u16string IntToStr(int64_t value) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, value);
    return Widen(std::string_view(buf, size_t(r.ptr - buf)));
}

bool TryStrToInt(std::u16string_view text, int64_t& value) {
    size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+'))
        negative = text[i++] == u'-';
    const size_t digits = i;
    uint64_t v = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        const uint64_t d = uint64_t(text[i] - u'0');
        if (v > (uint64_t(INT64_MAX) + (negative ? 1 : 0) - d) / 10)
            return false;
        v = v * 10 + d;
    }
    if (i == digits)
        return false;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t'))
        ++i;
    if (i != text.size())
        return false;
    value = negative ? int64_t(0 - v) : int64_t(v);
    return true;
}

int64_t StrToIntDef(std::u16string_view text, int64_t fallback) {
    int64_t v = fallback;
    return TryStrToInt(text, v) ? v : fallback;
}

bool IsAscii(std::u16string_view text) {
    for (const char16_t c : text)
        if (c >= 0x80)
            return false;
    return true;
}

std::u16string AsciiUpper(std::u16string_view text) {
    std::u16string out(text);
    for (auto& c : out)
        if (c >= u'a' && c <= u'z')
            c = char16_t(c - 32);
    return out;
}

std::u16string AsciiLower(std::u16string_view text) {
    std::u16string out(text);
    for (auto& c : out)
        if (c >= u'A' && c <= u'Z')
            c = char16_t(c + 32);
    return out;
}

namespace {
char16_t FoldAscii(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c;
}
} // namespace

bool SameTextAscii(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (FoldAscii(a[i]) != FoldAscii(b[i]))
            return false;
    return true;
}

bool StartsTextAscii(std::u16string_view prefix, std::u16string_view text) {
    return text.size() >= prefix.size() && SameTextAscii(prefix, text.substr(0, prefix.size()));
}

bool EndsTextAscii(std::u16string_view suffix, std::u16string_view text) {
    return text.size() >= suffix.size() && SameTextAscii(suffix, text.substr(text.size() - suffix.size()));
}

std::u16string Trim(std::u16string_view text) {
    size_t b = 0, e = text.size();
    while (b < e && text[b] <= u' ')
        ++b;
    while (e > b && text[e - 1] <= u' ')
        --e;
    return std::u16string(text.substr(b, e - b));
}

std::vector<std::u16string> Split(std::u16string_view text, std::u16string_view separator) {
    std::vector<std::u16string> items;
    if (separator.empty()) {
        items.emplace_back(text);
        return items;
    }
    size_t start = 0;
    for (;;) {
        const size_t at = text.find(separator, start);
        if (at == std::u16string_view::npos) {
            items.emplace_back(text.substr(start));
            return items;
        }
        items.emplace_back(text.substr(start, at - start));
        start = at + separator.size();
    }
}

std::u16string Join(const std::vector<std::u16string>& items, std::u16string_view separator) {
    std::u16string out;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i)
            out += separator;
        out += items[i];
    }
    return out;
}

std::u16string ReplaceAll(std::u16string_view text, std::u16string_view from, std::u16string_view to) {
    if (from.empty())
        return std::u16string(text);
    std::u16string out;
    size_t start = 0;
    for (;;) {
        const size_t at = text.find(from, start);
        if (at == std::u16string_view::npos) {
            out += text.substr(start);
            return out;
        }
        out += text.substr(start, at - start);
        out += to;
        start = at + from.size();
    }
}

std::string EncodeBase64(std::string_view bytes) {
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const uint32_t v = (uint32_t(p[i]) << 16) | (uint32_t(p[i + 1]) << 8) | p[i + 2];
        out += alphabet[v >> 18];
        out += alphabet[(v >> 12) & 63];
        out += alphabet[(v >> 6) & 63];
        out += alphabet[v & 63];
    }
    if (const size_t rest = bytes.size() - i; rest > 0) {
        const uint32_t v = (uint32_t(p[i]) << 16) | (rest == 2 ? uint32_t(p[i + 1]) << 8 : 0);
        out += alphabet[v >> 18];
        out += alphabet[(v >> 12) & 63];
        out += rest == 2 ? alphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}
