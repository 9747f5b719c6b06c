#pragma once
// A forward-only writer of UTF-8 XML text. The raw writer escapes, formats and buffers; the
// well-formed writer on top of it checks the order of calls, names, duplicate attributes and
// namespace prefixes. Open elements are never closed for the caller.
//
// Thread-safety: a writer is used by one thread at a time.

#include "nuv/Nuv.FileFormats.XML.Types.h"
#include "nuv/Nuv.Streams.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct TNuvXMLWriterSettings {
    // Characters outside the XML character range raise instead of being escaped.
    bool ValidateCharacters = true;
    // Wrap the raw writer in the well-formed layer.
    bool WellFormedChecks = true;
    // When not validating, invalid characters in text become "_xHHHH_" instead of "&#xHHHH;".
    bool NameStyleEscapes = true;
    // Written once per indentation level.
    std::u16string IndentText = u"\t";
    std::u16string LineBreakText = u"\r\n";
    // Line breaks in text and attribute values: 0 as LineBreakText (text) or references
    // (attributes), 1 CR as a reference in text, 2 unchanged.
    uint8_t LineBreakMode = 0;
    bool AttributesOnNewLines = false;
    // Nested start tags, and end tags of elements with child elements, on new indented lines.
    bool Indented = false;
    bool NoDeclaration = false;
};

enum class TNuvXMLWriteState : uint8_t { Start, Prolog, Element, Attribute, Content, Closed, Error };

// A surrogate paired with something that is not its other half.
class ENuvXMLInvalidSurrogatePairException : public ENuvXMLArgumentException {
public:
    using ENuvXMLArgumentException::ENuvXMLArgumentException;
};

// The writer's interface, in slot order, and the conveniences built on it.
class TNuvXMLWriter {
public:
    virtual ~TNuvXMLWriter() = default;
    virtual TNuvXMLWriteState State() const = 0;
    // The XML declaration; standalone 0 leaves it out, 1 writes "yes", anything else "no".
    virtual void StartDocument(int standalone) = 0;
    virtual void EndDocument() = 0;
    // "<" [prefix ":"] name; the namespace name is not written here.
    virtual void StartElement(std::u16string_view prefix, std::u16string_view localName,
                              std::u16string_view namespaceName) = 0;
    // "/>" while the start tag is open, else as FullEndElement.
    virtual void EndElement() = 0;
    virtual void FullEndElement() = 0;
    virtual void StartAttribute(std::u16string_view prefix, std::u16string_view localName) = 0;
    virtual void EndAttribute() = 0;
    virtual void WriteCData(std::u16string_view text) = 0;
    virtual void WriteComment(std::u16string_view text) = 0;
    // Escaped text; inside an attribute, escaped as an attribute value.
    virtual void WriteString(std::u16string_view text) = 0;
    virtual void WriteCharEntity(char16_t c) = 0;
    virtual void WriteEntityRef(std::u16string_view name) = 0;
    // Characters as they are, only line breaks translated. A missing buffer, a negative index or
    // a count beyond the buffer raise.
    virtual void WriteChars(const std::u16string* buffer, int32_t index, int32_t count) = 0;
    virtual void WriteRaw(std::u16string_view text) = 0;
    virtual void WriteSurrogateCharEntity(char16_t low, char16_t high) = 0;
    // Flushes; the writer is then closed.
    virtual void Close() = 0;
    // Writes what is buffered to the stream.
    virtual void Flush() = 0;

    void StartElement(std::u16string_view localName) { StartElement({}, localName, {}); }
    void WriteAttribute(std::u16string_view localName, std::u16string_view value) {
        WriteAttribute({}, localName, value);
    }
    void WriteAttribute(std::u16string_view prefix, std::u16string_view localName, std::u16string_view value);
    void WriteAttribute(std::u16string_view localName, int64_t value);
    void WriteElement(std::u16string_view localName, std::u16string_view value) {
        WriteElement({}, localName, {}, value);
    }
    // Start tag, xmlns="namespaceName" when one is given, the value when not empty, EndElement.
    void WriteElement(std::u16string_view prefix, std::u16string_view localName,
                      std::u16string_view namespaceName, std::u16string_view value);
};

class TNuvXMLRawWriter : public TNuvXMLWriter {
public:
    // Writes to `stream`, which is not owned.
    TNuvXMLRawWriter(TNuvStream* stream, const TNuvXMLWriterSettings& settings);
    // Flushes what is buffered.
    ~TNuvXMLRawWriter() override;
    TNuvXMLRawWriter(const TNuvXMLRawWriter&) = delete;
    TNuvXMLRawWriter& operator=(const TNuvXMLRawWriter&) = delete;
    using TNuvXMLWriter::StartElement;

    TNuvXMLWriteState State() const override;
    void StartDocument(int standalone) override;
    void EndDocument() override {}
    void StartElement(std::u16string_view prefix, std::u16string_view localName,
                      std::u16string_view namespaceName) override;
    void EndElement() override;
    void FullEndElement() override;
    void StartAttribute(std::u16string_view prefix, std::u16string_view localName) override;
    void EndAttribute() override;
    void WriteCData(std::u16string_view text) override;
    void WriteComment(std::u16string_view text) override;
    void WriteString(std::u16string_view text) override;
    void WriteCharEntity(char16_t c) override;
    void WriteEntityRef(std::u16string_view name) override;
    void WriteChars(const std::u16string* buffer, int32_t index, int32_t count) override;
    void WriteRaw(std::u16string_view text) override;
    void WriteSurrogateCharEntity(char16_t low, char16_t high) override;
    void Close() override;
    void Flush() override;

    // Open elements.
    int32_t Depth() const { return int32_t(FStack.size()); }

private:
    enum TRawState : uint8_t {
        Start,
        Prolog,
        AfterRoot,
        InStartTag,
        Content,
        InAttribute,
        AttributeContent,
        Closed,
        Error
    };
    enum TToken : uint8_t {
        TokenStartDocument,
        TokenStartElement,
        TokenEndElement,
        TokenStartAttribute,
        TokenEndAttribute,
        TokenContent
    };
    void Advance(TToken token);
    void Put(char16_t c);
    void Put(std::u16string_view text);
    void PutHex(uint32_t code, std::u16string_view before, std::u16string_view after);
    void Escape(std::u16string_view text, bool attribute);
    void PutInvalid(char16_t c);
    void PutBreaks(std::u16string_view text);
    void NewLine(int32_t level);
    void WriteDeclaration(int standalone);
    void FullEnd(bool closedNow);

    TNuvStream* FStream;
    TNuvXMLWriterSettings FSettings;
    std::u16string FBuffer;
    char16_t FLast = 0;
    TRawState FState = Start;
    bool FDeclared = false;
    struct TOpen {
        std::u16string Prefix, LocalName;
    };
    std::vector<TOpen> FStack;
};

class TNuvXMLWellFormedWriter : public TNuvXMLWriter {
public:
    // Takes the raw writer.
    explicit TNuvXMLWellFormedWriter(std::unique_ptr<TNuvXMLRawWriter> raw);
    // Closes the writer unless it is closed or failed.
    ~TNuvXMLWellFormedWriter() override;
    TNuvXMLWellFormedWriter(const TNuvXMLWellFormedWriter&) = delete;
    TNuvXMLWellFormedWriter& operator=(const TNuvXMLWellFormedWriter&) = delete;
    using TNuvXMLWriter::StartElement;

    TNuvXMLWriteState State() const override;
    void StartDocument(int standalone) override;
    void EndDocument() override;
    void StartElement(std::u16string_view prefix, std::u16string_view localName,
                      std::u16string_view namespaceName) override;
    void EndElement() override;
    void FullEndElement() override;
    void StartAttribute(std::u16string_view prefix, std::u16string_view localName) override;
    void EndAttribute() override;
    void WriteCData(std::u16string_view text) override;
    void WriteComment(std::u16string_view text) override;
    void WriteString(std::u16string_view text) override;
    void WriteCharEntity(char16_t c) override;
    void WriteEntityRef(std::u16string_view name) override;
    void WriteChars(const std::u16string* buffer, int32_t index, int32_t count) override;
    void WriteRaw(std::u16string_view text) override;
    void WriteSurrogateCharEntity(char16_t low, char16_t high) override;
    void Close() override;
    void Flush() override;

private:
    template <typename F> void Guard(F&& step);
    void CloseStartTag();
    void NotInDeclaration(std::u16string_view what);
    void EndOpen(bool full);

    std::unique_ptr<TNuvXMLRawWriter> FRaw;
    struct TElement {
        std::u16string Prefix;
        size_t NamespaceTop;
    };
    struct TAttribute {
        std::u16string Prefix, LocalName;
    };
    struct TNamespace {
        std::u16string Prefix, Name;
    };
    std::vector<TElement> FElements;
    std::vector<TAttribute> FAttributes;
    std::vector<TNamespace> FNamespaces;
    bool FStartTagOpen = false;
    bool FInDeclaration = false; // the attribute being written declares a namespace
    std::u16string FDeclaredPrefix, FDeclaredName;
    bool FError = false;
};

// A raw writer over `stream` (not owned), wrapped in the well-formed layer when the settings ask.
std::unique_ptr<TNuvXMLWriter> CreateWriter(TNuvStream* stream, const TNuvXMLWriterSettings& settings = {});
