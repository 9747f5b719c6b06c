#include "nuv/Nuv.FileFormats.XML.Writer.h"

#include <algorithm>

namespace {

// The `count` characters of `buffer` from `index`; raises the argument errors both writers give.
std::u16string_view CheckedChars(const std::u16string* buffer, int32_t index, int32_t count) {
    if (!buffer)
        throw ENuvXMLArgumentNullException(u"buffer");
    if (index < 0)
        throw ENuvXMLArgumentOutOfRangeException(u"index");
    if (count < 0 || size_t(index) + size_t(count) > buffer->size())
        throw ENuvXMLArgumentOutOfRangeException(u"count");
    return std::u16string_view(*buffer).substr(size_t(index), size_t(count));
}

constexpr size_t kBufferSize = 65536;
constexpr std::u16string_view kXmlnsNamespace = u"http://www.w3.org/2000/xmlns/";
constexpr std::u16string_view kXmlNamespace = u"http://www.w3.org/XML/1998/namespace";

std::u16string Hex4(uint32_t code) {
    static const char16_t digits[] = u"0123456789ABCDEF";
    std::u16string out;
    for (int shift = code > 0xFFFFF ? 20 : code > 0xFFFF ? 16 : 12; shift >= 0; shift -= 4)
        out += digits[(code >> shift) & 15];
    return out;
}

bool IsHigh(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLow(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}
// Characters that may not stand in a document at all, whatever the escaping.
bool IsUnsafe(char16_t c) {
    return (c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r') || c == 0xFFFE || c == 0xFFFF;
}

[[noreturn]] void RaiseInvalidHigh(char16_t c) {
    throw ENuvXMLArgumentException(
        Format(u"Invalid high surrogate character (%s). A high surrogate character must "
               u"have a value from range (0xD800 - 0xDBFF).",
               u"0x" + Hex4(c)));
}

[[noreturn]] void RaiseInvalidPair(char16_t high, char16_t low) {
    throw ENuvXMLInvalidSurrogatePairException(Format(
        u"The surrogate pair (%s, %s) is invalid. A high surrogate character (0xD800 - 0xDBFF) must always "
        u"be paired with a low surrogate character (0xDC00 - 0xDFFF).",
        u"0x" + Hex4(high), u"0x" + Hex4(low)));
}

void CheckName(std::u16string_view name) {
    for (size_t i = 0; i < name.size(); ++i)
        if (!(i == 0 ? IsXmlNameStartChar(name[i]) : IsXmlNameChar(name[i])) || name[i] == u':')
            throw ENuvXMLException(
                Format(u"Invalid name character in \"%s\". The %d character, hexadecimal value "
                       u"%s, cannot be included in a name.",
                       name, int64_t(i), Hex4(name[i])));
}

void CheckLocalName(std::u16string_view name) {
    if (name.empty())
        throw ENuvXMLArgumentException(u"The empty string is not a valid local name.");
    CheckName(name);
}

std::u16string Qualified(std::u16string_view prefix, std::u16string_view local) {
    std::u16string out(prefix);
    if (!out.empty())
        out += u':';
    out += local;
    return out;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Conveniences

void TNuvXMLWriter::WriteAttribute(std::u16string_view prefix, std::u16string_view localName,
                                   std::u16string_view value) {
    StartAttribute(prefix, localName);
    WriteString(value);
    EndAttribute();
}

void TNuvXMLWriter::WriteAttribute(std::u16string_view localName, int64_t value) {
    WriteAttribute({}, localName, IntToStr(value));
}

void TNuvXMLWriter::WriteElement(std::u16string_view prefix, std::u16string_view localName,
                                 std::u16string_view namespaceName, std::u16string_view value) {
    StartElement(prefix, localName, namespaceName);
    if (!namespaceName.empty())
        WriteAttribute({}, u"xmlns", namespaceName);
    if (!value.empty())
        WriteString(value);
    EndElement();
}

std::unique_ptr<TNuvXMLWriter> CreateWriter(TNuvStream* stream, const TNuvXMLWriterSettings& settings) {
    auto raw = std::make_unique<TNuvXMLRawWriter>(stream, settings);
    if (!settings.WellFormedChecks)
        return raw;
    return std::make_unique<TNuvXMLWellFormedWriter>(std::move(raw));
}

// ---------------------------------------------------------------------------------------------
// Raw writer

TNuvXMLRawWriter::TNuvXMLRawWriter(TNuvStream* stream, const TNuvXMLWriterSettings& settings)
    : FStream(stream), FSettings(settings) {
    if (!stream)
        throw ENuvXMLArgumentNullException(u"stream");
    FBuffer.reserve(kBufferSize + 64);
    FStack.reserve(8);
}

TNuvXMLRawWriter::~TNuvXMLRawWriter() {
    try {
        if (FState != Error)
            Flush();
    } catch (...) {
        // Destructors never throw; a caller that cares about the last bytes calls Close.
    }
}

TNuvXMLWriteState TNuvXMLRawWriter::State() const {
    switch (FState) {
    case Start:
        return TNuvXMLWriteState::Start;
    case Prolog:
        return TNuvXMLWriteState::Prolog;
    case InStartTag:
        return TNuvXMLWriteState::Element;
    case InAttribute:
    case AttributeContent:
        return TNuvXMLWriteState::Attribute;
    case AfterRoot:
    case Content:
        return TNuvXMLWriteState::Content;
    case Closed:
        return TNuvXMLWriteState::Closed;
    default:
        return TNuvXMLWriteState::Error;
    }
}

void TNuvXMLRawWriter::Advance(TToken token) {
    const TRawState from = FState;
    TRawState to = Error;
    switch (token) {
    case TokenStartDocument:
        if (from == Start)
            to = Prolog;
        break;
    case TokenStartElement:
        if (from == Start || from == Prolog || from == Content)
            to = InStartTag;
        else if (from == InStartTag) {
            Put(u'>');
            to = InStartTag;
        }
        break;
    case TokenEndElement:
        if (from == InStartTag || from == Content)
            to = FStack.size() <= 1 ? AfterRoot : Content;
        break;
    case TokenStartAttribute:
        if (from == InStartTag)
            to = InAttribute;
        break;
    case TokenEndAttribute:
        if (from == InAttribute || from == AttributeContent)
            to = InStartTag;
        break;
    case TokenContent:
        if (from == InAttribute || from == AttributeContent)
            to = AttributeContent;
        else if (from == Content)
            to = Content;
        else if (from == InStartTag) {
            Put(u'>');
            to = Content;
        }
        break;
    }
    if (to == Error) {
        FState = Error;
        throw Exception(Format(u"Invalid state (FState = %d, AToken = %d)", int(from), int(token)));
    }
    FState = to;
}

void TNuvXMLRawWriter::Put(char16_t c) {
    FBuffer += c;
    FLast = c;
    if (FBuffer.size() >= kBufferSize)
        Flush();
}

void TNuvXMLRawWriter::Put(std::u16string_view text) {
    for (char16_t c : text)
        Put(c);
}

void TNuvXMLRawWriter::PutHex(uint32_t code, std::u16string_view before, std::u16string_view after) {
    Put(before);
    Put(Hex4(code));
    Put(after);
}

void TNuvXMLRawWriter::NewLine(int32_t level) {
    Put(FSettings.LineBreakText);
    for (int32_t i = 0; i < level; ++i)
        Put(FSettings.IndentText);
}

void TNuvXMLRawWriter::PutInvalid(char16_t c) {
    if (FSettings.ValidateCharacters)
        throw ENuvXMLArgumentException(Format(u"The %s is an invalid character.", Hex4(c)));
    if (FSettings.NameStyleEscapes)
        PutHex(c, u"_x", u"_");
    else
        PutHex(c, u"&#x", u";");
}

void TNuvXMLRawWriter::Escape(std::u16string_view text, bool attribute) {
    const uint8_t mode = FSettings.LineBreakMode;
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        switch (c) {
        case u'&':
            Put(u"&amp;");
            continue;
        case u'<':
            Put(u"&lt;");
            continue;
        case u'>':
            Put(u"&gt;");
            continue;
        case u'"':
            Put(attribute ? u"&quot;" : u"\"");
            continue;
        case u'\t':
            Put(attribute && mode != 2 ? u"&#x9;" : u"\t");
            continue;
        case u'\n':
        case u'\r':
            if (attribute)
                Put(mode == 2 ? std::u16string_view(&text[i], 1) : c == u'\n' ? u"&#xA;" : u"&#xD;");
            else if (mode == 0) {
                if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
                    ++i;
                Put(FSettings.LineBreakText);
            } else if (mode == 1 && c == u'\r')
                Put(u"&#xD;");
            else
                Put(c);
            continue;
        default:
            break;
        }
        if (IsHigh(c)) {
            if (i + 1 < text.size() && IsLow(text[i + 1])) {
                Put(c);
                Put(text[++i]);
            } else if (!FSettings.ValidateCharacters)
                PutInvalid(c);
            else if (i + 1 == text.size())
                throw ENuvXMLArgumentException(
                    u"The surrogate pair is invalid. Missing a low surrogate character.");
            else
                RaiseInvalidPair(c, text[i + 1]);
        } else if (IsLow(c)) {
            if (FSettings.ValidateCharacters)
                RaiseInvalidHigh(c);
            PutInvalid(c);
        } else if (IsUnsafe(c))
            PutInvalid(c);
        else
            Put(c);
    }
}

void TNuvXMLRawWriter::PutBreaks(std::u16string_view text) {
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (FSettings.LineBreakMode == 0 && (c == u'\n' || c == u'\r')) {
            if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
            Put(FSettings.LineBreakText);
        } else
            Put(c);
    }
}

void TNuvXMLRawWriter::WriteDeclaration(int standalone) {
    FDeclared = true;
    if (FSettings.NoDeclaration)
        return;
    Put(u"<?xml version=\"1.0\" encoding=\"utf-8\"");
    if (standalone == 1)
        Put(u" standalone=\"yes\"");
    else if (standalone != 0)
        Put(u" standalone=\"no\"");
    Put(u"?>");
}

void TNuvXMLRawWriter::StartDocument(int standalone) {
    Advance(TokenStartDocument);
    WriteDeclaration(standalone);
}

void TNuvXMLRawWriter::StartElement(std::u16string_view prefix, std::u16string_view localName,
                                    std::u16string_view) {
    const bool first = FState == Start;
    Advance(TokenStartElement);
    if (first)
        WriteDeclaration(0);
    const int32_t level = int32_t(FStack.size());
    if (level > 0 ? FSettings.Indented : FDeclared && !FSettings.NoDeclaration)
        NewLine(level);
    Put(u'<');
    if (!prefix.empty()) {
        Put(prefix);
        Put(u':');
    }
    Put(localName);
    FStack.push_back({std::u16string(prefix), std::u16string(localName)});
}

void TNuvXMLRawWriter::FullEnd(bool closedNow) {
    const TOpen& open = FStack.back();
    if (!closedNow && FSettings.Indented && FLast == u'>')
        NewLine(int32_t(FStack.size()) - 1);
    Put(u"</");
    if (!open.Prefix.empty()) {
        Put(open.Prefix);
        Put(u':');
    }
    Put(open.LocalName);
    Put(u'>');
    FStack.pop_back();
}

void TNuvXMLRawWriter::EndElement() {
    const bool open = FState == InStartTag;
    Advance(TokenEndElement);
    if (open) {
        Put(u"/>");
        FStack.pop_back();
    } else
        FullEnd(false);
}

void TNuvXMLRawWriter::FullEndElement() {
    const bool open = FState == InStartTag;
    Advance(TokenEndElement);
    if (open)
        Put(u'>');
    FullEnd(open);
}

void TNuvXMLRawWriter::StartAttribute(std::u16string_view prefix, std::u16string_view localName) {
    Advance(TokenStartAttribute);
    if (FSettings.AttributesOnNewLines)
        NewLine(int32_t(FStack.size()));
    else
        Put(u' ');
    if (!prefix.empty()) {
        Put(prefix);
        Put(u':');
    }
    Put(localName);
    Put(u"=\"");
}

void TNuvXMLRawWriter::EndAttribute() {
    Advance(TokenEndAttribute);
    Put(u'"');
}

void TNuvXMLRawWriter::WriteCData(std::u16string_view text) {
    Advance(TokenContent);
    Put(u"<![CDATA[");
    for (size_t at = 0;;) {
        const size_t end = text.find(u"]]>", at);
        if (end == std::u16string_view::npos) {
            PutBreaks(text.substr(at));
            break;
        }
        PutBreaks(text.substr(at, end - at));
        Put(u"]]]]><![CDATA[>");
        at = end + 3;
    }
    Put(u"]]>");
}

void TNuvXMLRawWriter::WriteComment(std::u16string_view text) {
    Advance(TokenContent);
    Put(u"<!--");
    for (size_t i = 0; i < text.size(); ++i) {
        PutBreaks(text.substr(i, 1));
        if (text[i] == u'-' && (i + 1 == text.size() || text[i + 1] == u'-'))
            Put(u' ');
    }
    Put(u"-->");
}

void TNuvXMLRawWriter::WriteString(std::u16string_view text) {
    Advance(TokenContent);
    Escape(text, FState == AttributeContent);
}

void TNuvXMLRawWriter::WriteCharEntity(char16_t c) {
    if (FSettings.ValidateCharacters && (IsHigh(c) || IsLow(c) || IsUnsafe(c)))
        throw ENuvXMLArgumentException(Format(u"The %s is an invalid character.", Hex4(c)));
    Advance(TokenContent);
    PutHex(c, u"&#x", u";");
}

void TNuvXMLRawWriter::WriteEntityRef(std::u16string_view name) {
    Advance(TokenContent);
    Put(u'&');
    Put(name);
    Put(u';');
}

void TNuvXMLRawWriter::WriteChars(const std::u16string* buffer, int32_t index, int32_t count) {
    WriteRaw(CheckedChars(buffer, index, count));
}

void TNuvXMLRawWriter::WriteRaw(std::u16string_view text) {
    Advance(TokenContent);
    PutBreaks(text);
}

void TNuvXMLRawWriter::WriteSurrogateCharEntity(char16_t low, char16_t high) {
    if (!IsHigh(high))
        RaiseInvalidHigh(high);
    if (!IsLow(low))
        RaiseInvalidPair(high, low);
    Advance(TokenContent);
    PutHex(0x10000 + ((uint32_t(high) - 0xD800) << 10) + (uint32_t(low) - 0xDC00), u"&#x", u";");
}

void TNuvXMLRawWriter::Close() {
    if (FState == Closed || FState == Error)
        return;
    Flush();
    FState = Closed;
}

void TNuvXMLRawWriter::Flush() {
    // A high surrogate waits for its partner, so a pair is never split between two writes.
    size_t count = FBuffer.size();
    if (count && IsHigh(FBuffer[count - 1]) && FState != Closed)
        --count;
    std::string bytes;
    bytes.reserve(count * 3);
    for (size_t i = 0; i < count; ++i) {
        uint32_t c = FBuffer[i];
        if (IsHigh(char16_t(c)) && i + 1 < count && IsLow(FBuffer[i + 1]))
            c = 0x10000 + ((c - 0xD800) << 10) + (uint32_t(FBuffer[++i]) - 0xDC00);
        if (c < 0x80)
            bytes += char(c);
        else if (c < 0x800) {
            bytes += char(0xC0 | (c >> 6));
            bytes += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            bytes += char(0xE0 | (c >> 12));
            bytes += char(0x80 | ((c >> 6) & 0x3F));
            bytes += char(0x80 | (c & 0x3F));
        } else {
            bytes += char(0xF0 | (c >> 18));
            bytes += char(0x80 | ((c >> 12) & 0x3F));
            bytes += char(0x80 | ((c >> 6) & 0x3F));
            bytes += char(0x80 | (c & 0x3F));
        }
    }
    FBuffer.erase(0, count);
    try {
        FStream->WriteBuffer(bytes.data(), int64_t(bytes.size()));
    } catch (...) {
        FState = Error;
        throw;
    }
}

// ---------------------------------------------------------------------------------------------
// Well-formed layer

TNuvXMLWellFormedWriter::TNuvXMLWellFormedWriter(std::unique_ptr<TNuvXMLRawWriter> raw)
    : FRaw(std::move(raw)) {
    FNamespaces.push_back({u"xmlns", std::u16string(kXmlnsNamespace)});
    FNamespaces.push_back({u"xml", std::u16string(kXmlNamespace)});
}

TNuvXMLWellFormedWriter::~TNuvXMLWellFormedWriter() {
    try {
        Close();
    } catch (...) {
        // Destructors never throw.
    }
}

template <typename F> void TNuvXMLWellFormedWriter::Guard(F&& step) {
    try {
        step();
    } catch (...) {
        FError = true;
        throw;
    }
}

TNuvXMLWriteState TNuvXMLWellFormedWriter::State() const {
    return FError ? TNuvXMLWriteState::Error : FRaw->State();
}

void TNuvXMLWellFormedWriter::CloseStartTag() {
    if (!FStartTagOpen)
        return;
    FStartTagOpen = false;
    auto resolve = [&](const std::u16string& prefix) -> const std::u16string* {
        for (auto ns = FNamespaces.rbegin(); ns != FNamespaces.rend(); ++ns)
            if (ns->Prefix == prefix)
                return &ns->Name;
        throw ENuvXMLException(u"Unable to find namespace for the \"" + prefix + u"\" prefix");
    };
    if (!FElements.back().Prefix.empty())
        resolve(FElements.back().Prefix);
    std::vector<std::u16string> resolved;
    for (const TAttribute& a : FAttributes) {
        if (a.Prefix.empty())
            resolved.push_back(a.LocalName == u"xmlns" ? std::u16string(kXmlnsNamespace) : std::u16string());
        else
            resolved.push_back(*resolve(a.Prefix));
    }
    for (size_t i = 0; i < FAttributes.size(); ++i)
        for (size_t j = 0; j < i; ++j) {
            const TAttribute &a = FAttributes[i], &b = FAttributes[j];
            if (a.LocalName == b.LocalName && (a.Prefix == b.Prefix || resolved[i] == resolved[j]))
                throw ENuvXMLException(
                    Format(u"\"%s\" is a duplicate attribute name.", Qualified(a.Prefix, a.LocalName)));
        }
    FAttributes.clear();
}

void TNuvXMLWellFormedWriter::StartDocument(int standalone) {
    Guard([&] { FRaw->StartDocument(standalone); });
}

void TNuvXMLWellFormedWriter::EndDocument() {
    Guard([&] { FRaw->EndDocument(); });
}

void TNuvXMLWellFormedWriter::StartElement(std::u16string_view prefix, std::u16string_view localName,
                                           std::u16string_view namespaceName) {
    Guard([&] {
        CheckLocalName(localName);
        CheckName(prefix);
        CloseStartTag();
        FRaw->StartElement(prefix, localName, namespaceName);
        FElements.push_back({std::u16string(prefix), FNamespaces.size()});
        FStartTagOpen = true;
    });
}

void TNuvXMLWellFormedWriter::EndOpen(bool full) {
    if (FElements.empty()) {
        if (full)
            throw ENuvXMLException(u"There was no XML start tag open.");
        throw ENuvXMLArgumentException(u"There was no XML start tag open.");
    }
    CloseStartTag();
    if (full)
        FRaw->FullEndElement();
    else
        FRaw->EndElement();
    FNamespaces.resize(FElements.back().NamespaceTop);
    FElements.pop_back();
}

void TNuvXMLWellFormedWriter::EndElement() {
    Guard([&] { EndOpen(false); });
}

void TNuvXMLWellFormedWriter::FullEndElement() {
    Guard([&] { EndOpen(true); });
}

void TNuvXMLWellFormedWriter::StartAttribute(std::u16string_view prefix, std::u16string_view localName) {
    Guard([&] {
        CheckLocalName(localName);
        CheckName(prefix);
        FInDeclaration = false;
        if (prefix == u"xmlns" || (prefix.empty() && localName == u"xmlns")) {
            FDeclaredPrefix = prefix.empty() ? std::u16string() : std::u16string(localName);
            if (FDeclaredPrefix == u"xml" || FDeclaredPrefix == u"xmlns")
                throw ENuvXMLArgumentException(Format(u"The %s is invalid for local name", FDeclaredPrefix));
            FDeclaredName.clear();
            FInDeclaration = true;
        }
        FRaw->StartAttribute(prefix, localName);
        FAttributes.push_back({std::u16string(prefix), std::u16string(localName)});
    });
}

void TNuvXMLWellFormedWriter::EndAttribute() {
    Guard([&] {
        FRaw->EndAttribute();
        if (FInDeclaration)
            FNamespaces.push_back({FDeclaredPrefix, FDeclaredName});
        FInDeclaration = false;
    });
}

void TNuvXMLWellFormedWriter::NotInDeclaration(std::u16string_view what) {
    if (FInDeclaration && FRaw->State() == TNuvXMLWriteState::Attribute)
        throw ENuvXMLArgumentException(Format(u"The %s expected, but %s specified.", u"Namespace", what));
}

void TNuvXMLWellFormedWriter::WriteCData(std::u16string_view text) {
    Guard([&] {
        CloseStartTag();
        FRaw->WriteCData(text);
    });
}

void TNuvXMLWellFormedWriter::WriteComment(std::u16string_view text) {
    Guard([&] {
        CloseStartTag();
        FRaw->WriteComment(text);
    });
}

void TNuvXMLWellFormedWriter::WriteString(std::u16string_view text) {
    Guard([&] {
        if (FRaw->State() != TNuvXMLWriteState::Attribute)
            CloseStartTag();
        else if (FInDeclaration)
            FDeclaredName += text;
        FRaw->WriteString(text);
    });
}

void TNuvXMLWellFormedWriter::WriteCharEntity(char16_t c) {
    Guard([&] {
        NotInDeclaration(u"CharEntity");
        if (FRaw->State() != TNuvXMLWriteState::Attribute)
            CloseStartTag();
        FRaw->WriteCharEntity(c);
    });
}

void TNuvXMLWellFormedWriter::WriteEntityRef(std::u16string_view name) {
    Guard([&] {
        if (name.empty())
            throw ENuvXMLArgumentException(u"The empty string is not a valid name.");
        CheckName(name);
        NotInDeclaration(u"EntityRef");
        if (FRaw->State() != TNuvXMLWriteState::Attribute)
            CloseStartTag();
        FRaw->WriteEntityRef(name);
    });
}

void TNuvXMLWellFormedWriter::WriteChars(const std::u16string* buffer, int32_t index, int32_t count) {
    Guard([&] {
        const std::u16string_view chars = CheckedChars(buffer, index, count);
        NotInDeclaration(u"Raw");
        if (FRaw->State() != TNuvXMLWriteState::Attribute)
            CloseStartTag();
        FRaw->WriteRaw(chars);
    });
}

void TNuvXMLWellFormedWriter::WriteRaw(std::u16string_view text) {
    Guard([&] {
        NotInDeclaration(u"Raw");
        if (FRaw->State() != TNuvXMLWriteState::Attribute)
            CloseStartTag();
        FRaw->WriteRaw(text);
    });
}

void TNuvXMLWellFormedWriter::WriteSurrogateCharEntity(char16_t low, char16_t high) {
    Guard([&] {
        NotInDeclaration(u"CharEntity");
        if (FRaw->State() != TNuvXMLWriteState::Attribute)
            CloseStartTag();
        FRaw->WriteSurrogateCharEntity(low, high);
    });
}

void TNuvXMLWellFormedWriter::Close() {
    if (FError || FRaw->State() == TNuvXMLWriteState::Closed)
        return;
    Guard([&] { FRaw->Close(); });
}

void TNuvXMLWellFormedWriter::Flush() {
    Guard([&] { FRaw->Flush(); });
}
