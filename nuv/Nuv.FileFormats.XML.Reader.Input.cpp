// The reader's input: bytes to characters, the character buffer, errors and the scanning helpers
// every construct shares.

#include "nuv/Nuv.FileFormats.XML.Reader.h"

#include "platform/Platform.Encoding.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t kByteChunk = 8192;
constexpr size_t kCharChunk = 8192;
// While the declaration is read, so little is decoded ahead that its encoding can take over.
constexpr size_t kDeclarationChunk = 80;

constexpr std::u16string_view kInvalidChar = u"'%s', hexadecimal value %s, is an invalid character.";
constexpr std::u16string_view kUnexpectedToken = u"'%s' is an unexpected token. The expected token is '%s'.";
constexpr std::u16string_view kUnexpectedToken2 =
    u"'%s' is an unexpected token. The expected token is '%s' or '%s'.";
constexpr std::u16string_view kExpectingSpace = u"'%s' is an unexpected token. Expecting white space.";

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
size_t DecodeUtf8(const uint8_t* in, size_t size, char16_t* out, size_t room, size_t& consumed, bool last,
                  bool& invalid) {
    size_t i = 0, o = 0;
    while (i < size && o + 2 <= room) {
        // Runs of ASCII, eight bytes at a time.
        while (i + 8 <= size && o + 8 <= room) {
            uint64_t word;
            std::memcpy(&word, in + i, 8);
            if (word & 0x8080808080808080ull)
                break;
            for (int k = 0; k < 8; ++k)
                out[o + size_t(k)] = char16_t(in[i + size_t(k)]);
            i += 8;
            o += 8;
        }
        if (i >= size || o + 2 > room)
            break;
        const uint8_t b = in[i];
        if (b < 0x80) {
            out[o++] = b;
            ++i;
            continue;
        }
        size_t length;
        uint32_t code;
        uint8_t low = 0x80, high = 0xBF;
        if (b >= 0xC2 && b <= 0xDF) {
            length = 2;
            code = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            length = 3;
            code = b & 0x0F;
            if (b == 0xE0)
                low = 0xA0;
            else if (b == 0xED)
                high = 0x9F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            length = 4;
            code = b & 0x07;
            if (b == 0xF0)
                low = 0x90;
            else if (b == 0xF4)
                high = 0x8F;
        } else {
            invalid = true;
            break;
        }
        size_t k = 1;
        bool bad = false;
        for (; k < length && i + k < size; ++k) {
            const uint8_t c = in[i + k];
            if (c < (k == 1 ? low : 0x80) || c > (k == 1 ? high : 0xBF)) {
                bad = true;
                break;
            }
            code = (code << 6) | (c & 0x3F);
        }
        if (bad) {
            invalid = true;
            break;
        }
        if (k < length) { // cut by the end of the bytes at hand
            if (last)
                invalid = true;
            break;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            out[o++] = char16_t(0xD800 + (code >> 10));
            out[o++] = char16_t(0xDC00 + (code & 0x3FF));
        } else {
            out[o++] = char16_t(code);
        }
        i += length;
    }
    consumed = i;
    return o;
}

size_t DecodeUtf16(const uint8_t* in, size_t size, char16_t* out, size_t room, size_t& consumed, bool last,
                   bool& invalid, bool bigEndian) {
    const size_t units = std::min(size / 2, room);
    if (bigEndian)
        for (size_t k = 0; k < units; ++k)
            out[k] = char16_t((in[2 * k] << 8) | in[2 * k + 1]);
    else
        for (size_t k = 0; k < units; ++k)
            out[k] = char16_t(in[2 * k] | (in[2 * k + 1] << 8));
    consumed = units * 2;
    if (last && units == size / 2 && size % 2)
        invalid = true;
    return units;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Errors

int32_t TNuvXMLTextReader::PositionOf(size_t at) const {
    const int32_t position = int32_t(ptrdiff_t(at) - FLineStart + 1);
    return FLine == 1 ? position + FSettings.LinePositionBase : position;
}

void TNuvXMLTextReader::RaiseAt(std::u16string_view text, int32_t line, int32_t position,
                                std::vector<std::u16string> args) {
    FState = TState::Error;
    FNodes[FCurrent].LineNumber = line;
    FNodes[FCurrent].LinePosition = position;
    throw ENuvXMLException(text, args, line, position);
}

void TNuvXMLTextReader::Raise(std::u16string_view text, size_t at, std::vector<std::u16string> args) {
    RaiseAt(text, LineOf(), PositionOf(at), std::move(args));
}

void TNuvXMLTextReader::RaiseEof(size_t at, std::u16string_view construct) {
    if (construct.empty())
        Raise(u"Unexpected end of file has occurred.", at);
    Raise(u"Unexpected end of file while parsing %s has occurred.", at, {std::u16string(construct)});
}

void TNuvXMLTextReader::RaiseUnexpected(size_t at, std::u16string_view expected, std::u16string_view orElse) {
    if (at >= FEnd)
        RaiseEof(at);
    std::u16string found = XmlCharArgs(FChars[at])[0];
    if (expected.empty())
        Raise(kExpectingSpace, at, {found});
    if (orElse.empty())
        Raise(kUnexpectedToken, at, {found, std::u16string(expected)});
    Raise(kUnexpectedToken2, at, {found, std::u16string(expected), std::u16string(orElse)});
}

void TNuvXMLTextReader::RaiseInvalidChar(size_t at) {
    const char16_t c = FChars[at];
    const char16_t next = at + 1 < FEnd ? FChars[at + 1] : 0;
    Raise(kInvalidChar, at, XmlCharArgs(c, next));
}

void TNuvXMLTextReader::RaiseInvalidChar(size_t at, char16_t c) {
    Raise(kInvalidChar, at, XmlCharArgs(c));
}

void TNuvXMLTextReader::RaiseNameChar(size_t at, bool first) {
    if (at >= FEnd)
        RaiseEof(at, u"Name");
    const char16_t c = FChars[at];
    const char16_t next = at + 1 < FEnd ? FChars[at + 1] : 0;
    if (first)
        Raise(u"Name cannot begin with the '%s' character, hexadecimal value %s.", at, XmlCharArgs(c, next));
    Raise(u"The '%s' character, hexadecimal value %s, cannot be included in a name.", at,
          XmlCharArgs(c, next));
}

void TNuvXMLTextReader::RaiseDecodeError() {
    Raise(u"Invalid character in the given encoding.", FEnd);
}

// ---------------------------------------------------------------------------------------------
// Input and decoding

void TNuvXMLTextReader::OpenDecoder(std::u16string_view name, bool declared) {
    const std::u16string lower = AsciiLower(name);
    FDecoder.reset();
    if (lower == u"utf-8") {
        FCoding = TCoding::Utf8;
    } else if (lower == u"utf-16be") {
        FCoding = TCoding::Utf16BE;
    } else if (lower == u"utf-16") {
        if (FCoding != TCoding::Utf16BE)
            FCoding = TCoding::Utf16LE;
    } else {
        FDecoder = platform::TEncodingDecoder::Open(ToUtf8(name));
        if (!FDecoder) {
            if (declared)
                Raise(u"System does not support '%s' encoding.", FPos, {std::u16string(name)});
            FState = TState::Error;
            throw ENuvXMLException(u"System does not support '%s' encoding.", {std::u16string(name)}, 0, 0);
        }
        FCoding = TCoding::Other;
    }
    FProvisional = false;
}

void TNuvXMLTextReader::StartInput() {
    while (FByteEnd < 4 && !FStreamEnded) {
        if (FBytes.size() < kByteChunk)
            FBytes.resize(kByteChunk);
        const int64_t n = FStream->Read(FBytes.data() + FByteEnd, int64_t(FBytes.size() - FByteEnd));
        if (n <= 0)
            FStreamEnded = true;
        else
            FByteEnd += size_t(n);
    }
    const uint8_t* b = FBytes.data();
    auto startsWith = [&](std::initializer_list<uint8_t> bom) {
        if (FByteEnd < bom.size())
            return false;
        return std::equal(bom.begin(), bom.end(), b);
    };
    if (!FSettings.DefaultEncoding.empty()) {
        OpenDecoder(FSettings.DefaultEncoding, false);
        if (FCoding == TCoding::Utf8 && startsWith({0xEF, 0xBB, 0xBF}))
            FBomLength = 3;
        else if (FCoding == TCoding::Utf16LE && startsWith({0xFF, 0xFE}))
            FBomLength = 2;
        else if (FCoding == TCoding::Utf16BE && startsWith({0xFE, 0xFF}))
            FBomLength = 2;
    } else {
        const uint32_t f = FByteEnd >= 2 ? uint32_t(b[0] << 8 | b[1]) : 0xFFFFFFFF;
        const uint32_t n = FByteEnd >= 4 ? uint32_t(b[2] << 8 | b[3]) : 0;
        auto notImplemented = [this] {
            FState = TState::Error;
            throw ENuvXMLException(u"Not implemented");
        };
        if (f == 0x0000 && (n == 0x003C || n == 0x3C00 || n == 0xFEFF || n == 0xFFFE)) {
            notImplemented();
        } else if (f == 0x003C || f == 0xFEFF) {
            if (n == 0)
                notImplemented();
            FCoding = TCoding::Utf16BE;
            FBomLength = f == 0xFEFF ? 2 : 0;
        } else if (f == 0x3C00 || f == 0xFFFE) {
            if (n == 0)
                notImplemented();
            FCoding = TCoding::Utf16LE;
            FBomLength = f == 0xFFFE ? 2 : 0;
        } else if (f == 0x4C6F && n == 0xA794) {
            FState = TState::Error;
            throw ENuvXMLException(u"UnknownEncoding: ebcdic");
        } else if (f == 0xEFBB && FByteEnd >= 3 && b[2] == 0xBF) {
            FCoding = TCoding::Utf8;
            FBomLength = 3;
        } else {
            FCoding = TCoding::Ascii;
            FProvisional = true;
        }
    }
    FByteBegin = FBomLength;
    FInDeclaration = true;
}

size_t TNuvXMLTextReader::DecodeMore(size_t limit) {
    for (;;) {
        if (FChars.size() < FEnd + limit + 2)
            FChars.resize(std::max(FChars.size() * 2, FEnd + limit + 2));
        size_t consumed = 0, produced = 0;
        bool invalid = false;
        const size_t available = FByteEnd - FByteBegin;
        const uint8_t* in = FBytes.data() + FByteBegin;
        char16_t* out = FChars.data() + FEnd;
        if (available > 0 || FStreamEnded) {
            switch (FCoding) {
            case TCoding::Ascii: {
                const size_t count = std::min(available, limit);
                while (produced < count && in[produced] < 0x80) {
                    out[produced] = in[produced];
                    ++produced;
                }
                consumed = produced;
                break;
            }
            case TCoding::Utf8:
                produced = DecodeUtf8(in, available, out, limit, consumed, FStreamEnded, invalid);
                break;
            case TCoding::Utf16LE:
            case TCoding::Utf16BE:
                produced = DecodeUtf16(in, available, out, limit, consumed, FStreamEnded, invalid,
                                       FCoding == TCoding::Utf16BE);
                break;
            case TCoding::Other: {
                const auto r = FDecoder->Decode(in, available, out, limit, FStreamEnded);
                consumed = r.BytesRead;
                produced = r.CharsWritten;
                invalid = r.Invalid;
                break;
            }
            }
        }
        FByteBegin += consumed;
        FEnd += produced;
        FChars[FEnd] = 0;
        if (invalid)
            FDecodeError = true;
        if (produced > 0) {
            FCharsDecoded += int64_t(produced);
            if (FSettings.MaxCharactersInDocument > 0 && FCharsDecoded > FSettings.MaxCharactersInDocument)
                Raise(u"The input document has exceeded a limit set by %s.", FPos,
                      {u"MaxCharactersInDocument"});
            return produced;
        }
        if (invalid || FStreamEnded)
            return 0;
        // Provisional ASCII stops before the first other byte until the declaration has been read.
        if (FCoding == TCoding::Ascii && available > 0 && in[0] >= 0x80)
            return 0;
        if (!FInDeclaration && FByteBegin > 0) {
            std::memmove(FBytes.data(), FBytes.data() + FByteBegin, FByteEnd - FByteBegin);
            FBytesBeforeBuffer += int64_t(FByteBegin);
            FByteEnd -= FByteBegin;
            FByteBegin = 0;
        }
        if (FBytes.size() < FByteEnd + kByteChunk)
            FBytes.resize(FByteEnd + kByteChunk);
        const int64_t n = FStream->Read(FBytes.data() + FByteEnd, int64_t(kByteChunk));
        if (n <= 0)
            FStreamEnded = true;
        else
            FByteEnd += size_t(n);
    }
}

bool TNuvXMLTextReader::Fill() {
    if (FDecodeError)
        RaiseDecodeError();
    if (DecodeMore(FInDeclaration ? kDeclarationChunk : kCharChunk) > 0)
        return true;
    if (FDecodeError)
        RaiseDecodeError();
    return false;
}

bool TNuvXMLTextReader::Ensure(size_t count) {
    while (FEnd - FPos < count)
        if (!Fill())
            return false;
    return true;
}

void TNuvXMLTextReader::Compact() {
    // Characters already read are dropped only when the next chunk would not fit behind the rest,
    // so what is moved is little against what was read since.
    if (FPos == 0 || FChars.size() - FEnd >= kCharChunk + 2)
        return;
    const size_t shift = FPos;
    std::memmove(FChars.data(), FChars.data() + shift, (FEnd - shift + 1) * sizeof(char16_t));
    FEnd -= shift;
    FPos = 0;
    FLineStart -= ptrdiff_t(shift);
    FCharsBeforeBuffer += int64_t(shift);
}

void TNuvXMLTextReader::SwitchEncoding(std::u16string_view name, size_t declarationEnd) {
    if (!FSettings.DefaultEncoding.empty())
        return;
    const std::u16string lower = AsciiLower(name);
    const bool utf16 = FCoding == TCoding::Utf16LE || FCoding == TCoding::Utf16BE;
    if (utf16 && (lower == u"utf-16" || (lower == u"utf-16be" && FCoding == TCoding::Utf16BE)))
        return;
    if (lower == u"utf-8" && (FCoding == TCoding::Utf8 || FCoding == TCoding::Ascii)) {
        FCoding = TCoding::Utf8;
        FProvisional = false;
        return;
    }
    // Everything up to the end of a well-formed declaration is ASCII, one unit per character.
    const size_t unit = utf16 ? 2 : 1;
    const int64_t byteOffset =
        int64_t(FBomLength) + (FCharsBeforeBuffer + int64_t(declarationEnd)) * int64_t(unit);
    OpenDecoder(name, true);
    FByteBegin = size_t(byteOffset - FBytesBeforeBuffer);
    FCharsDecoded -= int64_t(FEnd - declarationEnd);
    FEnd = declarationEnd;
    FChars[FEnd] = 0;
    FDecodeError = false;
}

// ---------------------------------------------------------------------------------------------
// Scanning helpers

void TNuvXMLTextReader::NewLine(size_t nextLineStart) {
    ++FLine;
    FLineStart = ptrdiff_t(nextLineStart);
}

size_t TNuvXMLTextReader::SkipSpace(size_t pos) {
    for (;;) {
        const char16_t c = FChars[pos];
        if (c == u' ' || c == u'\t') {
            ++pos;
        } else if (c == u'\n') {
            NewLine(++pos);
        } else if (c == u'\r') {
            ++pos;
            if (pos == FEnd)
                Fill();
            if (FChars[pos] == u'\n')
                ++pos;
            NewLine(pos);
        } else if (c == 0 && pos == FEnd) {
            if (!Fill())
                return pos;
        } else {
            return pos;
        }
    }
}

// Checks a character at or above U+0100 (or any control) at pos; returns its length in units.
void TNuvXMLTextReader::CheckChar(size_t pos) {
    const char16_t c = FChars[pos];
    if (c < 0x20) {
        if (FSettings.ValidateCharacters && !IsXmlSpace(c))
            RaiseInvalidChar(pos);
    } else if (c >= 0xD800 && c <= 0xDBFF) {
        if (pos + 1 == FEnd)
            Fill();
        const char16_t low = FChars[pos + 1];
        if (low < 0xDC00 || low > 0xDFFF)
            RaiseInvalidChar(pos);
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
        RaiseInvalidChar(pos);
    } else if (c >= 0xFFFE && FSettings.ValidateCharacters) {
        RaiseInvalidChar(pos);
    }
}

TNuvXMLTextReader::TNameSpan TNuvXMLTextReader::ParseName(size_t& pos, bool qualified) {
    TNameSpan span;
    span.Start = pos;
    if (pos == FEnd && !Fill())
        RaiseEof(pos, u"Name");
    char16_t c = FChars[pos];
    const bool start =
        c < 256 ? (NuvXMLCharClass[c] & kXmlLetter) || (c == u':' && !qualified) : IsXmlNameStartChar(c);
    if (!start)
        RaiseNameChar(pos, true);
    ++pos;
    bool afterColon = false;
    for (;;) {
        c = FChars[pos];
        if (c < 256 ? (NuvXMLCharClass[c] & kXmlNameChar) : IsXmlNameChar(c)) {
            if (afterColon && !(c < 256 ? (NuvXMLCharClass[c] & kXmlLetter) : IsXmlNameStartChar(c)))
                RaiseNameChar(pos, true);
            afterColon = false;
            if (c == u':' && qualified) {
                if (span.Colon)
                    RaiseNameChar(pos, false);
                span.Colon = pos - span.Start;
                afterColon = true;
            }
            ++pos;
            continue;
        }
        if (c == 0 && pos == FEnd) {
            if (Fill())
                continue;
            RaiseEof(pos, u"Name");
        }
        break;
    }
    if (afterColon)
        RaiseNameChar(pos, true);
    span.Length = pos - span.Start;
    return span;
}

const std::u16string& TNuvXMLTextReader::Atom(size_t start, size_t length) {
    // Most names of a document recur; a small cache of the reader's own spares the table's
    // lookup, which hashes the text twice.
    const std::u16string_view text(FChars.data() + start, length);
    const uint32_t slot = (TNuvXMLNameTable::Hash(text) * 0x9E3779B1u) >> 24;
    const std::u16string* cached = FAtomCache[slot];
    if (cached && *cached == text)
        return *cached;
    const std::u16string& atom = FNameTable->Add(text);
    FAtomCache[slot] = &atom;
    return atom;
}

void TNuvXMLTextReader::SetName(TNuvXMLNodeData& node, const TNameSpan& name) {
    if (name.Colon) {
        node.Prefix = &Atom(name.Start, name.Colon);
        node.LocalName = &Atom(name.Start + name.Colon + 1, name.Length - name.Colon - 1);
        node.FQualifiedName = nullptr;
    } else {
        node.Prefix = &FNameTable->Empty();
        node.LocalName = &Atom(name.Start, name.Length);
        node.FQualifiedName = node.LocalName;
    }
    node.NamespaceName = &FNameTable->Empty();
}

TNuvXMLNodeData& TNuvXMLTextReader::NewNode(TNuvXMLNodeType type, int32_t depth, size_t at) {
    const size_t index = 1;
    if (FNodes.size() <= index + 1) {
        const size_t old = FNodes.size();
        FNodes.resize(std::max(old * 2, index + 2));
        for (size_t i = old; i < FNodes.size(); ++i)
            FNodes[i].LocalName = FNodes[i].Prefix = FNodes[i].NamespaceName = &FNameTable->Empty();
    }
    TNuvXMLNodeData& node = FNodes[index];
    node.NodeType = type;
    node.Depth = depth;
    node.IsEmptyElement = false;
    node.PushedContext = false;
    node.PushedScope = false;
    node.LineNumber = LineOf();
    node.LinePosition = PositionOf(at);
    node.LocalName = node.Prefix = node.NamespaceName = &FNameTable->Empty();
    node.FQualifiedName = nullptr;
    node.Value.clear();
    node.ValueReady = true;
    FCurrent = index;
    FElementAt = index;
    FAttributeCount = 0;
    return node;
}

TNuvXMLNodeData& TNuvXMLTextReader::Slot(size_t index) {
    if (FNodes.size() <= index) {
        const size_t old = FNodes.size();
        FNodes.resize(std::max(old * 2, index + 1));
        for (size_t i = old; i < FNodes.size(); ++i)
            FNodes[i].LocalName = FNodes[i].Prefix = FNodes[i].NamespaceName = &FNameTable->Empty();
    }
    return FNodes[index];
}

char16_t TNuvXMLTextReader::At(size_t index) {
    while (index >= FEnd)
        if (!Fill())
            return 0;
    return FChars[index];
}
