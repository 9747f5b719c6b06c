#include "platform/Platform.Paths.h"

#include <string>
#include <vector>

namespace platform {

namespace {

bool IsAsciiAlnum(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
}

char16_t AsciiLowerChar(char16_t c) {
    return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c;
}

bool StartsWithFileScheme(std::u16string_view text) {
    static constexpr std::u16string_view scheme = u"file://";
    if (text.size() < scheme.size())
        return false;
    for (size_t i = 0; i < scheme.size(); ++i)
        if (AsciiLowerChar(text[i]) != scheme[i])
            return false;
    return true;
}

// Resolves "." and ".." segments after `keep` characters that are never climbed above (a root,
// a drive, a server and share). Separators are those `isSeparator` accepts; the output uses
// `separator`.
template <typename IsSep>
std::u16string NormalizeAfter(std::u16string_view name, size_t keep, IsSep isSeparator, char16_t separator) {
    std::u16string out(name.substr(0, keep));
    std::vector<size_t> starts; // where each kept segment begins in `out`
    size_t i = keep;
    const bool trailing = !name.empty() && isSeparator(name.back());
    while (i < name.size()) {
        size_t j = i;
        while (j < name.size() && !isSeparator(name[j]))
            ++j;
        const std::u16string_view segment = name.substr(i, j - i);
        if (segment == u"..") {
            if (!starts.empty()) {
                out.resize(starts.back());
                starts.pop_back();
            } else if (keep == 0) {
                // A relative name keeps the ".." it cannot resolve.
                out += u"..";
                out += separator;
            }
        } else if (!segment.empty() && segment != u".") {
            starts.push_back(out.size());
            out += segment;
            out += separator;
        }
        i = j + 1;
    }
    if (!trailing && out.size() > keep && isSeparator(out.back()))
        out.pop_back();
    return out;
}

} // namespace

bool HasUrlForm(std::u16string_view name) {
    if (name.size() <= 3)
        return false;
    size_t i = 0;
    while (i < name.size() && IsAsciiAlnum(name[i]))
        ++i;
    if (i + 2 >= name.size() || name[i] != u':')
        return false;
    const char16_t a = name[i + 1], b = name[i + 2];
    return a == b && (a == u'/' || a == u'\\');
}

// ---------------------------------------------------------------------------------------------

namespace posixpaths {

bool IsSeparator(char16_t c) {
    return c == u'/';
}

bool IsRelative(std::u16string_view name) {
    return !(!name.empty() && name[0] == u'/') && !HasUrlForm(name);
}

std::u16string Drive(std::u16string_view) {
    return {};
}

std::u16string Folder(std::u16string_view name) {
    const size_t at = name.rfind(u'/');
    return at == std::u16string_view::npos ? std::u16string() : std::u16string(name.substr(0, at + 1));
}

std::u16string WithTrailingSeparator(std::u16string_view name) {
    std::u16string out(name);
    if (!out.empty() && out.back() != u'/')
        out += u'/';
    return out;
}

std::u16string Normalize(std::u16string_view name) {
    if (HasUrlForm(name))
        return std::u16string(name);
    const size_t keep = !name.empty() && name[0] == u'/' ? 1 : 0;
    return NormalizeAfter(name, keep, IsSeparator, u'/');
}

bool StartsWithFolder(std::u16string_view folder, std::u16string_view name) {
    return name.substr(0, folder.size()) == folder;
}

bool SameFolder(std::u16string_view a, std::u16string_view b) {
    return a == b;
}

std::u16string FileUriToPath(std::u16string_view text, bool* isFileUri) {
    if (isFileUri)
        *isFileUri = false;
    if (!StartsWithFileScheme(text))
        return std::u16string(text);
    std::u16string_view rest = text.substr(7);
    if (rest.substr(0, 10) == u"localhost/")
        rest.remove_prefix(9);
    if (rest.empty() || rest[0] != u'/')
        return std::u16string(text); // another host's file: no local path
    if (isFileUri)
        *isFileUri = true;
    return std::u16string(rest);
}

std::u16string PathToFileUri(std::u16string_view path) {
    if (HasUrlForm(path) || path.empty() || path[0] != u'/')
        return std::u16string(path);
    return u"file://" + std::u16string(path);
}

std::u16string ToNative(std::u16string_view name) {
    return std::u16string(name);
}

} // namespace posixpaths

// ---------------------------------------------------------------------------------------------

namespace windowspaths {

bool IsSeparator(char16_t c) {
    return c == u'\\' || c == u'/';
}

bool IsRelative(std::u16string_view name) {
    if (name.size() >= 2 && name[1] == u':')
        return false;
    if (name.size() >= 2 && name[0] == u'\\' && name[1] == u'\\')
        return false;
    return !HasUrlForm(name);
}

std::u16string Drive(std::u16string_view name) {
    if (name.substr(0, 4) == u"\\\\?\\")
        name.remove_prefix(4);
    if (name.size() >= 2 && name[1] == u':')
        return std::u16string(name.substr(0, 2));
    if (name.size() >= 2 && name[0] == u'\\' && name[1] == u'\\') {
        const size_t server = name.find(u'\\', 2);
        if (server == std::u16string_view::npos)
            return {};
        const size_t share = name.find(u'\\', server + 1);
        return std::u16string(name.substr(0, share));
    }
    return {};
}

std::u16string Folder(std::u16string_view name) {
    const size_t at = name.find_last_of(u":\\/");
    return at == std::u16string_view::npos ? std::u16string() : std::u16string(name.substr(0, at + 1));
}

std::u16string WithTrailingSeparator(std::u16string_view name) {
    std::u16string out(name);
    if (!out.empty() && !IsSeparator(out.back()))
        out += u'\\';
    return out;
}

std::u16string Normalize(std::u16string_view name) {
    if (HasUrlForm(name))
        return std::u16string(name);
    // Made native first, so that the part kept as it is (a root, a drive, a server and share)
    // has the same separators as the rest.
    const std::u16string native = ToNative(name);
    size_t keep = 0;
    const std::u16string drive = Drive(native);
    if (!drive.empty()) {
        keep = native.find(drive) + drive.size();
        if (keep < native.size() && native[keep] == kSeparator)
            ++keep;
    } else if (!native.empty() && native[0] == kSeparator)
        keep = 1;
    return NormalizeAfter(native, keep, IsSeparator, kSeparator);
}

bool StartsWithFolder(std::u16string_view folder, std::u16string_view name) {
    if (name.size() < folder.size())
        return false;
    for (size_t i = 0; i < folder.size(); ++i)
        if (AsciiLowerChar(folder[i]) != AsciiLowerChar(name[i]) &&
            !(IsSeparator(folder[i]) && IsSeparator(name[i])))
            return false;
    return true;
}

bool SameFolder(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() && StartsWithFolder(a, b);
}

std::u16string FileUriToPath(std::u16string_view text, bool* isFileUri) {
    if (isFileUri)
        *isFileUri = false;
    if (!StartsWithFileScheme(text))
        return std::u16string(text);
    if (isFileUri)
        *isFileUri = true;
    std::u16string_view rest = text.substr(7);
    std::u16string out;
    if (rest.substr(0, 10) == u"localhost/")
        rest.remove_prefix(9);
    if (rest.substr(0, 2) == u"//")
        out = u"//" + std::u16string(rest.substr(2)); // file:////server/share: a UNC name
    else if (!rest.empty() && rest[0] == u'/')
        out = rest.substr(1); // file:///C:/x
    else
        out = u"//" + std::u16string(rest); // file://server/share/x
    for (char16_t& c : out)
        if (c == u'/')
            c = u'\\';
    return out;
}

std::u16string PathToFileUri(std::u16string_view path) {
    if (HasUrlForm(path))
        return std::u16string(path);
    std::u16string out(path);
    for (char16_t& c : out)
        if (c == u'\\')
            c = u'/';
    if (IsRelative(path))
        return out;
    return (!out.empty() && out[0] == u'/' ? u"file://" : u"file:///") + out;
}

std::u16string ToNative(std::u16string_view name) {
    std::u16string out(name);
    if (!HasUrlForm(name))
        for (char16_t& c : out)
            if (c == u'/')
                c = u'\\';
    return out;
}

} // namespace windowspaths

} // namespace platform
