#include "nuv/Nuv.FileFormats.XML.Reader.h"
#include "nuv/Nuv.Strings.h"

#include "platform/Platform.Encoding.h"

#include <algorithm>
#include <unordered_set>

namespace {

constexpr std::u16string_view kXmlnsNamespace = u"http://www.w3.org/2000/xmlns/";
constexpr std::u16string_view kXmlNamespace = u"http://www.w3.org/XML/1998/namespace";
constexpr std::u16string_view kBadDeclaration = u"Syntax for an XML declaration is invalid.";
constexpr std::u16string_view kReservedNamespace =
    u"Prefix '%s' cannot be mapped to namespace name reserved for \"xml\" or \"xmlns\".";
constexpr std::u16string_view kXmlnsReserved = u"Prefix 'xmlns' is reserved for use by XML.";
constexpr std::u16string_view kXmlReserved =
    u"Prefix 'xml' is reserved for use by XML and can be mapped only to "
    u"namespace name 'http://www.w3.org/XML/1998/namespace'.";

} // namespace

// ---------------------------------------------------------------------------------------------
// Name table

TNuvXMLNameTable::TNuvXMLNameTable() {
    for (auto& bucket : FBuckets)
        bucket.store(nullptr, std::memory_order_relaxed);
}

TNuvXMLNameTable::~TNuvXMLNameTable() = default;

uint32_t TNuvXMLNameTable::Hash(std::u16string_view text) {
    uint32_t hash = 0;
    for (char16_t c : text)
        hash = ((hash << 2) | (hash >> 30)) ^ (c & 0xFF);
    return hash;
}

const TNuvXMLNameTable::TEntry* TNuvXMLNameTable::Lookup(std::u16string_view text, uint32_t hash,
                                                         size_t spread) const {
    // Indexes and entries are complete before they are published with release order; an entry
    // never changes after, and an index only gains entries in empty slots.
    const TBucket* bucket = FBuckets[hash & 0xFF].load(std::memory_order_acquire);
    if (!bucket)
        return nullptr;
    for (size_t i = spread & bucket->Mask;; i = (i + 1) & bucket->Mask) {
        const TEntry* e = bucket->Slots[i].load(std::memory_order_acquire);
        if (!e)
            return nullptr;
        if (e->Hash == hash && e->Text == text)
            return e;
    }
}

const std::u16string& TNuvXMLNameTable::Add(std::u16string_view text) {
    if (text.empty())
        return FEmpty;
    const uint32_t hash = Hash(text);
    const size_t spread = Spread(text);
    if (const TEntry* e = Lookup(text, hash, spread))
        return e->Text;
    std::lock_guard guard(FInsertLock);
    if (const TEntry* e = Lookup(text, hash, spread))
        return e->Text;
    auto place = [](TBucket& bucket, TEntry* entry, size_t at) {
        size_t i = at & bucket.Mask;
        while (bucket.Slots[i].load(std::memory_order_relaxed))
            i = (i + 1) & bucket.Mask;
        bucket.Slots[i].store(entry, std::memory_order_release);
        ++bucket.Count;
    };
    auto makeBucket = [this](size_t size) {
        auto bucket = std::make_unique<TBucket>();
        bucket->Mask = size - 1;
        bucket->Count = 0;
        bucket->Slots = std::make_unique<std::atomic<TEntry*>[]>(size);
        for (size_t i = 0; i < size; ++i)
            bucket->Slots[i].store(nullptr, std::memory_order_relaxed);
        FAllBuckets.push_back(std::move(bucket));
        return FAllBuckets.back().get();
    };
    FEntries.push_back(std::make_unique<TEntry>(TEntry{hash, std::u16string(text)}));
    TEntry* entry = FEntries.back().get();
    TBucket* bucket = FBuckets[hash & 0xFF].load(std::memory_order_relaxed);
    if (!bucket || (bucket->Count + 1) * 2 > bucket->Mask + 1) {
        TBucket* grown = makeBucket(bucket ? (bucket->Mask + 1) * 2 : 8);
        if (bucket)
            for (size_t i = 0; i <= bucket->Mask; ++i)
                if (TEntry* old = bucket->Slots[i].load(std::memory_order_relaxed))
                    place(*grown, old, Spread(old->Text));
        place(*grown, entry, spread);
        FBuckets[hash & 0xFF].store(grown, std::memory_order_release);
    } else {
        place(*bucket, entry, spread);
    }
    return entry->Text;
}

const std::u16string& TNuvXMLNameTable::Find(std::u16string_view text) const {
    if (text.empty())
        return FEmpty;
    const TEntry* e = Lookup(text, Hash(text), Spread(text));
    return e ? e->Text : FEmpty;
}

// ---------------------------------------------------------------------------------------------
// Namespace manager

TNuvXMLNamespaceManager::TNuvXMLNamespaceManager(TNuvXMLNameTable& names) : FNames(names) {
    FDeclarations.reserve(8);
    Push(names.Empty(), names.Empty());
    Push(names.Add(u"xmlns"), names.Add(kXmlnsNamespace));
    Push(names.Add(u"xml"), names.Add(kXmlNamespace));
}

void TNuvXMLNamespaceManager::AddNamespace(const std::u16string& prefix, const std::u16string& name) {
    if (prefix == u"xmlns")
        throw ENuvXMLArgumentException(kXmlnsReserved);
    if (prefix == u"xml") {
        if (name != kXmlNamespace)
            throw ENuvXMLArgumentException(kXmlReserved);
    } else if (name == kXmlNamespace || name == kXmlnsNamespace) {
        throw ENuvXMLArgumentException(kReservedNamespace, {prefix}, 0, 0);
    }
    Push(FNames.Add(prefix), FNames.Add(name));
}

void TNuvXMLNamespaceManager::Push(const std::u16string& prefix, const std::u16string& name) {
    int32_t previous = -1;
    if (FIndexed) {
        auto it = FIndex.find(&prefix);
        if (it != FIndex.end())
            previous = it->second;
    } else {
        for (size_t i = FDeclarations.size(); i-- > 0;)
            if (FDeclarations[i].Prefix == &prefix) {
                previous = int32_t(i);
                break;
            }
    }
    FDeclarations.push_back({&prefix, &name, FScope, previous});
    const int32_t index = int32_t(FDeclarations.size() - 1);
    if (FIndexed) {
        FIndex[&prefix] = index;
    } else if (FDeclarations.size() > 16) {
        for (size_t i = 0; i < FDeclarations.size(); ++i)
            FIndex[FDeclarations[i].Prefix] = int32_t(i);
        FIndexed = true;
    }
}

const std::u16string* TNuvXMLNamespaceManager::LookupNamespace(const std::u16string& prefix) const {
    if (FIndexed) {
        auto it = FIndex.find(&prefix);
        return it == FIndex.end() ? nullptr : FDeclarations[size_t(it->second)].Name;
    }
    for (size_t i = FDeclarations.size(); i-- > 0;)
        if (FDeclarations[i].Prefix == &prefix)
            return FDeclarations[i].Name;
    return nullptr;
}

void TNuvXMLNamespaceManager::PopScope() {
    while (!FDeclarations.empty() && FDeclarations.back().Scope == FScope) {
        const TDeclaration& d = FDeclarations.back();
        if (FIndexed) {
            if (d.Previous >= 0)
                FIndex[d.Prefix] = d.Previous;
            else
                FIndex.erase(d.Prefix);
        }
        FDeclarations.pop_back();
    }
    if (FScope > 0)
        --FScope;
}

// ---------------------------------------------------------------------------------------------
// Node records

const std::u16string& TNuvXMLNodeData::MakeQualifiedName(TNuvXMLNameTable& names) const {
    if (Prefix && !Prefix->empty())
        FQualifiedName = &names.Add(*Prefix + u":" + *LocalName);
    else
        FQualifiedName = LocalName ? LocalName : &names.Empty();
    return *FQualifiedName;
}

// ---------------------------------------------------------------------------------------------
// Reader: construction and the caller's view of the current node

namespace {
TNuvXMLNameTable* ChooseTable(const TNuvXMLReaderSettings& settings, std::unique_ptr<TNuvXMLNameTable>& own) {
    if (settings.NameTable)
        return settings.NameTable;
    own = std::make_unique<TNuvXMLNameTable>();
    return own.get();
}
} // namespace

TNuvXMLTextReader::TNuvXMLTextReader(const TNuvXMLReaderSettings& settings, TNuvStream* stream)
    : FSettings(settings), FStream(stream), FNameTable(ChooseTable(settings, FOwnNameTable)),
      FNamespaces(*FNameTable) {
    if (!stream)
        throw ENuvXMLArgumentNullException(u"input");
    FXmlnsName = &FNameTable->Add(kXmlnsNamespace);
    FXmlName = &FNameTable->Add(kXmlNamespace);
    FXmlnsAtom = &FNameTable->Add(u"xmlns");
    FXmlAtom = &FNameTable->Add(u"xml");
    FNodes.resize(8);
    for (auto& node : FNodes)
        node.LocalName = node.Prefix = node.NamespaceName = &FNameTable->Empty();
    FChars.resize(65536 + 1);
    FChars[0] = 0;
}

TNuvXMLTextReader::~TNuvXMLTextReader() = default;

bool TNuvXMLTextReader::Preserving() const {
    return FContext >= 0 && FContexts[size_t(FContext)].XmlSpace == 2;
}

const std::u16string& TNuvXMLTextReader::XmlLang() const {
    return FContext >= 0 ? FContexts[size_t(FContext)].XmlLang : FNameTable->Empty();
}

void TNuvXMLTextReader::Materialise(TNuvXMLNodeData& node) {
    if (!node.ValueReady) {
        node.Value.assign(FChars.data() + node.ValueStart, node.ValueLength);
        node.ValueReady = true;
    }
}

std::u16string_view TNuvXMLTextReader::RawValueView() const {
    const TNuvXMLNodeData& node = FNodes[FCurrent];
    return node.ValueReady ? std::u16string_view(node.Value)
                           : std::u16string_view(FChars.data() + node.ValueStart, node.ValueLength);
}

std::u16string_view TNuvXMLTextReader::ValueView() {
    const std::u16string_view value = RawValueView();
    if (Preserving())
        return value;
    size_t b = 0, e = value.size();
    while (b < e && value[b] < 33)
        ++b;
    while (e > b && value[e - 1] < 33)
        --e;
    return value.substr(b, e - b);
}

std::u16string TNuvXMLTextReader::GetValue() {
    return std::u16string(ValueView());
}

std::u16string TNuvXMLTextReader::GetAttribute(std::u16string_view localName,
                                               std::u16string_view namespaceName) {
    for (int32_t i = 1; i <= FAttributeCount; ++i) {
        TNuvXMLNodeData& a = FNodes[FElementAt + size_t(i)];
        if (*a.LocalName == localName && *a.NamespaceName == namespaceName) {
            Materialise(a);
            return a.Value;
        }
    }
    return {};
}

std::u16string TNuvXMLTextReader::LookupNamespace(std::u16string_view prefix) {
    if (!FSettings.NamespaceAware)
        return {};
    const std::u16string& atom = FNameTable->Find(prefix);
    if (atom.empty() && !prefix.empty())
        return {};
    const std::u16string* name = FNamespaces.LookupNamespace(atom);
    return name ? *name : std::u16string();
}

bool TNuvXMLTextReader::MoveToElement() {
    if (FNodes[FCurrent].NodeType != TNuvXMLNodeType::Attribute)
        return false;
    FCurrent = FElementAt;
    return true;
}

bool TNuvXMLTextReader::MoveToNextAttribute() {
    if (FAttributeCount == 0)
        return false;
    if (FCurrent == FElementAt) {
        FCurrent = FElementAt + 1;
        return true;
    }
    if (FCurrent > FElementAt && FCurrent < FElementAt + size_t(FAttributeCount)) {
        ++FCurrent;
        return true;
    }
    return false;
}

void TNuvXMLTextReader::Skip() {
    MoveToElement();
    const TNuvXMLNodeData& node = FNodes[FCurrent];
    if (node.NodeType == TNuvXMLNodeType::Element && !node.IsEmptyElement) {
        const int32_t depth = node.Depth;
        while (Read())
            if (NodeType() == TNuvXMLNodeType::EndElement && Depth() == depth)
                break;
    }
    Read();
}

bool TNuvXMLTextReader::TryGetAttribute(std::u16string_view name, std::u16string& value) {
    const size_t colon = name.find(u':');
    for (int32_t i = 1; i <= FAttributeCount; ++i) {
        TNuvXMLNodeData& a = FNodes[FElementAt + size_t(i)];
        bool match;
        if (colon != std::u16string_view::npos)
            // A reader that does not split names keeps the whole qualified name as local name.
            match = (a.Prefix->size() == colon && name.substr(0, colon) == *a.Prefix &&
                     name.substr(colon + 1) == *a.LocalName) ||
                    (a.Prefix->empty() && *a.LocalName == name);
        else
            match = a.Prefix->empty() && *a.LocalName == name;
        if (match) {
            Materialise(a);
            value = a.Value;
            return true;
        }
    }
    return false;
}

bool TNuvXMLTextReader::TryGetAttribute(std::u16string_view prefix, std::u16string_view localName,
                                        std::u16string_view namespaceName, std::u16string& value) {
    for (int32_t i = 1; i <= FAttributeCount; ++i) {
        TNuvXMLNodeData& a = FNodes[FElementAt + size_t(i)];
        const bool match = *a.LocalName == localName &&
                           (namespaceName.empty() ? *a.Prefix == prefix : *a.NamespaceName == namespaceName);
        if (match) {
            Materialise(a);
            value = a.Value;
            return true;
        }
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// Reading nodes

bool TNuvXMLTextReader::Read() {
    if (FState == TState::EndOfInput || FState == TState::Error)
        return false;
    try {
        return ReadNode();
    } catch (...) {
        FState = TState::Error;
        throw;
    }
}

bool TNuvXMLTextReader::ReadNode() {
    if (FState == TState::Initial) {
        StartInput();
        FState = TState::Content;
        if (ParseDeclaration())
            return true;
    }
    if (FPopPending)
        PopElement();
    for (;;) {
        Compact();
        if (FPos == FEnd && !Fill()) {
            EndOfInput();
            return false;
        }
        if (FChars[FPos] == u'<') {
            if (ParseMarkup())
                return true;
        } else if (ParseText()) {
            return true;
        }
    }
}

bool TNuvXMLTextReader::ParseDeclaration() {
    static constexpr std::u16string_view open = u"<?xml";
    const bool present = Ensure(6) && std::u16string_view(FChars.data(), 5) == open && IsXmlSpace(FChars[5]);
    if (!present) {
        FInDeclaration = false;
        if (FCoding == TCoding::Ascii) {
            FCoding = TCoding::Utf8;
            FProvisional = false;
        }
        return false;
    }
    TNuvXMLNodeData& decl = NewNode(TNuvXMLNodeType::XmlDeclaration, 0, 2);
    decl.LocalName = &FNameTable->Add(u"xml");
    decl.FQualifiedName = decl.LocalName;
    size_t pos = 5;
    int stage = 0; // 1 after version, 2 after encoding, 3 after standalone
    int32_t count = 0;
    size_t encodingAt = 0, encodingLength = 0;
    for (;;) {
        const size_t before = pos;
        pos = SkipSpace(pos);
        if (pos == FEnd)
            RaiseEof(pos);
        if (FChars[pos] == u'?') {
            if (At(pos + 1) != u'>' || stage == 0)
                Raise(kBadDeclaration, pos);
            break;
        }
        if (pos == before || stage == 3)
            Raise(kBadDeclaration, pos);
        const size_t nameAt = pos;
        const TNameSpan name = ParseName(pos, false);
        const std::u16string_view text(FChars.data() + name.Start, name.Length);
        int which;
        if (text == u"version" && stage == 0)
            which = 1;
        else if (text == u"encoding" && stage == 1)
            which = 2;
        else if (text == u"standalone" && (stage == 1 || stage == 2))
            which = 3;
        else
            Raise(kBadDeclaration, nameAt);
        pos = SkipSpace(pos);
        if (FChars[pos] != u'=')
            Raise(kBadDeclaration, pos);
        pos = SkipSpace(pos + 1);
        const char16_t quote = FChars[pos];
        if (quote != u'"' && quote != u'\'')
            Raise(kBadDeclaration, pos);
        const size_t start = ++pos;
        for (;;) {
            const char16_t c = At(pos);
            if (c == quote)
                break;
            if (c == 0 && pos >= FEnd)
                RaiseEof(pos);
            const bool letter = IsAsciiLetter(c);
            const bool digit = IsAsciiDigit(c);
            bool allowed;
            if (which == 1)
                allowed = letter || digit || c == u'_' || c == u'.' || c == u':' || c == u'-';
            else if (which == 2)
                allowed = letter || (pos > start && (digit || c == u'.' || c == u'_' || c == u'-'));
            else
                allowed = letter;
            if (!allowed)
                Raise(kBadDeclaration, pos);
            ++pos;
        }
        const std::u16string_view value(FChars.data() + start, pos - start);
        if (value.empty() || (which == 3 && value != u"yes" && value != u"no"))
            Raise(kBadDeclaration, start);
        if (which == 2) {
            encodingAt = start;
            encodingLength = pos - start;
        }
        if (which == 3)
            FStandalone = value == u"yes";
        stage = which;
        ++count;
        TNuvXMLNodeData& attribute = Slot(FElementAt + size_t(count));
        attribute.NodeType = TNuvXMLNodeType::Attribute;
        attribute.Depth = 1;
        attribute.LineNumber = LineOf();
        attribute.LinePosition = PositionOf(nameAt);
        SetName(attribute, name);
        attribute.QuoteChar = quote;
        attribute.ValueStart = start;
        attribute.ValueLength = pos - start;
        attribute.ValueReady = false;
        ++pos;
    }
    FAttributeCount = count;
    TNuvXMLNodeData& node = FNodes[FElementAt];
    node.ValueStart = 5;
    node.ValueLength = pos - 5;
    node.ValueReady = false;
    FPos = pos + 2;
    FInDeclaration = false;
    if (encodingLength) {
        const std::u16string name(FChars.data() + encodingAt, encodingLength);
        const size_t saved = FPos;
        FPos = encodingAt;
        SwitchEncoding(name, saved);
        FPos = saved;
    } else if (FCoding == TCoding::Ascii) {
        FCoding = TCoding::Utf8;
        FProvisional = false;
    }
    return true;
}

bool TNuvXMLTextReader::ParseMarkup() {
    const char16_t next = At(FPos + 1);
    if (next == u'/') {
        ParseEndTag();
        return true;
    }
    if (next == u'?')
        return ParsePI();
    if (next == u'!') {
        const char16_t third = At(FPos + 2);
        if (third == u'-')
            return ParseComment();
        if (third == u'[')
            return ParseCData();
        if (third == u'D') {
            ParseDoctype();
            return false;
        }
        if (third == 0 && FPos + 2 >= FEnd)
            RaiseEof(FPos + 2);
        RaiseUnexpected(FPos + 2, u"DOCTYPE", u"[CDATA[");
    }
    if (next == 0 && FPos + 1 >= FEnd)
        RaiseEof(FPos + 1);
    ParseStartTag();
    return true;
}

void TNuvXMLTextReader::ParseStartTag() {
    size_t pos = FPos + 1;
    const bool aware = FSettings.NamespaceAware;
    if (FDepth == 0) {
        if (FRootSeen && !FFragment) {
            if (FSettings.Conformance == TNuvXMLConformance::Document)
                Raise(u"There are multiple root elements.", pos);
            FFragment = true;
        }
        FRootSeen = true;
    }
    const TNameSpan name = ParseName(pos, aware);
    const size_t elementAt = 1;
    {
        TNuvXMLNodeData& element = NewNode(TNuvXMLNodeType::Element, FDepth, name.Start);
        SetName(element, name);
    }
    int32_t count = 0;
    bool empty = false;
    for (;;) {
        const size_t before = pos;
        pos = SkipSpace(pos);
        const char16_t c = FChars[pos];
        if (c == u'>') {
            ++pos;
            break;
        }
        if (c == u'/') {
            if (At(pos + 1) != u'>')
                RaiseUnexpected(pos + 1, u">");
            pos += 2;
            empty = true;
            break;
        }
        if (c == 0 && pos == FEnd)
            RaiseEof(pos);
        if (pos == before)
            RaiseUnexpected(pos, {});
        const size_t nameAt = pos;
        const TNameSpan attributeName = ParseName(pos, aware);
        pos = SkipSpace(pos);
        if (FChars[pos] != u'=')
            RaiseUnexpected(pos, u"=");
        pos = SkipSpace(pos + 1);
        const char16_t quote = FChars[pos];
        if (quote != u'"' && quote != u'\'')
            RaiseUnexpected(pos, u"\"", u"'");
        ++count;
        TNuvXMLNodeData& attribute = Slot(elementAt + size_t(count));
        attribute.NodeType = TNuvXMLNodeType::Attribute;
        attribute.Depth = FDepth + 1;
        attribute.IsEmptyElement = false;
        attribute.LineNumber = LineOf();
        attribute.LinePosition = PositionOf(nameAt);
        SetName(attribute, attributeName);
        AttributeValue(pos, attribute);
    }
    FPos = pos;
    FAttributeCount = count;
    FElementAt = elementAt;
    FCurrent = elementAt;
    FNodes[elementAt].IsEmptyElement = empty;

    CheckDuplicates(elementAt, count, false);
    if (aware) {
        ResolveNamespaces(elementAt, count);
        CheckDuplicates(elementAt, count, true);
    }
    ApplyXmlAttributes(elementAt, count);
    const TNuvXMLNodeData& element = FNodes[elementAt];
    FOpen.push_back({element.LocalName, element.Prefix, element.NamespaceName, element.LineNumber,
                     element.LinePosition, element.PushedScope, element.PushedContext});
    ++FDepth;
    if (empty)
        FPopPending = true;
}

void TNuvXMLTextReader::AttributeValue(size_t& pos, TNuvXMLNodeData& attribute) {
    const char16_t quote = FChars[pos];
    const int32_t quoteLine = LineOf();
    const int32_t quotePosition = PositionOf(pos);
    const size_t start = ++pos;
    size_t write = start;
    // Normalised in place: a replacement is never longer than what it replaces.
    char16_t* b = FChars.data();
    for (;;) {
        const char16_t c = b[pos];
        if (c < 256) {
            if (NuvXMLCharClass[c] & kXmlAttrValue) {
                b[write++] = c;
                ++pos;
                continue;
            }
            if (c == quote)
                break;
            switch (c) {
            case u'"':
            case u'\'':
                b[write++] = c;
                ++pos;
                continue;
            case u'\t':
                b[write++] = u' ';
                ++pos;
                continue;
            case u'\n':
                b[write++] = u' ';
                NewLine(++pos);
                continue;
            case u'\r':
                ++pos;
                if (At(pos) == u'\n')
                    ++pos;
                b = FChars.data();
                b[write++] = u' ';
                NewLine(pos);
                continue;
            case u'<':
                Raise(u"'%s', hexadecimal value %s, is an invalid attribute character.", pos, XmlCharArgs(c));
            case u'&':
                Reference(pos, write, true);
                b = FChars.data();
                continue;
            default:
                break;
            }
            if (c == 0 && pos == FEnd) {
                if (!Fill())
                    RaiseAt(u"There is an unclosed literal string.", quoteLine, quotePosition);
                b = FChars.data();
                continue;
            }
            CheckChar(pos);
            b[write++] = c;
            ++pos;
            continue;
        }
        if (c >= 0xD800) {
            CheckChar(pos);
            b = FChars.data();
            if (c <= 0xDBFF) {
                b[write++] = c;
                ++pos;
            }
        }
        b[write++] = b[pos++];
    }
    attribute.QuoteChar = quote;
    attribute.ValueStart = start;
    attribute.ValueLength = write - start;
    attribute.ValueReady = false;
    ++pos;
}

bool TNuvXMLTextReader::Reference(size_t& pos, size_t& write, bool inAttribute) {
    (void)inAttribute;
    const size_t at = pos;
    if (At(pos + 1) == u'#') {
        const bool hex = At(pos + 2) == u'x';
        size_t p = pos + (hex ? 3 : 2);
        uint32_t code = 0;
        size_t digits = 0;
        for (;; ++p) {
            const char16_t c = At(p);
            const int d = hex ? AsciiHexDigitValue(c) : IsAsciiDigit(c) ? c - u'0' : -1;
            if (d < 0)
                break;
            code = std::min<uint32_t>(code * (hex ? 16 : 10) + uint32_t(d), 0x110000);
            ++digits;
        }
        if (digits == 0 || FChars[p] != u';' || p >= FEnd)
            Raise(hex ? u"Invalid syntax for a hexadecimal numeric entity reference."
                      : u"Invalid syntax for a decimal numeric entity reference.",
                  p);
        const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
        if (!IsXmlChar(code)) {
            if (FSettings.ValidateCharacters && code < 0x110000 && !surrogate)
                RaiseInvalidChar(at, char16_t(code));
            if (code == 0 || code >= 0x110000 || surrogate)
                Raise(u"Invalid value of a character entity reference.", at);
        }
        char16_t* b = FChars.data();
        if (code >= 0x10000) {
            b[write++] = char16_t(0xD800 + ((code - 0x10000) >> 10));
            b[write++] = char16_t(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            b[write++] = char16_t(code);
        }
        pos = p + 1;
        return true;
    }
    size_t p = pos + 1;
    const TNameSpan name = ParseName(p, false);
    if (At(p) != u';')
        RaiseUnexpected(p, u";");
    const std::u16string_view text(FChars.data() + name.Start, name.Length);
    char16_t c = 0;
    if (text == u"lt")
        c = u'<';
    else if (text == u"gt")
        c = u'>';
    else if (text == u"amp")
        c = u'&';
    else if (text == u"apos")
        c = u'\'';
    else if (text == u"quot")
        c = u'"';
    char16_t* b = FChars.data();
    if (c) {
        b[write++] = c;
    } else {
        // An entity nobody declared to us stays as written.
        for (size_t i = pos; i <= p; ++i)
            b[write++] = b[i];
    }
    pos = p + 1;
    return c != 0;
}

void TNuvXMLTextReader::CheckDuplicates(size_t elementAt, int32_t count, bool byNamespace) {
    auto key = [&](const TNuvXMLNodeData& a) {
        return std::pair<const void*, const void*>(a.LocalName, byNamespace ? a.NamespaceName : a.Prefix);
    };
    auto fail = [&](const TNuvXMLNodeData& a) {
        FCurrent = size_t(&a - FNodes.data());
        RaiseAt(u"%s is a duplicate attribute name", a.LineNumber, a.LinePosition,
                {a.QualifiedName(*FNameTable)});
    };
    if (count <= 16) {
        for (int32_t j = 2; j <= count; ++j)
            for (int32_t i = 1; i < j; ++i)
                if (key(FNodes[elementAt + size_t(i)]) == key(FNodes[elementAt + size_t(j)]))
                    fail(FNodes[elementAt + size_t(j)]);
        return;
    }
    // A long list is checked through a hash set, so a tag with many attributes stays linear.
    struct THash {
        size_t operator()(const std::pair<const void*, const void*>& p) const {
            return std::hash<const void*>()(p.first) * 31 + std::hash<const void*>()(p.second);
        }
    };
    std::unordered_set<std::pair<const void*, const void*>, THash> seen;
    seen.reserve(size_t(count));
    for (int32_t i = 1; i <= count; ++i)
        if (!seen.insert(key(FNodes[elementAt + size_t(i)])).second)
            fail(FNodes[elementAt + size_t(i)]);
}

void TNuvXMLTextReader::ResolveNamespaces(size_t elementAt, int32_t count) {
    const std::u16string& empty = FNameTable->Empty();
    bool pushed = false;
    for (int32_t i = 1; i <= count; ++i) {
        TNuvXMLNodeData& a = FNodes[elementAt + size_t(i)];
        const bool prefixed = a.Prefix == FXmlnsAtom;
        if (!prefixed && !(a.Prefix == &empty && a.LocalName == FXmlnsAtom))
            continue;
        const std::u16string& prefix = prefixed ? *a.LocalName : empty;
        const std::u16string_view value(FChars.data() + a.ValueStart, a.ValueLength);
        auto fail = [&](std::u16string_view text, std::vector<std::u16string> args = {}) {
            FCurrent = elementAt + size_t(i);
            RaiseAt(text, a.LineNumber, a.LinePosition, std::move(args));
        };
        if (&prefix == FXmlnsAtom)
            fail(kXmlnsReserved);
        if (prefixed && value.empty())
            fail(u"Invalid namespace declaration.");
        if (&prefix == FXmlAtom) {
            if (value != kXmlNamespace)
                fail(kXmlReserved);
        } else if (value == kXmlNamespace || value == kXmlnsNamespace) {
            fail(kReservedNamespace, {prefix});
        }
        if (!pushed) {
            FNamespaces.PushScope();
            pushed = true;
        }
        FNamespaces.AddNamespace(prefix, FNameTable->Add(value));
        a.NamespaceName = FXmlnsName;
        if (!prefixed) {
            PushContextOnce(elementAt);
            FContexts[size_t(FContext)].DefaultNamespace = &FNameTable->Add(value);
        }
    }
    FNodes[elementAt].PushedScope = pushed;
    auto resolve = [&](const std::u16string* prefix) {
        const std::u16string* name = FNamespaces.LookupNamespace(*prefix);
        return name ? name : prefix; // an undeclared prefix stands for itself
    };
    TNuvXMLNodeData& element = FNodes[elementAt];
    if (element.Prefix == FXmlnsAtom)
        RaiseAt(kXmlnsReserved, element.LineNumber, element.LinePosition);
    element.NamespaceName = resolve(element.Prefix);
    for (int32_t i = 1; i <= count; ++i) {
        TNuvXMLNodeData& a = FNodes[elementAt + size_t(i)];
        if (a.NamespaceName == FXmlnsName)
            continue;
        a.NamespaceName = a.Prefix == &empty ? &empty : resolve(a.Prefix);
    }
}

void TNuvXMLTextReader::PushContextOnce(size_t elementAt) {
    TNuvXMLNodeData& element = FNodes[elementAt];
    if (element.PushedContext)
        return;
    TXmlContext context;
    if (FContext >= 0)
        context = FContexts[size_t(FContext)];
    context.Outer = FContext;
    FContexts.push_back(std::move(context));
    FContext = int32_t(FContexts.size() - 1);
    element.PushedContext = true;
}

void TNuvXMLTextReader::ApplyXmlAttributes(size_t elementAt, int32_t count) {
    for (int32_t i = 1; i <= count; ++i) {
        TNuvXMLNodeData& a = FNodes[elementAt + size_t(i)];
        bool space, lang;
        if (FSettings.NamespaceAware) {
            space = a.Prefix == FXmlAtom && *a.LocalName == u"space";
            lang = a.Prefix == FXmlAtom && *a.LocalName == u"lang";
        } else {
            space = *a.LocalName == u"xml:space";
            lang = *a.LocalName == u"xml:lang";
        }
        if (!space && !lang)
            continue;
        const std::u16string_view value(FChars.data() + a.ValueStart, a.ValueLength);
        if (space) {
            const std::u16string trimmed = Trim(value);
            uint8_t mode;
            if (trimmed == u"default")
                mode = 1;
            else if (trimmed == u"preserve")
                mode = 2;
            else {
                FCurrent = elementAt + size_t(i);
                RaiseAt(u"'%s' is an invalid xml:space value.", a.LineNumber, a.LinePosition,
                        {std::u16string(value)});
            }
            PushContextOnce(elementAt);
            FContexts[size_t(FContext)].XmlSpace = mode;
        } else {
            PushContextOnce(elementAt);
            FContexts[size_t(FContext)].XmlLang.assign(value);
        }
    }
}

std::u16string TNuvXMLTextReader::OpenName(const TOpenElement& open) const {
    return open.Prefix->empty() ? *open.LocalName : *open.Prefix + u":" + *open.LocalName;
}

void TNuvXMLTextReader::PopElement() {
    FPopPending = false;
    const TOpenElement& element = FOpen.back();
    if (element.PushedScope)
        FNamespaces.PopScope();
    if (element.PushedContext) {
        FContext = FContexts[size_t(FContext)].Outer;
        FContexts.pop_back();
    }
    FOpen.pop_back();
    --FDepth;
    if (FDepth == 0)
        FRootClosed = true;
}

void TNuvXMLTextReader::ParseEndTag() {
    size_t pos = FPos + 2;
    if (FDepth == 0)
        Raise(u"Unexpected end tag.", pos);
    const TOpenElement& open = FOpen.back();
    const size_t nameAt = pos;
    TNameSpan name;
    try {
        name = ParseName(pos, FSettings.NamespaceAware);
    } catch (const ENuvXMLException&) {
        // Input that ends inside the end tag has its own message.
        if (pos < FEnd || !FStreamEnded || FByteBegin < FByteEnd)
            throw;
        Raise(u"UnclosedElements", pos);
    }
    const std::u16string_view written(FChars.data() + name.Start, name.Length);
    bool same;
    if (open.Prefix->empty())
        same = written == *open.LocalName;
    else
        same = name.Colon == open.Prefix->size() && written.substr(0, name.Colon) == *open.Prefix &&
               written.substr(name.Colon + 1) == *open.LocalName;
    if (!same)
        Raise(u"The '%s' start tag on line '%s' position '%s' does not match the end tag of '%s'.", nameAt,
              {OpenName(open), IntToStr(open.LineNumber), IntToStr(open.LinePosition),
               std::u16string(written)});
    pos = SkipSpace(pos);
    if (FChars[pos] != u'>') {
        if (pos == FEnd)
            Raise(u"UnclosedElements", pos);
        RaiseUnexpected(pos, u">");
    }
    TNuvXMLNodeData& node = NewNode(TNuvXMLNodeType::EndElement, FDepth - 1, nameAt);
    node.LocalName = open.LocalName;
    node.Prefix = open.Prefix;
    node.NamespaceName = open.NamespaceName;
    node.FQualifiedName = open.Prefix->empty() ? open.LocalName : nullptr;
    FAttributeCount = 0;
    FPos = pos + 1;
    FPopPending = true;
}

bool TNuvXMLTextReader::ParseText() {
    size_t pos = FPos;
    const size_t start = pos;
    const int32_t line = LineOf();
    const int32_t position = PositionOf(pos);
    const bool topLevel = FDepth == 0 && !FFragment;
    size_t write = pos;
    bool white = true;
    char16_t* b = FChars.data();
    for (;;) {
        if (write == pos) {
            // Nothing replaced so far: ordinary characters need no copy, only a look.
            size_t p = pos;
            bool seenText = false;
            for (;; ++p) {
                const char16_t d = b[p];
                if (d < 256) {
                    const uint8_t k = NuvXMLCharClass[d];
                    if (!(k & kXmlText))
                        break;
                    seenText |= !(k & kXmlSpace);
                } else if (d >= 0xD800) {
                    break;
                } else {
                    seenText = true;
                }
            }
            if (seenText && white) {
                white = false;
                if (topLevel) {
                    if (FSettings.Conformance == TNuvXMLConformance::Document) {
                        size_t at = pos;
                        while (IsXmlSpace(b[at]))
                            ++at;
                        Raise(u"Data at the root level is invalid.", at);
                    }
                    FFragment = true;
                }
            }
            pos = write = p;
        }
        const char16_t c = b[pos];
        if (c < 256) {
            const uint8_t k = NuvXMLCharClass[c];
            if (k & kXmlText) {
                if (!(k & kXmlSpace) && white) {
                    white = false;
                    if (topLevel) {
                        if (FSettings.Conformance == TNuvXMLConformance::Document)
                            Raise(u"Data at the root level is invalid.", pos);
                        FFragment = true;
                    }
                }
                b[write++] = c;
                ++pos;
                continue;
            }
            if (c == u'<')
                break;
            if (c == u'\n') {
                b[write++] = c;
                NewLine(++pos);
                continue;
            }
            if (c == u'\r') {
                ++pos;
                if (At(pos) == u'\n')
                    ++pos;
                b = FChars.data();
                b[write++] = u'\n';
                NewLine(pos);
                continue;
            }
            if (c == u'&') {
                if (topLevel && FSettings.Conformance == TNuvXMLConformance::Document)
                    Raise(u"Data at the root level is invalid.", pos);
                if (topLevel)
                    FFragment = true;
                white = false;
                Reference(pos, write, false);
                b = FChars.data();
                continue;
            }
            if (c == u']') {
                if (At(pos + 1) == u']' && At(pos + 2) == u'>')
                    Raise(u"']]&gt;' is not allowed in character data.", pos);
                b = FChars.data();
                if (white && topLevel) {
                    if (FSettings.Conformance == TNuvXMLConformance::Document)
                        Raise(u"Data at the root level is invalid.", pos);
                    FFragment = true;
                }
                white = false;
                b[write++] = c;
                ++pos;
                continue;
            }
            if (c == 0 && pos == FEnd) {
                if (!Fill())
                    break;
                b = FChars.data();
                continue;
            }
            CheckChar(pos);
        } else if (c >= 0xD800) {
            CheckChar(pos);
            b = FChars.data();
            if (c <= 0xDBFF)
                b[write++] = b[pos++];
        }
        if (white && topLevel) {
            if (FSettings.Conformance == TNuvXMLConformance::Document)
                Raise(u"Data at the root level is invalid.", pos);
            FFragment = true;
        }
        white = false;
        b[write++] = b[pos++];
    }
    FPos = pos;
    TNuvXMLNodeType type = TNuvXMLNodeType::Text;
    if (white) {
        if (Preserving())
            type = TNuvXMLNodeType::SignificantWhitespace;
        else if (FSettings.SkipWhitespace)
            return false;
        else
            type = TNuvXMLNodeType::Whitespace;
    }
    NewValueNode(type, start, line, position, start, write - start);
    return true;
}

void TNuvXMLTextReader::NewValueNode(TNuvXMLNodeType type, size_t at, int32_t line, int32_t position,
                                     size_t start, size_t length) {
    TNuvXMLNodeData& node = NewNode(type, FDepth, at);
    node.LineNumber = line;
    node.LinePosition = position;
    node.ValueStart = start;
    node.ValueLength = length;
    node.ValueReady = false;
}

size_t TNuvXMLTextReader::ScanTo(size_t& pos, std::u16string_view terminator, std::u16string_view construct,
                                 bool comment) {
    const size_t start = pos;
    size_t write = pos;
    for (;;) {
        const char16_t c = FChars[pos];
        if (c == terminator[0]) {
            bool match = true;
            for (size_t k = 1; k < terminator.size() && match; ++k)
                match = At(pos + k) == terminator[k];
            if (match) {
                pos += terminator.size();
                return write - start;
            }
            if (comment && At(pos + 1) == u'-')
                Raise(u"An XML comment cannot contain '--', and '-' cannot be the last character.", pos);
        } else if (c == u'\n') {
            FChars[write++] = c;
            NewLine(++pos);
            continue;
        } else if (c == u'\r') {
            ++pos;
            if (At(pos) == u'\n')
                ++pos;
            FChars[write++] = u'\n';
            NewLine(pos);
            continue;
        } else if (c == 0 && pos == FEnd) {
            if (!Fill())
                RaiseEof(pos, construct);
            continue;
        } else if (c < 0x20 || c >= 0xD800) {
            CheckChar(pos);
            if (c >= 0xD800 && c <= 0xDBFF)
                FChars[write++] = FChars[pos++];
        }
        FChars[write++] = FChars[pos++];
    }
}

bool TNuvXMLTextReader::ParseComment() {
    if (At(FPos + 3) != u'-')
        RaiseUnexpected(FPos + 3, u"-");
    const size_t at = FPos;
    const int32_t line = LineOf();
    const int32_t position = PositionOf(at + 4);
    size_t pos = FPos + 4;
    const size_t start = pos;
    const size_t length = ScanTo(pos, u"-->", u"Comment", true);
    FPos = pos;
    if (FSettings.SkipComments)
        return false;
    NewValueNode(TNuvXMLNodeType::Comment, at, line, position, start, length);
    return true;
}

bool TNuvXMLTextReader::ParseCData() {
    static constexpr std::u16string_view open = u"<![CDATA[";
    for (size_t k = 3; k < open.size(); ++k)
        if (At(FPos + k) != open[k]) {
            if (FPos + k >= FEnd)
                RaiseEof(FPos + k);
            RaiseUnexpected(FPos + 2, u"[CDATA[");
        }
    if (FDepth == 0 && !FFragment) {
        if (FSettings.Conformance == TNuvXMLConformance::Document)
            Raise(u"InvalidRootData", FPos);
        FFragment = true;
    }
    const int32_t line = LineOf();
    const int32_t position = PositionOf(FPos + open.size());
    size_t pos = FPos + open.size();
    const size_t start = pos;
    const size_t length = ScanTo(pos, u"]]>", u"CDATA", false);
    FPos = pos;
    NewValueNode(TNuvXMLNodeType::CDATA, start, line, position, start, length);
    return true;
}

bool TNuvXMLTextReader::ParsePI() {
    size_t pos = FPos + 2;
    const size_t nameAt = pos;
    const int32_t line = LineOf();
    const TNameSpan name = ParseName(pos, false);
    const std::u16string_view target(FChars.data() + name.Start, name.Length);
    if (SameTextAscii(target, u"xml"))
        Raise(
            u"Unexpected XML declaration. The XML declaration must be the first node in the document, and no "
            u"white space characters are allowed to appear before it.",
            nameAt);
    if (FSettings.NamespaceAware) {
        const size_t colon = target.find(u':');
        if (colon != std::u16string_view::npos)
            RaiseNameChar(nameAt + colon, false);
    }
    size_t start = pos, length = 0;
    if (At(pos) == u'?' && At(pos + 1) == u'>') {
        pos += 2;
    } else {
        const size_t before = pos;
        pos = SkipSpace(pos);
        if (pos == before) {
            if (pos >= FEnd)
                RaiseEof(pos, u"PI");
            RaiseUnexpected(pos, {});
        }
        start = pos;
        length = ScanTo(pos, u"?>", u"PI", false);
    }
    FPos = pos;
    if (FSettings.SkipProcessingInstructions)
        return false;
    TNuvXMLNodeData& node = NewNode(TNuvXMLNodeType::ProcessingInstruction, FDepth, nameAt);
    node.LineNumber = line;
    node.LocalName = &Atom(name.Start, name.Length);
    node.FQualifiedName = node.LocalName;
    node.ValueStart = start;
    node.ValueLength = length;
    node.ValueReady = false;
    return true;
}

void TNuvXMLTextReader::SkipLiteral(size_t& pos, bool publicId) {
    const char16_t quote = FChars[pos];
    if (quote != u'"' && quote != u'\'') {
        if (pos >= FEnd)
            RaiseEof(pos, u"DOCTYPE");
        RaiseUnexpected(pos, u"\"", u"'");
    }
    ++pos;
    for (;;) {
        const char16_t c = At(pos);
        if (c == quote) {
            ++pos;
            return;
        }
        if (c == 0 && pos >= FEnd)
            RaiseEof(pos, u"DOCTYPE");
        if (publicId) {
            static constexpr std::u16string_view extra = u" \r\n-'()+,./:=?;!*#@$_%";
            if (!IsAsciiAlphaNumeric(c) && extra.find(c) == std::u16string_view::npos)
                RaiseInvalidChar(pos);
        }
        if (c == u'\n') {
            NewLine(pos + 1);
        } else if (c == u'\r') {
            if (At(pos + 1) != u'\n')
                NewLine(pos + 1);
        } else if (c < 0x20 || c >= 0xD800) {
            CheckChar(pos);
            if (c >= 0xD800 && c <= 0xDBFF)
                ++pos;
        }
        ++pos;
    }
}

void TNuvXMLTextReader::ParseDoctype() {
    static constexpr std::u16string_view open = u"<!DOCTYPE";
    for (size_t k = 3; k < open.size(); ++k)
        if (At(FPos + k) != open[k]) {
            if (FPos + k >= FEnd)
                RaiseEof(FPos + k, u"DOCTYPE");
            RaiseUnexpected(FPos + 2, u"DOCTYPE");
        }
    if (FRootSeen || FDoctypeSeen)
        Raise(u"Unexpected DTD declaration.", FPos + 2);
    FDoctypeSeen = true;
    size_t pos = FPos + open.size();
    size_t before = pos;
    pos = SkipSpace(pos);
    if (pos == before) {
        if (pos >= FEnd)
            RaiseEof(pos, u"DOCTYPE");
        RaiseUnexpected(pos, {});
    }
    ParseName(pos, FSettings.NamespaceAware);
    before = pos;
    pos = SkipSpace(pos);
    char16_t c = FChars[pos];
    if (c == u'P' || c == u'S') {
        const bool isPublic = c == u'P';
        const std::u16string_view keyword = isPublic ? u"PUBLIC" : u"SYSTEM";
        for (size_t k = 0; k < keyword.size(); ++k)
            if (At(pos + k) != keyword[k])
                Raise(u"Expecting external ID, '[' or '&gt;'.", pos);
        if (pos == before)
            RaiseUnexpected(pos, {});
        pos += keyword.size();
        for (int literal = isPublic ? 0 : 1; literal < 2; ++literal) {
            before = pos;
            pos = SkipSpace(pos);
            if (pos == before) {
                if (pos >= FEnd)
                    RaiseEof(pos, u"DOCTYPE");
                RaiseUnexpected(pos, {});
            }
            SkipLiteral(pos, literal == 0);
        }
        pos = SkipSpace(pos);
        c = FChars[pos];
        if (c != u'[' && c != u'>') {
            if (pos >= FEnd)
                RaiseEof(pos, u"DOCTYPE");
            Raise(u"Expecting an internal subset or the end of the DOCTYPE declaration.", pos);
        }
    } else if (c != u'[' && c != u'>') {
        if (pos >= FEnd)
            RaiseEof(pos, u"DOCTYPE");
        Raise(u"Expecting external ID, '[' or '&gt;'.", pos);
    }
    if (c == u'[') {
        ++pos;
        FPos = pos;
        SkipInternalSubset();
        pos = SkipSpace(FPos);
        if (FChars[pos] != u'>') {
            if (pos >= FEnd)
                RaiseEof(pos, u"DOCTYPE");
            RaiseUnexpected(pos, u">");
        }
    }
    FPos = pos + 1;
}

void TNuvXMLTextReader::SkipInternalSubset() {
    size_t pos = FPos;
    for (;;) {
        pos = SkipSpace(pos);
        const char16_t c = FChars[pos];
        if (c == u']') {
            FPos = pos + 1;
            return;
        }
        if (c == 0 && pos >= FEnd)
            RaiseEof(pos, u"DOCTYPE");
        if (c == u'%') {
            ++pos;
            ParseName(pos, false);
            if (At(pos) != u';')
                RaiseUnexpected(pos, u";");
            ++pos;
            continue;
        }
        if (c != u'<')
            Raise(u"Expecting an internal subset or the end of the DOCTYPE declaration.", pos);
        const char16_t second = At(pos + 1);
        if (second == u'?') {
            pos += 2;
            ParseName(pos, false);
            if (At(pos) == u'?' && At(pos + 1) == u'>') {
                pos += 2;
                continue;
            }
            if (!IsXmlSpace(At(pos)))
                RaiseUnexpected(pos, {});
            ScanTo(pos, u"?>", u"PI", false);
            continue;
        }
        if (second != u'!')
            RaiseUnexpected(pos + 1, u"!");
        if (At(pos + 2) == u'-') {
            if (At(pos + 3) != u'-')
                RaiseUnexpected(pos + 3, u"-");
            pos += 4;
            ScanTo(pos, u"-->", u"Comment", true);
            continue;
        }
        // A markup declaration: a keyword, then anything up to '>' outside quoted literals.
        pos += 2;
        static constexpr std::u16string_view keywords[] = {u"ELEMENT", u"ATTLIST", u"ENTITY", u"NOTATION"};
        bool known = false;
        for (std::u16string_view keyword : keywords) {
            size_t k = 0;
            while (k < keyword.size() && At(pos + k) == keyword[k])
                ++k;
            if (k == keyword.size() && IsXmlSpace(At(pos + k))) {
                pos += k;
                known = true;
                break;
            }
        }
        if (!known)
            Raise(u"Expecting an internal subset or the end of the DOCTYPE declaration.", pos);
        for (;;) {
            const char16_t d = At(pos);
            if (d == u'>') {
                ++pos;
                break;
            }
            if (d == u'"' || d == u'\'') {
                SkipLiteral(pos, false);
                continue;
            }
            if (d == 0 && pos >= FEnd)
                RaiseEof(pos, u"DOCTYPE");
            if (d == u'<')
                RaiseUnexpected(pos, u">");
            if (IsXmlSpace(d)) {
                pos = SkipSpace(pos);
                continue;
            }
            if (d < 0x20 || d >= 0xD800)
                CheckChar(pos);
            ++pos;
        }
    }
}

void TNuvXMLTextReader::EndOfInput() {
    if (FDepth > 0) {
        std::u16string names;
        for (auto open = FOpen.rbegin(); open != FOpen.rend(); ++open) {
            if (!names.empty())
                names += u", ";
            names += OpenName(*open);
        }
        names += u".";
        Raise(u"Unexpected end of file has occurred. The following elements are not closed: %s", FEnd,
              {names});
    }
    if (!FRootSeen && FSettings.Conformance == TNuvXMLConformance::Document)
        Raise(u"Root element is missing.", FEnd);
    FState = TState::EndOfInput;
    FCurrent = 0;
    FNodes[0] = TNuvXMLNodeData();
    FNodes[0].LocalName = FNodes[0].Prefix = FNodes[0].NamespaceName = &FNameTable->Empty();
    FAttributeCount = 0;
}
