// The local web page's API end to end: the real plug-in in the test's host, the server on
// 127.0.0.1, a client on a thread of its own while the test's thread pumps the host's main loop,
// and catalogues filled from a loopback Radio Browser stand-in.

#include "host/Orvo.Host.Cli.Refresh.h"
#include "host/Orvo.Host.Web.Api.h"
#include "nuv/Nuv.Web.h"
#include "platform/Platform.System.h"
#include "platform/Platform.Threads.h"
#include "tests/Orvo.Tunedex.Providers.RadioBrowser.TestServers.h"
#include "tests/TestSupport.h"
#include "tests/host/Orvo.Host.Cli.TestSupport.h"

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

namespace {

struct TAnswer {
    int Status = 0;
    std::string Body;
    httplib::Headers Headers;

    std::string Header(const char* name) const {
        const auto it = Headers.find(name);
        return it == Headers.end() ? std::string() : it->second;
    }
    rapidjson::Document Json() const {
        rapidjson::Document json;
        json.Parse(Body.c_str());
        return json;
    }
};

struct TStation {
    std::string Name;
    std::string Extra; // more members of the station's JSON object, each with a leading comma
};

class ServeApi : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // Keeps the plug-in's process-wide objects from looking lost between hosts.
        static std::string error;
        static void* const resident = platform::LoadModule(TUNEDEX_PLUGIN_FILE, error);
        ASSERT_NE(resident, nullptr) << error;
    }

    void TearDown() override { Finish(); }

    // Stops what Start started; a server stopped already stays stopped.
    void Finish() {
        if (!FServer)
            return;
        platform::StopMainThreadTimer(FWatch);
        FApi->CancelRefresh();
        FServer->Stop();
        FApi.reset();
        FServer.reset();
        FHost->Unload();
    }

    // A catalogue "Jazz" of these stations, added by the command line; the n-th streams from
    // http://127.0.0.1:1/n unless its Extra names another address. Then the server starts.
    void Start(const std::vector<TStation>& stations) {
        std::string body = "[";
        for (size_t i = 0; i < stations.size(); ++i) {
            const std::string& extra = stations[i].Extra;
            body += std::string(i ? "," : "") + R"({"name":")" + stations[i].Name + "\"" +
                    (extra.find("url_resolved") == std::string::npos
                         ? R"(,"url_resolved":"http://127.0.0.1:1/)" + std::to_string(i) + "\""
                         : std::string()) +
                    R"(,"codec":"MP3","bitrate":"128","tags":"jazz")" + extra + "}";
        }
        FStandIn.Serve("/json/stations/bytagexact/jazz", body + "]");
        if (!stations.empty()) {
            const testsupport::TCliRun added = Tunedex({"add", "--title", "Jazz", "--kind", "1", "--server",
                                                        Server(), "--list", "tag", "--value", "jazz"});
            ASSERT_EQ(added.Status, 0) << added.Err;
        }
        FLog = std::make_unique<TOrvoCliPluginLog>();
        FContext.Settings.PluginFile = TUNEDEX_PLUGIN_FILE;
        FContext.Settings.ProfileFolder = FProfile.Path();
        FHost = std::make_unique<TOrvoHost>(FContext.Settings);
        ASSERT_TRUE(Succeeded(FHost->Initialize()));
        FServer = std::make_unique<TOrvoHostWebServer>(0);
        FApi = std::make_unique<TOrvoHostWebApi>(FContext, *FHost, *FLog, *FServer, TUNEDEX_CLI_FILE);
        FServer->Start();
        FWatch = platform::StartMainThreadTimer(50, [this] { FApi->Watch(); });
    }

    // The host's main loop, with the task display watched after every call it runs, as the
    // command's loop watches it.
    bool Pump(const std::function<bool()>& done, uint32_t timeoutMs) {
        return FHost->RunUntil(
            [&] {
                FApi->Watch();
                return done();
            },
            timeoutMs);
    }

    testsupport::TCliRun Tunedex(std::vector<std::string> args) {
        args.insert(args.begin(), {std::string("--plugin=") + TUNEDEX_PLUGIN_FILE,
                                   "--profile=" + FProfile.Path().string()});
        return testsupport::RunTunedex(std::move(args));
    }

    std::string Server() const { return ToUtf8(FStandIn.Server()); }
    std::string Port() const { return std::to_string(FServer->Port()); }
    httplib::Headers Token() const { return {{"X-Tunedex-Token", FServer->Token()}}; }

    // The request from a client thread, while this thread serves the host's main loop.
    TAnswer Call(const std::string& method, const std::string& target, httplib::Headers headers,
                 const std::string& body = {}) {
        TAnswer answer;
        std::atomic<bool> done{false};
        std::thread client([&] {
            httplib::Client http("127.0.0.1", FServer->Port());
            http.set_read_timeout(60);
            const httplib::Result result = method == "POST"
                                               ? http.Post(target, headers, body, "application/json")
                                               : http.Get(target, headers);
            if (result)
                answer = {result->status, result->body, result->headers};
            done = true;
            platform::WakeMainThread();
        });
        Pump([&] { return done.load(); }, 60000);
        client.join();
        return answer;
    }
    TAnswer Get(const std::string& target) { return Call("GET", target, Token()); }
    TAnswer Post(const std::string& target, const std::string& body = "{}") {
        return Call("POST", target, Token(), body);
    }

    // Reads the event stream on a thread of its own until an event of that name arrives.
    class TEventReader {
    public:
        TEventReader(ServeApi& test, std::string until) {
            FThread = std::thread([this, port = test.FServer->Port(), headers = test.Token(), until] {
                httplib::Client http("127.0.0.1", port);
                http.set_read_timeout(60);
                http.Get("/api/events", headers, [&](const char* data, size_t length) {
                    std::lock_guard lock(FLock);
                    FText.append(data, length);
                    return FText.find("event: " + until + "\n") == std::string::npos;
                });
                FDone = true;
                platform::WakeMainThread();
            });
            // Events published before the stream was opened are not sent: wait for its greeting.
            for (int i = 0; i < 1000 && Text().empty() && !FDone; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ~TEventReader() { FThread.join(); }
        bool Done() const { return FDone; }
        std::string Text() {
            std::lock_guard lock(FLock);
            return FText;
        }
        // The data of the last event of that name.
        rapidjson::Document Last(const std::string& name) {
            const std::string text = Text();
            const size_t at = text.rfind("event: " + name + "\ndata: ");
            rapidjson::Document json;
            if (at != std::string::npos) {
                const size_t start = at + name.size() + 14;
                json.Parse(text.substr(start, text.find('\n', start) - start).c_str());
            }
            return json;
        }

    private:
        std::thread FThread;
        std::mutex FLock;
        std::string FText;
        std::atomic<bool> FDone{false};
    };

    testsupport::TScopedFolder FProfile;
    testsupport::Watchdog FWatchdog{std::chrono::seconds(100)};
    testsupport::TRadioBrowserStandIn FStandIn{testsupport::CorpusDir() / "radiobrowser"};
    testsupport::TSrvNameServer FDns{{"de1.api.radio-browser.info"}};
    testsupport::TScopedEnvironment FResolver{"TUNEDEX_DNS_SERVER", FDns.Address()};
    std::ostringstream FOut, FErr;
    TOrvoCliContext FContext{{}, FOut, FErr};
    std::unique_ptr<TOrvoCliPluginLog> FLog;
    std::unique_ptr<TOrvoHost> FHost;
    std::unique_ptr<TOrvoHostWebServer> FServer;
    std::unique_ptr<TOrvoHostWebApi> FApi;
    platform::TimerId FWatch = 0;
};

TEST_F(ServeApi, RefusesRequestsWithoutTheTokenOrFromElsewhere) {
    Start({});
    const std::string token = FServer->Token();
    const std::string host = "127.0.0.1:" + Port();
    struct TCase {
        const char* What;
        std::string Method, Target;
        httplib::Headers Headers;
        int Status;
    };
    const TCase cases[] = {
        {"no token", "GET", "/api/info", {}, 403},
        {"a wrong token", "GET", "/api/info", {{"X-Tunedex-Token", std::string(32, '0')}}, 403},
        {"a wrong token in the address", "GET", "/api/info?token=" + token.substr(1), {}, 403},
        {"a foreign Host",
         "GET",
         "/api/info",
         {{"X-Tunedex-Token", token}, {"Host", "evil.example:" + Port()}},
         403},
        {"a foreign Origin",
         "GET",
         "/api/info",
         {{"X-Tunedex-Token", token}, {"Origin", "http://evil.example"}},
         403},
        {"a POST by the cookie alone", "POST", "/api/reset", {{"Cookie", "tunedex_token=" + token}}, 403},
        {"a POST with the token in the address", "POST", "/api/reset?token=" + token, {}, 403},
        {"a GET of a change", "GET", "/api/reset", {{"X-Tunedex-Token", token}}, 405},
        {"a POST of a reading", "POST", "/api/info", {{"X-Tunedex-Token", token}}, 405},
        {"nothing there", "GET", "/api/nothing", {{"X-Tunedex-Token", token}}, 404},
        {"the cookie", "GET", "/api/info", {{"Cookie", "a=b; tunedex_token=" + token}}, 200},
        {"the token in the address", "GET", "/api/info?token=" + token, {}, 200},
        {"the page's own origin",
         "GET",
         "/api/info",
         {{"X-Tunedex-Token", token},
          {"Origin", "http://localhost:" + Port()},
          {"Host", "localhost:" + Port()}},
         200},
    };
    for (const TCase& c : cases) {
        const TAnswer answer = Call(c.Method, c.Target, c.Headers);
        EXPECT_EQ(answer.Status, c.Status) << c.What << ": " << answer.Body;
        EXPECT_EQ(answer.Header("Content-Security-Policy").rfind("default-src 'self'; media-src *", 0), 0u)
            << c.What;
        EXPECT_EQ(answer.Header("X-Content-Type-Options"), "nosniff") << c.What;
        if (c.Status != 200) {
            EXPECT_TRUE(answer.Json().HasMember("error")) << c.What << ": " << answer.Body;
        }
    }
    EXPECT_EQ(Call("GET", "/api/info", {}).Json()["error"].GetString(),
              std::string("This page needs the address tunedex serve printed."));

    // The first visit turns the token into a cookie and drops it from the address; the page then
    // carries it for its scripts.
    const TAnswer first = Call("GET", "/?token=" + token, {});
    EXPECT_EQ(first.Status, 303);
    EXPECT_EQ(first.Header("Location"), "/");
    EXPECT_EQ(first.Header("Set-Cookie"), "tunedex_token=" + token + "; HttpOnly; SameSite=Strict; Path=/");
    const TAnswer page = Call("GET", "/", {{"Cookie", "tunedex_token=" + token}});
    EXPECT_EQ(page.Status, 200);
    EXPECT_NE(page.Body.find("<meta name=\"tunedex-token\" content=\"" + token + "\""), std::string::npos);
    EXPECT_EQ(page.Header("Content-Type"), "text/html; charset=utf-8");
    EXPECT_NE(FServer->Address().find("http://127.0.0.1:" + Port() + "/?token=" + token), std::string::npos);
}

TEST_F(ServeApi, AnswersEachRouteAsTheCommandsDo) {
    Start({{"Alpha", R"(,"country":"Austria","homepage":"https://alpha.example/")"},
           {"Bravo", R"j(,"homepage":"javascript:alert(1)")j"},
           {"Charlie", ""}});
    const rapidjson::Document info = Get("/api/info").Json();
    ASSERT_TRUE(info.IsObject());
    EXPECT_GT(info["fields"].Size(), 5u);

    const TAnswer page = Get("/api/stations?fields=Name,Bitrate&sort=Name:desc&limit=2&offset=0");
    EXPECT_EQ(page.Header("Cache-Control"), "no-store");
    const rapidjson::Document stations = page.Json();
    ASSERT_TRUE(stations.IsObject()) << page.Body;
    EXPECT_EQ(stations["total"].GetInt(), 3);
    ASSERT_EQ(stations["rows"].Size(), 2u);
    EXPECT_STREQ(stations["rows"][0]["Name"].GetString(), "Charlie");
    EXPECT_EQ(stations["rows"][0]["Bitrate"].GetInt(), 128);
    EXPECT_STREQ(stations["rows"][1]["FileName"].GetString(), "http://127.0.0.1:1/1");

    struct TQuery {
        std::string Target;
        int Total;
    };
    for (const TQuery& q :
         std::initializer_list<TQuery>{{"/api/stations?search=rav", 1},
                                       {"/api/stations?where=Country%20eq%20Austria", 1},
                                       {"/api/stations?where=Name%20in%20Alpha,Bravo", 2},
                                       {"/api/stations?offset=2&limit=1", 3},
                                       {"/api/stations?fields=Name&limit=1", 3},
                                       {"/api/stations?fields=Name&where=Country%20eq%20Austria&limit=1", 1},
                                       {"/api/stations?fields=Name&search=a&limit=1", 3}}) {
        const rapidjson::Document answer = Get(q.Target).Json();
        ASSERT_TRUE(answer.IsObject()) << q.Target;
        EXPECT_EQ(answer["total"].GetInt(), q.Total) << q.Target;
    }
    // Mistakes come back with the command's words.
    const TAnswer wrong = Get("/api/stations?where=Bitrate%20ge%20fast");
    EXPECT_EQ(wrong.Status, 400);
    EXPECT_STREQ(wrong.Json()["error"].GetString(),
                 "Bitrate is a number field: \"fast\" in \"--where Bitrate ge fast\" is not a whole number");
    EXPECT_EQ(Get("/api/stations?where=Name%20eq").Status, 400);
    EXPECT_EQ(Get("/api/stations?fields=Nope").Status, 400);

    const rapidjson::Document catalogs = Get("/api/catalogs").Json();
    ASSERT_EQ(catalogs["catalogs"].Size(), 1u);
    const std::string id = catalogs["catalogs"][0]["id"].GetString();
    EXPECT_EQ(catalogs["catalogs"][0]["stations"].GetInt(), 3);
    const rapidjson::Document one = Get("/api/catalogs/" + id).Json();
    EXPECT_STREQ(one["kind"].GetString(), "Radio Browser");
    EXPECT_EQ(one["server"].GetString(), Server());
    EXPECT_STREQ(one["list"].GetString(), "tags");
    EXPECT_STREQ(one["value"].GetString(), "jazz");
    const rapidjson::Document groups = Get("/api/groups").Json();
    EXPECT_EQ(groups["groups"][0]["stations"].GetInt(), 3);
    EXPECT_EQ(Get("/api/stations?catalog=" + id).Json()["total"].GetInt(), 3);
    EXPECT_EQ(Get("/api/stations?catalog=nope").Status, 404);
    EXPECT_EQ(Get("/api/kinds").Json()["kinds"].Size(), 4u);

    // Only a web page is a home page.
    const rapidjson::Document alpha = Get("/api/station?url=http%3A%2F%2F127.0.0.1%3A1%2F0").Json();
    EXPECT_STREQ(alpha["homepage"].GetString(), "https://alpha.example/");
    EXPECT_STREQ(alpha["fields"][0]["value"].GetString(), "Alpha");
    EXPECT_TRUE(Get("/api/station?url=http%3A%2F%2F127.0.0.1%3A1%2F1").Json()["homepage"].IsNull());
    EXPECT_EQ(Get("/api/station?url=http%3A%2F%2Fnowhere.example%2F").Status, 404);

    const TAnswer pls = Get("/api/export?format=pls&sort=Name&search=a");
    EXPECT_EQ(pls.Header("Content-Disposition"), "attachment; filename=\"tunedex.pls\"");
    EXPECT_NE(pls.Body.find("Title1=Alpha"), std::string::npos) << pls.Body;
    EXPECT_NE(pls.Body.find("NumberOfEntries=3"), std::string::npos) << pls.Body;
    EXPECT_EQ(Get("/api/export?format=exe").Status, 400);

    // Edit, remove and reset, as the manager's buttons do them. The refresh that saving starts is
    // held until the refusal to remove during it has been seen.
    const auto release = std::make_shared<std::atomic<bool>>(false);
    const std::shared_ptr<void> released(nullptr, [release](void*) { *release = true; });
    FStandIn.SetHook([release](const std::string&, httplib::Response&, std::string&) {
        while (!*release)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    });
    const TAnswer edited = Post("/api/catalogs/" + id, R"({"title":"Smooth"})");
    ASSERT_EQ(edited.Status, 200) << edited.Body;
    EXPECT_EQ(Post("/api/catalogs/" + id + "/remove").Status, 409);
    *release = true;
    ASSERT_TRUE(Pump([&] { return !FApi->Refreshing(); }, 30000));
    const rapidjson::Document renamed = Get("/api/catalogs").Json();
    ASSERT_EQ(renamed["catalogs"].Size(), 1u);
    EXPECT_STREQ(renamed["catalogs"][0]["title"].GetString(), "Smooth");
    EXPECT_EQ(Post("/api/catalogs/" + id + "/remove").Status, 200);
    EXPECT_EQ(Get("/api/catalogs").Json()["catalogs"].Size(), 0u);
    EXPECT_EQ(Post("/api/catalogs/" + id + "/remove").Status, 404);
    EXPECT_EQ(Post("/api/reset").Status, 200);

    const std::string sample = std::string(TUNEDEX_SOURCE_DIR) + "/samples/playlists/coast.m3u";
    const TAnswer preview =
        Post("/api/preview", R"({"address":")" + sample + R"(","kind":"Remote playlist"})");
    ASSERT_EQ(preview.Status, 200) << preview.Body;
    EXPECT_GT(preview.Json()["stations"].Size(), 0u);
    EXPECT_EQ(Post("/api/preview", R"({"address":"/no/such/file.m3u","kind":"Remote playlist"})").Status,
              400);
}

TEST_F(ServeApi, StationTextsComeBackAsPlainJsonText) {
    Start({{"<img src=x onerror=alert(1)>", R"(,"homepage":"http://x.example/\"><script>")"}});
    const TAnswer answer = Get("/api/stations?fields=Name");
    EXPECT_EQ(answer.Header("Content-Type"), "application/json; charset=utf-8");
    EXPECT_STREQ(answer.Json()["rows"][0]["Name"].GetString(), "<img src=x onerror=alert(1)>");
}

TEST_F(ServeApi, LogosAreServedOnlyAsImagesOfKnownTypes) {
    struct TLogo {
        std::string Bytes;
        int Status;
        std::string Served;
    };
    const TLogo logos[] = {
        {std::string("\x89PNG\r\n\x1a\n", 8) + "rest", 200, "image/png"},
        {"GIF89a....", 200, "image/gif"},
        {R"j(<svg xmlns="http://www.w3.org/2000/svg" onload="alert(1)"/>)j", 404, ""},
        {"<html><script>alert(1)</script>", 404, ""},
    };
    std::vector<TStation> stations;
    for (size_t i = 0; i < std::size(logos); ++i) {
        // The type a server names does not count: the bytes tell.
        FStandIn.Serve("/json/logo" + std::to_string(i), logos[i].Bytes);
        stations.push_back({"S" + std::to_string(i),
                            R"(,"favicon":"http://)" + Server() + "/json/logo" + std::to_string(i) + "\""});
    }
    Start(stations);
    for (size_t i = 0; i < std::size(logos); ++i) {
        const TAnswer logo = Get("/api/logo?url=http%3A%2F%2F127.0.0.1%3A1%2F" + std::to_string(i));
        EXPECT_EQ(logo.Status, logos[i].Status) << i;
        if (logo.Status == 200) {
            EXPECT_EQ(logo.Header("Content-Type"), logos[i].Served) << i;
            EXPECT_EQ(logo.Body, logos[i].Bytes) << i;
        }
    }
}

TEST_F(ServeApi, PlayResolvesPlaylistsToTheirFirstStream) {
    const std::string base = "http://" + Server();
    // Each answer with the type its server names.
    const std::map<std::string, std::pair<std::string, std::string>> answers = {
        {"/json/list.pls",
         {"text/plain",
          "[playlist]\nNumberOfEntries=2\nFile1=http://127.0.0.1:1/live\nFile2=http://127.0.0.1:1/b\n"}},
        {"/json/typed", {"audio/x-mpegurl", "#EXTM3U\n#EXTINF:-1,Live\nhttps://127.0.0.1:1/typed-live\n"}},
        {"/json/stream", {"audio/mpeg", std::string(4096, 'x')}},
        {"/json/bad.m3u", {"audio/x-mpegurl", "file:///etc/passwd\n"}},
    };
    FStandIn.SetHook([answers](const std::string& path, httplib::Response& response, std::string&) {
        const auto it = answers.find(path);
        if (it == answers.end())
            return;
        const std::string body = it->second.second;
        response.set_chunked_content_provider(it->second.first, [body](size_t, httplib::DataSink& sink) {
            sink.write(body.data(), body.size());
            sink.done();
            return true;
        });
    });
    const char* const paths[] = {"/json/list.pls", "/json/typed", "/json/stream", "/json/bad.m3u"};
    std::vector<TStation> stations;
    for (const char* path : paths)
        stations.push_back({path, R"(,"url_resolved":")" + base + path + "\""});
    Start(stations);
    struct TCase {
        const char* Path;
        int Status;
        std::string Stream;
    };
    const TCase cases[] = {{"/json/list.pls", 200, "http://127.0.0.1:1/live"},
                           {"/json/typed", 200, "https://127.0.0.1:1/typed-live"},
                           {"/json/stream", 200, base + "/json/stream"},
                           {"/json/bad.m3u", 404, ""}};
    for (const TCase& c : cases) {
        const TAnswer answer = Get("/api/play?url=" + ToUtf8(EncodeURLComponent(FromUtf8(base + c.Path))));
        EXPECT_EQ(answer.Status, c.Status) << c.Path << ": " << answer.Body;
        if (const rapidjson::Document json = answer.Json();
            c.Status == 200 && json.IsObject() && json.HasMember("stream")) {
            EXPECT_EQ(json["stream"].GetString(), c.Stream) << c.Path;
        }
    }
}

TEST_F(ServeApi, AddedCatalogueRefreshesWithProgressToTheEnd) {
    Start({});
    FStandIn.Serve("/json/stations/bytagexact/rock",
                   R"([{"name":"Rock One","url_resolved":"http://127.0.0.1:1/r","tags":"rock"}])");
    TEventReader events(*this, "finished");
    const TAnswer added = Post("/api/catalogs", R"({"title":"Rock","kind":"Radio Browser","server":")" +
                                                    Server() + R"(","list":"tag","value":"rock"})");
    ASSERT_EQ(added.Status, 201) << added.Body;
    EXPECT_FALSE(std::string(added.Json()["id"].GetString()).empty());
    ASSERT_TRUE(Pump([&] { return events.Done(); }, 30000)) << events.Text();
    const rapidjson::Document finished = events.Last("finished");
    ASSERT_TRUE(finished.IsObject()) << events.Text();
    EXPECT_TRUE(finished["ok"].GetBool());
    EXPECT_STREQ(finished["summary"].GetString(), "Refreshed 1 of 1 catalogue; 1 station now.");
    // However quick the run, its task was shown.
    EXPECT_NE(events.Text().find("event: progress\ndata: {\"caption\":"), std::string::npos) << events.Text();
    EXPECT_EQ(Get("/api/stations").Json()["total"].GetInt(), 1);
    // A bad address is the editor's refusal, in its words.
    const TAnswer refused = Post("/api/catalogs", R"({"title":"X","kind":"Remote playlist","address":"no"})");
    EXPECT_EQ(refused.Status, 400);
    EXPECT_NE(std::string(refused.Json()["error"].GetString()).find("cannot be saved"), std::string::npos);
}

TEST_F(ServeApi, StoppingDuringARefreshCancelsItAndKeepsTheStations) {
    std::vector<TStation> stations(5, {"Kept", ""});
    Start(stations);
    const std::vector<TOrvoCliManager::TRow> before = ListCatalogues(*FHost);
    ASSERT_EQ(before.size(), 1u);
    // The next answer trickles in for as long as the run is not cancelled.
    const auto release = std::make_shared<std::atomic<bool>>(false);
    FStandIn.SetHook([release](const std::string& path, httplib::Response& response, std::string&) {
        if (path != "/json/stations/bytagexact/jazz")
            return;
        response.set_chunked_content_provider("application/json",
                                              [release](size_t offset, httplib::DataSink& sink) {
                                                  if (*release || offset > (1 << 20))
                                                      return false;
                                                  std::this_thread::sleep_for(std::chrono::milliseconds(20));
                                                  return sink.write(offset == 0 ? "[ " : "  ", 2);
                                              });
    });
    TEventReader events(*this, "finished");
    ASSERT_EQ(Post("/api/refresh").Status, 202);
    EXPECT_EQ(Post("/api/refresh").Status, 409);
    ASSERT_TRUE(
        FHost->RunUntil([&] { return events.Text().find("event: progress") != std::string::npos; }, 20000));
    ServeUntil(*FHost, *FServer, *FApi, [] { return true; });
    *release = true;
    EXPECT_FALSE(FApi->Refreshing());
    Pump([&] { return events.Done(); }, 10000);
    const rapidjson::Document finished = events.Last("finished");
    ASSERT_TRUE(finished.IsObject()) << events.Text();
    EXPECT_TRUE(finished["cancelled"].GetBool());
    const std::vector<TOrvoCliManager::TRow> after = ListCatalogues(*FHost);
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(after[0].Count, u"5");
}

} // namespace
