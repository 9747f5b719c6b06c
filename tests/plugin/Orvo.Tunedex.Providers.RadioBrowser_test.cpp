#include "plugin/Orvo.Tunedex.Providers.RadioBrowser.h"

#include "nuv/Nuv.Streams.h"
#include "nuv/Nuv.Strings.h"
#include "nuv/Nuv.Web.Auth.h"
#include "nuv/Nuv.Web.h"
#include "platform/Platform.Threads.h"
#include "tests/Orvo.Tunedex.Providers.RadioBrowser.TestServers.h"

#include <gtest/gtest.h>

#include <chrono>

using testsupport::TRadioBrowserStandIn;
using testsupport::TScopedEnvironment;
using testsupport::TSrvNameServer;
using TBrowser = TOrvoTunedexRadioBrowser;
using TList = std::vector<std::u16string>;

// The test body is the main thread: query callbacks arrive while it pumps.

namespace {

constexpr uint32_t kPatienceMs = 10000;

bool PumpUntil(const std::function<bool()>& done, uint32_t timeoutMs = kPatienceMs) {
    return platform::PumpMainThreadUntil(done, timeoutMs);
}

std::vector<std::string> Utf8(const TList& list) {
    std::vector<std::string> out;
    for (const auto& item : list)
        out.push_back(ToUtf8(item));
    return out;
}

std::vector<TOrvoRadioStationInfo> Parse(std::string_view document) {
    TNuvMemoryStream stream(document.data(), document.size());
    std::vector<TOrvoRadioStationInfo> stations;
    TBrowser::ParseStations(stream, [&](const TOrvoRadioStationInfo& s) { stations.push_back(s); });
    return stations;
}

// Loopback HTTP goes straight to the stand-in, whatever proxy the environment names.
const bool DirectConnections = (TNuvWebSettings::SetProxyMode(0), true);

} // namespace

// ---- settings text

TEST(RadioBrowserAddress, SplitsServerKindAndValue) {
    struct Case {
        std::u16string Data, Server;
        int32_t Kind;
        std::u16string Value;
    };
    for (const Case& c :
         {Case{u"de1.api.example;1;dutch", u"de1.api.example", 1, u"dutch"}, Case{u"", u"", 0, u""},
          Case{u"host", u"host", 0, u""}, Case{u"host;2", u"host", 2, u""},
          Case{u"host;tag;rock", u"host", 0, u"rock"}, Case{u"host;1;", u"host", 1, u""},
          // A value holding ";" is cut there.
          Case{u"host;2;drum;bass", u"host", 2, u"drum"}}) {
        const TBrowser::TAddress a = TBrowser::SplitAddress(c.Data);
        EXPECT_EQ(ToUtf8(a.Server), ToUtf8(c.Server)) << ToUtf8(c.Data);
        EXPECT_EQ(a.Kind, c.Kind) << ToUtf8(c.Data);
        EXPECT_EQ(ToUtf8(a.Value), ToUtf8(c.Value)) << ToUtf8(c.Data);
    }
}

// ---- the provider

TEST(RadioBrowserProvider, DocumentAddressFromTheSettings) {
    struct Case {
        std::u16string Data;
        std::string URL;
    };
    for (const Case& c : {
             Case{u"de1.api.example;0;Belgium",
                  "http://de1.api.example/json/stations/bycountryexact/Belgium"},
             Case{u"de1.api.example;1;dutch", "http://de1.api.example/json/stations/bylanguageexact/dutch"},
             Case{u"de1.api.example;2;jazz", "http://de1.api.example/json/stations/bytagexact/jazz"},
             Case{u"de1.api.example;7;Belgium",
                  "http://de1.api.example/json/stations/bycountryexact/Belgium"},
             Case{u"127.0.0.1:8080;x;Belgium", "http://127.0.0.1:8080/json/stations/bycountryexact/Belgium"},
             // Without a value: every station of the server.
             Case{u"de1.api.example;1;", "http://de1.api.example/json/stations"},
             Case{u"de1.api.example", "http://de1.api.example/json/stations"},
             // Values are one path segment each, whatever they hold.
             Case{u"h;2;drum & bass", "http://h/json/stations/bytagexact/drum%20%26%20bass"},
             Case{u"h;0;Côte d’Ivoire", "http://h/json/stations/bycountryexact/C%C3%B4te%20d%E2%80%99Ivoire"},
             Case{u"h;2;r/b?x#y", "http://h/json/stations/bytagexact/r%2Fb%3Fx%23y"},
             Case{u"h;2;a\r\nHost: evil", "http://h/json/stations/bytagexact/a%0D%0AHost%3A%20evil"},
         }) {
        TOrvoTunedexRadioBrowser provider;
        provider.Data = c.Data;
        const std::u16string idBefore = provider.ID();
        EXPECT_EQ(ToUtf8(provider.DocumentURL()), c.URL) << ToUtf8(c.Data);
        // The settings and the identifier stay as the user chose them.
        EXPECT_EQ(provider.Data, c.Data);
        EXPECT_EQ(provider.ID(), idBefore);
    }
    for (const std::u16string data : {u"", u";1;dutch", u";;"}) {
        TOrvoTunedexRadioBrowser provider;
        provider.Data = data;
        try {
            provider.DocumentURL();
            ADD_FAILURE() << ToUtf8(data);
        } catch (const EInvalidOperation& e) {
            EXPECT_EQ(ToUtf8(e.Message()), "Address was not set");
        }
    }
}

TEST(RadioBrowserProvider, ClassOperations) {
    const TOrvoTunedexProviderClass& cls = TOrvoTunedexRadioBrowser::Class();
    EXPECT_EQ(ToUtf8(cls.ClassName()), "TOrvoTunedexRadioBrowser");
    EXPECT_EQ(ToUtf8(cls.DisplayName()), "Radio Browser");
    EXPECT_EQ(ToUtf8(cls.HomePageURL()), "https://www.radio-browser.info/");
    EXPECT_FALSE(cls.HasAddress());
    EXPECT_TRUE(cls.SupportedFormats().empty());
    EXPECT_EQ(&cls.Create()->ClassType(), &cls);
}

// ---- station documents

TEST(RadioBrowserStations, MembersBecomeStationFields) {
    const auto stations = Parse(R"([{
        "changeuuid": "c8c0", "name": "Radio Één", "url": "http://a.example/live",
        "url_resolved": "http://b.example/live.mp3", "homepage": "https://a.example/",
        "favicon": "https://a.example/icon.png", "tags": "pop,rock,80s", "country": "Belgium",
        "state": "Flanders", "language": "dutch,flemish", "votes": 17, "codec": "MP3", "bitrate": 128,
        "geo_lat": null, "has_extended_info": false}])");
    ASSERT_EQ(stations.size(), 1u);
    TOrvoRadioStationInfo expected;
    expected.Bitrate = 128;
    expected.FileFormat = u"MP3";
    expected.Name = u"Radio Één";
    expected.Description = u"dutch,flemish";
    expected.HomeURL = u"https://a.example/";
    expected.Logo = u"https://a.example/icon.png";
    expected.FileName = u"http://b.example/live.mp3";
    expected.Country = u"Belgium";
    expected.Tags = u"pop;rock;80s";
    EXPECT_EQ(stations[0], expected);
}

TEST(RadioBrowserStations, FallbacksAndOddValues) {
    struct Case {
        const char* Object;
        std::u16string FileName, Country, Tags;
        int32_t Bitrate;
    };
    for (const Case& c : {
             Case{R"({"url":"u1","url_resolved":""})", u"u1", u"", u"", 0},
             Case{R"({"url":"u1"})", u"u1", u"", u"", 0},
             // null is no value, never the text "null".
             Case{R"({"url_resolved":null,"url":"u1","country":null,"state":"Bavaria","tags":null})", u"u1",
                  u"Bavaria", u"", 0},
             Case{R"({"url_resolved":null,"url":null,"bitrate":null})", u"", u"", u"", 0},
             Case{R"({"url_resolved":"r","url":"u"})", u"r", u"", u"", 0},
             Case{R"({"country":"","state":"Paraná"})", u"", u"Paraná", u"", 0},
             Case{R"({"state":"Bavaria"})", u"", u"Bavaria", u"", 0},
             Case{R"({"country":"Brazil","state":"Paraná"})", u"", u"Brazil", u"", 0},
             Case{R"({"tags":"a,b"})", u"", u"", u"a;b", 0},
             Case{R"({"tags":",jazz,,"})", u"", u"", u";jazz;;", 0},
             Case{R"({"bitrate":"192"})", u"", u"", u"", 192},
             Case{R"({"bitrate":""})", u"", u"", u"", 0},
             Case{R"({"bitrate":"fast"})", u"", u"", u"", 0},
             Case{R"({"bitrate":128.5})", u"", u"", u"", 0},
             Case{R"({"bitrate":99999999999})", u"", u"", u"", 0},
             Case{R"({"bitrate":-64})", u"", u"", u"", -64},
             // The first of two equal names counts, as a look-up by name finds it.
             Case{R"({"url":"first","url":"second","bitrate":1,"bitrate":2})", u"first", u"", u"", 1},
         }) {
        const auto stations = Parse(std::string("[") + c.Object + "]");
        ASSERT_EQ(stations.size(), 1u) << c.Object;
        EXPECT_EQ(ToUtf8(stations[0].FileName), ToUtf8(c.FileName)) << c.Object;
        EXPECT_EQ(ToUtf8(stations[0].Country), ToUtf8(c.Country)) << c.Object;
        EXPECT_EQ(ToUtf8(stations[0].Tags), ToUtf8(c.Tags)) << c.Object;
        EXPECT_EQ(stations[0].Bitrate, c.Bitrate) << c.Object;
        EXPECT_TRUE(stations[0].Genre.empty()) << c.Object;
    }
}

TEST(RadioBrowserStations, OnlyObjectsOfATopLevelArrayAreStations) {
    std::vector<std::u16string> names;
    for (const auto& station : Parse(R"([{"name":"a"},5,"x",null,[{"name":"in"}],{"name":"b"},{}])"))
        names.push_back(station.Name);
    EXPECT_EQ(Utf8(names), (std::vector<std::string>{"a", "b", ""}));
    EXPECT_TRUE(Parse(" [ ] ").empty());
}

TEST(RadioBrowserStations, AnUnreadableDocumentIsAnErrorWithItsReason) {
    const struct {
        std::string Document, Reason;
    } cases[] = {
        {std::string("\x9c\x01\xff\0garbage\x80", 13), "not a JSON document: Invalid value. (at byte 0)"},
        {"<html><body>502 Bad Gateway</body></html>", "not a JSON document: Invalid value. (at byte 0)"},
        {R"([{"name":"a"},{"name":"b")", "not a JSON document"}, // cut short: not even the first
        {R"([{"name":"a"}] trailing)", "must not be followed by other values. (at byte 15)"},
        {"null", "the answer is no JSON list but null"},
        {R"({"error":"rate limited"})", "but an object (the server says: rate limited)"},
        {R"("[{\"name\":\"a\"}]")", "but a single value"},
        {"", "the document is empty"},
        {" \r\n", "the document is empty"},
    };
    for (const auto& c : cases) {
        try {
            Parse(c.Document);
            ADD_FAILURE() << "no error for " << c.Document;
        } catch (const EOrvoTunedexDocumentError& e) {
            EXPECT_NE(std::string(e.what()).find(c.Reason), std::string::npos) << e.what();
        }
    }
}

TEST(RadioBrowserStations, ADocumentAboveTheSizeLimitIsRefusedUnread) {
    const std::string document = R"([{"name":"a","url":"http://a.example/"}])";
    const int64_t previous = NuvSetMaxDocumentSize(int64_t(document.size()) - 1);
    TNuvTemporaryFileStream file("Tunedex");
    file.WriteBuffer(document.data(), int64_t(document.size()));
    TNuvMemoryStream memory(document.data(), document.size());
    for (TNuvStream* stream : {static_cast<TNuvStream*>(&file), static_cast<TNuvStream*>(&memory)})
        EXPECT_THROW(TBrowser::ParseStations(*stream, [](const TOrvoRadioStationInfo&) {}),
                     EOrvoTunedexDocumentError);
    NuvSetMaxDocumentSize(int64_t(document.size()));
    EXPECT_EQ(Parse(document).size(), 1u);
    NuvSetMaxDocumentSize(previous);
    EXPECT_EQ(NuvMaxDocumentSize(), kNuvMaxDocumentSize);
    EXPECT_EQ(kNuvMaxDocumentSize, 256 << 20);
}

TEST(RadioBrowserStations, ReadsARecordedStationList) {
    TUNEDEX_REQUIRE_CORPUS("radiobrowser/pyradios/responses", folder);
    TNuvFileStream file(
        (folder / "test_facet_narrow_broaden__00__json_stations_search_countrycode_be.json").string(),
        TNuvFileMode::OpenRead);
    const std::string bytes = file.ReadAll();
    const auto stations = Parse(bytes);
    const auto document = JSON::Parse(std::string_view(bytes));
    ASSERT_TRUE(document);
    const TNuvJSONNode root = document->Root();
    ASSERT_EQ(stations.size(), root.Count());
    ASSERT_EQ(stations.size(), 402u);

    size_t fellBack = 0, withTags = 0;
    for (size_t i = 0; i < stations.size(); ++i) {
        const TNuvJSONNode object = root.Item(i);
        const TOrvoRadioStationInfo& s = stations[i];
        EXPECT_EQ(s.Name, object.Member(u"name").Text()) << i;
        EXPECT_EQ(s.Bitrate, StrToIntDef(object.Member(u"bitrate").Text(), -1)) << i;
        EXPECT_FALSE(s.FileName.empty()) << i;
        if (object.Member(u"url_resolved").Text().empty()) {
            ++fellBack;
            EXPECT_EQ(s.FileName, object.Member(u"url").Text()) << i;
        }
        EXPECT_EQ(s.Tags.find(u','), std::u16string::npos) << i;
        withTags += s.Tags.find(u';') != std::u16string::npos;
        EXPECT_EQ(s.Country, u"Belgium") << i;
    }
    EXPECT_EQ(fellBack, 2u);
    EXPECT_EQ(withTags, 136u);
    EXPECT_EQ(ToUtf8(stations[0].Name), "' t Is Vloms Affligem, be");
    EXPECT_EQ(ToUtf8(stations[0].Tags), "hot adult contemporary;nederlandstalig");
}

// ---- value lists

class RadioBrowserValues : public testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(testsupport::CorpusDir() / "radiobrowser"))
            GTEST_SKIP() << "corpus folder radiobrowser is absent";
        FStandIn = std::make_unique<TRadioBrowserStandIn>(testsupport::CorpusDir() / "radiobrowser");
    }
    TList Values(std::u16string_view kind, const TBrowser::TObjectFilter& filter = {}) {
        TList list;
        TBrowser::QueryValues(list, kind, FStandIn->Server(), filter);
        return list;
    }
    std::unique_ptr<TRadioBrowserStandIn> FStandIn;
};

TEST_F(RadioBrowserValues, RecordedListsComeBackSorted) {
    EXPECT_EQ(Utf8(Values(u"tags")), (std::vector<std::string>{"music", "pop", "rock"}));
    // The recorded list has a country without a name; it is a name all the same.
    EXPECT_EQ(Utf8(Values(u"countries")),
              (std::vector<std::string>{"", "Coted Ivoire", "Germany", "The Netherlands",
                                        "The United States Of America"}));
    EXPECT_EQ(FStandIn->Requests(), (std::vector<std::string>{"/json/tags", "/json/countries"}));
}

TEST_F(RadioBrowserValues, DuplicatesGoAndCaseCounts) {
    FStandIn->Serve("/json/tags", R"([{"name":"rock"},{"name":"Rock"},{"name":"jazz"},{"stationcount":3},
        "rock",{"name":"rock"},{"name":"Ambient"},{"name":"jazz"}])");
    EXPECT_EQ(Utf8(Values(u"tags")), (std::vector<std::string>{"Ambient", "jazz", "rock", "Rock"}));
}

TEST_F(RadioBrowserValues, NothingWithoutServerKindOrAGoodDownload) {
    TList list;
    TBrowser::QueryValues(list, u"", FStandIn->Server());
    TBrowser::QueryValues(list, u"tags", u"");
    EXPECT_TRUE(list.empty());
    EXPECT_TRUE(FStandIn->Requests().empty());

    // A failing server's body is not the list, even when it reads as one.
    FStandIn->SetHook([](const std::string&, httplib::Response& response, std::string& body) {
        response.status = 500;
        body = R"([{"name":"error"}])";
    });
    EXPECT_TRUE(Values(u"tags").empty());
    FStandIn->SetHook({});
    FStandIn->Serve("/json/tags", R"({"name":"not a list"})");
    EXPECT_TRUE(Values(u"tags").empty());
}

// ---- look-ups on the dispatcher

class RadioBrowserQueries : public RadioBrowserValues {
protected:
    void TearDown() override { TaskDispatcher().Cancel(FHandle, true); }
    TaskHandle FHandle = 0;
    testsupport::Watchdog FWatchdog;
};

TEST_F(RadioBrowserQueries, LanguagesWithoutACodeAreLeftOut) {
    FStandIn->Serve("/json/languages", R"([{"name":"dutch","iso_639":"nl"},{"name":"#english","iso_639":null},
        {"name":"klingon"},{"name":"blank","iso_639":""},{"name":"quoted","iso_639":"null"},
        {"name":"english","iso_639":"en"},{"name":"dutch","iso_639":"nl"}])");
    TList got;
    bool called = false;
    bool onMainThread = false;
    TBrowser::StartQuery(
        FHandle, TBrowser::qkLanguages,
        [&](const TList& values) {
            got = values;
            called = true;
            onMainThread = platform::IsMainThread();
        },
        FStandIn->Server());
    ASSERT_TRUE(PumpUntil([&] { return called; }));
    EXPECT_TRUE(onMainThread);
    EXPECT_EQ(Utf8(got), (std::vector<std::string>{"dutch", "english"}));
}

TEST_F(RadioBrowserQueries, EachKindAsksItsList) {
    struct Case {
        TBrowser::TQueryKind Kind;
        std::string Path;
        std::vector<std::string> Values;
    };
    for (const Case& c :
         {Case{TBrowser::qkCountries,
               "/json/countries",
               {"", "Coted Ivoire", "Germany", "The Netherlands", "The United States Of America"}},
          Case{TBrowser::qkLanguages, "/json/languages", {"dutch", "english"}},
          Case{TBrowser::qkTags, "/json/tags", {"music", "pop", "rock"}}}) {
        TList got;
        bool called = false;
        TBrowser::StartQuery(
            FHandle, c.Kind,
            [&](const TList& values) {
                got = values;
                called = true;
            },
            FStandIn->Server());
        ASSERT_TRUE(PumpUntil([&] { return called; })) << c.Path;
        EXPECT_EQ(Utf8(got), c.Values) << c.Path;
        EXPECT_EQ(FStandIn->Requests().back(), c.Path);
    }
}

TEST_F(RadioBrowserQueries, ACancelledQueryNeverCallsBack) {
    // The server holds the answer until the query has been cancelled.
    std::atomic<bool> asked{false}, release{false};
    FStandIn->SetHook([&](const std::string&, httplib::Response&, std::string&) {
        asked = true;
        while (!release)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    });
    int calls = 0;
    TBrowser::StartQuery(
        FHandle, TBrowser::qkTags, [&](const TList&) { ++calls; }, FStandIn->Server());
    ASSERT_TRUE(PumpUntil([&] { return asked.load(); }));
    TaskDispatcher().Cancel(FHandle, false);
    release = true;
    EXPECT_TRUE(TaskDispatcher().Cancel(FHandle, true));
    PumpUntil([] { return false; }, 50);
    EXPECT_EQ(calls, 0);
}

TEST_F(RadioBrowserQueries, ANewQueryReplacesTheRunningOne) {
    std::vector<std::string> answered;
    // The main thread does not pump between the two starts, so the first cannot have called back.
    TBrowser::StartQuery(
        FHandle, TBrowser::qkTags, [&](const TList&) { answered.push_back("tags"); }, FStandIn->Server());
    TBrowser::StartQuery(
        FHandle, TBrowser::qkCountries, [&](const TList&) { answered.push_back("countries"); },
        FStandIn->Server());
    ASSERT_TRUE(PumpUntil([&] { return !answered.empty(); }));
    EXPECT_TRUE(TaskDispatcher().Cancel(FHandle, true));
    PumpUntil([] { return false; }, 50);
    EXPECT_EQ(answered, std::vector<std::string>{"countries"});
}

// ---- API servers

TEST(RadioBrowserServers, AllServersFirstThenTargetsInNaturalOrder) {
    if (!testsupport::TSrvNameServer::AnswersAreRead())
        GTEST_SKIP() << "this system's DNS client reads no SRV answer from a loopback stand-in";
    TSrvNameServer dns({"nl10.api.radio-browser.info", "de2.api.radio-browser.info",
                        "at1.api.radio-browser.info", "nl2.api.radio-browser.info",
                        "de1.api.radio-browser.info"});
    TScopedEnvironment server("TUNEDEX_DNS_SERVER", dns.Address());
    TList list;
    TBrowser::DiscoverServers(list);
    EXPECT_EQ(Utf8(list),
              (std::vector<std::string>{"all.api.radio-browser.info", "at1.api.radio-browser.info",
                                        "de1.api.radio-browser.info", "de2.api.radio-browser.info",
                                        "nl2.api.radio-browser.info", "nl10.api.radio-browser.info"}));
    EXPECT_EQ(dns.LastName(), "_api._tcp.radio-browser.info");
    // Nothing is kept between look-ups.
    TBrowser::DiscoverServers(list);
    EXPECT_EQ(dns.Queries(), 2);
}

TEST(RadioBrowserServers, AFailedLookUpGivesNoServers) {
    testsupport::Watchdog watchdog;
    for (const auto mode : {TSrvNameServer::Refuse, TSrvNameServer::Answer}) {
        // An answer without SRV records is a failure too.
        TSrvNameServer dns({}, mode);
        TScopedEnvironment server("TUNEDEX_DNS_SERVER", dns.Address());
        TList list;
        EXPECT_THROW(TBrowser::DiscoverServers(list), Exception) << mode;
        EXPECT_TRUE(list.empty()) << mode;

        // Through the dispatcher the failure is logged and the callback still comes, empty.
        TaskHandle handle = 0;
        bool called = false;
        TList got{u"stale"};
        TBrowser::StartQuery(
            handle, TBrowser::qkServers,
            [&](const TList& values) {
                got = values;
                called = true;
            },
            u"");
        ASSERT_TRUE(PumpUntil([&] { return called; })) << mode;
        EXPECT_TRUE(got.empty()) << mode;
        TaskDispatcher().Cancel(handle, true);
    }
}

TEST(RadioBrowserServers, CancellingEndsAWaitForASilentServer) {
    testsupport::Watchdog watchdog;
    TSrvNameServer dns({"de1.api.radio-browser.info"}, TSrvNameServer::Silent);
    TScopedEnvironment server("TUNEDEX_DNS_SERVER", dns.Address());
    TaskHandle handle = 0;
    bool called = false;
    TBrowser::StartQuery(
        handle, TBrowser::qkServers, [&](const TList&) { called = true; }, u"");
    ASSERT_TRUE(PumpUntil([&] { return dns.Queries() > 0; }));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(TaskDispatcher().Cancel(handle, true));
    // Well inside the query's own time-out.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
    PumpUntil([] { return false; }, 20);
    EXPECT_FALSE(called);
}

// ---- refreshing a catalogue

namespace {

// Counts finished update runs.
class TRunCounter : public IOrvoStationCatalogListener {
public:
    void CatalogChanged() override {}
    void AsyncUpdateStarted() override {}
    void UpdateProgress(std::u16string_view, int64_t, int64_t) override {}
    void ProviderUpdateStarted(std::u16string_view) override {}
    void AsyncUpdateFinished() override {
        ++Finished;
        platform::WakeMainThread();
    }
    std::atomic<int> Finished{0};
};

class RadioBrowserRefresh : public RadioBrowserValues {
protected:
    void SetUp() override {
        RadioBrowserValues::SetUp();
        if (IsSkipped())
            return;
        TOrvoTunedexProviderRepository::Clear();
        TOrvoTunedexProviderRepository::RegisterProvider(TOrvoTunedexRadioBrowser::Class());
        FCatalog = std::make_unique<TOrvoStationCatalog>(FFolder.File("Tunedex.db"));
        FCatalog->Listeners().Add(&FRuns);
    }
    void TearDown() override {
        FCatalog.reset();
        TOrvoTunedexProviderRepository::Clear();
    }
    // Stores a catalogue of the stand-in's server and refreshes it; answers its identifier.
    std::u16string Refresh(std::u16string_view kindAndValue) {
        TOrvoTunedexRadioBrowser provider;
        provider.Title = u"Radio Browser";
        provider.Data = FStandIn->Server() + u";" + std::u16string(kindAndValue);
        FCatalog->ProviderUpdate(&provider, u"");
        const int before = FRuns.Finished;
        FCatalog->EntriesUpdate(provider.ID());
        EXPECT_TRUE(PumpUntil([&] { return FRuns.Finished > before; }));
        return provider.ID();
    }

    testsupport::Watchdog FWatchdog;
    testsupport::TScopedFolder FFolder;
    TRunCounter FRuns;
    std::unique_ptr<TOrvoStationCatalog> FCatalog;
};

} // namespace

TEST_F(RadioBrowserRefresh, FillsTheCatalogueFromTheServer) {
    const std::u16string id = Refresh(u"0;Belgium");
    EXPECT_EQ(FStandIn->Requests(), std::vector<std::string>{"/json/stations/bycountryexact/Belgium"});
    // Stations sharing a stream address are one row.
    EXPECT_EQ(FCatalog->EntriesCount(id), 354);
    const std::unique_ptr<TOrvoTunedexProvider> stored = FCatalog->LoadProvider(id);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->Count, 354);
    EXPECT_GT(stored->Date, 0);
    EXPECT_EQ(&stored->ClassType(), &TOrvoTunedexRadioBrowser::Class());

    TOrvoRadioStationInfo station;
    // Of two stations with one stream address the later one stays.
    ASSERT_TRUE(FCatalog->FindEntryByFileName(u"http://bluford.torontocast.com:8093/stream", station));
    EXPECT_EQ(ToUtf8(station.Name), "' t Is Vloms Affligem, be");
    EXPECT_EQ(ToUtf8(station.Tags), "");
    ASSERT_TRUE(FCatalog->FindEntry(u"Name", u"'t Is Vloms", station));
    EXPECT_EQ(ToUtf8(station.Tags), "folk;folklore;nederlandstalig");
    EXPECT_EQ(ToUtf8(station.Country), "Belgium");
    EXPECT_EQ(station.Bitrate, 128);
}

TEST_F(RadioBrowserRefresh, AValueReachesTheServerAsWritten) {
    FStandIn->Serve("/json/stations/bytagexact/drum & bass",
                    FStandIn->Body("/json/stations/bytagexact/classical"));
    const std::u16string id = Refresh(u"2;drum & bass");
    EXPECT_EQ(FStandIn->Targets(), std::vector<std::string>{"/json/stations/bytagexact/drum%20%26%20bass"});
    EXPECT_EQ(FStandIn->Requests(), std::vector<std::string>{"/json/stations/bytagexact/drum & bass"});
    EXPECT_EQ(FCatalog->EntriesCount(id), 6);
}

TEST_F(RadioBrowserRefresh, AnUnusableAnswerKeepsTheStations) {
    const std::u16string id = Refresh(u"1;dutch");
    const int32_t count = FCatalog->EntriesCount(id);
    ASSERT_GT(count, 0);
    const std::string path = "/json/stations/bylanguageexact/dutch";
    const std::string good = FStandIn->Body(path);
    const char* answers[] = {"\x1f\x8b\x08garbage",
                             "<html>Service Unavailable</html>",
                             "null",
                             R"({"error":"rate limited"})",
                             "",
                             R"([{"url":"http://a.example/"}] junk)"};
    for (const char* answer : answers) {
        FStandIn->Serve(path, answer);
        Refresh(u"1;dutch");
        EXPECT_EQ(FCatalog->EntriesCount(id), count) << answer;
    }
    // Half a document, sent without a length, ending when the server closes the connection.
    FStandIn->SetHook([&](const std::string&, httplib::Response& response, std::string&) {
        response.set_chunked_content_provider(
            "application/json",
            [half = good.substr(0, good.size() / 2)](size_t offset, httplib::DataSink& sink) {
                if (offset == 0)
                    sink.write(half.data(), half.size());
                return false;
            });
    });
    Refresh(u"1;dutch");
    EXPECT_EQ(FCatalog->EntriesCount(id), count);
    FStandIn->SetHook(
        [](const std::string&, httplib::Response& response, std::string&) { response.status = 503; });
    Refresh(u"1;dutch");
    EXPECT_EQ(FCatalog->EntriesCount(id), count);
    FStandIn->SetHook({});
    // A list without stations is a catalogue without stations.
    FStandIn->Serve(path, "[]");
    Refresh(u"1;dutch");
    EXPECT_EQ(FCatalog->EntriesCount(id), 0);
}
