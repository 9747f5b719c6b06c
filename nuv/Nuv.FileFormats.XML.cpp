#include "nuv/Nuv.FileFormats.XML.h"

#include "nuv/Nuv.FileFormats.XML.Reader.h"
#include "nuv/Nuv.FileFormats.XML.Writer.h"
#include "platform/Platform.Encoding.h"

#include <algorithm>
#include <cstring>
#include <typeinfo>
#include <unordered_map>

namespace {

bool SameAsciiCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i], y = b[i];
        if (x >= u'A' && x <= u'Z')
            x = char16_t(x + 32);
        if (y >= u'A' && y <= u'Z')
            y = char16_t(y + 32);
        if (x != y)
            return false;
    }
    return true;
}

// Reads the binary forms; every count and length is held against the bytes that remain before
// anything is read or allocated for it, so hostile numbers end the load instead of the process.
class TCursor {
public:
    TCursor(const uint8_t* begin, const uint8_t* end) : FPos(begin), FEnd(end) {}
    size_t Left() const { return size_t(FEnd - FPos); }
    const uint8_t* Position() const { return FPos; }

    bool Byte(uint8_t& value) {
        if (FPos == FEnd)
            return false;
        value = *FPos++;
        return true;
    }
    bool Varint(uint64_t& value) {
        value = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            uint8_t b;
            if (!Byte(b))
                return false;
            value |= uint64_t(b & 0x7F) << shift;
            if (!(b & 0x80))
                return shift < 63 || (b & 0x7F) <= 1;
        }
        return false;
    }
    template <typename T> bool Fixed(T& value) {
        if (Left() < sizeof(T))
            return false;
        uint64_t v = 0;
        for (size_t i = 0; i < sizeof(T); ++i)
            v |= uint64_t(FPos[i]) << (8 * i);
        FPos += sizeof(T);
        value = T(v);
        return true;
    }
    bool Bytes(uint64_t count, std::string_view& out) {
        if (count > Left())
            return false;
        out = std::string_view(reinterpret_cast<const char*>(FPos), size_t(count));
        FPos += count;
        return true;
    }
    bool Units(uint64_t count, std::u16string& out) {
        if (count > Left() / 2)
            return false;
        out.resize(size_t(count));
        for (size_t i = 0; i < count; ++i)
            out[i] = char16_t(FPos[2 * i] | (FPos[2 * i + 1] << 8));
        FPos += 2 * count;
        return true;
    }

private:
    const uint8_t* FPos;
    const uint8_t* FEnd;
};

class TBytes {
public:
    void Varint(uint64_t value) {
        while (value >= 0x80) {
            FData += char(0x80 | (value & 0x7F));
            value >>= 7;
        }
        FData += char(value);
    }
    void Byte(uint8_t value) { FData += char(value); }
    void Units(std::u16string_view text) {
        Varint(text.size());
        for (char16_t c : text) {
            FData += char(c & 0xFF);
            FData += char(c >> 8);
        }
    }
    void Raw(std::string_view bytes) { FData += bytes; }
    const std::string& Data() const { return FData; }

private:
    std::string FData;
};

} // namespace

// ---------------------------------------------------------------------------------------------
// Attributes

TNuvXMLAttribute& TNuvXMLAttributes::Add(std::u16string_view name, std::u16string_view value) {
    FItems.push_back({std::u16string(name), std::u16string(value)});
    return FItems.back();
}

const TNuvXMLAttribute* TNuvXMLAttributes::Find(std::u16string_view name) const {
    for (const TNuvXMLAttribute& a : FItems)
        if (SameAsciiCase(a.Name, name))
            return &a;
    return nullptr;
}

std::u16string TNuvXMLAttributes::GetValue(std::u16string_view name) const {
    const TNuvXMLAttribute* a = Find(name);
    return a ? a->Value : std::u16string();
}

void TNuvXMLAttributes::SetValue(std::u16string_view name, std::u16string_view value) {
    if (const TNuvXMLAttribute* a = Find(name))
        const_cast<TNuvXMLAttribute*>(a)->Value.assign(value);
    else
        Add(name, value);
}

// ---------------------------------------------------------------------------------------------
// Nodes

TNuvXMLNode::~TNuvXMLNode() {
    TNuvXMLNode::Clear();
}

void TNuvXMLNode::Clear() {
    // Level by level, so the depth of a tree costs heap, not stack.
    std::vector<std::unique_ptr<TNuvXMLNode>> pending = std::move(FChildren);
    FChildren.clear();
    while (!pending.empty()) {
        std::unique_ptr<TNuvXMLNode> node = std::move(pending.back());
        pending.pop_back();
        for (auto& child : node->FChildren)
            pending.push_back(std::move(child));
        node->FChildren.clear();
    }
}

TNuvXMLNode& TNuvXMLNode::Append(std::unique_ptr<TNuvXMLNode> child) {
    child->FParent = this;
    FChildren.push_back(std::move(child));
    return *FChildren.back();
}

TNuvXMLNode& TNuvXMLNode::Add(std::u16string_view nodeName) {
    auto child = std::make_unique<TNuvXMLNode>();
    child->NodeName.assign(nodeName);
    return Append(std::move(child));
}

void TNuvXMLNode::SetParent(TNuvXMLNode* parent) {
    // A node outside any tree has no owner we could take it from.
    if (!parent || !FParent || parent == this || parent == FParent)
        return;
    for (const TNuvXMLNode* up = parent; up; up = up->FParent)
        if (up == this)
            return;
    if (auto* document = dynamic_cast<TNuvXMLDocument*>(parent))
        if (!document->AllowMultipleRoots && document->Count() > 0)
            throw ENuvXMLDocument(u"Only one Root available");
    auto& siblings = FParent->FChildren;
    const auto at = std::find_if(siblings.begin(), siblings.end(),
                                 [&](const auto& child) { return child.get() == this; });
    std::unique_ptr<TNuvXMLNode> self = std::move(*at);
    siblings.erase(at);
    parent->Append(std::move(self));
}

bool TNuvXMLNode::Equals(const TNuvXMLNode& other) const {
    std::vector<std::pair<const TNuvXMLNode*, const TNuvXMLNode*>> pending{{this, &other}};
    while (!pending.empty()) {
        const auto [a, b] = pending.back();
        pending.pop_back();
        if (typeid(*a) != typeid(*b) || a->NodeName != b->NodeName || a->NodeValue != b->NodeValue ||
            a->Attributes.Count() != b->Attributes.Count() || a->Count() != b->Count())
            return false;
        for (const TNuvXMLAttribute& attribute : a->Attributes) {
            const TNuvXMLAttribute* match = b->Attributes.Find(attribute.Name);
            if (!match || match->Value != attribute.Value)
                return false;
        }
        for (size_t i = 0; i < a->Count(); ++i)
            pending.emplace_back(&(*a)[i], &(*b)[i]);
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Document

TNuvXMLNode& TNuvXMLDocument::Add(std::u16string_view nodeName) {
    if (!AllowMultipleRoots && Count() > 0)
        throw ENuvXMLDocument(u"Only one Root available");
    return TNuvXMLNode::Add(nodeName);
}

void TNuvXMLDocument::Clear() {
    TNuvXMLNode::Clear();
}

void TNuvXMLDocument::LoadFromStream(TNuvStream& stream, std::u16string_view defaultEncoding) {
    Clear();
    const int64_t left = stream.Size() - stream.Position();
    if (left <= 3)
        return;
    char magic[4];
    stream.ReadBuffer(magic, 4);
    const bool sxml = std::memcmp(magic, "SXML", 4) == 0, bxml = std::memcmp(magic, "BXML", 4) == 0;
    if (!sxml && !bxml) {
        stream.Seek(-4, TNuvSeekOrigin::Current);
        LoadText(stream, defaultEncoding);
        return;
    }
    std::vector<uint8_t> data(size_t(left - 4));
    stream.ReadBuffer(data.data(), int64_t(data.size()));
    if (sxml)
        LoadSXML(data);
    else
        LoadBXML(data);
}

void TNuvXMLDocument::LoadText(TNuvStream& stream, std::u16string_view defaultEncoding) {
    TNuvXMLReaderSettings settings;
    settings.ValidateCharacters = false;
    settings.DefaultEncoding.assign(defaultEncoding);
    settings.SkipComments = true;
    settings.SkipWhitespace = true;
    settings.NamespaceAware = false;
    if (AllowMultipleRoots)
        settings.Conformance = TNuvXMLConformance::Fragment;
    TNuvXMLNode* current = this;
    try {
        TNuvXMLTextReader reader(settings, &stream);
        while (reader.Read()) {
            switch (reader.NodeType()) {
            case TNuvXMLNodeType::Element: {
                TNuvXMLNode& node = current->Add(reader.QualifiedName());
                while (reader.MoveToNextAttribute())
                    node.Attributes.Add(reader.QualifiedName(), reader.RawValueView());
                reader.MoveToElement();
                if (!reader.IsEmptyElement())
                    current = &node;
                break;
            }
            case TNuvXMLNodeType::Text:
            case TNuvXMLNodeType::CDATA:
            case TNuvXMLNodeType::SignificantWhitespace:
                current->NodeValue = reader.GetValue();
                break;
            case TNuvXMLNodeType::EndElement:
                if (current->Parent())
                    current = current->Parent();
                break;
            default:
                break;
            }
        }
    } catch (const Exception&) {
        // Malformed text ends the load; what was read stays.
    }
}

void TNuvXMLDocument::LoadSXML(const std::vector<uint8_t>& data) {
    TCursor header(data.data(), data.data() + data.size());
    int64_t blockLength;
    if (!header.Fixed(blockLength) || blockLength < 0 || uint64_t(blockLength) > header.Left())
        return;
    TCursor block(header.Position(), header.Position() + blockLength);
    TCursor table(header.Position() + blockLength, data.data() + data.size());
    uint64_t nameCount;
    if (!table.Varint(nameCount) || nameCount > table.Left())
        return;
    std::vector<std::u16string> names; // grown as names come, never reserved from the count
    for (uint64_t i = 0; i < nameCount; ++i) {
        uint64_t length;
        std::string_view bytes;
        if (!table.Varint(length) || !table.Bytes(length, bytes))
            return;
        names.push_back(platform::FromLegacy(bytes));
    }
    auto name = [&](std::u16string*& out) {
        uint64_t index;
        if (!block.Varint(index) || index >= names.size())
            return false;
        out = &names[size_t(index)];
        return true;
    };
    auto value = [&](std::u16string& out) {
        uint64_t length;
        return block.Varint(length) && block.Units(length, out);
    };
    // Each child takes at least a name index and a flags byte, each attribute a name index and a
    // length: a count above half the bytes left cannot be true.
    struct TFrame {
        TNuvXMLNode* Parent;
        uint64_t Left;
    };
    std::vector<TFrame> frames;
    uint64_t count;
    if (!block.Varint(count) || count > block.Left() / 2)
        return;
    frames.push_back({this, count});
    try {
        while (!frames.empty()) {
            if (frames.back().Left == 0) {
                frames.pop_back();
                continue;
            }
            --frames.back().Left;
            std::u16string* nodeName;
            uint8_t flags;
            if (!name(nodeName) || !block.Byte(flags))
                return;
            TNuvXMLNode& node = frames.back().Parent->Add(*nodeName);
            if ((flags & 4) && !value(node.NodeValue))
                return;
            if (flags & 1) {
                if (!block.Varint(count) || count > block.Left() / 2)
                    return;
                for (uint64_t i = 0; i < count; ++i) {
                    std::u16string* attributeName;
                    std::u16string attributeValue;
                    if (!name(attributeName) || !value(attributeValue))
                        return;
                    node.Attributes.Add(*attributeName, attributeValue);
                }
            }
            if (flags & 2) {
                if (!block.Varint(count) || count > block.Left() / 2)
                    return;
                frames.push_back({&node, count});
            }
        }
    } catch (const ENuvXMLDocument&) {
        // A second top-level node where one is allowed: the input is not a document of ours.
    }
}

void TNuvXMLDocument::LoadBXML(const std::vector<uint8_t>& data) {
    TCursor in(data.data(), data.data() + data.size());
    auto name = [&](std::u16string& out) {
        uint16_t length;
        std::string_view bytes;
        if (!in.Fixed(length) || !in.Bytes(length, bytes))
            return false;
        out = platform::FromLegacy(bytes);
        return true;
    };
    // A child needs at least a name length and a flags byte (3 bytes), an attribute a name length
    // and a value length (4 bytes).
    auto count = [&](uint64_t& out, size_t least) {
        int32_t n;
        if (!in.Fixed(n) || n < 0 || uint64_t(n) > in.Left() / least)
            return false;
        out = uint64_t(n);
        return true;
    };
    struct TFrame {
        TNuvXMLNode* Parent;
        uint64_t Left;
    };
    std::vector<TFrame> frames;
    uint64_t n;
    if (!count(n, 3))
        return;
    frames.push_back({this, n});
    std::u16string text, other;
    try {
        while (!frames.empty()) {
            if (frames.back().Left == 0) {
                frames.pop_back();
                continue;
            }
            --frames.back().Left;
            uint8_t flags;
            if (!name(text) || !in.Byte(flags))
                return;
            TNuvXMLNode& node = frames.back().Parent->Add(text);
            if (flags & 4) {
                int32_t length;
                if (!in.Fixed(length) || length < 0 || !in.Units(uint64_t(length), node.NodeValue))
                    return;
            }
            if (flags & 1) {
                if (!count(n, 4))
                    return;
                for (uint64_t i = 0; i < n; ++i) {
                    uint16_t length;
                    if (!name(text) || !in.Fixed(length) || !in.Units(length, other))
                        return;
                    node.Attributes.Add(text, other);
                }
            }
            if (flags & 2) {
                if (!count(n, 3))
                    return;
                frames.push_back({&node, n});
            }
        }
    } catch (const ENuvXMLDocument&) {
        // As for the newer form.
    }
}

void TNuvXMLDocument::SaveToStream(TNuvStream& stream, uint32_t options) {
    switch (options >> 24) {
    case 0:
        SaveAsSXML(stream);
        break;
    case 1:
        SaveAsText(stream, options);
        break;
    default:
        throw EArgumentError(u"Unknown document format");
    }
}

void TNuvXMLDocument::SaveAsText(TNuvStream& stream, uint32_t options) {
    TNuvXMLWriterSettings settings;
    settings.ValidateCharacters = false;
    settings.WellFormedChecks = false;
    settings.AttributesOnNewLines = ((options >> 8) & 0xFF) != 0;
    settings.Indented = ((options >> 16) & 0xFF) != 0;
    auto writer = CreateWriter(&stream, settings);
    writer->StartDocument(0);
    std::vector<std::pair<const TNuvXMLNode*, size_t>> pending{{this, 0}};
    while (!pending.empty()) {
        auto& [parent, next] = pending.back();
        if (next == parent->Count()) {
            if (parent != this)
                writer->EndElement();
            pending.pop_back();
            continue;
        }
        const TNuvXMLNode& node = (*parent)[next++];
        writer->StartElement(node.NodeName);
        for (const TNuvXMLAttribute& a : node.Attributes)
            writer->WriteAttribute(a.Name, a.Value);
        if (!node.NodeValue.empty())
            writer->WriteString(node.NodeValue);
        pending.emplace_back(&node, 0);
    }
    writer->EndDocument();
    writer->Close();
}

void TNuvXMLDocument::SaveAsSXML(TNuvStream& stream) {
    std::unordered_map<std::u16string, uint64_t> indexes;
    TBytes table, block;
    uint64_t nameCount = 0;
    auto name = [&](const std::u16string& text) {
        const auto [at, added] = indexes.emplace(text, nameCount);
        if (added) {
            const std::string bytes = platform::ToLegacy(text);
            table.Varint(bytes.size());
            table.Raw(bytes);
            ++nameCount;
        }
        block.Varint(at->second);
    };
    block.Varint(Count());
    std::vector<std::pair<const TNuvXMLNode*, size_t>> pending{{this, 0}};
    while (!pending.empty()) {
        auto& [parent, next] = pending.back();
        if (next == parent->Count()) {
            pending.pop_back();
            continue;
        }
        const TNuvXMLNode& node = (*parent)[next++];
        name(node.NodeName);
        block.Byte(uint8_t((node.Attributes.Count() ? 1 : 0) | (node.Count() ? 2 : 0) |
                           (node.NodeValue.empty() ? 0 : 4)));
        if (!node.NodeValue.empty())
            block.Units(node.NodeValue);
        if (node.Attributes.Count()) {
            block.Varint(node.Attributes.Count());
            for (const TNuvXMLAttribute& a : node.Attributes) {
                name(a.Name);
                block.Units(a.Value);
            }
        }
        if (node.Count()) {
            block.Varint(node.Count());
            pending.emplace_back(&node, 0);
        }
    }
    TBytes header;
    header.Raw("SXML");
    const uint64_t length = block.Data().size();
    for (int i = 0; i < 8; ++i)
        header.Byte(uint8_t(length >> (8 * i)));
    TBytes count;
    count.Varint(nameCount);
    stream.WriteBuffer(header.Data().data(), int64_t(header.Data().size()));
    stream.WriteBuffer(block.Data().data(), int64_t(block.Data().size()));
    stream.WriteBuffer(count.Data().data(), int64_t(count.Data().size()));
    stream.WriteBuffer(table.Data().data(), int64_t(table.Data().size()));
}
