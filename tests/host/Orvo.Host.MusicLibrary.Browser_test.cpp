#include "host/Orvo.Host.MusicLibrary.Browser.h"

#include "host/Orvo.Host.Cli.h"
#include "host/Orvo.Host.h"
#include "nuv/Nuv.SQLite3.h"
#include "platform/Platform.Threads.h"
#include "sdk/api/OrvoAPI.UI.h"
#include "tests/TestSupport.h"
#include "tests/host/Orvo.Host.Cli.TestSupport.h"
#include "tests/nuv/Nuv.Web.TestServer.h"

#include <gtest/gtest.h>

#include <sstream>
#include <thread>

// The real plug-in, loaded by the reference host, over a catalogue the test writes itself.

using testsupport::TScopedFolder;

namespace {

struct TStationRow {
    std::string Name, Genre, Country;
    int Bitrate;
    std::string Provider;
    std::string Logo = {};
};

// Two catalogues; names and genres chosen so that filters, search and sort each matter.
const std::vector<TStationRow> kStations = {
    {"Alpha Rock", "rock;pop", "Germany", 128, "p1"},
    {"Bravo Jazz", "jazz", "France", 64, "p1"},
    {"Charlie News", "news", "Germany", 320, "p1"},
    {"Delta Blues", "blues;rock", "Spain", 192, "p2"},
    {"Echo Lounge", "classical;jazz", "Italy", 96, "p2"},
    {"Foxtrot Talk", "talk", "Germany", 128, "p2"},
    {"Golf Rockabilly", "rockabilly", "USA", 256, "p2"},
    {"Hotel Jazzhaus", "jazz;rock", "Austria", 128, "p1"},
};

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("''") : std::string(1, c);
    return quoted + "'";
}

// Writes the stations into the catalogue the plug-in created in the profile folder.
void FillCatalogue(const std::filesystem::path& profile, const std::vector<TStationRow>& stations) {
    TNuvSQLiteBase database(FromUtf8((profile / "Tunedex.db").string()));
    database.Exec(u"REPLACE INTO Providers (UUID, Class, Date, Data, Title, Count) VALUES ('p1', "
                  u"'TOrvoTunedexCustom', 0, '', 'First', 4);");
    database.Exec(u"REPLACE INTO Providers (UUID, Class, Date, Data, Title, Count) VALUES ('p2', "
                  u"'TOrvoTunedexCustom', 0, '', 'Second', 4);");
    for (const TStationRow& s : stations)
        database.Exec(
            FromUtf8("INSERT INTO Entries (FileName, CatUIID, Name, Description, Genre, FileFormat, "
                     "Bitrate, Tags, Country, HomeURL, Logo) VALUES (" +
                     Quote("http://stream.example/" + s.Name) + ", " + Quote(s.Provider) + ", " +
                     Quote(s.Name) + ", '', " + Quote(s.Genre) + ", 'MP3', " + std::to_string(s.Bitrate) +
                     ", '', " + Quote(s.Country) + ", '', " + Quote(s.Logo) + ");"));
}

class HostMLBrowser : public ::testing::Test {
protected:
    void SetUp() override {
        FSettings.PluginFile = TUNEDEX_PLUGIN_FILE;
        FSettings.ProfileFolder = FProfile.Path();
        FHost = std::make_unique<TOrvoHost>(FSettings);
        ASSERT_EQ(FHost->Initialize(), S_OK);
    }
    void TearDown() override { FHost.reset(); }

    std::vector<std::u16string> Column(const TOrvoHostMLResult& result, size_t column) {
        std::vector<std::u16string> values;
        for (const auto& row : result.Rows)
            values.push_back(row.at(column));
        return values;
    }

    testsupport::Watchdog FWatchdog;
    TScopedFolder FProfile;
    TOrvoHostSettings FSettings;
    std::unique_ptr<TOrvoHost> FHost;
};

} // namespace

TEST_F(HostMLBrowser, AFilledCatalogueFilteredSearchedSortedAndWindowed) {
    FillCatalogue(FProfile.Path(), kStations);
    TOrvoHostMLBrowser browser(FHost->Core());
    EXPECT_EQ(browser.StorageName(), u"Internet Radio");
    ASSERT_EQ(browser.Fields().size(), 10u);

    // "rock" as a whole key, not Golf's "rockabilly"; the search matches an "a" in any case.
    TOrvoHostMLRequest request{.Fields = {u"Name", u"Bitrate", u"Provider"},
                               .Conditions = {{u"Genre", u"in", u"rock,jazz"}},
                               .Search = u"A",
                               .Sort = {{u"Bitrate", true}, {u"Name", false}},
                               .Offset = 1,
                               .Limit = 3};
    const TOrvoHostMLResult result = browser.Query(request);
    ASSERT_FALSE(result.IsText) << ToUtf8(result.Text);
    // Echo has no "a" anywhere; Delta 192, Alpha 128, Hotel 128, Bravo 64: the window skips Delta.
    EXPECT_EQ(Column(result, 0),
              (std::vector<std::u16string>{u"Alpha Rock", u"Hotel Jazzhaus", u"Bravo Jazz"}));
    EXPECT_EQ(Column(result, 1), (std::vector<std::u16string>{u"128", u"128", u"64"}));
    EXPECT_EQ(Column(result, 2), (std::vector<std::u16string>{u"First", u"First", u"First"}));

    // Conditions joined by OR, each a key of its own list.
    request = {};
    request.Fields = {u"Name"};
    request.Conditions = {{u"Country", u"eq", u"Spain"}, {u"Genre", u"eq", u"talk"}};
    request.Any = true;
    request.Sort = {{u"Name", false}};
    EXPECT_EQ(Column(browser.Query(request), 0),
              (std::vector<std::u16string>{u"Delta Blues", u"Foxtrot Talk"}));
}

TEST_F(HostMLBrowser, AnEmptyCatalogueAnswersItsLinkAndNoRowsIsNoRows) {
    TOrvoHostMLBrowser browser(FHost->Core());
    TOrvoHostMLRequest request;
    request.Fields = {u"Name"};
    TOrvoHostMLResult result = browser.Query(request);
    ASSERT_TRUE(result.IsText);
    std::vector<TOrvoHostMLLink> links;
    EXPECT_EQ(PlainLinkText(result.Text, &links), u"Add radio catalogs");
    ASSERT_EQ(links.size(), 1u);
    EXPECT_EQ(links[0].Address, u"tunedex://settings");

    FillCatalogue(FProfile.Path(), kStations);
    request.Conditions = {{u"Name", u"eq", u"Nothing"}};
    result = browser.Query(request);
    EXPECT_FALSE(result.IsText);
    EXPECT_TRUE(result.Rows.empty());
}

TEST_F(HostMLBrowser, ReloadsWhenTheStorageAsks) {
    FillCatalogue(FProfile.Path(), {kStations[0]});
    TOrvoHostMLBrowser browser(FHost->Core());
    TOrvoHostMLResult result;
    EXPECT_FALSE(browser.ReloadIfAsked(result)); // nothing asked yet
    TOrvoHostMLRequest request;
    request.Fields = {u"Name"};
    result = browser.Query(request);
    EXPECT_EQ(result.Rows.size(), 1u);
    EXPECT_FALSE(browser.ReloadIfAsked(result));
    FillCatalogue(FProfile.Path(), {kStations[1]});
    browser.Manager().ReloadData();
    ASSERT_TRUE(browser.ReloadIfAsked(result));
    EXPECT_EQ(result.Rows.size(), 2u);
    EXPECT_FALSE(browser.ReloadIfAsked(result));
}

TEST_F(HostMLBrowser, AlbumArtIsFetchedFromTheLogoAddress) {
    testsupport::TLoopbackServer server;
    const std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + std::string(100, 'x');
    server->Get("/logo.png", [&](const httplib::Request&, httplib::Response& response) {
        response.set_content(png, "image/png");
    });
    server.Start();
    TStationRow station = kStations[0];
    station.Logo = ToUtf8(server.Url("/logo.png"));
    TStationRow missing = kStations[1];
    missing.Logo = ToUtf8(server.Url("/missing.png"));
    FillCatalogue(FProfile.Path(), {station, missing, kStations[2]});

    TOrvoHostMLBrowser browser(FHost->Core());
    const auto fileName = [](const TStationRow& s) { return FromUtf8("http://stream.example/" + s.Name); };
    EXPECT_EQ(browser.FetchAlbumArt({u"Name", u"FileName"}, {u"x", fileName(station)}), png);
    // A logo that is not there, a station without one, and a row without a file name.
    EXPECT_EQ(browser.FetchAlbumArt({u"FileName"}, {fileName(missing)}), "");
    EXPECT_EQ(browser.FetchAlbumArt({u"FileName"}, {fileName(kStations[2])}), "");
    EXPECT_EQ(browser.FetchAlbumArt({u"Name"}, {fileName(station)}), "");
}

TEST_F(HostMLBrowser, TheAddCommandOpensTheCatalogueManager) {
    const auto extensions = FHost->Core().Extensions(IOrvoServiceMusicLibrary::IID);
    ASSERT_EQ(extensions.size(), 1u);
    ComPtr<IOrvoMLDataStorageCommandAddFilesDialog> add;
    ASSERT_EQ(extensions[0]->QueryInterface(IOrvoMLDataStorageCommandAddFilesDialog::IID, add.put_void()),
              S_OK);
    bool shown = false;
    FHost->UI().WhenShownModally(u"frmTunedexManager", [&](TOrvoHostForm&) { shown = true; });
    EXPECT_EQ(add->OpenAddDialog(TOrvoHost::MainWindow), S_OK);
    FHost->UI().RethrowScriptError();
    EXPECT_TRUE(shown);
    EXPECT_EQ(FHost->UI().ModalHistory(), std::vector<std::u16string>{u"frmTunedexManager"});
}

TEST_F(HostMLBrowser, WaitsForATaskShownMeanwhileAndDrawsItsCaptions) {
    TOrvoHostMLBrowser browser(FHost->Core());
    std::ostringstream out;
    TOrvoHostTaskDisplay display(out, true);
    // Nothing shown and nothing expected: done at once.
    EXPECT_TRUE(browser.WaitForTasks(*FHost, display, 5000));
    const int64_t before = browser.Manager().TasksShown();
    EXPECT_FALSE(browser.WaitForTasks(*FHost, display, 100, before));

    // A storage's steps arrive as queued main-thread calls, after the wait has begun.
    ComPtr<TOrvoHostMLStorageManager> manager(&browser.Manager());
    auto caption = TOrvoHostString::Create(u"Refreshing");
    std::thread storage([manager, caption] {
        const auto onMain = [](std::function<void()> call) {
            platform::PostToMainThread(std::move(call));
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
        };
        onMain([=] { manager->ShowBackgroundTask(42, caption.get(), nullptr); });
        onMain([=] { caption->SetChars(u"A: 1.00 KB", 10); });
        onMain([=] { manager->HideBackgroundTask(42); });
    });
    EXPECT_TRUE(browser.WaitForTasks(*FHost, display, 10000, before));
    storage.join();
    EXPECT_EQ(out.str(), "\rRefreshing\rA: 1.00 KB\r          \r");
}

TEST(HostMLAlbumArtRequest, FetchesOnlyWebAddressesAndBoundsTheImage) {
    testsupport::TLoopbackServer server;
    server->Get("/big", [&](const httplib::Request&, httplib::Response& response) {
        // No length announced: the request has to stop on its own.
        response.set_chunked_content_provider("image/png", [](size_t, httplib::DataSink& sink) {
            static const std::string chunk(1 << 20, 'x');
            for (int i = 0; i < 20; ++i)
                if (!sink.write(chunk.data(), chunk.size()))
                    return false;
            sink.done();
            return true;
        });
    });
    server.Start();
    auto request = TOrvoHostMLAlbumArtRequest::Create();
    ComPtr<IUnknown> image;
    for (const char16_t* address : {u"file:///etc/passwd", u"", u"tunedex://settings"})
        EXPECT_EQ(request->FetchImage(TOrvoHostString::Create(address).get(), image.put()), E_INVALIDARG);
    EXPECT_EQ(request->FetchImage(TOrvoHostString::Create(server.Url("/big")).get(), image.put()), E_FAIL);
    EXPECT_FALSE(image);
    EXPECT_EQ(request->FetchImage(nullptr, nullptr), E_INVALIDARG);
}

TEST(HostMLStorageManager, ShowsTasksWithLiveCaptionsAndCancelsThem) {
    auto manager = TOrvoHostMLStorageManager::Create();
    auto caption = TOrvoHostString::Create(u"Refreshing");
    int cancelled = 0;
    class TCancel : public TOrvoInterfaces<TInterfacedObjectEx, IOrvoActionEvent> {
    public:
        explicit TCancel(int& count) : FCount(count) {}
        HRESULT ORVO_CALL Execute(IUnknown*) override {
            ++FCount;
            return S_OK;
        }
        int& FCount;
    };
    manager->ShowBackgroundTask(42, caption.get(), MakeInterfaced<TCancel>(cancelled).As<IUnknown>().get());
    manager->ShowBackgroundTask(7, TOrvoHostString::Create(u"Other").get(), nullptr);
    EXPECT_EQ(manager->Tasks(), (std::vector<TOrvoHostMLTask>{{42, u"Refreshing"}, {7, u"Other"}}));
    const std::u16string step = u"First: Updating 1.50 KB/3.00 MB";
    caption->SetChars(step.data(), int32_t(step.size()));
    EXPECT_EQ(manager->Tasks()[0].Caption, step);

    EXPECT_TRUE(manager->CancelTask(42));
    EXPECT_EQ(cancelled, 1);
    EXPECT_FALSE(manager->CancelTask(7)); // no cancel event
    EXPECT_FALSE(manager->CancelTask(1)); // not shown
    manager->HideBackgroundTask(42);
    manager->HideBackgroundTask(1000);
    EXPECT_EQ(manager->Tasks(), (std::vector<TOrvoHostMLTask>{{7, u"Other"}}));
    EXPECT_EQ(manager->ReloadRequests(), 0);
    manager->ReloadData();
    EXPECT_EQ(manager->ReloadRequests(), 1);
}

TEST(HostMLTaskDisplay, RewritesOneLineInPlaceOnATerminalOnly) {
    std::ostringstream terminal, pipe;
    {
        TOrvoHostTaskDisplay display(terminal, true), quiet(pipe, false);
        for (TOrvoHostTaskDisplay* d : {&display, &quiet}) {
            d->Show({{42, u"Refreshing"}});
            d->Show({{42, u"Refreshing"}}); // unchanged: not drawn again
            d->Show({{42, u"A: 1 KB"}});
            d->Show({});
        }
    }
    EXPECT_EQ(terminal.str(), "\rRefreshing\rA: 1 KB   \rA: 1 KB\r       \r");
    EXPECT_EQ(pipe.str(), "");
}

TEST(HostMLTaskLog, WritesALinePerFewPercentOrWhenTheWordsChange) {
    std::ostringstream out;
    TOrvoHostTaskLog log(out, std::chrono::hours(1));
    log.Show(u"Jazz: Waiting");
    char text[64];
    for (int kb = 1; kb <= 100; ++kb) {
        std::snprintf(text, sizeof text, "Jazz: Updating %d.50 KB/100.50 KB", kb - 1);
        log.Show(FromUtf8(text));
    }
    // No total: the words count, and the interval.
    for (int kb = 1; kb <= 100; ++kb)
        log.Show(FromUtf8("Blues: Updating " + std::to_string(kb) + ",00 MB"));
    log.Show(u"Blues: Waiting\x1b");
    const std::string written = out.str();
    EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 1 + 20 + 1 + 1) << written;
    EXPECT_NE(written.find("Jazz: Updating 5.50 KB/100.50 KB\nJazz: Updating 10.50 KB/100.50 KB\n"),
              std::string::npos)
        << written;
    EXPECT_NE(written.find("Blues: Updating 1,00 MB\nBlues: Waiting\\x1B\n"), std::string::npos) << written;
}

TEST(HostMLLinks, PlainTextKeepsTheCaptions) {
    const std::vector<std::pair<std::u16string, std::u16string>> cases = {
        {u"", u""},
        {u"plain", u"plain"},
        {u"[url=tunedex://settings]Add[/url]", u"Add"},
        {u"Go [url=a]here[/url] or [url=b]there[/url].", u"Go here or there."},
        {u"[url=a]unclosed", u"[url=a]unclosed"},
        {u"[url=broken", u"[url=broken"},
    };
    for (const auto& [text, plain] : cases)
        EXPECT_EQ(PlainLinkText(text), plain) << ToUtf8(text);
    std::vector<TOrvoHostMLLink> links;
    PlainLinkText(u"Go [url=a]here[/url] or [url=b]there[/url].", &links);
    ASSERT_EQ(links.size(), 2u);
    EXPECT_EQ(links[1].Address, u"b");
    EXPECT_EQ(links[1].Caption, u"there");
}

// ---- tunedex stations

namespace {

using TStationsRun = testsupport::TCliRun;

class HostCliStations : public ::testing::Test {
protected:
    TStationsRun Run(std::vector<std::string> args) {
        args.insert(args.begin(), {"--plugin=" + std::string(TUNEDEX_PLUGIN_FILE),
                                   "--profile=" + FProfile.Path().string(), "stations"});
        return testsupport::RunTunedex(std::move(args));
    }

    testsupport::Watchdog FWatchdog;
    TScopedFolder FProfile;
};

} // namespace

TEST_F(HostCliStations, TellsHowToAddStationsWhileThereAreNone) {
    // A notice, never a row, in every format: scripts get no rows on stdout.
    for (const char* format : {"table", "json"}) {
        const TStationsRun run = Run({"--format", format});
        EXPECT_EQ(run.Status, 0) << run.Err;
        EXPECT_EQ(run.Out, "");
        EXPECT_EQ(run.Err,
                  "No stations yet. Add radio catalogs: run 'tunedex add --title TITLE --kind KIND ...' "
                  "(see 'tunedex add --help').\n");
    }
}

TEST_F(HostCliStations, ListsATableOrOneJsonObjectPerRow) {
    ASSERT_EQ(Run({}).Status, 0); // creates the catalogue
    FillCatalogue(FProfile.Path(), kStations);
    TStationsRun run = Run({"--fields", "Name,Bitrate", "--fields", "Provider", "--where", "Genre", "eq",
                            "jazz", "--sort", "Bitrate:desc", "--limit", "2"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Out, "Name            Bitrate  Provider\n"
                       "Hotel Jazzhaus  128      First\n"
                       "Echo Lounge     96       Second\n");

    run = Run({"--fields", "Name,Bitrate,Genre", "--search", "rock", "--where", "Bitrate", "between",
               "100,200", "--sort", "Name", "--offset", "1", "--format", "json"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Out, "{\"Name\":\"Delta Blues\",\"Bitrate\":192,\"Genre\":\"blues;rock\"}\n"
                       "{\"Name\":\"Hotel Jazzhaus\",\"Bitrate\":128,\"Genre\":\"jazz;rock\"}\n");

    // The default fields, every row.
    run = Run({});
    ASSERT_EQ(run.Status, 0);
    EXPECT_EQ(run.Out.substr(0, run.Out.find('\n')),
              "Name             Bitrate  FileFormat  Genre           Country  Provider  FileName");
    EXPECT_EQ(std::count(run.Out.begin(), run.Out.end(), '\n'), 1 + std::ptrdiff_t(kStations.size()));
}

TEST_F(HostCliStations, UsageErrorsSayWhatIsWrong) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--output", "list.m3u"}, "--output takes a playlist format"},
        {{"--format", "csv"}, "unknown --format \"csv\""},
        {{"--fields", "Name,Nope"}, "unknown field \"Nope\"; the fields are ID, FileName, Name"},
        {{"--where", "Genre", "like", "x"}, "Unknown operator \"like\""},
        {{"--where", "Bitrate", "between", "1"}, "between needs two values"},
        {{"--sort", "Name:up"}, "Unknown sort direction \"up\""},
        {{"--sort", "Name;DROP"}, "unknown field \"Name;DROP\""},
        {{"--where", "Genre", "eq"}, "--where takes FIELD OP VALUE, and \"Genre eq\" lacks its VALUE"},
        {{"--where", "Genre"}, "\"Genre\" lacks its OP"},
        {{"--limit", "-1"}, "--limit takes a whole number of rows"},
        {{"--limit", "abc"}, "--limit takes a whole number of rows from 0 to 2147483647, not \"abc\""},
        {{"--offset", "1x"}, "--offset takes a whole number of rows"},
        {{"--where", "Bitrate", "ge", "fast"},
         "\"fast\" in \"--where Bitrate ge fast\" is not a whole number"},
        {{"--where", "Bitrate", "between", "64,x"}, "\"x\" in \"--where Bitrate between 64,x\""},
        {{"--where", "Bitrate", "in", "64,,128"}, "\"\" in \"--where Bitrate in 64,,128\""},
    };
    for (const auto& [args, message] : cases) {
        const TStationsRun run = Run(args);
        EXPECT_EQ(run.Status, 2) << args[0] << " " << run.Err;
        EXPECT_NE(run.Err.find(message), std::string::npos) << run.Err;
        EXPECT_EQ(run.Out, "");
    }
}
