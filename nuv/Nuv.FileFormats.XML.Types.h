#pragma once
// The XML reader's exceptions and character classes.
//
// Thread-safety: the character-class tables are built before main() and only read afterwards;
// every function here may be called from any thread.

#include "nuv/Nuv.Exceptions.h"
#include "nuv/Nuv.Strings.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Kinds of node; the reader produces None, Element, Attribute, Text, CDATA,
// ProcessingInstruction, Comment, Whitespace, SignificantWhitespace, EndElement and XmlDeclaration.
enum class TNuvXMLNodeType : uint8_t {
    None = 0,
    Element = 1,
    Attribute = 2,
    Text = 3,
    CDATA = 4,
    EntityReference = 5,
    Entity = 6,
    ProcessingInstruction = 7,
    Comment = 8,
    Document = 9,
    DocumentType = 10,
    DocumentFragment = 11,
    Notation = 12,
    Whitespace = 13,
    SignificantWhitespace = 14,
    EndElement = 15,
    EndEntity = 16,
    XmlDeclaration = 17,
};

// Malformed XML and misuse of the reader. The message ends with " Line L, position P" when the
// place is known.
class ENuvXMLException : public Exception {
public:
    // The text alone, or "An XML error has occurred." when it is empty.
    explicit ENuvXMLException(std::u16string_view text);
    // The text formatted with its arguments, then the place when line is above 0.
    ENuvXMLException(std::u16string_view text, const std::vector<std::u16string>& args, int32_t line,
                     int32_t position);
    int32_t LineNumber() const noexcept { return FLineNumber; }
    int32_t LinePosition() const noexcept { return FLinePosition; }

private:
    int32_t FLineNumber = 0;
    int32_t FLinePosition = 0;
};

class ENuvXMLArgumentException : public ENuvXMLException {
public:
    using ENuvXMLException::ENuvXMLException;
};

class ENuvXMLArgumentNullException : public ENuvXMLException {
public:
    using ENuvXMLException::ENuvXMLException;
};

class ENuvXMLArgumentOutOfRangeException : public ENuvXMLException {
public:
    using ENuvXMLException::ENuvXMLException;
};

// Flags of NuvXMLCharClass, one byte per character below 256.
enum : uint8_t {
    kXmlLetter = 0x01,    // may begin a name (letters and '_'; ':' is decided by the caller)
    kXmlNameChar = 0x02,  // may continue a name
    kXmlSpace = 0x04,     // white space: TAB, LF, CR, space
    kXmlText = 0x08,      // stands for itself in character data (not '<', '&', ']', CR, LF)
    kXmlAttrValue = 0x10, // stands for itself in an attribute value (not '<', '&', quotes, TAB, CR, LF)
    kXmlChar = 0x20,      // inside the XML character range
};
extern const std::array<uint8_t, 256> NuvXMLCharClass;

// White space: TAB, LF, CR, space.
inline bool IsXmlSpace(char16_t c) {
    return c < 256 && (NuvXMLCharClass[c] & kXmlSpace);
}

// XML 1.0 name characters of the whole basic plane (letters, digits, combining characters,
// extenders, '.', '-', '_', ':').
bool IsXmlNameStartChar(char16_t c);
bool IsXmlNameChar(char16_t c);
// The XML character range: TAB, LF, CR, U+0020-U+D7FF, U+E000-U+FFFD, U+10000-U+10FFFF.
bool IsXmlChar(uint32_t code);

// The two message arguments naming a character: the character itself (a NUL shows as ".") and
// its code as "0x%2X". A surrogate pair gives both units and the code point of the pair.
std::vector<std::u16string> XmlCharArgs(char16_t c, char16_t low = 0);
