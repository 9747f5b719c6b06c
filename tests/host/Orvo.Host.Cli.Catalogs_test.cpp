// The catalogue commands end to end: the real `tunedex` command line loading the real plug-in,
// whose dialogs it drives, against loopback Radio Browser and DNS stand-ins.

#include "host/Orvo.Host.Cli.h"
#include "platform/Platform.System.h"
#include "tests/Orvo.Tunedex.Providers.RadioBrowser.TestServers.h"
#include "tests/TestSupport.h"
#include "tests/host/Orvo.Host.Cli.TestSupport.h"

#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

using testsupport::TRadioBrowserStandIn;
using testsupport::TScopedEnvironment;
using testsupport::TSrvNameServer;

namespace {

using CliRun = testsupport::TCliRun;

using testsupport::Lines;

// One station object of the service's answer.
std::string Station(const std::string& name) {
    return R"({"name":")" + name + R"(","url_resolved":"http://127.0.0.1:1/)" + name +
           R"(","codec":"MP3","bitrate":"128","tags":"jazz,blues"})";
}

std::string Stations(std::initializer_list<const char*> names) {
    std::string body = "[";
    for (const char* name : names) {
        if (body.size() > 1)
            body += ',';
        body += Station(name);
    }
    return body + "]";
}

// Runs the command line on a profile of its own, against stand-ins of the Radio Browser service
// and its name server.
class CliWithStandIns {
public:
    CliWithStandIns()
        : FProfile(fs::temp_directory_path() / ("tunedex_cli_test_" + std::to_string(platform::ProcessId()))),
          FResolver("TUNEDEX_DNS_SERVER", FDns.Address().c_str()) {
        FStandIn.Serve("/json/tags", R"([{"name":"jazz"},{"name":"blues"},{"name":"Ambient"}])");
        FStandIn.Serve("/json/countries", R"([{"name":"Belgium"},{"name":"Austria"}])");
        FStandIn.Serve("/json/stations/bytagexact/jazz", Stations({"Jazz One", "Jazz Two"}));
        FStandIn.Serve("/json/stations/bytagexact/blues", Stations({"Blues One"}));
    }
    ~CliWithStandIns() {
        std::error_code ignored;
        fs::remove_all(FProfile, ignored);
    }

    CliRun Tunedex(std::vector<std::string> args) {
        args.insert(args.begin(),
                    {std::string("--plugin=") + TUNEDEX_PLUGIN_FILE, "--profile=" + FProfile.string()});
        return testsupport::RunTunedex(std::move(args));
    }

    // `catalogs --json`, parsed.
    struct Listed {
        std::string Title, Updated, ID;
        int64_t Stations;
    };
    std::vector<Listed> Catalogs() {
        const CliRun run = Tunedex({"catalogs", "--json"});
        EXPECT_EQ(run.Status, 0) << run.Err;
        std::vector<Listed> listed;
        for (const std::string& line : Lines(run.Out)) {
            rapidjson::Document json;
            json.Parse(line.c_str());
            EXPECT_TRUE(json.IsObject()) << line;
            if (!json.IsObject())
                continue;
            EXPECT_FALSE(json["updating"].GetBool());
            listed.push_back({json["title"].GetString(),
                              json["updated"].IsNull() ? "-" : json["updated"].GetString(),
                              json["id"].GetString(), json["stations"].GetInt64()});
        }
        return listed;
    }

    std::string Server() { return ToUtf8(FStandIn.Server()); }

    std::vector<std::string> AddJazz(const std::string& title = "Jazz") {
        return {"add",    "--title", title, "--kind",  "Radio Browser", "--server",
                Server(), "--list",  "tag", "--value", "jazz"};
    }

protected:
    fs::path FProfile;
    testsupport::Watchdog FWatchdog{std::chrono::seconds(60)};
    TRadioBrowserStandIn FStandIn{testsupport::CorpusDir() / "radiobrowser"};
    TSrvNameServer FDns{{"de1.api.radio-browser.info", "at1.api.radio-browser.info"}};
    TScopedEnvironment FResolver;
};

class CatalogCommands : public ::testing::Test, public CliWithStandIns {
protected:
    static void SetUpTestSuite() {
        // The plug-in keeps some objects for the life of the process (the HTTP cookie store, the
        // task dispatcher), as the program that runs one command does; loaded and unloaded for
        // every command here, each load's objects would look lost to a leak checker.
        std::string error;
        static void* const resident = platform::LoadModule(TUNEDEX_PLUGIN_FILE, error);
        ASSERT_NE(resident, nullptr) << error;
        // Each command names a log of its own for the reasons of failures, which the plug-in
        // kept loaded takes up when the command initialises it.
    }
};

TEST_F(CatalogCommands, LookUpsListWhatTheEditorFinds) {
    if (!testsupport::TSrvNameServer::AnswersAreRead())
        GTEST_SKIP() << "this system's DNS client reads no SRV answer from a loopback stand-in";
    const CliRun servers = Tunedex({"servers"});
    ASSERT_EQ(servers.Status, 0) << servers.Err;
    EXPECT_EQ(Lines(servers.Out),
              (std::vector<std::string>{"all.api.radio-browser.info", "at1.api.radio-browser.info",
                                        "de1.api.radio-browser.info"}));

    const CliRun tags = Tunedex({"values", "--server", Server(), "--list", "tags"});
    ASSERT_EQ(tags.Status, 0) << tags.Err;
    EXPECT_EQ(Lines(tags.Out), (std::vector<std::string>{"Ambient", "blues", "jazz"}));
    const CliRun countries = Tunedex({"values", "--list", "countries", "--server", Server()});
    ASSERT_EQ(countries.Status, 0) << countries.Err;
    EXPECT_EQ(Lines(countries.Out), (std::vector<std::string>{"Austria", "Belgium"}));

    // Singular and plural name the same list.
    const CliRun tag = Tunedex({"values", "--server", Server(), "--list", "tag"});
    EXPECT_EQ(tag.Out, tags.Out) << tag.Err;

    // The server's look-up fails: nothing to list is a failure, not an empty answer, and says why.
    struct Failure {
        int Status;
        std::string Body, Reason;
    };
    for (const Failure& f : std::vector<Failure>{{500, "[]", "Internal Server Error"},
                                                 {200, "<html>busy</html>", "not a JSON document"},
                                                 {200, "[]", "listed no tags"}}) {
        FStandIn.SetHook([&](const std::string&, httplib::Response& response, std::string& body) {
            response.status = f.Status;
            body = f.Body;
        });
        const CliRun failed = Tunedex({"values", "--server", Server(), "--list", "tags"});
        EXPECT_EQ(failed.Status, 1);
        EXPECT_EQ(failed.Out, "");
        EXPECT_NE(failed.Err.find(f.Reason), std::string::npos) << failed.Err;
    }
    FStandIn.SetHook({});
    const CliRun refused = Tunedex({"values", "--server", "127.0.0.1:1", "--list", "tags"});
    EXPECT_EQ(refused.Status, 1);
    EXPECT_NE(refused.Err.find("127.0.0.1:1 did not list its tags: "), std::string::npos) << refused.Err;

    EXPECT_EQ(Tunedex({"values", "--server", Server(), "--list", "genres"}).Status, 2);
    EXPECT_EQ(Tunedex({"values", "--server", Server()}).Status, 2);
}

TEST_F(CatalogCommands, ServersFailWhenTheNameServerRefuses) {
    TSrvNameServer refusing({}, TSrvNameServer::Refuse);
    TScopedEnvironment resolver("TUNEDEX_DNS_SERVER", refusing.Address().c_str());
    const CliRun run = Tunedex({"servers"});
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Out, "");
    EXPECT_NE(run.Err.find("No Radio Browser server"), std::string::npos) << run.Err;
}

TEST_F(CatalogCommands, AddEditRemoveAndResetGoThroughTheManager) {
    const CliRun kinds = Tunedex({"kinds"});
    ASSERT_EQ(kinds.Status, 0) << kinds.Err;
    EXPECT_EQ(Lines(kinds.Out), (std::vector<std::string>{"1  Radio Browser", "2  Xiph Directory",
                                                          "3  Remote playlist", "4  Custom catalog"}));

    // A refresh slow enough to be seen running: the command waits for its end.
    FStandIn.SetHook([](const std::string& path, httplib::Response&, std::string&) {
        if (path.starts_with("/json/stations"))
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
    });
    const CliRun added = Tunedex(AddJazz());
    ASSERT_EQ(added.Status, 0) << added.Err;
    EXPECT_EQ(added.Out, "2\n");
    std::vector<Listed> listed = Catalogs();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].Title, "Jazz");
    EXPECT_EQ(listed[0].Stations, 2);
    EXPECT_NE(listed[0].Updated, "-");
    EXPECT_EQ(listed[0].ID.size(), 32u);
    const std::string jazzId = listed[0].ID;

    const CliRun table = Tunedex({"catalogs"});
    ASSERT_EQ(table.Status, 0) << table.Err;
    const std::vector<std::string> rows = Lines(table.Out);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_TRUE(rows[0].starts_with("TITLE  UPDATED")) << rows[0];
    EXPECT_TRUE(rows[1].starts_with("Jazz ")) << rows[1];
    EXPECT_TRUE(rows[1].ends_with(" 2  " + jazzId)) << rows[1];

    // Edited by title; the settings change, and so does the id.
    FStandIn.SetHook({});
    const CliRun edited = Tunedex({"edit", "Jazz", "--title", "Blues", "--value", "blues"});
    ASSERT_EQ(edited.Status, 0) << edited.Err;
    EXPECT_EQ(edited.Out, "1\n");
    listed = Catalogs();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].Title, "Blues");
    EXPECT_EQ(listed[0].Stations, 1);
    EXPECT_NE(listed[0].ID, jazzId);

    // Edited by id, title only: the id stays, the refresh runs again.
    const CliRun renamed = Tunedex({"edit", listed[0].ID, "--title", "Blue notes"});
    ASSERT_EQ(renamed.Status, 0) << renamed.Err;
    EXPECT_EQ(renamed.Out, "1\n");
    const std::string bluesId = listed[0].ID;
    listed = Catalogs();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].Title, "Blue notes");
    EXPECT_EQ(listed[0].ID, bluesId);

    // The list's plural names it too.
    const CliRun quick = Tunedex({"add", "--title", "Quick", "--kind", "1", "--server", Server(), "--list",
                                  "tags", "--value", "jazz"});
    ASSERT_EQ(quick.Status, 0) << quick.Err;
    EXPECT_EQ(quick.Out, "2\n");
    EXPECT_EQ(Catalogs().size(), 2u);

    const CliRun removed = Tunedex({"remove", "Quick"});
    ASSERT_EQ(removed.Status, 0) << removed.Err;
    listed = Catalogs();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].Title, "Blue notes");

    for (const char* missing : {"Quick", "0123456789abcdef0123456789abcdef"}) {
        for (const char* command : {"remove", "edit"}) {
            const CliRun run = Tunedex({command, missing});
            EXPECT_EQ(run.Status, 1) << command;
            EXPECT_NE(run.Err.find("No catalogue has the id or title"), std::string::npos) << run.Err;
        }
    }

    ASSERT_EQ(Tunedex(AddJazz("Second")).Status, 0);
    EXPECT_EQ(Catalogs().size(), 2u);
    const CliRun before = Tunedex({"stations", "--format", "json", "--fields", "Name"});
    ASSERT_EQ(before.Status, 0) << before.Err;
    EXPECT_EQ(Lines(before.Out).size(), 3u) << before.Out;
    const CliRun reset = Tunedex({"reset"});
    ASSERT_EQ(reset.Status, 0) << reset.Err;
    EXPECT_TRUE(Catalogs().empty());
    // The music library sees the emptied catalogue too.
    const CliRun after = Tunedex({"stations"});
    ASSERT_EQ(after.Status, 0) << after.Err;
    EXPECT_NE(after.Err.find("No stations yet"), std::string::npos) << after.Err;
    EXPECT_EQ(Tunedex({"reset"}).Status, 0) << "nothing to reset is no failure";
}

TEST_F(CatalogCommands, KindsAreNamedInAnyCaseOrByPosition) {
    struct Case {
        const char* Kind;
        int Status;
        const char* Value;
    };
    for (const Case& c : {Case{"radio BROWSER", 0, "jazz"}, Case{"1", 0, "blues"}, Case{"0", 2, "x"},
                          Case{"5", 2, "x"}, Case{"Xiph", 2, "x"}}) {
        std::vector<std::string> args = AddJazz(c.Value);
        args[4] = c.Kind;
        args.back() = c.Value;
        const CliRun run = Tunedex(args);
        EXPECT_EQ(run.Status, c.Status) << c.Kind << ": " << run.Err;
        if (c.Status != 0) {
            EXPECT_NE(run.Err.find("the kinds are: 1 Radio Browser"), std::string::npos) << run.Err;
        }
    }
    EXPECT_EQ(Catalogs().size(), 2u);
}

TEST_F(CatalogCommands, TheEditorRefusesSettingsThatWouldLoseOrBreakACatalogue) {
    ASSERT_EQ(Tunedex(AddJazz()).Status, 0);
    std::vector<std::string> blues = AddJazz("Blues");
    blues.back() = "blues";
    ASSERT_EQ(Tunedex(blues).Status, 0);
    const std::vector<Listed> before = Catalogs();
    ASSERT_EQ(before.size(), 2u);

    struct Case {
        std::vector<std::string> Args;
        std::string Said;
    };
    for (const Case& c : std::vector<Case>{
             {AddJazz("Copy"), "The catalogue \"Jazz\" already has these settings"},
             {{"edit", "Blues", "--value", "jazz"}, "The catalogue \"Jazz\" already has these settings"},
             {{"edit", "Blues", "--value", "jazz;2;x"}, "The Radio Browser value cannot contain \";\""},
             {{"edit", "Blues", "--server", Server() + ";1"}, "The Radio Browser server cannot contain"},
         }) {
        const CliRun run = Tunedex(c.Args);
        EXPECT_EQ(run.Status, 1) << c.Args[1];
        EXPECT_EQ(run.Out, "");
        EXPECT_NE(run.Err.find(c.Said), std::string::npos) << run.Err;
    }
    const std::vector<Listed> after = Catalogs();
    ASSERT_EQ(after.size(), 2u);
    for (size_t i = 0; i < after.size(); ++i) {
        EXPECT_EQ(after[i].Title, before[i].Title);
        EXPECT_EQ(after[i].ID, before[i].ID);
    }
}

TEST_F(CatalogCommands, TitlesAreFoundAsTypedAndRefusedWhenBlankOrShared) {
    const std::string sax = "\xF0\x9F\x8E\xB7 Sax"; // outside the Basic Multilingual Plane
    ASSERT_EQ(Tunedex(AddJazz(sax)).Status, 0);
    const CliRun renamed = Tunedex({"edit", sax, "--title", "Twin"});
    EXPECT_EQ(renamed.Status, 0) << renamed.Err;
    std::vector<std::string> blues = AddJazz("Twin");
    blues.back() = "blues";
    ASSERT_EQ(Tunedex(blues).Status, 0);
    const std::vector<Listed> twins = Catalogs();
    ASSERT_EQ(twins.size(), 2u);

    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"edit", "Twin", "--title", "One"}, {"remove", "Twin"}, {"refresh", "Twin"}}) {
        const CliRun run = Tunedex(args);
        EXPECT_EQ(run.Status, 1) << args[0];
        EXPECT_NE(run.Err.find("2 catalogues are titled \"Twin\""), std::string::npos) << run.Err;
        for (const Listed& twin : twins)
            EXPECT_NE(run.Err.find(twin.ID), std::string::npos) << run.Err;
    }
    for (const char* blank : {"", "   "}) {
        EXPECT_EQ(Tunedex({"edit", twins[0].ID, "--title", blank}).Status, 2);
        std::vector<std::string> args = AddJazz(blank);
        args.back() = "Ambient";
        const CliRun run = Tunedex(args);
        EXPECT_EQ(run.Status, 2);
        EXPECT_NE(run.Err.find("empty or only spaces"), std::string::npos) << run.Err;
    }
    EXPECT_EQ(Catalogs().size(), 2u);
}

TEST_F(CatalogCommands, OptionsThatDoNotFitAreUsageErrors) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"add", "--title", "T", "--kind", "1", "--server", Server(), "--list", "tag"},
             {"add", "--title", "T", "--kind", "1", "--address", "http://127.0.0.1:1/x.pls"},
             {"add", "--title", "T", "--kind", "1", "--address", "http://x/", "--server", "y"},
             {"add", "--kind", "1", "--list", "tag", "--value", "jazz"},
             {"add", "--title", "T", "--kind", "1", "--list", "genre", "--value", "jazz"},
             {"edit"},
             {"remove"},
             {"catalogs", "extra"},
         }) {
        const CliRun run = Tunedex(args);
        EXPECT_EQ(run.Status, 2) << args[0] << " " << args.back() << ": " << run.Err;
        EXPECT_FALSE(run.Err.empty());
    }
    EXPECT_TRUE(Catalogs().empty());
    for (const char* command : {"kinds", "catalogs", "add", "edit", "remove", "reset", "servers", "values"}) {
        const CliRun help = Tunedex({command, "--help"});
        EXPECT_EQ(help.Status, 0) << command;
        EXPECT_NE(help.Out.find("--help"), std::string::npos) << command;
    }
}

TEST_F(CatalogCommands, ASaveErrorIsReportedAndNothingIsSaved) {
    ASSERT_TRUE(Catalogs().empty());
    // The database refuses the new row, as a full or damaged one would.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((FProfile / "Tunedex.db").string().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "CREATE TRIGGER Refuse BEFORE INSERT ON Providers "
                           "BEGIN SELECT RAISE(ABORT, 'Storage refused'); END",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);

    const CliRun run = Tunedex(AddJazz());
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Out, "");
    EXPECT_NE(run.Err.find("Storage refused"), std::string::npos) << run.Err;
    EXPECT_TRUE(Catalogs().empty());
}

TEST_F(CatalogCommands, AFailedRefreshIsReportedButTheCatalogueStays) {
    FStandIn.SetHook([](const std::string& path, httplib::Response& response, std::string&) {
        if (path.starts_with("/json/stations"))
            response.status = 503;
    });
    const CliRun run = Tunedex(AddJazz());
    EXPECT_EQ(run.Status, 1);
    EXPECT_NE(run.Err.find("was saved, but its refresh failed: "), std::string::npos) << run.Err;
    EXPECT_NE(run.Err.find("503"), std::string::npos) << "the reason: " << run.Err;
    const std::vector<Listed> listed = Catalogs();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].Updated, "-");
}

// The last task the plug-in waits for as it finalises has ended, but the pool thread that ran it
// may still be on its way out through the plug-in's code when the host unloads the library.
TEST(PluginUnloading, WaitsUntilThePoolThreadsAreOut) {
    CliWithStandIns cli;
    for (int round = 0; round < 8; ++round) {
        ASSERT_EQ(cli.Tunedex({"kinds"}).Status, 0);
        // The refresh has just ended when the command does.
        ASSERT_EQ(cli.Tunedex(cli.AddJazz()).Status, 0);
        ASSERT_EQ(cli.Tunedex({"remove", "Jazz"}).Status, 0);
    }
}

} // namespace
