#include "plugin/Orvo.Tunedex.Providers.RadioBrowser.h"

#include "nuv/Nuv.Log.h"

#include "nuv/Nuv.Streams.h"
#include "nuv/Nuv.Strings.Natural.h"
#include "nuv/Nuv.Strings.h"
#include "nuv/Nuv.Web.Auth.h"
#include "nuv/Nuv.Web.DNS.h"
#include "nuv/Nuv.Web.Http.h"
#include "platform/Platform.Locale.h"
#include "sdk/api/OrvoAPI.Tunedex.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <unordered_set>

namespace {

std::string NameServer() {
    if (const char* configured = std::getenv("TUNEDEX_DNS_SERVER"); configured && *configured)
        return configured;
    return ToUtf8(TOrvoTunedexRadioBrowser::DefaultNameServer);
}

// ---- values -----------------------------------------------------------------------------------

// Keeps the last of equal entries, in the order of those kept.
void RemoveDuplicatesKeepingLast(std::vector<std::u16string>& list) {
    std::unordered_set<std::u16string_view> seen;
    std::vector<bool> keep(list.size());
    for (size_t i = list.size(); i-- > 0;)
        keep[i] = seen.insert(list[i]).second;
    std::vector<std::u16string> kept;
    kept.reserve(seen.size());
    for (size_t i = 0; i < list.size(); ++i)
        if (keep[i])
            kept.push_back(std::move(list[i]));
    list = std::move(kept);
}

} // namespace

// ---- provider ---------------------------------------------------------------------------------

const TOrvoTunedexProviderClass& TOrvoTunedexRadioBrowser::Class() {
    static const TOrvoTunedexProviderClassOf<TOrvoTunedexRadioBrowser> cls(u"TOrvoTunedexRadioBrowser");
    return cls;
}

std::u16string TOrvoTunedexRadioBrowser::DocumentURL() const {
    const TAddress address = SplitAddress(Data);
    if (address.Server.empty())
        throw EInvalidOperation(u"Address was not set");
    std::u16string url = u"http://" + address.Server + u"/json/stations";
    if (address.Value.empty())
        return url; // every station the server knows
    switch (address.Kind) {
    case akTag:
        url += u"/bytagexact/";
        break;
    case akLanguage:
        url += u"/bylanguageexact/";
        break;
    default:
        url += u"/bycountryexact/";
    }
    // Values such as "drum & bass", "Côte d'Ivoire" or one with a "/" must reach the server as
    // one path segment meaning exactly that text.
    return url + EncodeURLComponent(address.Value);
}

void TOrvoTunedexRadioBrowser::AsyncFetch(TNuvStream& stream, std::u16string_view,
                                          const TOrvoStationReceiver& receiver) {
    ParseStations(stream, receiver);
}

TOrvoTunedexRadioBrowser::TAddress TOrvoTunedexRadioBrowser::SplitAddress(std::u16string_view data) {
    TAddress address;
    const std::vector<std::u16string> parts = Split(data, u";");
    address.Server = parts[0];
    if (parts.size() > 1)
        address.Kind = int32_t(StrToIntDef(parts[1], 0));
    if (parts.size() > 2)
        address.Value = parts[2];
    return address;
}

// ---- look-ups ---------------------------------------------------------------------------------

TOrvoTunedexRadioBrowser::TQueryTask::TQueryTask(std::u16string server, TQueryKind kind,
                                                 TQueryCallback callback)
    : FServer(std::move(server)), FQueryKind(kind), FCallback(std::move(callback)) {}

void TOrvoTunedexRadioBrowser::TQueryTask::Execute() {
    switch (FQueryKind) {
    case qkServers:
        DiscoverServers(FResult);
        break;
    case qkCountries:
        QueryValues(FResult, u"countries", FServer);
        break;
    case qkLanguages:
        // Entries without a language code are spelling variants and junk ("#english").
        QueryValues(FResult, u"languages", FServer, [](const TNuvJSONNode& object) {
            std::u16string code;
            return JSON::TryGetValue(object, u"iso_639", code) && !code.empty() && code != u"null";
        });
        break;
    case qkTags:
        QueryValues(FResult, u"tags", FServer);
        break;
    }
}

void TOrvoTunedexRadioBrowser::TQueryTask::Complete() {
    if (!IsCanceled() && FCallback)
        // Checked again on the main thread: the dialog may have cancelled while this waited.
        TNuvMainThread::Run(
            [this] {
                if (!IsCanceled())
                    FCallback(FResult);
            },
            true);
    TNuvTask::Complete();
}

void TOrvoTunedexRadioBrowser::StartQuery(TaskHandle& handle, TQueryKind kind, TQueryCallback callback,
                                          std::u16string_view server) {
    TaskDispatcher().Cancel(handle, false);
    handle =
        TaskDispatcher().Run(std::make_unique<TQueryTask>(std::u16string(server), kind, std::move(callback)));
}

void TOrvoTunedexRadioBrowser::QueryValues(std::vector<std::u16string>& list, std::u16string_view kindName,
                                           std::u16string_view server, const TObjectFilter& filter) {
    if (server.empty() || kindName.empty())
        return;
    TNuvMemoryStream stream;
    const TNuvWebErrorInfo outcome =
        TNuvHttp::Get(std::u16string(server) + u"/json/" + std::u16string(kindName))
            ->OnData(stream)
            .RunInCurrentThread();
    // Whatever arrived before a failure is not the list. The editor shows a failed look-up as an
    // empty list; the log keeps why.
    std::u16string failure = outcome.ErrorMessage;
    if (outcome.ErrorCode == 0)
        ForEachObject(
            stream,
            [&](const TNuvJSONNode& object) {
                std::u16string name;
                if ((!filter || filter(object)) && JSON::TryGetValue(object, u"name", name))
                    list.push_back(std::move(name));
            },
            &failure);
    if (outcome.ErrorCode != 0 || !failure.empty()) {
        const std::u16string reason = failure.empty() ? u"the download failed" : failure;
        NuvLogError(u"App", Format(u"Tunedex: %s/json/%s: %s", server, kindName, reason));
        // The host reads why a look-up failed from the same pinned entries as a refresh's outcome.
        NuvLogError(TUNEDEX_REFRESH_LOG_TAG,
                    FormatTunedexRefreshLogMessage(
                        {TTunedexRefreshOutcome::Failed,
                         std::u16string(server) + u"/json/" + std::u16string(kindName), reason}));
    }
    RemoveDuplicatesKeepingLast(list);
    std::stable_sort(list.begin(), list.end(), [](const std::u16string& a, const std::u16string& b) {
        return platform::CompareStringLocale(a, b) < 0;
    });
}

void TOrvoTunedexRadioBrowser::DiscoverServers(std::vector<std::u16string>& list) {
    std::vector<std::u16string> servers = TNuvDNS::QuerySrvTargets(SrvName, NameServer());
    std::stable_sort(servers.begin(), servers.end(), [](const std::u16string& a, const std::u16string& b) {
        return CompareTextNatural(a, b) < 0;
    });
    list.emplace_back(AllServersHost);
    list.insert(list.end(), std::make_move_iterator(servers.begin()), std::make_move_iterator(servers.end()));
}

// ---- documents --------------------------------------------------------------------------------

bool TOrvoTunedexRadioBrowser::ForEachObject(TNuvStream& stream, const TObjectProc& proc,
                                             std::u16string* reason) {
    std::u16string why;
    const std::unique_ptr<TNuvJSONDocument> document = JSON::Parse(stream, &why);
    if (!document) {
        if (reason)
            *reason = std::move(why);
        return false;
    }
    const TNuvJSONNode root = document->Root();
    if (!root.IsArray()) {
        if (reason) {
            const std::u16string_view kind = root.IsObject()   ? u"an object"
                                             : root.IsNull()   ? u"null"
                                             : root.IsString() ? u"a single value"
                                                               : u"true or false";
            *reason = Format(u"the answer is no JSON list but %s", kind);
            if (const std::u16string error = JSON::Value(root, u"error"); root.IsObject() && !error.empty())
                *reason += Format(u" (the server says: %s)", std::u16string_view(error).substr(0, 200));
        }
        return false;
    }
    const size_t count = root.Count();
    for (size_t i = 0; i < count; ++i)
        if (const TNuvJSONNode item = root.Item(i); item.IsObject())
            proc(item);
    return true;
}

namespace {

// The members a station is made of, in the order of the table below.
enum TStationMember {
    smBitrate,
    smCodec,
    smName,
    smLanguage,
    smHomepage,
    smFavicon,
    smUrlResolved,
    smUrl,
    smCountry,
    smState,
    smTags,
    smCount
};

constexpr std::array<std::string_view, smCount> kStationMembers = {
    "bitrate",      "codec", "name",    "language", "homepage", "favicon",
    "url_resolved", "url",   "country", "state",    "tags"};

int32_t BitrateOf(std::string_view text) {
    int64_t value = 0;
    if (!TryStrToInt(FromUtf8(text), value) || value < INT32_MIN || value > INT32_MAX)
        return 0;
    return int32_t(value);
}

} // namespace

void TOrvoTunedexRadioBrowser::ParseStations(TNuvStream& stream, const TOrvoStationReceiver& receiver) {
    TOrvoRadioStationInfo station;
    std::u16string reason;
    const auto read = [&](const TNuvJSONNode& object) {
        // One walk over the members, keeping the document's bytes; only what the station takes
        // is converted. The first of equal names counts, as a look-up by name finds.
        std::array<std::string_view, smCount> values{};
        unsigned found = 0;
        const size_t count = object.Count();
        for (size_t i = 0; i < count && found != (1u << smCount) - 1; ++i) {
            const std::string_view name = object.NameBytes(i);
            for (unsigned m = 0; m < smCount; ++m)
                if (!(found & (1u << m)) && name == kStationMembers[m]) {
                    // A null member is no value: "url_resolved": null falls back to "url".
                    if (const TNuvJSONNode value = object.Item(i); !value.IsNull())
                        values[m] = value.TextBytes();
                    found |= 1u << m;
                    break;
                }
        }

        station.Reset();
        station.Bitrate = BitrateOf(values[smBitrate]);
        station.FileFormat = FromUtf8(values[smCodec]);
        station.Name = FromUtf8(values[smName]);
        station.Description = FromUtf8(values[smLanguage]);
        station.HomeURL = FromUtf8(values[smHomepage]);
        station.Logo = FromUtf8(values[smFavicon]);
        station.FileName = FromUtf8(values[values[smUrlResolved].empty() ? smUrl : smUrlResolved]);
        station.Country = FromUtf8(values[values[smCountry].empty() ? smState : smCountry]);
        station.Tags = FromUtf8(values[smTags]);
        std::replace(station.Tags.begin(), station.Tags.end(), u',', u';');
        receiver(station);
    };
    if (!ForEachObject(stream, read, &reason))
        throw EOrvoTunedexDocumentError(reason);
}
