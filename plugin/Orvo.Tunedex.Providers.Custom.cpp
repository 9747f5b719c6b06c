#include "plugin/Orvo.Tunedex.Providers.Custom.h"

#include "nuv/Nuv.FileFormats.XML.Reader.h"
#include "nuv/Nuv.Parsers.Ripper.h"
#include "nuv/Nuv.Streams.h"
#include "nuv/Nuv.Strings.h"
#include "nuv/Nuv.Web.Auth.h"
#include "nuv/Nuv.Web.Http.h"
#include "platform/Platform.Encoding.h"

#include <algorithm>
#include <array>
#include <climits>

namespace {

constexpr size_t npos = std::u16string_view::npos;

// ---- keywords

using K = TOrvoTunedexKeywords;

struct TKeyword {
    std::string_view Key;
    K::TCode Code;
};

// Sorted by key (byte order) for a binary search; constant data, so it exists from the moment the
// library is loaded until it is unloaded and is read without locks.
constexpr std::array kKeywords = std::to_array<TKeyword>({
    {"128", {K::ktFileName}},
    {"192", {K::ktFileName}},
    {"320", {K::ktFileName}},
    {"64", {K::ktFileName}},
    {"SCsrv", {K::ktFolder}},
    {"StationDesc", {K::ktDescription}},
    {"StationImage", {K::ktLogo}},
    {"StationName", {K::ktName}},
    {"Stream128k", {K::ktFileName}},
    {"Stream64k", {K::ktFileName}},
    {"artworkUrl", {K::ktLogo}},
    {"bitrate", {K::ktBitrate}},
    {"countries", {K::ktCountry}},
    {"description", {K::ktDescription}},
    {"display_name", {K::ktName}},
    {"fastpls", {K::ktFileName}},
    {"genre", {K::ktGenre, true, true}},
    {"genres", {K::ktGenre, false, true}},
    {"link", {K::ktHomeURL}},
    {"listen_url", {K::ktFileName}},
    {"listenurl", {K::ktFileName}},
    {"location", {K::ktCountry, true, false}},
    {"logo", {K::ktLogo}},
    {"logo_path_absolute", {K::ktLogo}},
    {"name", {K::ktName}},
    {"page_url", {K::ktHomeURL}},
    {"server_name", {K::ktName}},
    {"server_type", {K::ktFileFormat}},
    {"shoutcast_stream", {K::ktFileName}},
    {"site", {K::ktHomeURL}},
    {"sound", {K::ktFileName}},
    {"square_art_url", {K::ktLogo}},
    {"station_640x640", {K::ktLogo}},
    {"stream", {K::ktFileName}},
    {"streamUrl", {K::ktFileName}},
    {"stream_url", {K::ktFileName}},
    {"third_parties", {K::ktSkip}},
    {"title", {K::ktName}},
    {"url", {K::ktFileName}},
    {"vip", {K::ktSkip}},
});
static_assert(std::is_sorted(kKeywords.begin(), kKeywords.end(),
                             [](const TKeyword& a, const TKeyword& b) { return a.Key < b.Key; }));
constexpr size_t kLongestKeyword = 18;

} // namespace

K::TCode TOrvoTunedexKeywords::Lookup(std::string_view key) {
    const auto it = std::lower_bound(kKeywords.begin(), kKeywords.end(), key,
                                     [](const TKeyword& k, std::string_view key) { return k.Key < key; });
    if (it != kKeywords.end() && it->Key == key)
        return it->Code;
    if (key.find("image") != std::string_view::npos)
        return {ktLogo};
    return {};
}

K::TCode TOrvoTunedexKeywords::Lookup(std::u16string_view key) {
    char bytes[kLongestKeyword];
    if (key.size() <= kLongestKeyword &&
        std::all_of(key.begin(), key.end(), [](char16_t c) { return c < 0x80; })) {
        std::transform(key.begin(), key.end(), bytes, [](char16_t c) { return char(c); });
        return Lookup(std::string_view(bytes, key.size()));
    }
    // Longer or not ASCII: no key of the table, but perhaps an image.
    if (key.find(u"image") != npos)
        return {ktLogo};
    return {};
}

// ---- the parser base

namespace {

// A decimal integer (after optional blanks and a sign) that fits 32 bits, else 0.
int32_t IntOrZero(std::u16string_view text) {
    int64_t value = 0;
    return TryStrToInt(text, value) && value >= INT32_MIN && value <= INT32_MAX ? int32_t(value) : 0;
}

// A scheme of ASCII letters, digits, "+", "-" or "." followed by "://".
bool HasSchemeAndSlashes(std::u16string_view text) {
    const size_t colon = text.find(u"://");
    if (colon == npos || colon == 0)
        return false;
    return std::all_of(text.begin(), text.begin() + colon, [](char16_t c) {
        return IsAsciiAlphaNumeric(c) || c == u'+' || c == u'-' || c == u'.';
    });
}

// Drops the empty items of a key list in place.
void DropEmptyItems(std::u16string& list) {
    size_t write = 0;
    for (size_t read = 0; read < list.size(); ++read)
        if (list[read] != u';' || (write > 0 && list[write - 1] != u';'))
            list[write++] = list[read];
    if (write > 0 && list[write - 1] == u';')
        --write;
    list.resize(write);
}

// Where "kbps" starts in the text, in any letter case, or npos.
size_t FindKbps(std::u16string_view text) {
    for (size_t i = 0; i + 4 <= text.size(); ++i)
        if ((text[i] | 0x20) == u'k' && (text[i + 1] | 0x20) == u'b' && (text[i + 2] | 0x20) == u'p' &&
            (text[i + 3] | 0x20) == u's')
            return i;
    return npos;
}

} // namespace

TOrvoTunedexParser::TOrvoTunedexParser(TOrvoTunedexProvider* provider, TOrvoStationReceiver receiver,
                                       const TNuvWebURL& address)
    : FReceiver(std::move(receiver)), FProvider(provider) {
    TNuvWebURL site = address;
    site.CustomHeaders.clear();
    site.Path.clear();
    FSiteRoot = site.ToString();
    if (!FSiteRoot.empty()) {
        // The folder comes from the path alone: a query may hold "/" and an address without a
        // path has the root as its folder (its last ":" would be the port's).
        std::u16string_view path = address.Path;
        path = path.substr(0, path.find(u'?'));
        const size_t slash = path.find_last_of(u"/\\");
        FDocumentFolder =
            FSiteRoot + (slash == npos ? std::u16string(u"/") : std::u16string(path.substr(0, slash + 1)));
    }
}

TOrvoTunedexParser::~TOrvoTunedexParser() = default;

void TOrvoTunedexParser::ParseDocument(const TOrvoTunedexParserClass& cls, TNuvStream& stream,
                                       const TNuvWebURL& address, TOrvoTunedexProvider* provider,
                                       const TOrvoStationReceiver& receiver) {
    cls.Create(provider, receiver, address)->Parse(stream);
}

void TOrvoTunedexParser::SetValue(std::u16string_view key, std::u16string_view text) {
    SetValue(TOrvoTunedexKeywords::Lookup(key), text);
}

std::u16string* TOrvoTunedexParser::TextField(TOrvoTunedexKeywords::TTarget target) {
    switch (target) {
    case K::ktName:
        return &FStation.Name;
    case K::ktCountry:
        return &FStation.Country;
    case K::ktDescription:
        return &FStation.Description;
    case K::ktFileFormat:
        return &FStation.FileFormat;
    case K::ktGenre:
        return &FStation.Genre;
    case K::ktFileName:
        return &FStation.FileName;
    case K::ktHomeURL:
        return &FStation.HomeURL;
    case K::ktLogo:
        return &FStation.Logo;
    default:
        return nullptr;
    }
}

void TOrvoTunedexParser::SetValue(TOrvoTunedexKeywords::TCode code, std::u16string&& text) {
    if (std::u16string* field = TextField(code.Target);
        field && !code.Split && !code.Merge && FIgnoredScopes == 0)
        *field = std::move(text);
    else
        SetValue(code, std::u16string_view(text));
}

void TOrvoTunedexParser::SetValue(TOrvoTunedexKeywords::TCode code, std::u16string_view text) {
    if (FIgnoredScopes > 0)
        return;
    switch (code.Target) {
    case K::ktBitrate:
        FStation.Bitrate = IntOrZero(text);
        return;
    case K::ktFolder:
        if (!text.empty()) {
            FDocumentFolder =
                HasSchemeAndSlashes(text) ? std::u16string(text) : u"https://" + std::u16string(text);
            if (FDocumentFolder.back() != u'/')
                FDocumentFolder += u'/';
        }
        return;
    default:
        break;
    }
    std::u16string* field = TextField(code.Target);
    if (!field)
        return;
    if (!code.Split && !code.Merge) {
        field->assign(text);
        return;
    }
    // The separators are found before spaces become ";", or " / " and ", " could never match.
    std::u16string value = code.Split ? SplitSeparators(text) : std::u16string(text);
    std::replace(value.begin(), value.end(), u' ', u';');
    DropEmptyItems(value);
    if (code.Merge && !field->empty())
        *field = MergeKeyList(*field, value);
    else
        *field = std::move(value);
}

void TOrvoTunedexParser::BeginObject() {
    if (FIgnoredScopes > 0 || FSavedCount >= kMaxScopeDepth) {
        ++FIgnoredScopes;
        return;
    }
    // Slots outlive their scope, so a saved copy reuses the buffers of an earlier one.
    if (FSavedCount == FSaved.size())
        FSaved.push_back(FStation);
    else
        FSaved[FSavedCount] = FStation;
    ++FSavedCount;
}

void TOrvoTunedexParser::EndObject() {
    if (FIgnoredScopes > 0) {
        --FIgnoredScopes;
        return;
    }
    if (FSavedCount == 0) {
        EmitStation();
        return;
    }
    TOrvoRadioStationInfo& saved = FSaved[--FSavedCount];
    if (saved.FileName != FStation.FileName) {
        EmitStation();
        std::swap(FStation, saved);
    }
}

void TOrvoTunedexParser::EmitStation() {
    TOrvoRadioStationInfo& s = FStation;
    if (s.FileName.empty())
        return;
    if (s.Genre.find_first_of(u"/|,") != npos)
        s.Genre = SplitSeparators(s.Genre);
    // Most addresses are absolute already: only the others are rebuilt.
    for (std::u16string* address : {&s.Logo, &s.HomeURL, &s.FileName})
        if (!address->empty() && !HasSchemeAndSlashes(*address))
            *address = ResolveAddress(*address);
    s.FileFormat = NormalizeFormat(s.FileFormat);
    if (s.FileFormat.empty())
        s.FileFormat = NormalizeFormat(AddressExtension(s.FileName));
    if (s.Bitrate == 0) {
        if (const size_t kbps = FindKbps(s.Name); kbps != npos)
            s.Bitrate = ParseBitrate(s.Name, kbps);
        else {
            // The last segment only: digits before it would be the port ("host:80/live").
            std::u16string_view name = s.FileName;
            if (const size_t last = name.find_last_of(u":\\/"); last != npos)
                name.remove_prefix(last + 1);
            s.Bitrate = ParseBitrate(name);
        }
    }
    ++FEmitted;
    FReceiver(s);
}

std::u16string TOrvoTunedexParser::ResolveAddress(std::u16string_view text) const {
    if (text.empty() || HasSchemeAndSlashes(text))
        return std::u16string(text);
    if (StartsTextAscii(u"www.", text))
        return u"http://" + std::u16string(text);
    if (text.starts_with(u"//")) {
        // Same scheme as the document, another host.
        const size_t colon = FSiteRoot.find(u':');
        return (colon == npos ? std::u16string(u"http:") : FSiteRoot.substr(0, colon + 1)) +
               std::u16string(text);
    }
    if (text.starts_with(u'/'))
        return FSiteRoot + std::u16string(text);
    if (text.starts_with(u"./"))
        text.remove_prefix(2);
    return FDocumentFolder + std::u16string(text);
}

std::u16string TOrvoTunedexParser::AddressExtension(std::u16string_view name) {
    if (HasSchemeAndSlashes(name))
        name = name.substr(0, name.find(u'?'));
    const size_t dot = name.rfind(u'.');
    const size_t last = name.find_last_of(u" \\/:");
    if (dot == npos || (last != npos && dot < last))
        return {};
    return AsciiUpper(name.substr(dot + 1));
}

std::u16string TOrvoTunedexParser::SplitSeparators(std::u16string_view text) {
    for (const std::u16string_view separator : {u" / ", u"/", u"|", u", "})
        if (text.find(separator) != npos)
            return ReplaceAll(text, separator, u";");
    return std::u16string(text);
}

std::u16string TOrvoTunedexParser::MergeKeyList(std::u16string_view list, std::u16string_view text) {
    if (list.empty() || text.empty())
        return std::u16string(list.empty() ? text : list);
    for (size_t at = list.find(text); at != npos; at = list.find(text, at + 1)) {
        const size_t end = at + text.size();
        if ((at == 0 || list[at - 1] == u';') && (end == list.size() || list[end] == u';'))
            return std::u16string(list);
    }
    std::u16string merged(list);
    merged += u';';
    merged += text;
    return merged;
}

std::u16string TOrvoTunedexParser::NormalizeFormat(std::u16string_view text) {
    if (text.find(u'/') != npos)
        text.remove_prefix(text.find_last_of(u":\\/") + 1);
    if (SameTextAscii(text, u"aacp"))
        return u"AAC+";
    if (SameTextAscii(text, u"mpeg") || SameTextAscii(text, u"mpeg3"))
        return u"MP3";
    return text.size() < 6 ? AsciiUpper(text) : std::u16string();
}

int32_t TOrvoTunedexParser::ParseBitrate(std::u16string_view text, size_t end) {
    size_t i = std::min(end, text.size());
    const auto digit = [&](size_t at) { return text[at] >= u'0' && text[at] <= u'9'; };
    while (i > 0 && !digit(i - 1))
        --i;
    size_t first = i;
    while (first > 0 && digit(first - 1))
        --first;
    if (first == i)
        return 0;
    int64_t value = 0;
    for (size_t k = first; k < i && value <= 768; ++k)
        value = value * 10 + (text[k] - u'0');
    return value >= 8 && value <= 768 ? int32_t(value) : 0;
}

// ---- JSON

const TOrvoTunedexParserClass& TOrvoTunedexParserJSON::Class() {
    static constexpr TOrvoTunedexParserClass cls(
        u"TOrvoTunedexParserJSON", [](auto* p, const auto& r, const auto& a) {
            return std::unique_ptr<TOrvoTunedexParser>(std::make_unique<TOrvoTunedexParserJSON>(p, r, a));
        });
    return cls;
}

namespace {

// Walks one value under the code of its key; containers nested deeper than the scope bound are
// skipped whole, so the walk's own depth is bounded too.
void WalkJSON(TOrvoTunedexParser& parser, K::TCode code, const TNuvJSONNode& node, size_t depth) {
    if (code.Target == K::ktSkip)
        return;
    if (node.IsArray() || node.IsObject()) {
        if (depth >= TOrvoTunedexParser::kMaxScopeDepth)
            return;
        const size_t count = node.Count();
        if (node.IsArray()) {
            for (size_t i = 0; i < count; ++i)
                WalkJSON(parser, code, node.Item(i), depth + 1);
            return;
        }
        parser.BeginObject();
        for (size_t i = 0; i < count; ++i)
            WalkJSON(parser, K::Lookup(node.NameBytes(i)), node.Item(i), depth + 1);
        parser.EndObject();
        return;
    }
    if (code.Target != K::ktNone)
        parser.SetValue(code, node.IsNull() ? std::u16string() : FromUtf8(node.TextBytes()));
}

} // namespace

void TOrvoTunedexParserJSON::Parse(TNuvStream& stream) {
    std::u16string reason;
    stream.SetPosition(0);
    const std::unique_ptr<TNuvJSONDocument> document = JSON::Parse(stream, &reason);
    if (!document)
        throw EOrvoTunedexDocumentError(reason);
    WalkJSON(*this, {}, document->Root(), 0);
}

// ---- generic XML

// One per depth, so the state of the element open at that depth can live in it. An element's
// scope is opened only once it proves to be one (a child, an "id" or "format" attribute): a value
// element would open and close it with nothing changed, and skipping that spares a station copy
// per value.
class TOrvoTunedexParserXML::TLoader final : public TNuvXMLNodeLoader {
public:
    TLoader(TNuvXMLNameTable& names, size_t levels) : TNuvXMLNodeLoader(names), FLevels(levels) {}

    void OnBegin(void*& context) override {
        // The next level is made when an element first reaches this one, so a shallow document
        // builds a short chain.
        if (FLevels > 1 && !Loaders())
            ChildLoaders().SetDefault(std::make_unique<TLoader>(FNames, FLevels - 1));
        auto& parser = *static_cast<TOrvoTunedexParserXML*>(context);
        if (parser.FPending)
            parser.FPending->Open(parser);
        parser.FPending = this;
        FState = 0;
        FPushed = false;
        FCode = {};
    }

    void OnAttributes(void* context, TNuvXMLTextReader& reader) override {
        auto& parser = *static_cast<TOrvoTunedexParserXML*>(context);
        FName.assign(reader.QualifiedName());
        for (char16_t& c : FName)
            if (c >= u'A' && c <= u'Z')
                c = char16_t(c + 32);
        FCode = TOrvoTunedexKeywords::Lookup(FName);
        for (const std::u16string_view attribute : {u"id", u"format"})
            if (reader.TryGetAttribute(attribute, FValue)) {
                if (FState == 0)
                    Open(parser);
                FState = 1;
                parser.SetValue(attribute, FValue);
            }
    }

    void OnText(void* context, TNuvXMLTextReader& reader) override {
        auto& parser = *static_cast<TOrvoTunedexParserXML*>(context);
        if (FState == 0) {
            FState = 2;
            Close(parser);
        }
        parser.SetValue(FCode, reader.ValueView());
    }

    void OnEnd(void* context) override {
        auto& parser = *static_cast<TOrvoTunedexParserXML*>(context);
        if (FState != 2)
            Close(parser);
    }

private:
    void Open(TOrvoTunedexParserXML& parser) {
        if (parser.FPending == this)
            parser.FPending = nullptr;
        if (!FPushed) {
            FPushed = true;
            parser.BeginObject();
        }
    }
    void Close(TOrvoTunedexParserXML& parser) {
        if (parser.FPending == this)
            parser.FPending = nullptr;
        if (FPushed) {
            FPushed = false;
            parser.EndObject();
        }
    }

    size_t FLevels;
    std::u16string FName;
    std::u16string FValue;
    TOrvoTunedexKeywords::TCode FCode;
    uint8_t FState = 0;
    bool FPushed = false;
};

const TOrvoTunedexParserClass& TOrvoTunedexParserXML::Class() {
    static constexpr TOrvoTunedexParserClass cls(
        u"TOrvoTunedexParserXML", [](auto* p, const auto& r, const auto& a) {
            return std::unique_ptr<TOrvoTunedexParser>(std::make_unique<TOrvoTunedexParserXML>(p, r, a));
        });
    return cls;
}

namespace {

// Loads the stream through the loader; an empty document or malformed XML raises the document
// error (after whatever was read before the fault).
void LoadXML(TNuvXMLDocumentLoader& loader, TNuvStream& stream, void* context) {
    stream.SetPosition(0);
    if (stream.Size() <= 0)
        throw EOrvoTunedexDocumentError(u"the document is empty");
    std::u16string stoppedAt;
    loader.Load(context, stream, &stoppedAt);
    if (!stoppedAt.empty())
        throw EOrvoTunedexDocumentError(u"the XML document stopped at an error: " + stoppedAt);
}

} // namespace

void TOrvoTunedexParserXML::Parse(TNuvStream& stream) {
    TNuvXMLDocumentLoader loader;
    loader.Loaders().SetDefault(std::make_unique<TLoader>(loader.NameTable(), kMaxScopeDepth));
    FPending = nullptr;
    LoadXML(loader, stream, this);
}

// ---- SPI

namespace {

TOrvoTunedexParserSPI& SPI(void* context) {
    return *static_cast<TOrvoTunedexParserSPI*>(context);
}

std::u16string Attribute(TNuvXMLTextReader& reader, std::u16string_view name) {
    std::u16string value;
    reader.TryGetAttribute(name, value);
    return value;
}

int32_t IntAttribute(TNuvXMLTextReader& reader, std::u16string_view name) {
    return IntOrZero(Attribute(reader, name));
}

// "dab:ce1.c185.c479.0", "fm:ce1.c479.09580": a broadcast identifier, which names no stream.
bool IsBroadcastBearer(std::u16string_view id) {
    const size_t colon = id.find(u':');
    if (colon == npos || colon == 0 || id.substr(colon).starts_with(u"://"))
        return false;
    return std::all_of(id.begin(), id.begin() + colon, IsAsciiAlphaNumeric);
}

class TSPIMedia final : public TNuvXMLNodeLoader {
public:
    explicit TSPIMedia(TNuvXMLNameTable& names) : TNuvXMLNodeLoader(names) {
        ChildLoaders().AddText(u"shortDescription", [](void* context, const std::u16string& text) {
            SPI(context).Station().Description = text;
        });
        ChildLoaders().AddAttributes(u"multimedia", [](void* context, TNuvXMLTextReader& reader) {
            if (!Attribute(reader, u"mimeValue").starts_with(u"image/"))
                return;
            TOrvoRadioStationInfo& station = SPI(context).Station();
            std::u16string url = Attribute(reader, u"url");
            const int32_t width = IntAttribute(reader, u"width");
            if (!url.empty() && width > station.LogoWidth) {
                station.Logo = std::move(url);
                station.LogoWidth = width;
            }
        });
    }
};

class TSPIService final : public TNuvXMLNodeLoader {
public:
    explicit TSPIService(TNuvXMLNameTable& names) : TNuvXMLNodeLoader(names) {
        TNuvXMLNodeLoaders& children = ChildLoaders();
        children.AddAttributes(u"bearer", [](void* context, TNuvXMLTextReader& reader) {
            std::u16string mime = Attribute(reader, u"mimeValue");
            if (!mime.starts_with(u"audio/"))
                return;
            std::u16string id = Attribute(reader, u"id");
            if (IsBroadcastBearer(id))
                return;
            SPI(context).Bearers().push_back(
                {std::move(id), std::move(mime), IntAttribute(reader, u"bitrate")});
        });
        children.AddAttributes(u"link", [](void* context, TNuvXMLTextReader& reader) {
            SPI(context).Station().HomeURL = Attribute(reader, u"uri");
        });
        for (const std::u16string_view name : {u"longName", u"mediumName", u"shortName"})
            children.AddText(
                name, [](void* context, const std::u16string& text) { SPI(context).Station().Name = text; });
        children.Add(u"mediaDescription", std::make_unique<TSPIMedia>(names));
    }
    void OnEnd(void* context) override { SPI(context).EndService(); }
};

// Services may be grouped in nested "services" elements, up to a bounded depth.
class TSPIServices final : public TNuvXMLNodeLoader {
public:
    TSPIServices(TNuvXMLNameTable& names, int levels) : TNuvXMLNodeLoader(names) {
        ChildLoaders().Add(u"service", std::make_unique<TSPIService>(names));
        if (levels > 1)
            ChildLoaders().Add(u"services", std::make_unique<TSPIServices>(names, levels - 1));
    }
};

} // namespace

const TOrvoTunedexParserClass& TOrvoTunedexParserSPI::Class() {
    static constexpr TOrvoTunedexParserClass cls(
        u"TOrvoTunedexParserSPI", [](auto* p, const auto& r, const auto& a) {
            return std::unique_ptr<TOrvoTunedexParser>(std::make_unique<TOrvoTunedexParserSPI>(p, r, a));
        });
    return cls;
}

void TOrvoTunedexParserSPI::EndService() {
    TOrvoRadioStationInfo& station = Station();
    for (TBearer& bearer : FBearers) {
        station.FileName = std::move(bearer.FileName);
        station.FileFormat = std::move(bearer.FileFormat);
        station.Bitrate = bearer.Bitrate;
        EmitStation();
    }
    FBearers.clear();
    station.Reset();
}

void TOrvoTunedexParserSPI::Parse(TNuvStream& stream) {
    TNuvXMLDocumentLoader loader;
    loader.Loaders().Add(u"serviceInformation", std::make_unique<TSPIServices>(loader.NameTable(), 8));
    FBearers.clear();
    Station().Reset();
    LoadXML(loader, stream, this);
}

// ---- status pages

namespace {

// Strict UTF-8: no overlong forms, surrogates or code points above U+10FFFF.
bool IsValidUtf8(std::string_view bytes) {
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    const auto* end = p + bytes.size();
    while (p < end) {
        const uint8_t b = *p;
        if (b < 0x80) {
            ++p;
            continue;
        }
        size_t length;
        uint32_t code;
        if (b >= 0xC2 && b <= 0xDF)
            length = 2, code = b & 0x1F;
        else if (b >= 0xE0 && b <= 0xEF)
            length = 3, code = b & 0x0F;
        else if (b >= 0xF0 && b <= 0xF4)
            length = 4, code = b & 0x07;
        else
            return false;
        if (size_t(end - p) < length)
            return false;
        for (size_t i = 1; i < length; ++i) {
            if ((p[i] & 0xC0) != 0x80)
                return false;
            code = code << 6 | (p[i] & 0x3F);
        }
        if ((length == 3 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
            (length == 4 && (code < 0x10000 || code > 0x10FFFF)))
            return false;
        p += length;
    }
    return true;
}

std::u16string FromUtf16(std::string_view bytes, bool bigEndian) {
    std::u16string text(bytes.size() / 2, u'\0');
    for (size_t i = 0; i < text.size(); ++i) {
        const auto hi = uint8_t(bytes[2 * i + (bigEndian ? 0 : 1)]);
        const auto lo = uint8_t(bytes[2 * i + (bigEndian ? 1 : 0)]);
        text[i] = char16_t(hi << 8 | lo);
    }
    return text;
}

using TRule = TNuvRipperRuleAimingByTags;

// One field's rules, tried in order until one finds a non-empty text.
struct TFieldRules {
    std::u16string TOrvoRadioStationInfo::*Field; // null for the bit rate
    std::vector<std::unique_ptr<TNuvRipperRule>> Rules;
};

std::unique_ptr<TNuvRipperRule> LabelRule(std::u16string_view start, bool stripped) {
    auto rule = std::make_unique<TRule>(start, u"</tr|</td", TRule::roIgnoreCase);
    if (!stripped)
        return rule;
    return std::make_unique<TNuvRipperRuleRemoveHtmlTags>(std::move(rule));
}

std::vector<TFieldRules> MakeFieldRules() {
    std::vector<TFieldRules> fields(7);
    using S = TOrvoRadioStationInfo;
    fields[0].Field = &S::Name;
    for (auto label : {u"name|<td|>", u"title|<td|>", u"заголовок|<td|>"})
        fields[0].Rules.push_back(LabelRule(label, true));
    fields[1].Field = &S::Description;
    for (auto label : {u"description|<td|>", u"описание|<td|>"})
        fields[1].Rules.push_back(LabelRule(label, false));
    fields[2].Field = &S::Genre;
    for (auto label : {u"genre|<td|>", u"жанр|<td|>"})
        fields[2].Rules.push_back(LabelRule(label, true));
    fields[3].Field = nullptr;
    for (auto label : {u"bitrate|<td|>", u"качество|<td|>"})
        fields[3].Rules.push_back(LabelRule(label, false));
    fields[4].Field = &S::FileFormat;
    for (auto label : {u"Content Type|<td|>", u"MIME|<td|>"})
        fields[4].Rules.push_back(LabelRule(label, false));
    fields[5].Field = &S::HomeURL;
    fields[5].Rules.push_back(
        std::make_unique<TRule>(u"URL|<td|href=\"", u"</tr|</td|\"", TRule::roIgnoreCase));
    fields[6].Field = &S::FileName;
    fields[6].Rules.push_back(std::make_unique<TRule>(u"href=\"", u"M3U</|\"", 0));
    return fields;
}

} // namespace

const TOrvoTunedexParserClass& TOrvoTunedexParserXSL::Class() {
    static constexpr TOrvoTunedexParserClass cls(
        u"TOrvoTunedexParserXSL", [](auto* p, const auto& r, const auto& a) {
            return std::unique_ptr<TOrvoTunedexParser>(std::make_unique<TOrvoTunedexParserXSL>(p, r, a));
        });
    return cls;
}

std::u16string TOrvoTunedexParserXSL::DecodePage(std::string_view bytes) {
    if (bytes.starts_with("\xEF\xBB\xBF"))
        return FromUtf8(bytes.substr(3));
    if (bytes.starts_with("\xFF\xFE"))
        return FromUtf16(bytes.substr(2), false);
    if (bytes.starts_with("\xFE\xFF"))
        return FromUtf16(bytes.substr(2), true);
    return IsValidUtf8(bytes) ? FromUtf8(bytes) : platform::FromLegacy(bytes);
}

void TOrvoTunedexParserXSL::Parse(TNuvStream& stream) {
    if (std::u16string refused = NuvDocumentSizeRefusal(stream.Size()); !refused.empty())
        throw EOrvoTunedexDocumentError(refused);
    stream.SetPosition(0);
    std::u16string page;
    {
        const std::string bytes = stream.ReadAll();
        page = DecodePage(bytes);
    }
    ParseText(page);
}

void TOrvoTunedexParserXSL::ParseText(std::u16string_view page) {
    std::u16string_view start = u"roundcont", finish = u"+2:</table";
    if (page.find(u"<section ") != npos)
        start = u"<section ", finish = u"</section>";
    else if (page.find(u"roundbottom") != npos)
        start = u"roundtop", finish = u"roundbottom";
    else if (page.find(u"roundcont") == npos)
        start = u"roundbox", finish = u"</table";
    const TRule blocks(start, finish, TRule::roRepeat);
    const std::vector<TFieldRules> fields = MakeFieldRules();
    // Blocks are read where they lie in the page, one at a time, so a large page is held once.
    blocks.Scan(page, [&](std::u16string_view block) {
        TOrvoRadioStationInfo& station = Station();
        station.Reset();
        for (const TFieldRules& field : fields) {
            std::u16string text;
            for (const auto& rule : field.Rules)
                if (text = rule->RipFirst(block); !text.empty())
                    break;
            if (field.Field)
                station.*field.Field = std::move(text);
            else
                station.Bitrate = IntOrZero(text);
        }
        if (station.FileName.find(u"admin") == npos)
            EmitStation();
    });
}

// ---- the custom catalogue provider ---------------------------------------------------------------

const TOrvoTunedexProviderClass& TOrvoTunedexCustomProvider::Class() {
    static const TOrvoTunedexProviderClassOf<TOrvoTunedexCustomProvider> cls(u"TOrvoTunedexCustomProvider");
    return cls;
}

namespace {

// The document's first bytes as 8-bit characters; the stream is rewound.
std::string ReadHead(TNuvStream& stream) {
    std::string head(1024, '\0');
    stream.SetPosition(0);
    int64_t got = 0;
    while (got < int64_t(head.size())) {
        const int64_t n = stream.Read(head.data() + got, int64_t(head.size()) - got);
        if (n <= 0)
            break;
        got += n;
    }
    head.resize(size_t(got));
    stream.SetPosition(0);
    return head;
}

} // namespace

const TOrvoTunedexParserClass* TOrvoTunedexCustomProvider::ChooseParser(std::u16string_view contentType,
                                                                        TNuvStream& stream) {
    const std::string type = ToUtf8(AsciiLower(contentType));
    if (type.find("/json") != std::string::npos)
        return &TOrvoTunedexParserJSON::Class();
    if (type.find("/xml") != std::string::npos) {
        const std::string head = ReadHead(stream);
        // The domain of the namespace SPI documents declare.
        if (head.find("worlddab.org") != std::string::npos)
            return &TOrvoTunedexParserSPI::Class();
        if (head.find("html") != std::string::npos)
            return &TOrvoTunedexParserXSL::Class();
        return &TOrvoTunedexParserXML::Class();
    }
    if (type.find("/html") != std::string::npos) {
        if (ReadHead(stream).find("Icecast ") != std::string::npos)
            return &TOrvoTunedexParserXSL::Class();
        return nullptr;
    }
    if (type.find("text/plain") != std::string::npos) {
        const std::string head = ReadHead(stream);
        const auto first = std::find_if(head.begin(), head.end(), [](char c) { return uint8_t(c) > 32; });
        if (first != head.end() && (*first == '[' || *first == '{'))
            return &TOrvoTunedexParserJSON::Class();
    }
    return nullptr;
}

TNuvWebURL TOrvoTunedexCustomProvider::StatusAddress(const TNuvWebURL& page) {
    TNuvWebURL status = page;
    if (page.Path == u"/") {
        status.Path = u"/json.xsl";
        return status;
    }
    const size_t dot = page.Path.rfind(u'.');
    const size_t last = page.Path.find_last_of(u" \\/:");
    if (dot != npos && (last == npos || dot > last))
        status.Path = page.Path.substr(0, dot) + u"-json.xsl";
    else
        status.Path = page.Path + u"-json.xsl";
    return status;
}

void TOrvoTunedexCustomProvider::AsyncFetch(TNuvStream& stream, std::u16string_view contentType,
                                            const TOrvoStationReceiver& receiver) {
    const TOrvoTunedexParserClass* cls = ChooseParser(contentType, stream);
    if (!cls)
        return;
    const std::u16string address = DocumentURL();
    if (cls == &TOrvoTunedexParserXSL::Class() && IsRemoteAddress(address)) {
        // The server's own machine-readable list is exact where the page is only laid out for
        // people; a page on disk has no server beside it to ask.
        const TNuvWebURL status = StatusAddress(TNuvWebURL::ParseHttp(address));
        TNuvTemporaryFileStream document("Tunedex");
        const TNuvWebErrorInfo outcome =
            DownloadDocument(TNuvHttp::Get(status.ToString())->IgnoreCertificateErrors(), document);
        if (outcome.ErrorCode == 0) {
            size_t forwarded = 0;
            document.SetPosition(0);
            try {
                TOrvoTunedexParser::ParseDocument(TOrvoTunedexParserJSON::Class(), document, status, this,
                                                  [&](const TOrvoRadioStationInfo& station) {
                                                      ++forwarded;
                                                      receiver(station);
                                                  });
            } catch (const EOrvoTunedexDocumentError&) {
                // An answer that is no JSON status leaves the page to be read, unless stations
                // already went out from it.
                if (forwarded > 0)
                    throw;
            }
            if (forwarded > 0)
                return;
        }
    }
    TOrvoTunedexParser::ParseDocument(*cls, stream, TNuvWebURL::ParseHttp(address), this, receiver);
}
