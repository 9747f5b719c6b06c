#include "zan/Zan.FileFormats.XSPF.h"

#include "nuv/Nuv.FileFormats.XML.Reader.h"
#include "nuv/Nuv.FileFormats.XML.h"
#include "nuv/Nuv.Strings.h"
#include "platform/Platform.Encoding.h"
#include "platform/Platform.Locale.h"
#include "platform/Platform.Paths.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace paths = platform::nativepaths;

namespace {

std::u16string HostUri(std::u16string_view path) {
    return std::u16string(kXSPFHostOrigin) + std::u16string(path);
}

const std::u16string& HostNamespace() {
    static const std::u16string uri = HostUri(u"/playlist/ns/0/");
    return uri;
}
const std::u16string& GroupUri() {
    static const std::u16string uri = HostUri(u"/playlist/group/0");
    return uri;
}
const std::u16string& TrackUri() {
    static const std::u16string uri = HostUri(u"/playlist/track/0");
    return uri;
}
const std::u16string& PreimageUri() {
    static const std::u16string uri = HostUri(u"/playlist/preimage/0");
    return uri;
}
const std::u16string& SettingsUri() {
    static const std::u16string uri = HostUri(u"/playlist/settings/0");
    return uri;
}
const std::u16string& SummaryUri() {
    static const std::u16string uri = HostUri(u"/playlist/summary/0");
    return uri;
}

template <typename T> T IntegerOr(std::u16string_view text, T fallback) {
    int64_t value = 0;
    if (!TryStrToInt(text, value) || value < int64_t(std::numeric_limits<T>::min()) ||
        (value > 0 && uint64_t(value) > uint64_t(std::numeric_limits<T>::max())))
        return fallback;
    return T(value);
}

// A decimal number with '.' or the locale's separator; false when the text is none.
bool DecimalValue(std::u16string_view text, double& value) {
    std::string ascii;
    const std::u16string separator = platform::DecimalSeparator();
    for (char16_t c : Trim(text)) {
        if (c == u'.' || (separator.size() == 1 && c == separator[0]))
            ascii += '.';
        else if (IsAsciiDigit(c) || c == u'-' || c == u'+' || c == u'e' || c == u'E')
            ascii += char(c);
        else
            return false;
    }
    if (ascii.empty())
        return false;
    char* end = nullptr;
    value = std::strtod(ascii.c_str(), &end);
    return end == ascii.c_str() + ascii.size() && std::isfinite(value);
}

// Raised by a loader to end a load early; caught by Load.
struct TXSPFAbort {};

} // namespace

EOrvoXSPFUnexpectedState::EOrvoXSPFUnexpectedState(int state, std::u16string_view text)
    : EOrvoXSPFError(Format(u"Unexpected state: %d (%s)", state, text)) {}

// ---------------------------------------------------------------------------------------------

std::u16string TXSPFSchema::URIToPath(std::u16string_view text) {
    std::u16string path = paths::FileUriToPath(text);
    if (path.find(u'%') == std::u16string::npos || platform::HasUrlForm(path))
        return path;
    std::u16string decoded;
    decoded.reserve(path.size());
    bool highByte = false, wide = false;
    for (size_t i = 0; i < path.size(); ++i) {
        int hi, lo;
        if (path[i] == u'%' && i + 2 < path.size() && (hi = AsciiHexDigitValue(path[i + 1])) >= 0 &&
            (lo = AsciiHexDigitValue(path[i + 2])) >= 0) {
            const char16_t byte = char16_t(hi * 16 + lo);
            highByte = highByte || byte >= 0x80;
            decoded += byte;
            i += 2;
        } else {
            wide = wide || path[i] > 0xFF;
            decoded += path[i];
        }
    }
    if (highByte && !wide) {
        std::string bytes(decoded.begin(), decoded.end());
        std::u16string utf8;
        if (ZanDecodeUtf8Strict(bytes, utf8) && !utf8.empty())
            decoded = std::move(utf8);
    }
    // Names written through the legacy code page by mistake ("Ã©" for "é") are mended, but only
    // when every character maps to it: a lossy conversion would turn the name into question marks.
    bool nonAscii = false;
    for (char16_t c : decoded)
        nonAscii = nonAscii || c >= 0x80;
    if (nonAscii) {
        const std::string legacy = platform::ToLegacy(decoded, '\0');
        std::u16string utf8;
        if (!legacy.empty() && legacy.find('\0') == std::string::npos && ZanDecodeUtf8Strict(legacy, utf8) &&
            !utf8.empty())
            decoded = std::move(utf8);
    }
    return decoded;
}

std::u16string TXSPFSchema::PathToURI(std::u16string_view path, bool relative) {
    if (platform::HasUrlForm(path))
        return std::u16string(path);
    std::u16string escaped = ReplaceAll(path, u"%", u"%25");
    if (relative)
        return platform::windowspaths::IsSeparator(paths::kSeparator) ? ReplaceAll(escaped, u"\\", u"/")
                                                                      : escaped;
    return paths::PathToFileUri(escaped);
}

// ---------------------------------------------------------------------------------------------
// The loader tree.

struct TXSPFReaderContext;

class TTrackContext : public TZanPlaylistItem {
public:
    explicit TTrackContext(TXSPFReaderContext* root) : Root(root) {}
    double ClipStart = -1;
    std::u16string FileURI;
    std::u16string Location;
    int32_t QueueIndex = -1;
    TXSPFReaderContext* Root;
};

struct TGroupContext {
    bool Flag = true;
    std::u16string Title;
};

class TSummaryContext : public TZanSettingsSection {
public:
    TZanPlaylistSummary* Summary = nullptr;
};

// What one load needs; the parts made inside elements are owned here, so a load that stops at a
// fault in the middle of one frees them.
struct TXSPFReaderContext {
    IZanPlaylistItemsReceiver* Receiver;
    TZanPlaylistSummary* Summary;
    TXSPFReader* Reader;
    std::unique_ptr<TTrackContext> Track;
    std::unique_ptr<TGroupContext> Group;
    std::unique_ptr<TSummaryContext> SummaryLines;
};

struct TXSPFLoaderAccess {
    static void Deliver(TXSPFReaderContext& root);
    static void CheckRelocation(TXSPFReader& reader, const std::u16string& location);
    static TNuvXMLDocument& Preimage(TXSPFReader& reader);
    static TZanSettingsSection& Settings(TXSPFReader& reader);
    static void KeepDeclarations(TXSPFReader& reader, TNuvXMLTextReader& xml);
};

namespace {

TXSPFReaderContext& Root(void* context) {
    return *static_cast<TXSPFReaderContext*>(context);
}

TTrackContext& Track(void* context) {
    return *static_cast<TTrackContext*>(context);
}

void ReadSummary(const TZanSettingsSection& lines, TZanPlaylistSummary& summary) {
    auto text = [&](std::u16string_view name) {
        const std::u16string* value = lines.Find(name);
        return value ? *value : std::u16string();
    };
    auto flag = [&](std::u16string_view name) { return IntegerOr<int64_t>(text(name), 0) != 0; };
    summary = TZanPlaylistSummary();
    summary.ContentDuration = IntegerOr<int64_t>(text(u"ContentDuration"), 0);
    summary.ContentFiles = IntegerOr<int32_t>(text(u"ContentFiles"), 0);
    summary.ContentSize = IntegerOr<int64_t>(text(u"ContentSize"), 0);
    summary.ID = text(u"ID");
    summary.Name = text(u"Name");
    summary.NameIsAutoSet = flag(u"NameIsAutoSet");
    summary.PlaybackCursor = IntegerOr<int32_t>(text(u"PlaybackCursor"), -1);
    double seconds = 0;
    if (DecimalValue(text(u"PlaybackCursorAutoBookmark"), seconds) &&
        std::fabs(seconds * 1000) < 2147483647.0)
        summary.PlaybackCursorAutoBookmark = int32_t(std::lround(seconds * 1000));
    summary.PlaybackTempo = IntegerOr<int32_t>(text(u"PlaybackTempo"), 0);
    summary.ReadOnly = flag(u"ReadOnly");
    summary.Preimage = flag(u"Preimage");
    summary.PreimageAutoSync = flag(u"PreimageAutoSync");
    summary.SortingTemplate = text(u"SortingTemplate");
    summary.Shuffled = flag(u"Shuffled");
    const std::u16string* reordered = lines.Find(u"UserReordered");
    summary.UserReordered = reordered
                                ? IntegerOr<int64_t>(*reordered, summary.SortingTemplate.empty() ? 1 : 0) != 0
                                : summary.SortingTemplate.empty();
    for (size_t i = 0; i < lines.Count(); ++i) {
        const auto& [name, value] = lines[i];
        if (name.starts_with(u"Custom"))
            summary.Custom.push_back(name.substr(6) + (value.empty() ? u"" : u"=" + value));
    }
}

class TPreimageNode : public TNuvXMLNodeLoader {
public:
    explicit TPreimageNode(TNuvXMLNameTable& names) : TNuvXMLNodeLoader(names) {
        // Every element below is loaded by this same loader, however deep the block nests.
        ChildLoaders().SetDefault(*this);
    }
    void OnBegin(void*& context) override { context = &static_cast<TNuvXMLNode*>(context)->Add(u""); }
    void OnAttributes(void* context, TNuvXMLTextReader& reader) override {
        auto* node = static_cast<TNuvXMLNode*>(context);
        node->NodeName = reader.QualifiedName();
        while (reader.MoveToNextAttribute())
            node->Attributes.SetValue(reader.QualifiedName(), reader.RawValueView());
        reader.MoveToElement();
    }
    void OnText(void* context, TNuvXMLTextReader& reader) override {
        static_cast<TNuvXMLNode*>(context)->NodeValue = reader.GetValue();
    }
};

class TPreimage : public TNuvXMLNodeLoader {
public:
    explicit TPreimage(TNuvXMLNameTable& names) : TNuvXMLNodeLoader(names) {
        ChildLoaders().SetDefault(NuvXMLLoaderClass<TPreimageNode>());
    }
    void OnBegin(void*& context) override {
        TNuvXMLDocument& document = TXSPFLoaderAccess::Preimage(*Root(context).Reader);
        document.Clear();
        context = &document;
    }
};

class TCustomConfigEntry : public TNuvXMLNodeLoader {
public:
    using TNuvXMLNodeLoader::TNuvXMLNodeLoader;
    void OnAttributes(void* context, TNuvXMLTextReader& reader) override {
        std::u16string name;
        reader.TryGetAttribute(u"name", name);
        static_cast<TZanSettingsSection*>(context)->Add(name, u"");
    }
    void OnText(void* context, TNuvXMLTextReader& reader) override {
        static_cast<TZanSettingsSection*>(context)->LastValue() += reader.GetValue();
    }
};

class TSettings : public TNuvXMLNodeLoader {
public:
    explicit TSettings(TNuvXMLNameTable& names) : TNuvXMLNodeLoader(names) {
        ChildLoaders().Add(u"orvo:prop", NuvXMLLoaderClass<TCustomConfigEntry>());
    }
    void OnBegin(void*& context) override { context = &TXSPFLoaderAccess::Settings(*Root(context).Reader); }
};

class TSummary : public TNuvXMLNodeLoader {
public:
    explicit TSummary(TNuvXMLNameTable& names) : TNuvXMLNodeLoader(names) {
        ChildLoaders().Add(u"orvo:prop", NuvXMLLoaderClass<TCustomConfigEntry>());
    }
    void OnBegin(void*& context) override {
        TXSPFReaderContext& root = Root(context);
        root.SummaryLines = std::make_unique<TSummaryContext>();
        root.SummaryLines->Summary = root.Summary;
        context = root.SummaryLines.get();
    }
    void OnEnd(void* context) override {
        auto& lines = *static_cast<TSummaryContext*>(context);
        if (lines.Summary)
            ReadSummary(lines, *lines.Summary);
    }
};

class TPlaylistExtension : public TNuvXMLNodeLoader {
public:
    explicit TPlaylistExtension(TNuvXMLNameTable& names) : TNuvXMLNodeLoader(names) {
        SetAttributeSelector(u"application");
        ChildLoaders().Add(PreimageUri(), NuvXMLLoaderClass<TPreimage>());
        ChildLoaders().Add(SettingsUri(), NuvXMLLoaderClass<TSettings>());
        ChildLoaders().Add(SummaryUri(), NuvXMLLoaderClass<TSummary>());
    }
};

class TTrackMetaExtension : public TNuvXMLNodeLoader {
public:
    explicit TTrackMetaExtension(TNuvXMLNameTable& names) : TNuvXMLNodeLoader(names) {
        auto& loaders = ChildLoaders();
        loaders.AddText(u"orvo:bits", [](void* c, const std::u16string& t) {
            Track(c).StreamInfo().Bits = IntegerOr<int16_t>(t, 0);
        });
        loaders.AddText(u"orvo:chans", [](void* c, const std::u16string& t) {
            Track(c).StreamInfo().Channels = IntegerOr<uint16_t>(t, 0);
        });
        loaders.AddText(u"orvo:clipStart", [](void* c, const std::u16string& t) {
            double value = -1;
            Track(c).ClipStart = DecimalValue(t, value) ? value : -1;
        });
        loaders.AddText(u"orvo:custom", [](void* c, const std::u16string& t) { Track(c).SetCustom(t); });
        loaders.AddText(u"orvo:format", [](void* c, const std::u16string& t) { Track(c).SetFormat(t); });
        loaders.AddText(u"orvo:size", [](void* c, const std::u16string& t) {
            Track(c).SetFileSize(IntegerOr<int64_t>(t, 0));
        });
        loaders.AddText(u"orvo:fileURI", [](void* c, const std::u16string& t) { Track(c).FileURI = t; });
        loaders.AddText(u"orvo:queueIndex", [](void* c, const std::u16string& t) {
            Track(c).QueueIndex = IntegerOr<int32_t>(t, -1);
        });
        loaders.AddText(u"orvo:samplerate", [](void* c, const std::u16string& t) {
            Track(c).StreamInfo().SampleRate = IntegerOr<uint32_t>(t, 0);
        });
        loaders.AddText(u"orvo:state",
                        [](void* c, const std::u16string& t) { Track(c).SetStateFlag(t != u"10"); });
    }
};

class TGroup : public TNuvXMLNodeLoader {
public:
    explicit TGroup(TNuvXMLNameTable& names) : TNuvXMLNodeLoader(names) {
        ChildLoaders().AddText(u"orvo:title", [](void* c, const std::u16string& t) {
            static_cast<TGroupContext*>(c)->Title = t;
        });
        ChildLoaders().AddText(u"orvo:state", [](void* c, const std::u16string& t) {
            static_cast<TGroupContext*>(c)->Flag = IntegerOr<int64_t>(t, 0) != 2;
        });
    }
    void OnBegin(void*& context) override {
        TXSPFReaderContext& root = *Track(context).Root;
        root.Group = std::make_unique<TGroupContext>();
        context = root.Group.get();
    }
};

// A group block is announced with the track it sits in, just before that track.
class TTrackExtension : public TNuvXMLNodeLoader {
public:
    explicit TTrackExtension(TNuvXMLNameTable& names) : TNuvXMLNodeLoader(names) {
        SetAttributeSelector(u"application");
        ChildLoaders().Add(TrackUri(), NuvXMLLoaderClass<TTrackMetaExtension>());
        ChildLoaders().Add(GroupUri(), NuvXMLLoaderClass<TGroup>());
    }
};

void SetText(void* context, int index, const std::u16string& text) {
    Track(context).SetValue(index, text);
}

class TTrackMeta : public TNuvXMLNodeLoader {
public:
    explicit TTrackMeta(TNuvXMLNameTable& names) : TNuvXMLNodeLoader(names) {
        SetAttributeSelector(u"rel");
        auto& loaders = ChildLoaders();
        static constexpr std::pair<std::u16string_view, int> kTexts[] = {{u"album-artist", zitAlbumArtist},
                                                                         {u"composer", zitComposer},
                                                                         {u"date", zitDate},
                                                                         {u"genre", zitGenre},
                                                                         {u"lyricist", zitLyricist},
                                                                         {u"mood", zitMood},
                                                                         {u"publisher", zitPublisher},
                                                                         {u"url", zitLink},
                                                                         {u"year", zitDate}};
        for (const auto& text : kTexts) {
            const int index = text.second;
            loaders.AddText(text.first, [index](void* c, const std::u16string& t) { SetText(c, index, t); });
        }
        loaders.AddText(u"bitrate", [](void* c, const std::u16string& t) {
            Track(c).StreamInfo().Bitrate = IntegerOr<int32_t>(t, 0);
        });
        loaders.AddText(u"bpm",
                        [](void* c, const std::u16string& t) { Track(c).SetBPM(IntegerOr<int16_t>(t, 0)); });
        loaders.AddText(u"disk-number", [](void* c, const std::u16string& t) { Track(c).SetDiskNumber(t); });
    }
};

class TTrack : public TNuvXMLNodeLoader {
public:
    explicit TTrack(TNuvXMLNameTable& names) : TNuvXMLNodeLoader(names) {
        auto& loaders = ChildLoaders();
        static constexpr std::pair<std::u16string_view, int> kTexts[] = {
            {u"album", zitAlbum}, {u"creator", zitArtist}, {u"annotation", zitComment}, {u"title", zitTitle},
            {u"image", zitLink},  {u"url", zitLink},       {u"info", zitLink}};
        for (const auto& text : kTexts) {
            const int index = text.second;
            loaders.AddText(text.first, [index](void* c, const std::u16string& t) { SetText(c, index, t); });
        }
        loaders.AddText(u"duration", [](void* c, const std::u16string& t) {
            Track(c).StreamInfo().Duration = IntegerOr<uint32_t>(t, 0);
        });
        loaders.AddText(u"location", [](void* c, const std::u16string& t) { Track(c).Location = t; });
        loaders.AddText(u"trackNum", [](void* c, const std::u16string& t) { Track(c).SetTrackNumber(t); });
        loaders.Add(u"meta", NuvXMLLoaderClass<TTrackMeta>());
        loaders.Add(u"extension", NuvXMLLoaderClass<TTrackExtension>());
    }
    void OnBegin(void*& context) override {
        TXSPFReaderContext& root = Root(context);
        root.Track = std::make_unique<TTrackContext>(&root);
        context = root.Track.get();
    }
    void OnEnd(void* context) override { TXSPFLoaderAccess::Deliver(*Track(context).Root); }
};

class TTrackList : public TNuvXMLNodeLoader {
public:
    explicit TTrackList(TNuvXMLNameTable& names) : TNuvXMLNodeLoader(names) {
        ChildLoaders().Add(u"track", NuvXMLLoaderClass<TTrack>());
    }
    void OnBegin(void*& context) override {
        if (!Root(context).Receiver)
            throw TXSPFAbort();
    }
};

class TPlaylist : public TNuvXMLNodeLoader {
public:
    explicit TPlaylist(TNuvXMLNameTable& names) : TNuvXMLNodeLoader(names) {
        auto& loaders = ChildLoaders();
        loaders.AddText(u"title", [](void* c, const std::u16string& t) {
            if (Root(c).Summary)
                Root(c).Summary->Name = t;
        });
        loaders.AddText(u"location", [](void* c, const std::u16string& t) {
            TXSPFLoaderAccess::CheckRelocation(*Root(c).Reader, t);
        });
        loaders.Add(u"trackList", NuvXMLLoaderClass<TTrackList>());
        loaders.Add(u"extension", NuvXMLLoaderClass<TPlaylistExtension>());
    }
    void OnAttributes(void* context, TNuvXMLTextReader& reader) override {
        TXSPFLoaderAccess::KeepDeclarations(*Root(context).Reader, reader);
        std::u16string base;
        if (!reader.TryGetAttribute(u"xml:base", base) || base.empty())
            return;
        TXSPFReader& playlist = *Root(context).Reader;
        bool fileUri = false;
        paths::FileUriToPath(base, &fileUri);
        if (!fileUri && platform::HasUrlForm(base))
            playlist.SetBaseAddress(base);
        else if (!fileUri && !playlist.BaseAddress().empty())
            // A relative base of a playlist fetched from the web lies below the playlist's address.
            playlist.SetBaseAddress(
                playlist.TZanPlaylistReader::ResolveFileName(TXSPFSchema::URIToPath(base)));
        else
            // As a link resolves against its base: the base's last segment is no folder.
            playlist.AddBaseFolder(paths::Folder(TXSPFSchema::URIToPath(base)));
    }
};

class TXSPFLoader : public TNuvXMLDocumentLoader {
public:
    TXSPFLoader() {
        // Host elements are matched by the prefix they are written with.
        Settings().NamespaceAware = false;
        Loaders().Add(u"playlist", NuvXMLLoaderClass<TPlaylist>());
    }
};

TXSPFLoader& SharedLoader() {
    static TXSPFLoader loader;
    return loader;
}

} // namespace

void TXSPFLoaderAccess::Deliver(TXSPFReaderContext& root) {
    std::unique_ptr<TTrackContext> track = std::move(root.Track);
    std::unique_ptr<TGroupContext> group = std::move(root.Group);
    if (!root.Receiver || !track)
        return;
    if (track->FileURI.size() > kZanMaxNameLength || track->Location.size() > kZanMaxNameLength)
        return;
    if (group)
        root.Receiver->AddGroup(group->Title, group->Flag);
    // Setting the name forgets the format, which belongs to this very entry.
    const std::u16string format = track->Format();
    track->SetFileName(
        root.Reader->ResolveFileName(!track->FileURI.empty() ? track->FileURI : track->Location));
    track->SetFormat(format);
    const std::u16string name = track->FileName();
    const int32_t queueIndex = track->QueueIndex;
    root.Receiver->AddItem(name, std::make_shared<TZanFileInfoKeeper>(std::move(track)), queueIndex);
}

void TXSPFLoaderAccess::CheckRelocation(TXSPFReader& reader, const std::u16string& location) {
    reader.FCurrentFolder = paths::Folder(reader.FileName());
    reader.FStoredFolder = paths::Folder(TXSPFSchema::URIToPath(location));
    if (!reader.FCurrentFolder.empty() && !reader.FStoredFolder.empty() &&
        !paths::SameFolder(reader.FCurrentFolder, reader.FStoredFolder))
        reader.FRelocation = 1;
}

TNuvXMLDocument& TXSPFLoaderAccess::Preimage(TXSPFReader& reader) {
    if (!reader.FPreimage)
        reader.FPreimage = std::make_unique<TNuvXMLDocument>();
    return *reader.FPreimage;
}

void TXSPFLoaderAccess::KeepDeclarations(TXSPFReader& reader, TNuvXMLTextReader& xml) {
    reader.FDeclarations.clear();
    while (xml.MoveToNextAttribute()) {
        const std::u16string& name = xml.QualifiedName();
        if (name.starts_with(u"xmlns:"))
            reader.FDeclarations.emplace_back(name.substr(6), xml.RawValueView());
    }
    xml.MoveToElement();
}

TZanSettingsSection& TXSPFLoaderAccess::Settings(TXSPFReader& reader) {
    if (!reader.FSettings)
        reader.FSettings = std::make_unique<TZanSettingsSection>();
    return *reader.FSettings;
}

// ---------------------------------------------------------------------------------------------

TXSPFReader::TXSPFReader(const std::u16string& fileName) : TZanPlaylistReader(fileName) {}
TXSPFReader::TXSPFReader(TNuvStream* stream, bool ownsStream) : TZanPlaylistReader(stream, ownsStream) {}
TXSPFReader::~TXSPFReader() = default;

void TXSPFReader::Load(TZanPlaylistSummary* summary, IZanPlaylistItemsReceiver* receiver) {
    TXSPFReaderContext root{receiver, summary, this, nullptr, nullptr, nullptr};
    FLoaded = true;
    if (!FStream)
        return;
    try {
        SharedLoader().Load(&root, *FStream);
    } catch (const TXSPFAbort&) {
        // No receiver: nothing past the track list is wanted.
    }
}

std::u16string TXSPFReader::ResolveFileName(const std::u16string& name) {
    // A file URI names a local file whatever address the playlist came from.
    bool fileUri = false;
    paths::FileUriToPath(name, &fileUri);
    std::u16string path = TXSPFSchema::URIToPath(name);
    if (!fileUri)
        path = TZanPlaylistReader::ResolveFileName(path);
    if (FRelocation == 1 && paths::StartsWithFolder(FStoredFolder, path)) {
        const std::u16string moved = FCurrentFolder + path.substr(FStoredFolder.size());
        FRelocation = !platform::FileExists(ToUtf8(path)) && platform::FileExists(ToUtf8(moved)) ? 2 : 0;
    }
    if (FRelocation == 2 && paths::StartsWithFolder(FStoredFolder, path))
        path = FCurrentFolder + path.substr(FStoredFolder.size());
    return paths::ToNative(path);
}

std::unique_ptr<TNuvXMLDocument> TXSPFReader::TakePreimage() {
    if (!FLoaded)
        throw EOrvoXSPFError(u"Content was not loaded");
    if (FPreimage && FPreimage->Count() > 0) {
        // The prefixes the subtree uses and declares, walked without recursion.
        std::vector<std::u16string> used, declared;
        auto prefixOf = [](const std::u16string& name) {
            const size_t colon = name.find(u':');
            return colon == std::u16string::npos ? std::u16string() : name.substr(0, colon);
        };
        std::vector<const TNuvXMLNode*> pending{&(*FPreimage)[0]};
        while (!pending.empty()) {
            const TNuvXMLNode* node = pending.back();
            pending.pop_back();
            used.push_back(prefixOf(node->NodeName));
            for (const auto& attribute : node->Attributes) {
                const std::u16string prefix = prefixOf(attribute.Name);
                if (prefix == u"xmlns")
                    declared.push_back(attribute.Name.substr(6));
                else
                    used.push_back(prefix);
            }
            for (size_t i = 0; i < node->Count(); ++i)
                pending.push_back(&(*node)[i]);
        }
        TNuvXMLNode& top = (*FPreimage)[0];
        for (const auto& [prefix, uri] : FDeclarations) {
            if (prefix == u"orvo" || std::find(used.begin(), used.end(), prefix) == used.end() ||
                std::find(declared.begin(), declared.end(), prefix) != declared.end())
                continue;
            top.Attributes.SetValue(u"xmlns:" + prefix, uri);
            declared.push_back(prefix);
        }
    }
    return std::move(FPreimage);
}

std::unique_ptr<TZanSettingsSection> TXSPFReader::TakeSettings() {
    if (!FLoaded)
        throw EOrvoXSPFError(u"Content was not loaded");
    return std::move(FSettings);
}

// ---------------------------------------------------------------------------------------------

TXSPFWriter::TXSPFWriter(TNuvStream* stream, bool ownsStream, std::u16string fileName)
    : TZanPlaylistWriter(stream, ownsStream, std::move(fileName)) {
    TNuvXMLWriterSettings settings;
    settings.ValidateCharacters = false;
    settings.Indented = true;
    FWriter = CreateWriter(FStream, settings);
}

TXSPFWriter::~TXSPFWriter() {
    FinishQuietly();
}

std::u16string TXSPFWriter::ConvertFileName(const std::u16string& name) {
    const std::u16string converted = TZanPlaylistWriter::ConvertFileName(name);
    return TXSPFSchema::PathToURI(converted, converted != name);
}

void TXSPFWriter::WriteHeader() {
    if (FHeaderWritten)
        return;
    FHeaderWritten = true;
    FWriter->StartDocument(0);
    FWriter->StartElement(u"playlist");
    FWriter->WriteAttribute(u"xmlns", kXSPFNamespace);
    FWriter->WriteAttribute(u"xmlns", u"orvo", HostNamespace());
    FWriter->WriteAttribute(u"version", u"1");
    if (!FPath.empty())
        FWriter->WriteAttribute(u"xml", u"base",
                                TXSPFSchema::PathToURI(paths::WithTrailingSeparator(FPath), false));
}

void TXSPFWriter::BeginGroup(const std::u16string& name, bool flag) {
    FGroupName = name;
    FGroupState = flag ? 1 : 2;
}

void TXSPFWriter::WriteItem(const TZanCustomFileInfo& info, int32_t queueIndex) {
    if (FTrackListState == 2)
        throw EOrvoXSPFUnexpectedState(2, u"Tracklist is already created");
    WriteHeader();
    if (FTrackListState == 0) {
        FWriter->StartElement(u"trackList");
        FTrackListState = 1;
    }
    auto element = [&](std::u16string_view name, const std::u16string& value) {
        if (!value.empty())
            FWriter->WriteElement(name, value);
    };
    auto meta = [&](std::u16string_view rel, const std::u16string& value) {
        if (value.empty())
            return;
        FWriter->StartElement(u"meta");
        FWriter->WriteAttribute(u"rel", rel);
        FWriter->WriteString(value);
        FWriter->EndElement();
    };
    auto host = [&](std::u16string_view name, const std::u16string& value) {
        if (!value.empty())
            FWriter->WriteElement(u"orvo", name, {}, value);
    };
    auto above = [](int64_t value, int64_t bound) {
        return value > bound ? IntToStr(value) : std::u16string();
    };
    const TZanStreamInfo& stream = info.StreamInfo();
    const std::u16string& link = info.GetValue(zitLink);
    const bool image = !link.empty() && IsImageLink(link);

    FWriter->StartElement(u"track");
    element(u"location", ConvertFileName(info.FileName()));
    element(u"title", info.GetValue(zitTitle));
    element(u"creator", info.GetValue(zitArtist));
    element(u"album", info.GetValue(zitAlbum));
    element(u"annotation", info.GetValue(zitComment));
    if (!image)
        element(u"info", link);
    element(u"trackNum", info.TrackNumber());
    element(u"duration", above(stream.Duration, 0));
    if (image)
        element(u"image", link);
    else
        meta(u"url", link);
    meta(u"album-artist", info.GetValue(zitAlbumArtist));
    meta(u"bitrate", above(stream.Bitrate, 0));
    meta(u"bpm", above(info.BPM(), 0));
    meta(u"composer", info.GetValue(zitComposer));
    meta(u"date", info.GetValue(zitDate));
    meta(u"disk-number", info.DiskNumber());
    meta(u"genre", info.GetValue(zitGenre));
    meta(u"lyricist", info.GetValue(zitLyricist));
    meta(u"mood", info.GetValue(zitMood));
    meta(u"publisher", info.GetValue(zitPublisher));
    meta(u"year", info.GetValue(zitDate));

    const auto* item = dynamic_cast<const TZanPlaylistItem*>(&info);
    FWriter->StartElement(u"extension");
    FWriter->WriteAttribute(u"application", TrackUri());
    if (item && !item->StateFlag())
        host(u"state", u"10");
    host(u"bits", above(stream.Bits, 0));
    host(u"chans", above(stream.Channels & 0x0FFF, 0));
    host(u"samplerate", above(stream.SampleRate, 0));
    if (item)
        host(u"format", item->Format());
    host(u"size", above(info.FileSize(), 0));
    host(u"queueIndex", above(queueIndex, -1));
    if (item)
        host(u"custom", item->Custom());
    FWriter->EndElement();

    if (FGroupState != 0) {
        FWriter->StartElement(u"extension");
        FWriter->WriteAttribute(u"application", GroupUri());
        host(u"title", FGroupName);
        host(u"state", IntToStr(FGroupState));
        FWriter->EndElement();
        FGroupState = 0;
        FGroupName.clear();
    }
    FWriter->EndElement();
}

void TXSPFWriter::CloseTrackList() {
    WriteHeader();
    if (FTrackListState == 1)
        FWriter->EndElement();
    FTrackListState = 2;
}

void TXSPFWriter::WritePreimage(const TNuvXMLDocument& document) {
    CloseTrackList();
    if (document.Count() == 0)
        return;
    FWriter->StartElement(u"extension");
    FWriter->WriteAttribute(u"application", PreimageUri());
    // Without recursion, so that a subtree of any depth is written.
    struct TLevel {
        const TNuvXMLNode* Node;
        size_t Next;
    };
    std::vector<TLevel> stack;
    auto open = [&](const TNuvXMLNode& node) {
        const size_t colon = node.NodeName.find(u':');
        if (colon == std::u16string::npos)
            FWriter->StartElement(node.NodeName);
        else
            FWriter->StartElement(std::u16string_view(node.NodeName).substr(0, colon),
                                  std::u16string_view(node.NodeName).substr(colon + 1), {});
        for (const auto& attribute : node.Attributes) {
            const size_t at = attribute.Name.find(u':');
            if (at == std::u16string::npos)
                FWriter->WriteAttribute(attribute.Name, attribute.Value);
            else
                FWriter->WriteAttribute(std::u16string_view(attribute.Name).substr(0, at),
                                        std::u16string_view(attribute.Name).substr(at + 1), attribute.Value);
        }
        if (!node.NodeValue.empty())
            FWriter->WriteString(node.NodeValue);
        stack.push_back({&node, 0});
    };
    open(document[0]);
    while (!stack.empty()) {
        TLevel& level = stack.back();
        if (level.Next < level.Node->Count())
            open((*level.Node)[level.Next++]);
        else {
            FWriter->EndElement();
            stack.pop_back();
        }
    }
    FWriter->EndElement();
}

void TXSPFWriter::WriteProps(std::u16string_view application, const TZanSettingsSection& lines) {
    FWriter->StartElement(u"extension");
    FWriter->WriteAttribute(u"application", application);
    for (size_t i = 0; i < lines.Count(); ++i) {
        FWriter->StartElement(u"orvo", u"prop", {});
        FWriter->WriteAttribute(u"name", lines[i].first);
        if (!lines[i].second.empty())
            FWriter->WriteString(lines[i].second);
        FWriter->EndElement();
    }
    FWriter->EndElement();
}

void TXSPFWriter::WriteSettings(const TZanSettingsSection& lines) {
    CloseTrackList();
    WriteProps(SettingsUri(), lines);
}

void TXSPFWriter::WriteSummary(const TZanPlaylistSummary& summary) {
    CloseTrackList();
    FWriter->WriteElement(u"title", summary.Name);
    FWriter->WriteElement(u"identifier", summary.ID);
    if (!FileName().empty())
        FWriter->WriteElement(u"location", TXSPFSchema::PathToURI(FileName(), false));
    TZanSettingsSection lines;
    auto flag = [&](std::u16string_view name, bool value) {
        if (value)
            lines.Add(name, u"1");
    };
    auto number = [&](std::u16string_view name, int64_t value) {
        if (value != 0)
            lines.Add(name, IntToStr(value));
    };
    lines.Add(u"ID", summary.ID);
    lines.Add(u"Name", summary.Name);
    lines.Add(u"NameIsAutoSet", summary.NameIsAutoSet ? u"1" : u"0");
    number(u"ContentDuration", summary.ContentDuration);
    number(u"ContentFiles", summary.ContentFiles);
    number(u"ContentSize", summary.ContentSize);
    lines.Add(u"PlaybackCursor", IntToStr(summary.PlaybackCursor));
    lines.Add(u"PlaybackCursorAutoBookmark", Format(u"%.15g", summary.PlaybackCursorAutoBookmark / 1000.0));
    number(u"PlaybackTempo", summary.PlaybackTempo);
    flag(u"ReadOnly", summary.ReadOnly);
    flag(u"Preimage", summary.Preimage);
    flag(u"PreimageAutoSync", summary.PreimageAutoSync);
    if (!summary.SortingTemplate.empty())
        lines.Add(u"SortingTemplate", summary.SortingTemplate);
    lines.Add(u"Shuffled", summary.Shuffled ? u"1" : u"0");
    lines.Add(u"UserReordered", summary.UserReordered && summary.SortingTemplate.empty() ? u"1" : u"0");
    for (const auto& custom : summary.Custom) {
        const size_t equals = custom.find(u'=');
        lines.Add(u"Custom" + custom.substr(0, equals),
                  equals == std::u16string::npos ? std::u16string() : custom.substr(equals + 1));
    }
    WriteProps(SummaryUri(), lines);
}

void TXSPFWriter::DoFinish() {
    WriteHeader();
    if (FTrackListState == 1)
        FWriter->EndElement();
    FTrackListState = 2;
    FWriter->EndElement();
    FWriter->Flush();
}

const TZanPlaylistReaderClass kXSPFReaderClass = {
    u"TXSPFReader",
    [](TNuvStream* stream, bool owns) -> std::unique_ptr<TZanPlaylistReader> {
        return std::make_unique<TXSPFReader>(stream, owns);
    },
    [](const std::u16string& fileName) -> std::unique_ptr<TZanPlaylistReader> {
        return std::make_unique<TXSPFReader>(fileName);
    }};

const TZanPlaylistWriterClass kXSPFWriterClass = {
    u"TXSPFWriter", [](TNuvStream* stream, bool owns) -> std::unique_ptr<TZanPlaylistWriter> {
        return std::make_unique<TXSPFWriter>(stream, owns);
    }};
