#pragma once
// A small JSON document model for the catalogue sources: parse UTF-8 bytes, walk objects (members
// in document order) and arrays, read any scalar as the text it was written as.
//
// Thread-safety: a document and its nodes may be read from several threads at once; nothing
// here changes a parsed document.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

class TNuvStream;

// A non-owning view of one value inside a TNuvJSONDocument; valid while the document lives.
// A default node stands for "no value" and answers like an absent member.
class TNuvJSONNode {
public:
    TNuvJSONNode() = default;

    // True for a node that refers to a value (which may be JSON null).
    explicit operator bool() const { return FValue != nullptr; }
    bool IsNull() const;
    bool IsObject() const;
    bool IsArray() const;
    // A string or a number (numbers are kept as the text they were written as).
    bool IsString() const;
    bool IsBool() const;

    // Members of an object or elements of an array; 0 for anything else.
    size_t Count() const;
    // Element of an array, or value of the i-th member of an object; an empty node when out of range.
    TNuvJSONNode Item(size_t index) const;
    // Name of the i-th member of an object; empty otherwise.
    std::u16string Name(size_t index) const;
    // The same name as the UTF-8 bytes of the document, without converting them: for readers
    // that match many members against a few known names. Valid while the document lives.
    std::string_view NameBytes(size_t index) const;
    // The first member with this name of an object; an empty node otherwise.
    TNuvJSONNode Member(std::u16string_view name) const;
    // The value at a JSON Pointer path below this node ("/items/0/name"; the leading "/" may be
    // left out); an empty node when the path is malformed or leads nowhere.
    TNuvJSONNode Find(std::u16string_view path) const;
    // Plain text: a string without quotes, a number as written, "true", "false", "null"; empty
    // for an object, an array or an empty node.
    std::u16string Text() const;
    // The same text as the UTF-8 bytes of the document, without converting them: for readers
    // that convert only some of what they look at. Valid while the document lives.
    std::string_view TextBytes() const;

private:
    friend class TNuvJSONDocument;
    explicit TNuvJSONNode(const void* value) : FValue(value) {}
    const void* FValue = nullptr;
};

// A parsed document; owns every value its nodes refer to.
class TNuvJSONDocument {
public:
    ~TNuvJSONDocument();
    TNuvJSONDocument(const TNuvJSONDocument&) = delete;
    TNuvJSONDocument& operator=(const TNuvJSONDocument&) = delete;

    // The top value; valid as long as the document.
    TNuvJSONNode Root() const;

private:
    friend class JSON;
    struct TImpl;
    explicit TNuvJSONDocument(std::unique_ptr<TImpl> impl);
    std::unique_ptr<TImpl> FImpl;
};

// Entry points used by the catalogue sources.
class JSON {
public:
    JSON() = delete;

    // Reads the whole stream from its start and parses it as UTF-8 JSON (a leading byte-order
    // mark is skipped); null when the text is not valid JSON or the stream is larger than
    // NuvMaxDocumentSize, with the reason in `reason` when one is given. Nesting depth does not
    // use the call stack, so hostile documents cannot overflow it.
    static std::unique_ptr<TNuvJSONDocument> Parse(TNuvStream& stream, std::u16string* reason = nullptr);
    // Same, from bytes in memory.
    static std::unique_ptr<TNuvJSONDocument> Parse(std::string_view bytes, std::u16string* reason = nullptr);

    // On an object, the member of that name; on any other non-null node, the value at that path
    // (see TNuvJSONNode::Find). The text is the value's plain text.
    static bool TryGetValue(const TNuvJSONNode& node, std::u16string_view nameOrPath, std::u16string& text);
    // TryGetValue, with an empty text when nothing is found.
    static std::u16string Value(const TNuvJSONNode& node, std::u16string_view name);
};
