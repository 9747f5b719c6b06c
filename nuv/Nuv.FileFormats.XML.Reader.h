#pragma once
// A forward-only pull reader for XML 1.0 text with namespaces. The caller asks for one node at a
// time (Read) and inspects the current one: its type, names, value and attributes. The reader
// decodes the input itself (byte-order marks, the encoding its declaration names), checks
// well-formedness as it goes and raises ENuvXMLException, with line and position, at the first
// problem. Document type declarations are skipped, not processed.
//
// Thread-safety: a reader is used by one thread at a time. A name table may be shared by
// readers on several threads: lookups never lock and never see a half-added name.

#include "nuv/Nuv.Classes.h"
#include "nuv/Nuv.FileFormats.XML.Types.h"
#include "nuv/Nuv.Streams.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace platform {
class TEncodingDecoder;
}

// Interned names ("atoms"): equal texts added to one table give the same stored string, so names
// are compared by address.
class TNuvXMLNameTable {
public:
    TNuvXMLNameTable();
    ~TNuvXMLNameTable();
    TNuvXMLNameTable(const TNuvXMLNameTable&) = delete;
    TNuvXMLNameTable& operator=(const TNuvXMLNameTable&) = delete;

    // The stored text equal to `text`, added when missing.
    const std::u16string& Add(std::u16string_view text);
    // The stored text equal to `text`, or the table's empty text when it was never added.
    const std::u16string& Find(std::u16string_view text) const;
    // The stored empty text.
    const std::u16string& Empty() const { return FEmpty; }
    // The table's hash: rotate left by 2 and exclusive-or each unit's low byte.
    static uint32_t Hash(std::u16string_view text);

private:
    struct TEntry {
        uint32_t Hash;
        std::u16string Text;
    };
    // The entries of one bucket, found through an open-addressing index on a second hash: names
    // made to share a bucket (the table's hash is easily steered) must not make every look-up walk
    // all of them. A full index is replaced by one twice the size; the old one stays readable
    // until the table goes, so a lookup on another thread never reads freed memory.
    struct TBucket {
        size_t Mask;
        size_t Count;
        std::unique_ptr<std::atomic<TEntry*>[]> Slots;
    };
    const TEntry* Lookup(std::u16string_view text, uint32_t hash, size_t spread) const;
    static size_t Spread(std::u16string_view text) { return std::hash<std::u16string_view>()(text); }
    std::atomic<TBucket*> FBuckets[256];
    std::vector<std::unique_ptr<TBucket>> FAllBuckets; // current and replaced indexes
    std::vector<std::unique_ptr<TEntry>> FEntries;
    std::mutex FInsertLock; // serialises additions; lookups need none
    std::u16string FEmpty;
};

// Namespace declarations in scope, innermost last. Prefixes and names are atoms of one table.
class TNuvXMLNamespaceManager {
public:
    explicit TNuvXMLNamespaceManager(TNuvXMLNameTable& names);
    // Declares prefix ("" for the default namespace) in the current scope. Raises
    // ENuvXMLArgumentException for the reserved prefixes and names.
    void AddNamespace(const std::u16string& prefix, const std::u16string& name);
    // The name bound to prefix, or none.
    const std::u16string* LookupNamespace(const std::u16string& prefix) const;
    void PushScope() { ++FScope; }
    // Forgets the declarations of the current scope.
    void PopScope();

private:
    struct TDeclaration {
        const std::u16string* Prefix;
        const std::u16string* Name;
        int32_t Scope;
        int32_t Previous; // index of the earlier declaration of the same prefix, or -1
    };
    void Push(const std::u16string& prefix, const std::u16string& name);
    TNuvXMLNameTable& FNames;
    std::vector<TDeclaration> FDeclarations;
    // Prefix to its innermost declaration; kept once more than 16 declarations are in scope.
    std::unordered_map<const std::u16string*, int32_t> FIndex;
    bool FIndexed = false;
    int32_t FScope = 0;
};

enum class TNuvXMLConformance : uint8_t { Auto = 0, Fragment = 1, Document = 2 };

struct TNuvXMLReaderSettings {
    // Reject characters outside the XML character range.
    bool ValidateCharacters = true;
    // Document: exactly one root element.
    TNuvXMLConformance Conformance = TNuvXMLConformance::Document;
    // Encoding name used when none is detected; empty for none.
    std::u16string DefaultEncoding;
    bool SkipComments = false;
    bool SkipProcessingInstructions = false;
    // White-space-only text outside xml:space="preserve" produces no node.
    bool SkipWhitespace = false;
    int32_t LineNumberBase = 0;
    int32_t LinePositionBase = 0; // added to positions on the first line
    // Limit on decoded characters; 0 for none.
    int64_t MaxCharactersInDocument = 0;
    // Shared name table; the reader makes its own when none.
    TNuvXMLNameTable* NameTable = nullptr;
    // Split prefixed names and resolve namespaces.
    bool NamespaceAware = true;
};

// One node of the reader.
struct TNuvXMLNodeData {
    TNuvXMLNodeType NodeType = TNuvXMLNodeType::None;
    int32_t Depth = 0;
    bool IsEmptyElement = false;
    bool PushedContext = false; // this element opened a TXmlContext
    char16_t QuoteChar = u'"';
    int32_t LineNumber = 0;
    int32_t LinePosition = 0;
    const std::u16string* LocalName = nullptr;
    const std::u16string* Prefix = nullptr;
    const std::u16string* NamespaceName = nullptr;
    // The value, once materialised; before that it lies in the reader's character buffer.
    std::u16string Value;
    size_t ValueStart = 0;
    size_t ValueLength = 0;
    bool ValueReady = true;
    bool PushedScope = false; // this element opened a namespace scope

    // The qualified name, made on first use.
    const std::u16string& QualifiedName(TNuvXMLNameTable& names) const {
        return FQualifiedName ? *FQualifiedName : MakeQualifiedName(names);
    }

private:
    friend class TNuvXMLTextReader;
    const std::u16string& MakeQualifiedName(TNuvXMLNameTable& names) const;
    mutable const std::u16string* FQualifiedName = nullptr;
};

// The reader's interface, in slot order.
class TNuvXMLReader {
public:
    virtual ~TNuvXMLReader() = default;
    // Value of the current node, trimmed of characters below 33 unless xml:space="preserve".
    virtual std::u16string GetValue() = 0;
    // Value of the current element's attribute with that local and namespace name, else "".
    virtual std::u16string GetAttribute(std::u16string_view localName, std::u16string_view namespaceName) = 0;
    // Namespace name bound to prefix in the current scope, else "".
    virtual std::u16string LookupNamespace(std::u16string_view prefix) = 0;
    // From an attribute back to its element.
    virtual bool MoveToElement() = 0;
    // To the next attribute of the current element (from the element: the first).
    virtual bool MoveToNextAttribute() = 0;
    // To the next node; false at the end of input.
    virtual bool Read() = 0;
    // Past the current element's subtree (one Read on anything else).
    virtual void Skip() = 0;
    // A name with ':' matches qualified names; any other, unprefixed local names.
    virtual bool TryGetAttribute(std::u16string_view name, std::u16string& value) = 0;
    // With a namespace name, by local and namespace name; without, by local name and prefix.
    virtual bool TryGetAttribute(std::u16string_view prefix, std::u16string_view localName,
                                 std::u16string_view namespaceName, std::u16string& value) = 0;
};

class TNuvXMLTextReader : public TNuvXMLReader {
public:
    // Reads `stream` (not owned) with the settings; a missing stream raises
    // ENuvXMLArgumentNullException "input".
    TNuvXMLTextReader(const TNuvXMLReaderSettings& settings, TNuvStream* stream);
    ~TNuvXMLTextReader() override;
    TNuvXMLTextReader(const TNuvXMLTextReader&) = delete;
    TNuvXMLTextReader& operator=(const TNuvXMLTextReader&) = delete;

    std::u16string GetValue() override;
    std::u16string GetAttribute(std::u16string_view localName, std::u16string_view namespaceName) override;
    std::u16string LookupNamespace(std::u16string_view prefix) override;
    bool MoveToElement() override;
    bool MoveToNextAttribute() override;
    bool Read() override;
    void Skip() override;
    bool TryGetAttribute(std::u16string_view name, std::u16string& value) override;
    bool TryGetAttribute(std::u16string_view prefix, std::u16string_view localName,
                         std::u16string_view namespaceName, std::u16string& value) override;

    // The current node.
    const TNuvXMLNodeData& Node() const { return FNodes[FCurrent]; }
    TNuvXMLNodeType NodeType() const { return FNodes[FCurrent].NodeType; }
    int32_t Depth() const { return FNodes[FCurrent].Depth; }
    const std::u16string& LocalName() const { return *FNodes[FCurrent].LocalName; }
    const std::u16string& Prefix() const { return *FNodes[FCurrent].Prefix; }
    const std::u16string& NamespaceName() const { return *FNodes[FCurrent].NamespaceName; }
    const std::u16string& QualifiedName() const { return FNodes[FCurrent].QualifiedName(*FNameTable); }
    bool IsEmptyElement() const { return FNodes[FCurrent].IsEmptyElement; }
    int32_t AttributeCount() const { return FAttributeCount; }
    // The value as GetValue gives it, without a copy; valid until the next Read.
    std::u16string_view ValueView();
    // The value as read, never trimmed; valid until the next Read.
    std::u16string_view RawValueView() const;
    TNuvXMLNameTable& NameTable() const { return *FNameTable; }
    // The xml:lang in scope, or "".
    const std::u16string& XmlLang() const;
    // standalone="yes" in the declaration.
    bool Standalone() const { return FStandalone; }

    // The scope an element's declarations open.
    struct TXmlContext {
        uint8_t XmlSpace = 0; // 0 none, 1 default, 2 preserve
        std::u16string XmlLang;
        const std::u16string* DefaultNamespace = nullptr;
        int32_t Outer = -1; // index of the enclosing context
    };

private:
    enum class TState : uint8_t { Initial, Content, EndOfInput, Error };
    struct TPendingAttribute;
    struct TNameSpan {
        size_t Start = 0, Length = 0, Colon = 0; // Colon is 0 when the name has no prefix
    };

    // Input.
    void StartInput();
    bool Fill();
    size_t DecodeMore(size_t limit);
    bool Ensure(size_t count);
    void Compact();
    void SwitchEncoding(std::u16string_view name, size_t declarationEnd);
    void OpenDecoder(std::u16string_view name, bool declared);
    [[noreturn]] void RaiseDecodeError();

    // Parsing.
    bool ReadNode();
    bool ParseDeclaration();
    bool ParseMarkup();
    void ParseStartTag();
    void ParseEndTag();
    bool ParseText();
    bool ParseComment();
    bool ParseCData();
    bool ParsePI();
    void ParseDoctype();
    void SkipInternalSubset();
    void SkipLiteral(size_t& pos, bool publicId);
    size_t ScanTo(size_t& pos, std::u16string_view terminator, std::u16string_view construct, bool comment);
    TNuvXMLNodeData& Slot(size_t index);
    char16_t At(size_t index);
    TNameSpan ParseName(size_t& pos, bool qualified);
    void AttributeValue(size_t& pos, TNuvXMLNodeData& attribute);
    bool Reference(size_t& pos, size_t& write, bool inAttribute);
    void NewLine(size_t nextLineStart);
    size_t SkipSpace(size_t pos);
    void CheckChar(size_t pos);
    void ResolveNamespaces(size_t elementAt, int32_t count);
    void CheckDuplicates(size_t elementAt, int32_t count, bool byNamespace);
    void ApplyXmlAttributes(size_t elementAt, int32_t count);
    void PushContextOnce(size_t elementAt);
    void PopElement();
    void EndOfInput();
    TNuvXMLNodeData& NewNode(TNuvXMLNodeType type, int32_t depth, size_t at);
    // A text-like node at the current depth whose value is read from the character buffer later.
    void NewValueNode(TNuvXMLNodeType type, size_t at, int32_t line, int32_t position, size_t start,
                      size_t length);
    void SetName(TNuvXMLNodeData& node, const TNameSpan& name);
    const std::u16string& Atom(size_t start, size_t length);
    bool Preserving() const;
    void Materialise(TNuvXMLNodeData& node);

    // Errors at a place in the buffer.
    [[noreturn]] void Raise(std::u16string_view text, size_t at, std::vector<std::u16string> args = {});
    [[noreturn]] void RaiseAt(std::u16string_view text, int32_t line, int32_t position,
                              std::vector<std::u16string> args = {});
    [[noreturn]] void RaiseEof(size_t at, std::u16string_view construct = {});
    [[noreturn]] void RaiseUnexpected(size_t at, std::u16string_view expected,
                                      std::u16string_view orElse = {});
    [[noreturn]] void RaiseInvalidChar(size_t at);
    [[noreturn]] void RaiseInvalidChar(size_t at, char16_t c);
    [[noreturn]] void RaiseNameChar(size_t at, bool first);
    int32_t LineOf() const { return FLine + FSettings.LineNumberBase; }
    int32_t PositionOf(size_t at) const;

    TNuvXMLReaderSettings FSettings;
    TNuvStream* FStream;
    std::unique_ptr<TNuvXMLNameTable> FOwnNameTable;
    TNuvXMLNameTable* FNameTable;
    TNuvXMLNamespaceManager FNamespaces;

    // Bytes read and not yet decoded.
    std::vector<uint8_t> FBytes;
    size_t FByteBegin = 0, FByteEnd = 0;
    int64_t FBytesBeforeBuffer = 0; // stream bytes that came before FBytes[0]
    bool FStreamEnded = false;
    enum class TCoding : uint8_t { Ascii, Utf8, Utf16LE, Utf16BE, Other } FCoding = TCoding::Utf8;
    bool FProvisional = false;
    bool FInDeclaration = false;
    bool FDecodeError = false; // decoding stopped before bytes the encoding does not define
    size_t FBomLength = 0;
    std::unique_ptr<platform::TEncodingDecoder> FDecoder;
    int64_t FCharsDecoded = 0;

    // Decoded characters; FChars[FEnd] is always 0, so scans stop at the end without a bounds test.
    std::vector<char16_t> FChars;
    size_t FPos = 0, FEnd = 0;
    int64_t FCharsBeforeBuffer = 0; // decoded characters that came before FChars[0]
    int32_t FLine = 1;
    ptrdiff_t FLineStart = 0;

    // What an open element needs until its end tag; the full node record exists only for the
    // current node, so deep nesting costs this much per level and no more. Kept in chunks, so the
    // stack never needs twice its size while growing.
    struct TOpenElement {
        const std::u16string* LocalName;
        const std::u16string* Prefix;
        const std::u16string* NamespaceName;
        int32_t LineNumber, LinePosition;
        bool PushedScope, PushedContext;
    };
    std::u16string OpenName(const TOpenElement& open) const;

    TState FState = TState::Initial;
    // Slot 0 is the node before the first and after the last read; slot 1 the current node, its
    // attributes following it.
    std::vector<TNuvXMLNodeData> FNodes;
    std::deque<TOpenElement> FOpen;
    size_t FCurrent = 0;   // index of the current node in FNodes
    size_t FElementAt = 0; // index of the element whose attributes follow it
    int32_t FAttributeCount = 0;
    int32_t FDepth = 0; // depth of the next node
    bool FPopPending = false;
    std::vector<TXmlContext> FContexts;
    int32_t FContext = -1;
    bool FRootSeen = false, FRootClosed = false, FDoctypeSeen = false, FFragment = false;
    bool FStandalone = false;
    const std::u16string* FXmlnsName;
    const std::u16string* FXmlName;
    const std::u16string* FXmlnsAtom;
    const std::u16string* FXmlAtom;
    const std::u16string* FAtomCache[256] = {}; // recent atoms by a hash of their text
};

// ---------------------------------------------------------------------------------------------
// Node loaders: a tree of small objects, one per element name, that receive callbacks as a
// document streams past and build the caller's objects directly. A caller-chosen context travels
// from each element to its children.
//
// Thread-safety: a tree is declared by one thread (its owner's constructor) and may then be used
// by any number of loads at once: loaders keep no state of a document (it travels in the
// contexts), and instances made on first use are installed by compare-and-swap.

class TNuvXMLNodeLoader;
class TNuvXMLNodeLoaders;

// A loader class as a value: its name and how to make an instance.
class TNuvXMLNodeLoaderClass : public TNuvClass {
public:
    using TFactory = std::unique_ptr<TNuvXMLNodeLoader> (*)(TNuvXMLNameTable& names);
    TNuvXMLNodeLoaderClass(std::u16string name, TFactory factory)
        : TNuvClass(std::move(name)), FFactory(factory) {}
    std::unique_ptr<TNuvXMLNodeLoader> Create(TNuvXMLNameTable& names) const { return FFactory(names); }

private:
    TFactory FFactory;
};

// The descriptor of loader class T (constructed from a name table).
template <typename T> const TNuvXMLNodeLoaderClass& NuvXMLLoaderClass(std::u16string_view name = u"") {
    static const TNuvXMLNodeLoaderClass cls(std::u16string(name), [](TNuvXMLNameTable& names) {
        return std::unique_ptr<TNuvXMLNodeLoader>(std::make_unique<T>(names));
    });
    return cls;
}

// The base of every loader; every callback does nothing here.
class TNuvXMLNodeLoader {
public:
    explicit TNuvXMLNodeLoader(TNuvXMLNameTable& names) : FNames(names) {}
    virtual ~TNuvXMLNodeLoader();
    TNuvXMLNodeLoader(const TNuvXMLNodeLoader&) = delete;
    TNuvXMLNodeLoader& operator=(const TNuvXMLNodeLoader&) = delete;

    // An element handled by this loader starts; may replace the context its children get.
    virtual void OnBegin(void*& context);
    // Right after OnBegin, the reader on the element.
    virtual void OnAttributes(void* context, TNuvXMLTextReader& reader);
    // Each text, CDATA or significant white space directly inside the element.
    virtual void OnText(void* context, TNuvXMLTextReader& reader);
    // The element ends (at once for an empty element).
    virtual void OnEnd(void* context);

    // The children's table, or null for a leaf.
    TNuvXMLNodeLoaders* Loaders() const { return FLoaders.get(); }
    // The attribute whose value chooses the child loader, or "" when this is no switch.
    const std::u16string& AttributeSelector() const { return FAttributeSelector; }

protected:
    // The child table, made on first use.
    TNuvXMLNodeLoaders& ChildLoaders();
    void SetAttributeSelector(std::u16string_view name) { FAttributeSelector.assign(name); }
    TNuvXMLNameTable& FNames;

private:
    std::unique_ptr<TNuvXMLNodeLoaders> FLoaders;
    std::u16string FAttributeSelector;
};

using TNuvXMLAttributesCallback = std::function<void(void* context, TNuvXMLTextReader& reader)>;
using TNuvXMLTextCallback = std::function<void(void* context, const std::u16string& text)>;

// A loader made of two optional callbacks; the text callback gets GetValue (trimmed unless
// xml:space="preserve").
class TNuvXMLCallbackLoader : public TNuvXMLNodeLoader {
public:
    TNuvXMLCallbackLoader(TNuvXMLNameTable& names, TNuvXMLAttributesCallback onAttributes,
                          TNuvXMLTextCallback onText)
        : TNuvXMLNodeLoader(names), FOnAttributes(std::move(onAttributes)), FOnText(std::move(onText)) {}
    void OnAttributes(void* context, TNuvXMLTextReader& reader) override;
    void OnText(void* context, TNuvXMLTextReader& reader) override;

private:
    TNuvXMLAttributesCallback FOnAttributes;
    TNuvXMLTextCallback FOnText;
};

// The loaders of one element's children by qualified name as written (prefix included).
class TNuvXMLNodeLoaders {
public:
    struct THolder {
        const std::u16string* Name = nullptr; // an atom of the shared table
        const TNuvXMLNodeLoaderClass* Class = nullptr;
        std::atomic<TNuvXMLNodeLoader*> Instance{nullptr}; // owned by the table
    };

    explicit TNuvXMLNodeLoaders(TNuvXMLNameTable& names) : FNames(names) {}
    // Frees the loader instances.
    ~TNuvXMLNodeLoaders();
    TNuvXMLNodeLoaders(const TNuvXMLNodeLoaders&) = delete;
    TNuvXMLNodeLoaders& operator=(const TNuvXMLNodeLoaders&) = delete;

    // An element name handled by a class, instantiated when first needed. A later registration
    // of the same name wins.
    THolder& Add(std::u16string_view name, const TNuvXMLNodeLoaderClass& cls);
    THolder& Add(std::u16string_view prefix, std::u16string_view localName,
                 const TNuvXMLNodeLoaderClass& cls);
    // An element name handled by the given instance.
    THolder& Add(std::u16string_view name, std::unique_ptr<TNuvXMLNodeLoader> loader);
    THolder& AddText(std::u16string_view name, TNuvXMLTextCallback onText);
    THolder& AddText(std::u16string_view prefix, std::u16string_view localName, TNuvXMLTextCallback onText);
    THolder& AddAttributes(std::u16string_view name, TNuvXMLAttributesCallback onAttributes);
    // The class for every name without an entry.
    void SetDefault(const TNuvXMLNodeLoaderClass& cls);
    // A loader the table does not own for every name without an entry; it may be the table's own
    // owner, so that one loader serves a subtree of any depth.
    void SetDefault(TNuvXMLNodeLoader& loader);
    // The given instance for every name without an entry: a loader made for one load can chain
    // tables of a bounded depth this way.
    void SetDefault(std::unique_ptr<TNuvXMLNodeLoader> loader);
    // Room for delta more entries.
    void SetCapacity(int32_t delta);
    // The loader for the element the reader is on, named by the atom `name`; null when none
    // (including a switch whose selector attribute is missing).
    TNuvXMLNodeLoader* Find(TNuvXMLTextReader& reader, const std::u16string& name);

private:
    static TNuvXMLNodeLoader* Instance(THolder& holder, TNuvXMLNameTable& names);
    TNuvXMLNameTable& FNames;
    std::vector<std::unique_ptr<THolder>> FHolders;
    THolder FDefault;
    bool FDefaultOwned = true;
};

// Reads whole documents through a tree of loaders. Malformed XML ends a load quietly at the
// first error; exceptions of the loaders' callbacks leave Load.
class TNuvXMLDocumentLoader {
public:
    TNuvXMLDocumentLoader();
    TNuvXMLDocumentLoader(const TNuvXMLDocumentLoader&) = delete;
    TNuvXMLDocumentLoader& operator=(const TNuvXMLDocumentLoader&) = delete;

    // The loaders of the top-level element names.
    TNuvXMLNodeLoaders& Loaders() { return FLoaders; }
    TNuvXMLNameTable& NameTable() { return FNames; }
    // The reader settings of every load; change them before the first.
    TNuvXMLReaderSettings& Settings() { return FSettings; }
    // Reads the stream from its position to the end, `context` going to the top-level elements.
    // When the XML is malformed and `stoppedAt` is given, the reader's message (with the place)
    // is put there; it is left alone otherwise.
    void Load(void* context, TNuvStream& stream, std::u16string* stoppedAt = nullptr);

private:
    TNuvXMLNameTable FNames;
    TNuvXMLNodeLoaders FLoaders;
    TNuvXMLReaderSettings FSettings;
};
