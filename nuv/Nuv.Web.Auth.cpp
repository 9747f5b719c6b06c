#include "nuv/Nuv.Web.Auth.h"

#include "nuv/Nuv.Streams.h"
#include "nuv/Nuv.Strings.h"

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>
#include <rapidjson/pointer.h>

#include <algorithm>

namespace {

using TValue = rapidjson::Value;

const TValue* AsValue(const void* p) {
    return static_cast<const TValue*>(p);
}

// Numbers stay as written (no rounding of "1e2" or "128.0").
constexpr unsigned kParseFlags = rapidjson::kParseNumbersAsStringsFlag;
// Nesting the recursive parser may take on the call stack; deeper documents are parsed again by
// the iterative parser, which keeps nesting off the stack but is much slower.
constexpr unsigned kRecursionBound = 256;

// The document's own event handler, refusing nesting beyond the bound.
struct TBoundedHandler {
    rapidjson::Document& Document;
    unsigned Depth = 0;

    bool Null() { return Document.Null(); }
    bool Bool(bool b) { return Document.Bool(b); }
    bool Int(int i) { return Document.Int(i); }
    bool Uint(unsigned i) { return Document.Uint(i); }
    bool Int64(int64_t i) { return Document.Int64(i); }
    bool Uint64(uint64_t i) { return Document.Uint64(i); }
    bool Double(double d) { return Document.Double(d); }
    bool RawNumber(const char* text, rapidjson::SizeType length, bool copy) {
        return Document.RawNumber(text, length, copy);
    }
    bool String(const char* text, rapidjson::SizeType length, bool copy) {
        return Document.String(text, length, copy);
    }
    bool Key(const char* text, rapidjson::SizeType length, bool copy) {
        return Document.Key(text, length, copy);
    }
    bool StartObject() { return ++Depth <= kRecursionBound && Document.StartObject(); }
    bool EndObject(rapidjson::SizeType count) { return --Depth, Document.EndObject(count); }
    bool StartArray() { return ++Depth <= kRecursionBound && Document.StartArray(); }
    bool EndArray(rapidjson::SizeType count) { return --Depth, Document.EndArray(count); }
};

} // namespace

struct TNuvJSONDocument::TImpl {
    rapidjson::Document Document;
};

TNuvJSONDocument::TNuvJSONDocument(std::unique_ptr<TImpl> impl) : FImpl(std::move(impl)) {}
TNuvJSONDocument::~TNuvJSONDocument() = default;

TNuvJSONNode TNuvJSONDocument::Root() const {
    return TNuvJSONNode(static_cast<const TValue*>(&FImpl->Document));
}

// ---- nodes

bool TNuvJSONNode::IsNull() const {
    return FValue && AsValue(FValue)->IsNull();
}

bool TNuvJSONNode::IsObject() const {
    return FValue && AsValue(FValue)->IsObject();
}

bool TNuvJSONNode::IsArray() const {
    return FValue && AsValue(FValue)->IsArray();
}

bool TNuvJSONNode::IsString() const {
    return FValue && AsValue(FValue)->IsString();
}

bool TNuvJSONNode::IsBool() const {
    return FValue && AsValue(FValue)->IsBool();
}

size_t TNuvJSONNode::Count() const {
    if (IsObject())
        return AsValue(FValue)->MemberCount();
    if (IsArray())
        return AsValue(FValue)->Size();
    return 0;
}

TNuvJSONNode TNuvJSONNode::Item(size_t index) const {
    if (index >= Count())
        return {};
    const TValue& v = *AsValue(FValue);
    if (v.IsArray())
        return TNuvJSONNode(&v[rapidjson::SizeType(index)]);
    return TNuvJSONNode(&(v.MemberBegin() + index)->value);
}

std::u16string TNuvJSONNode::Name(size_t index) const {
    return FromUtf8(NameBytes(index));
}

std::string_view TNuvJSONNode::NameBytes(size_t index) const {
    if (!IsObject() || index >= Count())
        return {};
    const TValue& name = (AsValue(FValue)->MemberBegin() + index)->name;
    return {name.GetString(), name.GetStringLength()};
}

TNuvJSONNode TNuvJSONNode::Member(std::u16string_view name) const {
    if (!IsObject())
        return {};
    const std::string key = ToUtf8(name);
    const TValue& v = *AsValue(FValue);
    // Compared by length and bytes, so names holding "\u0000" match exactly.
    for (auto m = v.MemberBegin(); m != v.MemberEnd(); ++m)
        if (m->name.GetStringLength() == key.size() &&
            std::equal(key.begin(), key.end(), m->name.GetString()))
            return TNuvJSONNode(&m->value);
    return {};
}

TNuvJSONNode TNuvJSONNode::Find(std::u16string_view path) const {
    if (!FValue)
        return {};
    std::string text = ToUtf8(path);
    if (!text.empty() && text[0] != '/')
        text.insert(text.begin(), '/');
    const rapidjson::Pointer pointer(text.data(), text.size());
    if (!pointer.IsValid())
        return {};
    return TNuvJSONNode(pointer.Get(*AsValue(FValue)));
}

std::u16string TNuvJSONNode::Text() const {
    return FromUtf8(TextBytes());
}

std::string_view TNuvJSONNode::TextBytes() const {
    if (!FValue)
        return {};
    const TValue& v = *AsValue(FValue);
    switch (v.GetType()) {
    case rapidjson::kStringType: // numbers too: the parser keeps them as their text
        return {v.GetString(), v.GetStringLength()};
    case rapidjson::kTrueType:
        return "true";
    case rapidjson::kFalseType:
        return "false";
    case rapidjson::kNullType:
        return "null";
    default:
        return {};
    }
}

// ---- entry points

std::unique_ptr<TNuvJSONDocument> JSON::Parse(std::string_view bytes, std::u16string* reason) {
    if (std::u16string refused = NuvDocumentSizeRefusal(int64_t(bytes.size())); !refused.empty()) {
        if (reason)
            *reason = std::move(refused);
        return nullptr;
    }
    const size_t bom = bytes.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    bytes.remove_prefix(bom);
    auto impl = std::make_unique<TNuvJSONDocument::TImpl>();
    // The fast recursive parser first; any failure (too deep, or not JSON at all) is decided by
    // the iterative parser, so deep documents parse and every reason is the same as before.
    bool parsed = false;
    const auto recursive = [&](rapidjson::Document& document) {
        rapidjson::MemoryStream memory(bytes.data(), bytes.size());
        rapidjson::EncodedInputStream<rapidjson::UTF8<>, rapidjson::MemoryStream> input(memory);
        TBoundedHandler handler{document};
        parsed = !rapidjson::Reader().Parse<kParseFlags>(input, handler).IsError();
        return parsed;
    };
    impl->Document.Populate(recursive);
    if (!parsed) {
        // A fresh document: the pool of the abandoned attempt would double what is held.
        impl = std::make_unique<TNuvJSONDocument::TImpl>();
        impl->Document.Parse<kParseFlags | rapidjson::kParseIterativeFlag>(bytes.data(), bytes.size());
    }
    if (impl->Document.HasParseError()) {
        if (reason)
            *reason = bytes.find_first_not_of(" \t\r\n") == std::string_view::npos
                          ? std::u16string(u"the document is empty")
                          : Format(u"not a JSON document: %s (at byte %d)",
                                   FromUtf8(rapidjson::GetParseError_En(impl->Document.GetParseError())),
                                   int64_t(impl->Document.GetErrorOffset() + bom));
        return nullptr;
    }
    return std::unique_ptr<TNuvJSONDocument>(new TNuvJSONDocument(std::move(impl)));
}

std::unique_ptr<TNuvJSONDocument> JSON::Parse(TNuvStream& stream, std::u16string* reason) {
    // A document already in memory is parsed where it is rather than copied first.
    if (const auto* memory = dynamic_cast<const TNuvMemoryStream*>(&stream))
        return Parse(memory->View(), reason);
    // Refused before a byte of it is held.
    if (std::u16string refused = NuvDocumentSizeRefusal(stream.Size()); !refused.empty()) {
        if (reason)
            *reason = std::move(refused);
        return nullptr;
    }
    stream.SetPosition(0);
    const std::string bytes = stream.ReadAll();
    return Parse(std::string_view(bytes), reason);
}

bool JSON::TryGetValue(const TNuvJSONNode& node, std::u16string_view nameOrPath, std::u16string& text) {
    TNuvJSONNode found;
    if (node.IsObject())
        found = node.Member(nameOrPath);
    else if (node && !node.IsNull())
        found = node.Find(nameOrPath);
    if (!found)
        return false;
    text = found.Text();
    return true;
}

std::u16string JSON::Value(const TNuvJSONNode& node, std::u16string_view name) {
    std::u16string text;
    return TryGetValue(node, name, text) ? text : std::u16string();
}
