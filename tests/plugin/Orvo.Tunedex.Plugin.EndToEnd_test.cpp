// The `tunedex` program as a person runs it, over a loopback stand-in for the station service:
// each test starts the real program with its own profile and reads what it printed and stored.

#include "nuv/Nuv.Strings.h"
#include "plugin/Orvo.Tunedex.Providers.RadioBrowser.h"
#include "tests/Orvo.Tunedex.Providers.RadioBrowser.TestServers.h"
#include "tests/TestProcess.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

// The program's output, its lines ending in LF (the program writes text, with CR LF on Windows).
std::string ReadOutput(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    std::string lines;
    for (const char c : text.str()) {
        if (c == '\n' && lines.ends_with('\r'))
            lines.pop_back();
        lines += c;
    }
    return lines;
}

// The program running with its output going to files.
class TProgram {
public:
    // The output goes to files of the folder named after `name`; the profile is the folder's.
    TProgram(const fs::path& folder, std::vector<std::string> args, const std::string& name = "")
        : FOut(folder / (name + "out.txt")), FErr(folder / (name + "err.txt")),
          FProcess(WithProfile(folder, std::move(args)), FOut, FErr) {}

    int Wait() { return FProcess.Wait(); }
    bool Interrupt() const { return FProcess.Interrupt(); }
    std::string Out() const { return ReadOutput(FOut); }
    std::string Err() const { return ReadOutput(FErr); }

private:
    static std::vector<std::string> WithProfile(const fs::path& folder, std::vector<std::string> args) {
        args.insert(args.begin(), {TUNEDEX_CLI_FILE, "--plugin", TUNEDEX_PLUGIN_FILE, "--profile",
                                   (folder / "profile").string()});
        return args;
    }

    fs::path FOut, FErr;
    testsupport::TProcess FProcess;
};

// Two stations of the tag "classical".
const char* const ClassicalStations = R"([
  {"name": "Klassik Eins", "url": "http://127.0.0.1:9/klassik", "url_resolved": "http://127.0.0.1:9/klassik",
   "homepage": "klassik.example/about", "tags": "classical,opera", "country": "Austria", "bitrate": 192,
   "codec": "MP3", "favicon": "", "language": "german", "state": ""},
  {"name": "Baroque Two", "url": "http://127.0.0.1:9/baroque", "url_resolved": "", "homepage": "",
   "tags": "classical", "country": "Belgium", "bitrate": 128, "codec": "AAC", "favicon": "",
   "language": "", "state": ""}
])";

class TunedexProgram : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(FFolder.Path() / "profile");
        FStandIn.Serve("/json/stations/bytagexact/classical", ClassicalStations);
        AddClassical();
    }

    // The catalogue the user added earlier: the stand-in's stations of one tag, not refreshed yet.
    void AddClassical() {
        TOrvoStationCatalog catalog(FromUtf8((FFolder.Path() / "profile" / "Tunedex.db").string()));
        TOrvoTunedexRadioBrowser provider;
        provider.Title = u"Classical";
        provider.Data = FStandIn.Server() + u";2;classical";
        catalog.ProviderUpdate(&provider, u"");
    }

    struct TResult {
        int Status;
        std::string Out, Err;
    };
    TResult Run(std::vector<std::string> args) {
        TProgram program(FFolder.Path(), std::move(args));
        const int status = program.Wait();
        return {status, program.Out(), program.Err()};
    }

    int64_t Stations(std::u16string_view where = u"1") {
        TOrvoStationCatalog catalog(FromUtf8((FFolder.Path() / "profile" / "Tunedex.db").string()));
        return catalog.ExecInt(u"SELECT COUNT(*) FROM Entries WHERE " + std::u16string(where));
    }
    int64_t Catalogues() {
        TOrvoStationCatalog catalog(FromUtf8((FFolder.Path() / "profile" / "Tunedex.db").string()));
        return catalog.ExecInt(u"SELECT COUNT(*) FROM Providers");
    }

    // The stand-in holds its answers back until the test lets them go.
    void HoldAnswers() {
        {
            std::lock_guard guard(FHoldLock);
            FReleased = false;
        }
        FStandIn.SetHook([this](const std::string&, httplib::Response&, std::string&) {
            std::unique_lock guard(FHoldLock);
            FRelease.wait_for(guard, std::chrono::seconds(20), [&] { return FReleased; });
        });
    }
    void ReleaseAnswers() {
        {
            std::lock_guard guard(FHoldLock);
            FReleased = true;
        }
        FRelease.notify_all();
    }

    testsupport::Watchdog FWatchdog{std::chrono::seconds(60)};
    testsupport::TScopedFolder FFolder;
    // Before the stand-in, whose handler may use them until it stops.
    std::mutex FHoldLock;
    std::condition_variable FRelease;
    bool FReleased = false;
    testsupport::TRadioBrowserStandIn FStandIn{testsupport::CorpusDir() / "radiobrowser"};
};

TEST_F(TunedexProgram, RefreshFillsTheCatalogueThenDescribeAndOpenFindItsStations) {
    // While no catalogue holds a station the library offers no refresh of all at once; each is
    // refreshed by its title instead.
    TResult all = Run({"refresh"});
    EXPECT_EQ(all.Status, 0) << all.Err;
    EXPECT_EQ(all.Out, "Refreshed 1 of 1 catalogue; 2 stations now.\n");

    TResult unknown = Run({"refresh", "Jazz"});
    EXPECT_EQ(unknown.Status, 1);
    EXPECT_NE(unknown.Err.find("no catalogue is titled \"Jazz\"; the titles are \"Classical\""),
              std::string::npos)
        << unknown.Err;

    // A download slow enough for its progress to be drawn before the run ends.
    FStandIn.SetHook([](const std::string& path, httplib::Response&, std::string&) {
        if (path.starts_with("/json/stations"))
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
    });
    TResult one = Run({"refresh", "Classical", "--progress"});
    FStandIn.SetHook({});
    EXPECT_EQ(one.Status, 0) << one.Err;
    EXPECT_NE(one.Out.find("Classical: "), std::string::npos) << "progress: " << one.Out;
    EXPECT_NE(one.Out.find("Refreshed 1 of 1 catalogue; 2 stations now."), std::string::npos) << one.Out;
    EXPECT_EQ(Stations(), 2);
    EXPECT_EQ(FStandIn.Requests(), std::vector<std::string>(2, "/json/stations/bytagexact/classical"));

    // With stations stored, every catalogue can be refreshed at once; progress stays off a file.
    all = Run({"refresh"});
    EXPECT_EQ(all.Status, 0) << all.Err;
    EXPECT_EQ(all.Out, "Refreshed 1 of 1 catalogue; 2 stations now.\n");

    TResult described = Run({"describe", "http://127.0.0.1:9/klassik"});
    EXPECT_EQ(described.Status, 0) << described.Err;
    EXPECT_NE(described.Out.find("Name:         Klassik Eins\n"), std::string::npos) << described.Out;
    EXPECT_NE(described.Out.find("Bit rate:     192 kbit/s\n"), std::string::npos) << described.Out;
    EXPECT_NE(described.Out.find("Home page:    klassik.example/about\n"), std::string::npos)
        << described.Out;

    TResult opened = Run({"open", "--print", "http://127.0.0.1:9/klassik"});
    EXPECT_EQ(opened.Status, 0) << opened.Err;
    EXPECT_EQ(opened.Out, "https://klassik.example/about\n");
    // A station without a home page has nothing to open; an unknown address is no station.
    EXPECT_EQ(Run({"open", "--print", "http://127.0.0.1:9/baroque"}).Status, 1);
    TResult missing = Run({"describe", "http://127.0.0.1:9/none"});
    EXPECT_EQ(missing.Status, 1);
    EXPECT_EQ(missing.Err, "tunedex: no station in the catalogue has the address http://127.0.0.1:9/none\n");
}

TEST_F(TunedexProgram, AFailedDownloadOrAGarbageAnswerIsReportedAndKeepsTheStations) {
    ASSERT_EQ(Run({"refresh", "Classical"}).Status, 0);
    const struct {
        int Status;
        std::string Body, Reason;
    } answers[] = {{503, "", "Service Unavailable"},
                   {200, "<html><body>Rate limited</body></html>", "not a JSON document"},
                   {200, R"({"error":"rate limited"})", "no JSON list but an object"},
                   {200, "", "the document is empty"}};
    for (const auto& answer : answers) {
        // The answer goes with the hook: the server thread and this one meet only through the
        // program in between, which the thread checker cannot see.
        FStandIn.SetHook([status = answer.Status, answerBody = answer.Body](
                             const std::string&, httplib::Response& response, std::string& body) {
            response.status = status;
            body = answerBody;
        });
        TResult failed = Run({"refresh"});
        EXPECT_EQ(failed.Status, 1) << answer.Reason;
        EXPECT_EQ(failed.Out, "Refreshed 0 of 1 catalogue; 2 stations now.\n");
        EXPECT_NE(failed.Err.find("\"Classical\" was not refreshed: "), std::string::npos) << failed.Err;
        EXPECT_NE(failed.Err.find(answer.Reason), std::string::npos) << failed.Err;
        EXPECT_EQ(Stations(), 2);
    }
}

TEST_F(TunedexProgram, CtrlCCancelsTheRunAndKeepsTheStations) {
    ASSERT_EQ(Run({"refresh", "Classical"}).Status, 0);
    HoldAnswers();
    {
        TProgram program(FFolder.Path(), {"refresh", "--progress"});
        // The background task's first caption says the run has begun.
        for (int i = 0; i < 1000 && program.Out().empty(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_FALSE(program.Out().empty()) << "the run did not start";
        ASSERT_TRUE(program.Interrupt());
        for (int i = 0; i < 1000 && program.Out().find("Cancelling...") == std::string::npos; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        // The download notices the cancellation with its next bytes; a moment's grace lets the
        // cancel land before they go.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ReleaseAnswers();
        const int status = program.Wait();
        EXPECT_EQ(status, 1) << program.Err();
        EXPECT_NE(program.Out().find("Cancelled. Refreshed 0 of 1 catalogue; 2 stations now.\n"),
                  std::string::npos)
            << program.Out() << program.Err();
    }
    EXPECT_EQ(Stations(), 2);
}

TEST_F(TunedexProgram, NoWaitReturnsOnceQueuedAndTheRefreshGoesOn) {
    TResult queued = Run({"refresh", "Classical", "--no-wait"});
    EXPECT_EQ(queued.Status, 0) << queued.Err;
    EXPECT_EQ(queued.Out, "Refresh queued; it goes on in the background.\n");
    for (int i = 0; i < 1000 && Stations() < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(Stations(), 2);
    // A refusal comes back from the background before the command returns.
    TResult refused = Run({"refresh", "Jazz", "--no-wait"});
    EXPECT_EQ(refused.Status, 1);
    EXPECT_NE(refused.Err.find("no catalogue is titled \"Jazz\""), std::string::npos) << refused.Err;
}

TEST_F(TunedexProgram, AddAndEditWithNoWaitRefreshInTheBackground) {
    FStandIn.Serve("/json/stations/bytagexact/opera", ClassicalStations);
    // Slow enough that a refresh cut off when the command returns would store nothing.
    FStandIn.SetHook([](const std::string&, httplib::Response&, std::string&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    });
    const std::string server = ToUtf8(FStandIn.Server());
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"add", "--title", "Opera", "--kind", "1", "--server", server,
                                                "--list", "tag", "--value", "opera", "--no-wait"},
                                               {"edit", "Classical", "--title", "Klassik", "--no-wait"}}) {
        const TResult saved = Run(args);
        ASSERT_EQ(saved.Status, 0) << saved.Err;
        ASSERT_EQ(saved.Out.size(), 33u) << "the id: " << saved.Out;
        const std::u16string stored = u"CatUIID = '" + FromUtf8(saved.Out.substr(0, 32)) + u"'";
        for (int i = 0; i < 1000 && Stations(stored) < 2; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(Stations(stored), 2) << args[0];
    }
    FStandIn.SetHook({});
}

TEST_F(TunedexProgram, CommandsThatChangeCataloguesTakeTurns) {
    const auto waitFor = [](const std::function<bool()>& condition) {
        for (int i = 0; i < 1000 && !condition(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return condition();
    };
    for (const std::vector<std::string>& change :
         std::vector<std::vector<std::string>>{{"remove", "Classical"}, {"reset"}}) {
        if (Catalogues() == 0)
            AddClassical();
        HoldAnswers();
        TProgram refresh(FFolder.Path(), {"refresh", "Classical", "--progress"}, "refresh-");
        ASSERT_TRUE(waitFor([&] { return !refresh.Out().empty(); })) << "the run did not start";

        const TResult refused = Run({"refresh", "Classical", "--no-wait"});
        EXPECT_EQ(refused.Status, 1);
        EXPECT_NE(refused.Err.find("Another tunedex is changing the catalogues"), std::string::npos)
            << refused.Err;

        TProgram second(FFolder.Path(), change, "change-");
        EXPECT_TRUE(waitFor([&] {
            return second.Err().find("waiting for it to finish") != std::string::npos;
        })) << change[0]
            << ": " << second.Err();
        // Reads go on meanwhile.
        EXPECT_EQ(Run({"catalogs"}).Status, 0);
        ReleaseAnswers();
        EXPECT_EQ(refresh.Wait(), 0) << refresh.Err();
        EXPECT_EQ(second.Wait(), 0) << change[0] << ": " << second.Err();
        EXPECT_EQ(Catalogues(), 0) << change[0];
        EXPECT_EQ(Stations(), 0) << change[0];
    }
}

} // namespace

namespace {

// Documents of the other catalogue kinds, each with the content type a server would send.
class TDocuments {
public:
    TDocuments() {
        FServer->Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
            std::lock_guard lock(FLock);
            const auto it = FBodies.find(request.path);
            if (it == FBodies.end() || it->second.first.empty()) {
                response.status = it == FBodies.end() ? 404 : 500;
                return;
            }
            response.set_content(it->second.second, it->second.first);
        });
        FServer.Start();
    }
    // An empty content type makes the path answer 500.
    void Serve(const std::string& path, const std::string& contentType, const std::string& body) {
        std::lock_guard lock(FLock);
        FBodies[path] = {contentType, body};
    }
    std::string Url(const std::string& path) const { return ToUtf8(FServer.Url(path)); }

private:
    std::mutex FLock;
    std::map<std::string, std::pair<std::string, std::string>> FBodies;
    testsupport::TLoopbackServer FServer;
};

} // namespace

TEST_F(TunedexProgram, EveryKindIsListedAddedRefreshedAndKeepsItsStationsWhenARefreshFails) {
    TResult kinds = Run({"kinds"});
    EXPECT_EQ(kinds.Out, "1  Radio Browser\n2  Xiph Directory\n3  Remote playlist\n4  Custom catalog\n");

    TDocuments documents;
    documents.Serve(
        "/yp.xml", "text/xml",
        "<directory><entry><server_name>Xiph One</server_name><listen_url>http://s/x1</listen_url>"
        "</entry></directory>");
    documents.Serve("/lists/a.m3u", "audio/x-mpegurl", "#EXTM3U\n#EXTINF:-1,Rel\nb/s.mp3\nhttp://abs/live\n");
    documents.Serve("/list.json", "application/json; charset=utf-8",
                    R"([{"name":"Json One","url":"http://s/j1"}])");
    const testsupport::TScopedEnvironment listing("TUNEDEX_XIPH_LISTING", documents.Url("/yp.xml"));
    const struct {
        std::vector<std::string> Args;
        std::string Path;
        std::string Title;
    } kindsToAdd[] = {
        {{"--kind", "Xiph Directory"}, "/yp.xml", "Xiph"},
        {{"--kind", "remote playlist", "--address", documents.Url("/lists/a.m3u")}, "/lists/a.m3u", "Lists"},
        {{"--kind", "4", "--address", documents.Url("/list.json")}, "/list.json", "Json"},
    };
    for (const auto& kind : kindsToAdd) {
        std::vector<std::string> args{"add", "--title", kind.Title};
        args.insert(args.end(), kind.Args.begin(), kind.Args.end());
        const TResult added = Run(args);
        EXPECT_EQ(added.Status, 0) << kind.Title << ": " << added.Err;
    }
    EXPECT_EQ(Stations(), 4);
    EXPECT_EQ(Stations(u"FileName = '" + FromUtf8(documents.Url("/lists/b/s.mp3")) + u"'"), 1);
    EXPECT_EQ(Stations(u"Name = 'Xiph One'"), 1);

    for (const auto& kind : kindsToAdd) {
        documents.Serve(kind.Path, "", "");
        const TResult failed = Run({"refresh", kind.Title});
        EXPECT_EQ(failed.Status, 1) << kind.Title;
        EXPECT_NE(failed.Err.find("was not refreshed: "), std::string::npos) << failed.Err;
    }
    EXPECT_EQ(Stations(), 4);

    // An address the editor refuses saves nothing.
    for (const std::string& address : {std::string("http://h/a\x01.m3u"), std::string("relative/list.m3u")}) {
        const TResult refused = Run({"add", "--title", "Bad", "--kind", "3", "--address", address});
        EXPECT_EQ(refused.Status, 1) << refused.Err;
        EXPECT_NE(refused.Err.find("cannot be saved"), std::string::npos) << refused.Err;
    }
    EXPECT_EQ(Catalogues(), 4);
}

TEST_F(TunedexProgram, PreviewPrintsWhatARefreshWouldStoreAndStoresNothing) {
    TDocuments documents;
    documents.Serve("/list.json", "application/json", R"([{"name":"Json One","url":"http://s/j1"}])");
    documents.Serve("/broken.xml", "text/xml",
                    "<directory><entry><server_name>Before</server_name><listen_url>http://s/b</listen_url>"
                    "</entry><entry><server_name>After</server_name></oops></directory>");
    const TResult json = Run({"preview", documents.Url("/list.json"), "--format", "json"});
    EXPECT_EQ(json.Status, 0) << json.Err;
    EXPECT_NE(json.Out.find("\"Json One\""), std::string::npos) << json.Out;

    const TResult broken = Run({"preview", documents.Url("/broken.xml")});
    EXPECT_EQ(broken.Status, 0) << broken.Err;
    EXPECT_NE(broken.Out.find("Before"), std::string::npos) << broken.Out;
    EXPECT_EQ(std::count(broken.Err.begin(), broken.Err.end(), '\n'), 1) << broken.Err;
    EXPECT_NE(broken.Err.find("stopped"), std::string::npos) << broken.Err;

    const TResult missing = Run({"preview", documents.Url("/missing.json")});
    EXPECT_EQ(missing.Status, 1);
    EXPECT_NE(missing.Err.find("404"), std::string::npos) << missing.Err;
    EXPECT_EQ(Catalogues(), 1);
    EXPECT_EQ(Stations(), 0);
}
