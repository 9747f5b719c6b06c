// The JSON utility on any bytes: parsing, then every node reached by walking the document and by
// a path taken from the input itself.

#include "nuv/Nuv.Strings.h"
#include "nuv/Nuv.Web.Auth.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Visits every node without recursion: a hostile document may be nested very deeply.
void Walk(const TNuvJSONNode& root, std::u16string_view path) {
    std::vector<TNuvJSONNode> pending{root};
    size_t visited = 0;
    while (!pending.empty()) {
        const TNuvJSONNode node = pending.back();
        pending.pop_back();
        ++visited;
        (void)node.Text();
        (void)node.IsNull();
        std::u16string text;
        JSON::TryGetValue(node, path, text);
        const size_t count = node.Count();
        for (size_t i = 0; i < count; ++i) {
            if (node.IsObject()) {
                (void)node.NameBytes(i);
                (void)node.Member(node.Name(i));
            }
            pending.push_back(node.Item(i));
        }
        // Out of range gives an empty node.
        if (node.Item(count))
            __builtin_trap();
    }
    (void)visited;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::u16string reason;
    const std::unique_ptr<TNuvJSONDocument> document = JSON::Parse(bytes, &reason);
    if (!document) {
        // A refused document always says why.
        if (reason.empty())
            __builtin_trap();
        return 0;
    }
    // A path from the first bytes, so that look-ups by path see odd pointers too.
    const std::u16string path = FromUtf8(bytes.substr(0, std::min<size_t>(size, 24)));
    Walk(document->Root(), path);
    (void)document->Root().Find(path);
    return 0;
}
