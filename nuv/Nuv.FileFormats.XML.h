#pragma once
// An in-memory XML document: a tree of nodes with a name, a value, attributes and children,
// loaded from text XML or from the binary forms "SXML" and "BXML", saved as text XML or "SXML".
// Malformed or truncated input never raises: loading stops at the first fault and keeps what it
// built. Nothing here recurses, so trees of any depth load, compare, save and free.
//
// Thread-safety: a document is used by one thread at a time.

#include "nuv/Nuv.Exceptions.h"
#include "nuv/Nuv.Streams.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// A second top-level node in a document that allows one: "Only one Root available".
class ENuvXMLDocument : public Exception {
public:
    using Exception::Exception;
};

struct TNuvXMLAttribute {
    std::u16string Name;
    std::u16string Value;
};

// Attributes in document order; names are looked up ignoring the case of ASCII letters only.
class TNuvXMLAttributes {
public:
    size_t Count() const { return FItems.size(); }
    const TNuvXMLAttribute& operator[](size_t index) const { return FItems[index]; }
    auto begin() const { return FItems.begin(); }
    auto end() const { return FItems.end(); }
    // Appends an attribute, even when one of that name exists.
    TNuvXMLAttribute& Add(std::u16string_view name, std::u16string_view value);
    // The first attribute of that name, or null.
    const TNuvXMLAttribute* Find(std::u16string_view name) const;
    // Its value, or "" when there is none.
    std::u16string GetValue(std::u16string_view name) const;
    // Replaces the value of the first attribute of that name, or appends one.
    void SetValue(std::u16string_view name, std::u16string_view value);
    void Clear() { FItems.clear(); }

private:
    std::vector<TNuvXMLAttribute> FItems;
};

class TNuvXMLNode {
public:
    TNuvXMLNode() = default;
    // Frees the whole subtree.
    virtual ~TNuvXMLNode();
    TNuvXMLNode(const TNuvXMLNode&) = delete;
    TNuvXMLNode& operator=(const TNuvXMLNode&) = delete;

    // A new last child of that name.
    virtual TNuvXMLNode& Add(std::u16string_view nodeName);
    // Frees all children.
    virtual void Clear();

    size_t Count() const { return FChildren.size(); }
    TNuvXMLNode& operator[](size_t index) const { return *FChildren[index]; }
    TNuvXMLNode* Parent() const { return FParent; }
    // Moves this node to the end of `parent`'s children; does nothing when `parent` is this node,
    // its parent already, or one of its descendants.
    void SetParent(TNuvXMLNode* parent);
    // Same class, attributes (same count, equal value under each name), name, value, and equal
    // children in order.
    bool Equals(const TNuvXMLNode& other) const;

    TNuvXMLAttributes Attributes;
    std::u16string NodeName;
    std::u16string NodeValue;

protected:
    TNuvXMLNode& Append(std::unique_ptr<TNuvXMLNode> child);

private:
    std::vector<std::unique_ptr<TNuvXMLNode>> FChildren;
    TNuvXMLNode* FParent = nullptr;
};

class TNuvXMLDocument : public TNuvXMLNode {
public:
    // A top-level node; a second one raises ENuvXMLDocument unless AllowMultipleRoots.
    TNuvXMLNode& Add(std::u16string_view nodeName) override;
    void Clear() override;
    // Replaces the content with the stream's document (text XML, "SXML" or "BXML"). Text is
    // decoded with `defaultEncoding` when it names one, else by what the document says.
    virtual void LoadFromStream(TNuvStream& stream, std::u16string_view defaultEncoding = {});
    // The high byte of `options` chooses the form: 0 "SXML", 1 text XML; for text, byte 1 (not 0)
    // puts attributes on new lines and byte 2 (not 0) indents.
    virtual void SaveToStream(TNuvStream& stream, uint32_t options = 0);

    bool AllowMultipleRoots = false;

    static constexpr uint32_t SaveBinary = 0;
    static constexpr uint32_t SaveText = 0x01000000;
    static constexpr uint32_t SaveAttributesOnNewLines = 0x00000100;
    static constexpr uint32_t SaveIndented = 0x00010000;

private:
    void LoadText(TNuvStream& stream, std::u16string_view defaultEncoding);
    void LoadSXML(const std::vector<uint8_t>& data);
    void LoadBXML(const std::vector<uint8_t>& data);
    void SaveAsText(TNuvStream& stream, uint32_t options);
    void SaveAsSXML(TNuvStream& stream);
};
