// The stations part of the page's API: the fields, the row request with its count, the grouping by
// catalogue, a station's details, logo and stream, and the export as a playlist.

#include "host/Orvo.Host.Web.Api.h"
#include "host/Orvo.Host.Web.Json.h"

#include "host/Orvo.Host.Cli.Refresh.h"
#include "host/Orvo.Host.Cli.Stations.h"
#include "nuv/Nuv.Shell.h"
#include "nuv/Nuv.Threading.Pool.h"
#include "nuv/Nuv.Web.Http.h"
#include "platform/Platform.Locale.h"
#include "platform/Platform.Threads.h"
#include "zan/Zan.Playlists.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <chrono>
#include <climits>

namespace {

// A whole number from a parameter, within bounds; 400 otherwise.
int32_t Whole(const TOrvoHostWebRequest& request, const char* name, int32_t fallback, int32_t most) {
    const std::string text = request.Param(name);
    if (text.empty())
        return fallback;
    int64_t value = 0;
    if (!TryStrToInt(FromUtf8(text), value) || value < 0 || value > most)
        throw EOrvoHostWebError(400, std::string(name) + " takes a whole number from 0 to " +
                                         std::to_string(most) + ", not \"" + text + "\"");
    return int32_t(value);
}

std::string FieldType(int32_t type) {
    switch (type) {
    case ORVO_ML_FIELD_TYPE_INTEGER:
        return "number";
    case ORVO_ML_FIELD_TYPE_KEY_LIST:
        return "list";
    default:
        return "text";
    }
}

// The image type the bytes begin with, among those a page may show; empty for anything else
// (an SVG document may carry scripts, and a station server names any type it likes).
std::string ImageType(std::string_view bytes) {
    const auto starts = [&](std::string_view magic, size_t at = 0) {
        return bytes.size() >= at + magic.size() && bytes.substr(at, magic.size()) == magic;
    };
    if (starts("\x89PNG\r\n\x1a\n"))
        return "image/png";
    if (starts("\xFF\xD8\xFF"))
        return "image/jpeg";
    if (starts("GIF87a") || starts("GIF89a"))
        return "image/gif";
    if (starts("RIFF") && starts("WEBP", 8))
        return "image/webp";
    if (starts(std::string_view("\0\0\1\0", 4)))
        return "image/x-icon";
    if (starts("BM") && bytes.size() > 14)
        return "image/bmp";
    return {};
}

// Whether a stream address names a playlist by its extension.
bool PlaylistByName(std::u16string_view address) {
    std::u16string path(address.substr(0, address.find_first_of(u"?#")));
    path = platform::LowerCaseLocale(path);
    for (const std::u16string_view extension : {u".m3u", u".m3u8", u".pls", u".xspf"})
        if (path.ends_with(extension))
            return true;
    return false;
}

// Whether a content type names a playlist.
bool PlaylistByType(std::u16string_view type) {
    const std::u16string lower = platform::LowerCaseLocale(std::u16string(type.substr(0, type.find(u';'))));
    for (const std::u16string_view known :
         {u"audio/x-mpegurl", u"audio/mpegurl", u"application/x-mpegurl", u"application/vnd.apple.mpegurl",
          u"audio/x-scpls", u"application/pls+xml", u"application/xspf+xml"})
        if (Trim(lower) == known)
            return true;
    return false;
}

bool WebAddress(std::u16string_view address) {
    return StartsTextAscii(u"http://", address) || StartsTextAscii(u"https://", address);
}

} // namespace

TOrvoHostWebApi::TOrvoHostWebApi(TOrvoCliContext& context, TOrvoHost& host, const TOrvoCliPluginLog& log,
                                 TOrvoHostWebServer& server, std::filesystem::path program)
    : FContext(context), FHost(host), FProgram(std::move(program)), FBrowser(host.Core()), FLog(log) {
    FFields = FBrowser.Fields();
    // The host's own downloads (the playlist behind a stream address) run on the server's threads;
    // the dispatcher their transport uses is made on the main thread, so here.
    TaskDispatcher();
    // A quick refresh may show its task and hide it again between two looks at the display.
    FBrowser.Manager().SetTaskObserver([this] { PublishProgress(); });
    server.EventStream("/api/events", FEvents);
    AddStationRoutes(server);
    AddCatalogueRoutes(server);
}

TOrvoHostWebApi::~TOrvoHostWebApi() {
    FBrowser.Manager().SetTaskObserver({});
}

void TOrvoHostWebApi::AddStationRoutes(TOrvoHostWebServer& server) {
    const auto route = [&](const char* pattern,
                           TOrvoHostWebResponse (TOrvoHostWebApi::*handler)(const TOrvoHostWebRequest&)) {
        server.Route("GET", pattern,
                     [this, handler](const TOrvoHostWebRequest& r) { return (this->*handler)(r); });
    };
    route("/api/info", &TOrvoHostWebApi::Info);
    route("/api/stations", &TOrvoHostWebApi::Stations);
    route("/api/groups", &TOrvoHostWebApi::Groups);
    route("/api/station", &TOrvoHostWebApi::Station);
    route("/api/logo", &TOrvoHostWebApi::Logo);
    route("/api/export", &TOrvoHostWebApi::Export);
    // Resolving a playlist waits on a station server: not on the main thread.
    server.Route(
        "GET", "/api/play", [this](const TOrvoHostWebRequest& r) { return Play(r); }, false);
}

TOrvoHostWebResponse TOrvoHostWebApi::Info(const TOrvoHostWebRequest&) {
    return JsonAnswer([&](TOrvoHostJson& json) {
        json.StartObject();
        json.Key("version");
        Text(json, std::string_view(TUNEDEX_VERSION));
        json.Key("plugin");
        Text(json, FBrowser.StorageName());
        json.Key("fields");
        json.StartArray();
        for (const TOrvoHostMLField& field : FFields) {
            json.StartObject();
            json.Key("name");
            Text(json, field.Name);
            json.Key("title");
            Text(json, field.Name);
            json.Key("type");
            Text(json, std::string_view(FieldType(field.Type)));
            json.EndObject();
        }
        json.EndArray();
        json.Key("defaultFields");
        json.StartArray();
        for (const std::string& name : DefaultStationFields())
            Text(json, std::string_view(name));
        json.EndArray();
        json.EndObject();
    });
}

TOrvoHostMLRequest TOrvoHostWebApi::StationRequest(const TOrvoHostWebRequest& request, bool windowed) {
    TOrvoHostMLRequest query;
    for (const std::string& list : request.ParamValues("fields"))
        for (const std::u16string& field : Split(FromUtf8(list), u","))
            if (!Trim(field).empty())
                AddRequestField(query, Trim(field));
    if (query.Fields.empty())
        for (const std::string& field : DefaultStationFields())
            AddRequestField(query, FromUtf8(field));
    // "FIELD OP VALUE": names and operators hold no spaces, a value may.
    for (const std::string& where : request.ParamValues("where")) {
        std::vector<std::string> parts;
        size_t at = 0;
        while (parts.size() < 2) {
            const size_t space = where.find(' ', at);
            if (space == std::string::npos)
                break;
            parts.push_back(where.substr(at, space - at));
            at = space + 1;
        }
        if (at < where.size() || parts.size() == 2)
            parts.push_back(where.substr(at));
        if (parts.size() != 3)
            throw EOrvoHostWebError(400, WhereMistake(parts));
        query.Conditions.push_back({FromUtf8(parts[0]), FromUtf8(parts[1]), FromUtf8(parts[2])});
    }
    const std::string any = request.Param("any");
    query.Any = any == "1" || any == "true";
    query.Search = FromUtf8(request.Param("search"));
    try {
        for (const std::string& sort : request.ParamValues("sort"))
            query.Sort.push_back(ParseSortSpec(FromUtf8(sort)));
    } catch (const EArgumentError& e) {
        throw EOrvoHostWebError(400, e.what());
    }
    query.Offset = Whole(request, "offset", 0, INT32_MAX);
    query.Limit = windowed ? Whole(request, "limit", 50, 10000) : Whole(request, "limit", 0, INT32_MAX);
    // A page of no rows would be every row to the library.
    if (windowed && query.Limit == 0)
        throw EOrvoHostWebError(400, "limit takes a whole number from 1 to 10000, not \"0\"");
    if (query.Limit == 0 && query.Offset > 0)
        query.Limit = INT32_MAX;
    if (const std::string id = request.Param("catalog"); !id.empty()) {
        // The library groups by the catalogue's title, its "Provider" field.
        if (query.Any && !query.Conditions.empty())
            throw EOrvoHostWebError(400, "A catalogue cannot be combined with conditions joined by any; "
                                         "leave out any=1 or the catalogue");
        std::optional<std::u16string> title;
        WithSession([&](TOrvoCliSession&) {
            for (const TOrvoCliManager::TRow& row : ListCatalogues(FHost))
                if (row.ID == FromUtf8(id))
                    title = row.Title;
        });
        if (!title)
            throw EOrvoHostWebError(404, "No catalogue has this id.");
        query.Conditions.push_back({u"Provider", u"eq", *title});
    }
    try {
        CheckStationRequest(query, FFields);
    } catch (const EOrvoCliUsage& e) {
        throw EOrvoHostWebError(400, e.what());
    }
    return query;
}

TOrvoHostWebResponse TOrvoHostWebApi::Stations(const TOrvoHostWebRequest& request) {
    const auto start = std::chrono::steady_clock::now();
    TOrvoHostMLRequest query = StationRequest(request, true);
    const std::vector<std::u16string> asked = query.Fields;
    // Every row carries its station's identity.
    AddRequestField(query, u"FileName");
    TOrvoHostMLResult result;
    int64_t total = 0;
    try {
        result = FBrowser.Query(query);
        // A first page that is not full holds every row there is.
        total = query.Offset == 0 && int64_t(result.Rows.size()) < query.Limit ? int64_t(result.Rows.size())
                                                                               : Total(query);
    } catch (const EArgumentError& e) {
        throw EOrvoHostWebError(400, e.what());
    }
    std::u16string notice;
    if (result.IsText) {
        std::vector<TOrvoHostMLLink> links;
        notice = PlainLinkText(result.Text, &links);
        // Any text but the invitation to add catalogues is the storage failing.
        if (std::none_of(links.begin(), links.end(),
                         [](const TOrvoHostMLLink& link) { return link.Address == u"tunedex://settings"; }))
            throw Exception(u"The storage answered a text: " + notice);
        result.Rows.clear();
        total = 0;
    }
    const std::vector<bool> numbers = NumberColumns(result.Fields, FFields);
    return JsonAnswer([&](TOrvoHostJson& json) {
        json.StartObject();
        json.Key("total");
        json.Int64(total);
        json.Key("offset");
        json.Int(query.Offset);
        json.Key("limit");
        json.Int(query.Limit);
        json.Key("fields");
        json.StartArray();
        for (const std::u16string& field : asked)
            Text(json, field);
        json.EndArray();
        json.Key("rows");
        json.StartArray();
        for (const auto& row : result.Rows) {
            json.StartObject();
            for (size_t i = 0; i < row.size() && i < result.Fields.size(); ++i) {
                Text(json, result.Fields[i]);
                WriteJsonValue(json, row[i], numbers[i]);
            }
            json.EndObject();
        }
        json.EndArray();
        if (!notice.empty()) {
            json.Key("notice");
            Text(json, notice);
        }
        json.Key("serverMs");
        json.Double(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        json.EndObject();
    });
}

int64_t TOrvoHostWebApi::Total(const TOrvoHostMLRequest& query) {
    // The search looks in the shown fields; without one, any field selects the same rows.
    TOrvoHostMLRequest count = query;
    if (count.Search.empty())
        count.Fields = {u"FileName"};
    else
        std::sort(count.Fields.begin(), count.Fields.end());
    std::u16string key =
        count.Search + u'\n' + (count.Any ? u"any" : u"all") + u'\n' + Join(count.Fields, u",");
    for (const TOrvoHostMLCondition& condition : count.Conditions)
        key += u'\n' + condition.Field + u'\t' + condition.Operator + u'\t' + condition.Value;
    // Paging and sorting keep the selection: its count stays until the catalogues change.
    if (FCountKey == key && !FBrowser.Manager().HasTasks())
        return FCount;
    FCount = FBrowser.Count(count);
    FCountKey = FBrowser.Manager().HasTasks() ? std::u16string() : key;
    return FCount;
}

TOrvoHostWebResponse TOrvoHostWebApi::Groups(const TOrvoHostWebRequest&) {
    std::vector<TOrvoCliManager::TRow> rows;
    WithSession([&](TOrvoCliSession&) { rows = ListCatalogues(FHost); });
    return JsonAnswer([&](TOrvoHostJson& json) {
        json.StartObject();
        json.Key("groups");
        json.StartArray();
        for (const TOrvoCliManager::TRow& row : rows) {
            json.StartObject();
            json.Key("id");
            Text(json, row.ID);
            json.Key("title");
            Text(json, row.Title);
            json.Key("stations");
            json.Int64(StrToIntDef(row.Count, 0));
            json.EndObject();
        }
        json.EndArray();
        json.EndObject();
    });
}

TOrvoHostWebResponse TOrvoHostWebApi::Station(const TOrvoHostWebRequest& request) {
    const std::u16string address = FromUtf8(request.Param("url"));
    ComPtr<IOrvoPropertyList> info;
    const HRESULT described = FHost.FileManager().DescribeFile(address, info);
    if (address.empty() || described == E_FAIL)
        throw EOrvoHostWebError(404, "No station in the catalogue has this address.");
    if (Failed(described))
        throw Exception(
            Format(u"The station could not be described (%s)", FromUtf8(ResultCodeText(described))));
    const auto text = [&](int32_t id) { return ReadTextProp(info.get(), id); };
    const int32_t bitrate = ReadIntProp(info.get(), ORVO_FIP_BITRATE, 0);
    const std::u16string homePage = WebPageAddress(text(ORVO_FIP_URL));
    // Only a station with a logo gets the address of one.
    bool logo = true;
    if (std::any_of(FFields.begin(), FFields.end(),
                    [](const TOrvoHostMLField& f) { return f.Name == u"Logo"; })) {
        TOrvoHostMLRequest query;
        query.Fields = {u"Logo"};
        query.Conditions.push_back({u"FileName", u"eq", address});
        query.Limit = 1;
        const TOrvoHostMLResult result = FBrowser.Query(query);
        logo = !result.IsText && !result.Rows.empty() && !result.Rows[0][0].empty();
    }
    return JsonAnswer([&](TOrvoHostJson& json) {
        json.StartObject();
        json.Key("url");
        Text(json, address);
        json.Key("fields");
        json.StartArray();
        const auto field = [&](const char* name, const std::u16string& value) {
            json.StartObject();
            json.Key("name");
            Text(json, std::string_view(name));
            json.Key("value");
            Text(json, value);
            json.EndObject();
        };
        field("Name", text(ORVO_FIP_TITLE));
        field("Stream", text(ORVO_FIP_FILENAME));
        field("Genre", text(ORVO_FIP_GENRE));
        // An unknown bit rate is stored as 0, which is no rate to show.
        field("Bit rate", bitrate > 0 ? IntToStr(bitrate) + u" kbit/s" : std::u16string());
        field("Home page", text(ORVO_FIP_URL));
        field("Description", text(ORVO_FIP_DESCRIPTION));
        json.EndArray();
        json.Key("homepage");
        if (homePage.empty())
            json.Null();
        else
            Text(json, homePage);
        json.Key("logo");
        if (logo)
            Text(json, "/api/logo?url=" + ToUtf8(EncodeURLComponent(address)));
        else
            json.Null();
        json.EndObject();
    });
}

TOrvoHostWebResponse TOrvoHostWebApi::Logo(const TOrvoHostWebRequest& request) {
    const std::u16string address = FromUtf8(request.Param("url"));
    const std::string bytes =
        address.empty() ? std::string() : FBrowser.FetchAlbumArt({u"FileName"}, {address});
    if (bytes.empty())
        throw EOrvoHostWebError(404, "This station has no logo the host could fetch.");
    const std::string type = ImageType(bytes);
    if (type.empty())
        throw EOrvoHostWebError(404, "The station's logo is not an image this page shows.");
    return {200, type, bytes, {}};
}

TOrvoHostWebResponse TOrvoHostWebApi::Play(const TOrvoHostWebRequest& request) {
    const std::u16string address = FromUtf8(request.Param("url"));
    bool known = false;
    std::u16string stream;
    platform::SendToMainThread([&] {
        ComPtr<IOrvoPropertyList> info;
        known = !address.empty() && Succeeded(FHost.FileManager().DescribeFile(address, info));
        if (known)
            stream = ReadTextProp(info.get(), ORVO_FIP_FILENAME);
    });
    if (!known)
        throw EOrvoHostWebError(404, "No station in the catalogue has this address.");
    if (stream.empty())
        stream = address;
    if (!WebAddress(stream))
        throw EOrvoHostWebError(404, "The station's stream is not a web address (http or https).");

    // A playlist is known by its name, or by the type its server answers with; anything else is
    // the stream itself, whose download is stopped at once.
    constexpr int64_t maxPlaylist = 1 << 20;
    const bool byName = PlaylistByName(stream);
    bool playlist = byName;
    TNuvMemoryStream bytes;
    const TNuvWebErrorInfo outcome =
        TNuvHttp::Get(stream)
            ->OnAccept([&](const THttpResponse& response) {
                playlist = playlist || PlaylistByType(response.ContentType);
                return playlist && response.IsSuccess() && response.ContentLength <= maxPlaylist;
            })
            .OnData([&](const void* buffer, int64_t count) {
                if (bytes.Size() + count > maxPlaylist)
                    return false;
                bytes.Write(buffer, count);
                return true;
            })
            .RunInCurrentThread();
    std::u16string first;
    if (playlist && outcome.ErrorCode == 0) {
        bytes.Seek(0, TNuvSeekOrigin::Begin);
        TZanPlaylistItemsCallback receiver(
            [&](const std::u16string& fileName, std::shared_ptr<IZanFileInfo>, int32_t) {
                if (first.empty())
                    first = fileName;
            });
        try {
            ZanReadPlaylist(bytes, stream, receiver);
        } catch (const Exception&) {
            first.clear();
        }
    }
    if (playlist && !WebAddress(first)) {
        // A station server that could not be reached may still answer the player later; a
        // playlist without a web stream in it never will.
        if (!byName || outcome.ErrorCode == 0)
            throw EOrvoHostWebError(404, "The station's playlist names no web stream.");
        first = stream;
    }
    return JsonAnswer([&](TOrvoHostJson& json) {
        json.StartObject();
        json.Key("stream");
        Text(json, playlist ? first : stream);
        json.EndObject();
    });
}

TOrvoHostWebResponse TOrvoHostWebApi::Export(const TOrvoHostWebRequest& request) {
    const std::string format = request.Param("format", "m3u8");
    if (!IsPlaylistFormat(format))
        throw EOrvoHostWebError(400, "format takes m3u, m3u8, pls or xspf, not \"" + format + "\"");
    TOrvoHostMLRequest query = StationRequest(request, false);
    for (const std::u16string& field : PlaylistExportFields())
        AddRequestField(query, field);
    TOrvoHostMLResult result;
    try {
        result = FBrowser.Query(query);
    } catch (const EArgumentError& e) {
        throw EOrvoHostWebError(400, e.what());
    }
    if (result.IsText)
        result.Rows.clear();
    std::string playlist;
    try {
        playlist = WriteStationPlaylist(format, result, [&](const std::u16string& address) {
            ComPtr<IOrvoPropertyList> info;
            return Succeeded(FHost.FileManager().DescribeFile(address, info))
                       ? ReadTextProp(info.get(), ORVO_FIP_URL)
                       : std::u16string();
        });
    } catch (const EOrvoCliUsage& e) {
        throw EOrvoHostWebError(400, e.what());
    }
    static const std::map<std::string, std::string> types = {{"m3u", "audio/x-mpegurl"},
                                                             {"m3u8", "audio/x-mpegurl; charset=utf-8"},
                                                             {"pls", "audio/x-scpls"},
                                                             {"xspf", "application/xspf+xml"}};
    return {200,
            types.at(format),
            std::move(playlist),
            {{"Content-Disposition", "attachment; filename=\"tunedex." + format + "\""}}};
}
