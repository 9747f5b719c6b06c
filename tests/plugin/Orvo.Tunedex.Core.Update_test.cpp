#include "plugin/Orvo.Tunedex.Core.h"

#include "nuv/Nuv.Log.h"
#include "nuv/Nuv.Strings.h"
#include "platform/Platform.System.h"
#include "platform/Platform.Threads.h"
#include "sdk/api/OrvoAPI.Tunedex.h"
#include "tests/TestSupport.h"
#include "tests/nuv/Nuv.Web.TestServer.h"
#include "tests/plugin/Orvo.Tunedex.TestProvider.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>

// The test body is the main thread: waits for a run pump it, as the host's main loop would.

using testsupport::TRegisteredProviders;
using testsupport::TScopedFolder;
using testsupport::TTestLineProvider;

namespace {

// Records the notifications, with the threads they came on.
class TRecorder : public IOrvoStationCatalogListener {
public:
    // Called on the notifying thread after each call is recorded; set it before any run starts.
    std::function<void(const std::u16string& call)> Hook;

    void CatalogChanged() override { Record(u"CatalogChanged"); }
    void AsyncUpdateStarted() override { Record(u"AsyncUpdateStarted"); }
    void UpdateProgress(std::u16string_view title, int64_t, int64_t) override {
        Record(u"UpdateProgress " + std::u16string(title));
    }
    void ProviderUpdateStarted(std::u16string_view id) override {
        Record(u"ProviderUpdateStarted " + std::u16string(id));
    }
    void AsyncUpdateFinished() override { Record(u"AsyncUpdateFinished"); }

    // The calls so far, runs of progress calls shown once.
    std::vector<std::u16string> Calls() {
        std::lock_guard guard(FLock);
        std::vector<std::u16string> calls;
        for (const std::u16string& call : FCalls)
            if (calls.empty() || call != calls.back() || !call.starts_with(u"UpdateProgress"))
                calls.push_back(call);
        return calls;
    }
    // The providers the runs started on, in order.
    std::vector<std::u16string> Started() {
        std::vector<std::u16string> ids;
        for (const std::u16string& call : Calls())
            if (call.starts_with(u"ProviderUpdateStarted "))
                ids.push_back(call.substr(22));
        return ids;
    }
    int Count(std::u16string_view call) {
        std::lock_guard guard(FLock);
        return int(std::count(FCalls.begin(), FCalls.end(), call));
    }
    // Runs that have sent their closing pair.
    int RunsEnded() {
        std::lock_guard guard(FLock);
        int ended = 0;
        for (size_t i = 1; i < FCalls.size(); ++i)
            ended += FCalls[i - 1] == u"AsyncUpdateFinished" && FCalls[i] == u"CatalogChanged";
        return ended;
    }
    std::set<uint32_t> Threads() {
        std::lock_guard guard(FLock);
        return FThreads;
    }
    void Clear() {
        std::lock_guard guard(FLock);
        FCalls.clear();
        FThreads.clear();
    }

private:
    void Record(std::u16string call) {
        {
            std::lock_guard guard(FLock);
            FCalls.push_back(call);
            FThreads.insert(platform::CurrentThreadId());
        }
        if (Hook)
            Hook(call);
        platform::WakeMainThread();
    }

    std::mutex FLock;
    std::vector<std::u16string> FCalls;
    std::set<uint32_t> FThreads;
};

// Documents by name at /doc/<name>, each of which can fail or trickle on demand.
class TDocumentServer {
public:
    TDocumentServer() {
        FServer->Get(R"(/doc/(\w+))", [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard guard(FLock);
            const std::string name = req.matches[1];
            ++FHits[name];
            if (const int status = FStatus[name]; status != 0) {
                res.status = status;
                return;
            }
            const std::string body = FBodies[name];
            if (!FSlow.count(name)) {
                res.set_content(body, "text/plain");
                return;
            }
            // The document, then a comment line every 20 ms for a few seconds, until the client
            // leaves.
            res.set_chunked_content_provider("text/plain",
                                             [this, body](size_t offset, httplib::DataSink& sink) {
                                                 if (offset == 0)
                                                     return sink.write(body.data(), body.size());
                                                 std::this_thread::sleep_for(std::chrono::milliseconds(20));
                                                 ++FTrickled;
                                                 if (offset > body.size() + 500 || !sink.write("#\n", 2))
                                                     sink.done();
                                                 return true;
                                             });
        });
        FServer.Start();
    }

    std::u16string Url(const std::string& name) const { return FServer.Url("/doc/" + name); }
    void Set(const std::string& name, std::string body, int status = 0, bool slow = false) {
        std::lock_guard guard(FLock);
        FBodies[name] = std::move(body);
        FStatus[name] = status;
        if (slow)
            FSlow.insert(name);
        else
            FSlow.erase(name);
    }
    int Hits(const std::string& name) {
        std::lock_guard guard(FLock);
        return FHits[name];
    }
    int Trickled() const { return FTrickled; }

private:
    std::mutex FLock;
    std::map<std::string, std::string> FBodies;
    std::map<std::string, int> FStatus;
    std::set<std::string> FSlow;
    std::map<std::string, int> FHits;
    std::atomic<int> FTrickled{0};
    testsupport::TLoopbackServer FServer;
};

std::string Document(const std::string& prefix, int count) {
    std::string document;
    for (int i = 0; i < count; ++i)
        document += prefix + " " + std::to_string(i) + "|http://" + prefix + ".example/" + std::to_string(i) +
                    "|pop|Germany\n";
    return document;
}

bool Pump(const std::function<bool()>& done) {
    return platform::PumpMainThreadUntil(done, 10000);
}

class CatalogUpdate : public testing::Test {
protected:
    void SetUp() override {
        FServer.Set("a", Document("alpha", 3));
        FServer.Set("b", Document("beta", 2));
        FServer.Set("c", Document("gamma", 4));
        FCatalog.Listeners().Add(&FRecorder);
    }

    // Stores a provider for the document and answers its identifier.
    std::u16string Add(const std::u16string& title, const std::string& name) {
        TTestLineProvider provider;
        provider.Title = title;
        provider.Data = FServer.Url(name);
        FCatalog.ProviderUpdate(&provider, u"");
        return provider.ID();
    }
    // Waits until `runs` runs in all have sent their closing notifications.
    void WaitForRuns(int runs) {
        ASSERT_TRUE(Pump([&] { return FRecorder.RunsEnded() >= runs; })) << "run did not end";
    }
    // Blocks the next run at its start until Open(), so that the test can queue more first.
    void CloseGate() {
        FRecorder.Hook = [this](const std::u16string& call) {
            if (call == u"AsyncUpdateStarted")
                FGate.Wait(10000);
        };
    }
    void OpenGate() { FGate.Set(); }

    testsupport::Watchdog FWatchdog{std::chrono::seconds(30)};
    TRegisteredProviders FClasses{&TTestLineProvider::Class()};
    TDocumentServer FServer;
    TScopedFolder FFolder;
    platform::Event FGate;
    // Outlives the catalogue, whose destruction still notifies it.
    TRecorder FRecorder;
    TOrvoStationCatalog FCatalog{FFolder.File("Tunedex.db")};
};

} // namespace

TEST_F(CatalogUpdate, StoresTheStationsAndNotifiesInOrderOnTheWorker) {
    const std::u16string id = Add(u"Alpha", "a");
    FRecorder.Clear();
    const TDateTime before = NuvNow();
    FCatalog.EntriesUpdate(u""); // nothing to do
    EXPECT_EQ(FCatalog.UpdateTask(), 0u);
    FCatalog.EntriesUpdate(id);
    EXPECT_NE(FCatalog.UpdateTask(), 0u);
    WaitForRuns(1);

    EXPECT_EQ(FRecorder.Calls(),
              (std::vector<std::u16string>{u"AsyncUpdateStarted", u"ProviderUpdateStarted " + id,
                                           u"UpdateProgress Alpha", u"CatalogChanged", u"AsyncUpdateFinished",
                                           u"CatalogChanged"}));
    const std::set<uint32_t> threads = FRecorder.Threads();
    EXPECT_EQ(threads.size(), 1u);
    EXPECT_FALSE(threads.count(platform::MainThreadId()));
    EXPECT_EQ(FCatalog.UpdateTask(), 0u);

    EXPECT_EQ(FCatalog.EntriesCount(id), 3);
    TOrvoRadioStationInfo found;
    ASSERT_TRUE(FCatalog.FindEntryByFileName(u"http://alpha.example/2", found));
    EXPECT_EQ(found.Name, u"alpha 2");
    EXPECT_EQ(found.Genre, u"pop");
    const std::unique_ptr<TOrvoTunedexProvider> stored = FCatalog.LoadProvider(id);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->Count, 3);
    EXPECT_GE(stored->Date, before);
    EXPECT_LE(stored->Date, NuvNow());
    EXPECT_NE(stored->DateAsText(), u"-");
}

TEST_F(CatalogUpdate, AProviderQueuedTwiceIsFetchedTwiceInOneRun) {
    const std::u16string id = Add(u"Alpha", "a");
    CloseGate();
    FCatalog.EntriesUpdate(id);
    FCatalog.EntriesUpdate(id);
    OpenGate();
    WaitForRuns(1);
    EXPECT_EQ(FServer.Hits("a"), 2);
    EXPECT_EQ(FRecorder.Count(u"AsyncUpdateStarted"), 1);
    EXPECT_EQ(FRecorder.Started(), (std::vector<std::u16string>{id, id}));
    EXPECT_EQ(FCatalog.EntriesCount(id), 3);
}

TEST_F(CatalogUpdate, RefreshingAllDuringARunAppendsToThatRun) {
    const std::u16string a = Add(u"Alpha", "a"), b = Add(u"Beta", "b"), c = Add(u"Gamma", "c");
    CloseGate();
    FCatalog.EntriesUpdate(a);
    const TaskHandle run = FCatalog.UpdateTask();
    FCatalog.EntriesUpdateAll();
    EXPECT_EQ(FCatalog.UpdateTask(), run);
    OpenGate();
    WaitForRuns(1);
    EXPECT_EQ(FRecorder.Count(u"AsyncUpdateStarted"), 1);
    std::vector<std::u16string> started = FRecorder.Started();
    ASSERT_EQ(started.size(), 4u);
    EXPECT_EQ(started[0], a);
    std::sort(started.begin() + 1, started.end());
    std::vector<std::u16string> all{a, b, c};
    std::sort(all.begin(), all.end());
    EXPECT_TRUE(std::equal(all.begin(), all.end(), started.begin() + 1));
    EXPECT_EQ(FCatalog.EntriesCount(b), 2);
    EXPECT_EQ(FCatalog.EntriesCount(c), 4);

    // By title: only the catalogues with that title; an unknown title starts nothing.
    FCatalog.EntriesUpdateByTitle(u"Nothing");
    EXPECT_EQ(FCatalog.UpdateTask(), 0u);
    FCatalog.EntriesUpdateByTitle(u"Beta");
    WaitForRuns(2);
    EXPECT_EQ(FRecorder.Started().back(), b);
    EXPECT_EQ(FServer.Hits("b"), 2);
    EXPECT_EQ(FServer.Hits("c"), 1);
}

TEST_F(CatalogUpdate, CancellingADownloadKeepsTheRowsAndLeavesTheQueueForTheNextRun) {
    const std::u16string a = Add(u"Alpha", "a"), b = Add(u"Beta", "b"), c = Add(u"Gamma", "c");
    FCatalog.EntriesUpdate(a);
    WaitForRuns(1);
    const std::unique_ptr<TOrvoTunedexProvider> before = FCatalog.LoadProvider(a);

    FServer.Set("a", Document("changed", 5), 0, true);
    FCatalog.EntriesUpdate(a);
    FCatalog.EntriesUpdate(b);
    ASSERT_TRUE(Pump([&] { return FServer.Trickled() >= 2; }));
    FRecorder.Clear();
    FCatalog.CancelUpdate();

    EXPECT_EQ(FCatalog.UpdateTask(), 0u);
    const std::vector<std::u16string> calls = FRecorder.Calls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[calls.size() - 2], u"AsyncUpdateFinished");
    EXPECT_EQ(calls.back(), u"CatalogChanged");
    EXPECT_TRUE(FRecorder.Started().empty()); // b was not begun
    EXPECT_EQ(FCatalog.EntriesCount(a), 3);
    TOrvoRadioStationInfo found;
    EXPECT_TRUE(FCatalog.FindEntryByFileName(u"http://alpha.example/0", found));
    const std::unique_ptr<TOrvoTunedexProvider> after = FCatalog.LoadProvider(a);
    EXPECT_EQ(after->Count, before->Count);
    EXPECT_EQ(after->Date, before->Date);

    // The next refresh takes the leftover identifier first, then the new one.
    FRecorder.Clear();
    FCatalog.EntriesUpdate(c);
    WaitForRuns(1);
    EXPECT_EQ(FRecorder.Started(), (std::vector<std::u16string>{b, c}));
    EXPECT_EQ(FCatalog.EntriesCount(b), 2);
    EXPECT_EQ(FCatalog.EntriesCount(c), 4);
}

TEST_F(CatalogUpdate, AFailedFetchKeepsRowsCountAndDateAndTheRunGoesOn) {
    const std::u16string a = Add(u"Alpha", "a"), b = Add(u"Beta", "b");
    FCatalog.EntriesUpdate(a);
    FCatalog.EntriesUpdate(b);
    WaitForRuns(1);
    const std::unique_ptr<TOrvoTunedexProvider> before = FCatalog.LoadProvider(a);
    ASSERT_EQ(before->Count, 3);

    const struct {
        const char* What;
        std::string Body;
        int Status;
    } failures[] = {{"server error", Document("new", 7), 500}, {"malformed document", "no bar here\n", 0}};
    int runs = 1;
    for (const auto& failure : failures) {
        FServer.Set("a", failure.Body, failure.Status);
        FCatalog.EntriesUpdate(a);
        FCatalog.EntriesUpdate(b);
        WaitForRuns(++runs);
        const std::unique_ptr<TOrvoTunedexProvider> after = FCatalog.LoadProvider(a);
        EXPECT_EQ(FCatalog.EntriesCount(a), 3) << failure.What;
        EXPECT_EQ(after->Count, before->Count) << failure.What;
        EXPECT_EQ(after->Date, before->Date) << failure.What;
        EXPECT_EQ(after->DateAsText(), before->DateAsText()) << failure.What;
        EXPECT_EQ(FServer.Hits("b"), runs) << failure.What; // the run went on with b
    }

    // An empty but valid document is a catalogue without stations.
    FServer.Set("a", "");
    FCatalog.EntriesUpdate(a);
    WaitForRuns(++runs);
    EXPECT_EQ(FCatalog.EntriesCount(a), 0);
    const std::unique_ptr<TOrvoTunedexProvider> emptied = FCatalog.LoadProvider(a);
    EXPECT_EQ(emptied->Count, 0);
    EXPECT_GE(emptied->Date, before->Date);
}

TEST_F(CatalogUpdate, ADocumentThatStopsKeepsWhatWasReadOnlyAfterAStation) {
    const std::string log = (FFolder.Path() / "update.log").string();
    NuvLogSetFile(log);
    // A title that reads like the log's own separators still comes back whole.
    const std::u16string title = u"Alpha: \"B\" \\ C";
    const std::u16string a = Add(title, "a");
    FCatalog.EntriesUpdate(a);
    WaitForRuns(1);
    const struct {
        std::string Body;
        int32_t Count;
        std::string Logged;
        TTunedexRefreshOutcome Outcome;
        std::u16string Reason;
    } cases[] = {
        // Nothing read: the catalogue keeps its three stations and the refresh fails.
        {"!unreadable\n", 3, "[App] Tunedex: Alpha: \"B\" \\ C: unreadable", TTunedexRefreshOutcome::Failed,
         u"unreadable"},
        {"# a comment only\n!cut short\n", 3, "[App] Tunedex: Alpha: \"B\" \\ C: cut short",
         TTunedexRefreshOutcome::Failed, u"cut short"},
        // Stopped after two: those two are the catalogue, and the reason is a warning.
        {Document("new", 2) + "!stopped at line 3\n" + Document("lost", 1), 2,
         "[App] Tunedex warning: Alpha: \"B\" \\ C: stopped at line 3", TTunedexRefreshOutcome::Warning,
         u"stopped at line 3"},
    };
    int runs = 1;
    for (const auto& c : cases) {
        std::filesystem::remove(log);
        FServer.Set("a", c.Body);
        FCatalog.EntriesUpdate(a);
        WaitForRuns(++runs);
        EXPECT_EQ(FCatalog.EntriesCount(a), c.Count) << c.Body;
        EXPECT_EQ(FCatalog.LoadProvider(a)->Count, c.Count) << c.Body;
        std::ifstream in(log);
        std::string line;
        std::getline(in, line);
        EXPECT_NE(line.find(c.Logged), std::string::npos) << line;
        // Beside the line for people, the entry a host reads back.
        std::getline(in, line);
        TTunedexRefreshLogEntry entry;
        ASSERT_TRUE(ParseTunedexRefreshLogLine(FromUtf8(line), entry)) << line;
        EXPECT_EQ(int(entry.Outcome), int(c.Outcome)) << line;
        EXPECT_EQ(entry.Title, title) << line;
        EXPECT_EQ(entry.Reason, c.Reason) << line;
    }
    NuvLogSetFile("");
}

TEST_F(CatalogUpdate, AProviderRemovedDuringItsFetchIsNotWrittenBack) {
    const std::u16string a = Add(u"Alpha", "a"), b = Add(u"Beta", "b");
    // Another process on the same file removes the catalogue while its document downloads.
    TOrvoStationCatalog other(FFolder.File("Tunedex.db"));
    // The run's last notifications may come after the test's body has ended: the hook keeps what
    // it compares with and lets go of the other catalogue once it has used it.
    FRecorder.Hook = [&other, a, used = false](const std::u16string& call) mutable {
        if (!used && call == u"ProviderUpdateStarted " + a) {
            used = true;
            other.ProviderUpdate(nullptr, a);
        }
    };
    FCatalog.EntriesUpdate(a);
    FCatalog.EntriesUpdate(b);
    WaitForRuns(1);
    EXPECT_FALSE(FCatalog.LoadProvider(a));
    EXPECT_EQ(FCatalog.EntriesCount(a), 0);
    EXPECT_EQ(FCatalog.EntriesCount(b), 2); // the run went on
}

TEST_F(CatalogUpdate, AProviderThatCannotBeLoadedEndsTheRunWithItsClosingNotifications) {
    const std::u16string a = Add(u"Alpha", "a"), b = Add(u"Beta", "b");
    FCatalog.Exec(TOrvoStationCatalog::SqlProviderStore(u"gone", u"TGoneProvider", 0, u"", u"Gone", 0));
    FRecorder.Clear();
    CloseGate();
    FCatalog.EntriesUpdate(u"gone");
    FCatalog.EntriesUpdate(a);
    OpenGate();
    WaitForRuns(1);
    EXPECT_EQ(FRecorder.Calls(), (std::vector<std::u16string>{u"AsyncUpdateStarted", u"AsyncUpdateFinished",
                                                              u"CatalogChanged"}));
    EXPECT_EQ(FCatalog.UpdateTask(), 0u);
    EXPECT_EQ(FServer.Hits("a"), 0);

    // The identifier behind it stayed queued.
    FCatalog.EntriesUpdate(b);
    WaitForRuns(2);
    EXPECT_EQ(FRecorder.Started(), (std::vector<std::u16string>{a, b}));
}

TEST_F(CatalogUpdate, ARunCancelledBeforeItStartedFreesTheHandle) {
    const std::u16string a = Add(u"Alpha", "a"), b = Add(u"Beta", "b");
    TNuvTaskDispatcher& dispatcher = TaskDispatcher();
    const int32_t floor = dispatcher.MinActiveTasks();
    dispatcher.SetMaxActiveTasks(1);
    platform::Event release;
    std::atomic<bool> blocking{false};
    dispatcher.Run([&](const TNuvCancelQuery&) {
        blocking = true;
        release.Wait(10000);
    });
    ASSERT_TRUE(Pump([&] { return blocking.load(); }));
    FCatalog.EntriesUpdate(a); // waits behind the blocking task
    ASSERT_NE(FCatalog.UpdateTask(), 0u);
    FCatalog.CancelUpdate();
    EXPECT_EQ(FCatalog.UpdateTask(), 0u);
    release.Set();
    dispatcher.SetMaxActiveTasks(floor);

    FRecorder.Clear();
    FCatalog.EntriesUpdate(b);
    WaitForRuns(1);
    EXPECT_EQ(FRecorder.Started(), (std::vector<std::u16string>{a, b}));
}

TEST_F(CatalogUpdate, DestroyingTheCatalogueCancelsAndWaitsForTheRun) {
    FServer.Set("a", Document("alpha", 3), 0, true);
    TRecorder recorder;
    {
        TOrvoStationCatalog catalog(FFolder.File("Other.db"));
        catalog.Listeners().Add(&recorder);
        TTestLineProvider provider;
        provider.Data = FServer.Url("a");
        catalog.ProviderUpdate(&provider, u"");
        catalog.EntriesUpdate(provider.ID());
        ASSERT_TRUE(Pump([&] { return FServer.Trickled() >= 1; }));
    }
    // Everything the run sent arrived before the destructor returned.
    const std::vector<std::u16string> calls = recorder.Calls();
    EXPECT_EQ(recorder.RunsEnded(), 1);
    EXPECT_EQ(calls.back(), u"CatalogChanged");
    EXPECT_EQ(calls[calls.size() - 2], u"AsyncUpdateFinished");
}

// ---- provider rows ----

using ProviderRows = CatalogUpdate;

TEST_F(ProviderRows, StoreLoadAndEnumerate) {
    TTestLineProvider provider;
    provider.Title = u"Mine 'quoted'";
    provider.Data = FServer.Url("a");
    provider.Count = 42;
    provider.Date = 45123.5;
    FRecorder.Clear();
    FCatalog.ProviderUpdate(&provider, u"");
    FCatalog.ProviderUpdate(nullptr, u""); // nothing, not even a notification
    EXPECT_EQ(FRecorder.Calls(), std::vector<std::u16string>{u"CatalogChanged"});
    Add(u"Second", "b");

    const std::unique_ptr<TOrvoTunedexProvider> loaded = FCatalog.LoadProvider(provider.ID());
    ASSERT_TRUE(loaded);
    EXPECT_EQ(&loaded->ClassType(), &TTestLineProvider::Class());
    EXPECT_EQ(loaded->Title, provider.Title);
    EXPECT_EQ(loaded->Data, provider.Data);
    EXPECT_EQ(loaded->Count, 42);
    EXPECT_EQ(loaded->Date, 45123.5);
    EXPECT_FALSE(FCatalog.LoadProvider(u"no such id"));

    std::vector<std::u16string> titles;
    FCatalog.EnumProviders([&](TOrvoTunedexProvider& p) { titles.push_back(p.Title); });
    std::sort(titles.begin(), titles.end());
    EXPECT_EQ(titles, (std::vector<std::u16string>{u"Mine 'quoted'", u"Second"}));
}

TEST_F(ProviderRows, ClassesThatAreUnknownOrNoProviders) {
    const TNuvClass notAProvider(u"TNotAProvider");
    TNuvClasses::Register(notAProvider);
    FCatalog.Exec(TOrvoStationCatalog::SqlProviderStore(u"other", u"TNotAProvider", 0, u"", u"Other", 0));
    EXPECT_FALSE(FCatalog.LoadProvider(u"other"));
    int visited = 0;
    FCatalog.EnumProviders([&](TOrvoTunedexProvider&) { ++visited; });
    EXPECT_EQ(visited, 0);
    TNuvClasses::Unregister(notAProvider);

    FCatalog.Exec(TOrvoStationCatalog::SqlProviderStore(u"gone", u"TGoneProvider", 0, u"", u"Gone", 0));
    EXPECT_THROW(FCatalog.LoadProvider(u"gone"), EClassNotFound);
    EXPECT_THROW(FCatalog.EnumProviders([](TOrvoTunedexProvider&) {}), EClassNotFound);
}

TEST_F(ProviderRows, DeletingRemovesStationsAndRowTogether) {
    const std::u16string a = Add(u"Alpha", "a"), b = Add(u"Beta", "b");
    FCatalog.EntriesUpdate(a);
    FCatalog.EntriesUpdate(b);
    WaitForRuns(1);

    // A failure on the second statement takes back the first.
    FCatalog.Exec(u"CREATE TRIGGER KeepProviders BEFORE DELETE ON Providers BEGIN SELECT RAISE(ABORT, "
                  u"'kept'); END;");
    FRecorder.Clear();
    EXPECT_THROW(FCatalog.ProviderUpdate(nullptr, a), ENuvSQLiteError);
    EXPECT_EQ(FCatalog.EntriesCount(a), 3);
    EXPECT_TRUE(FRecorder.Calls().empty());
    FCatalog.Exec(u"DROP TRIGGER KeepProviders;");

    FCatalog.ProviderUpdate(nullptr, a);
    EXPECT_EQ(FCatalog.EntriesCount(a), 0);
    EXPECT_FALSE(FCatalog.LoadProvider(a));
    EXPECT_EQ(FCatalog.EntriesCount(b), 2);
    EXPECT_EQ(FRecorder.Calls(), std::vector<std::u16string>{u"CatalogChanged"});
}

TEST_F(ProviderRows, EditingTheAddressMovesTheIdentifier) {
    const std::u16string a = Add(u"Alpha", "a");
    FCatalog.EntriesUpdate(a);
    WaitForRuns(1);

    // A new title alone keeps the identifier and the stations.
    std::unique_ptr<TOrvoTunedexProvider> edited = FCatalog.LoadProvider(a);
    edited->Title = u"Renamed";
    FCatalog.ProviderUpdate(edited.get(), a);
    EXPECT_EQ(FCatalog.EntriesCount(a), 3);
    EXPECT_EQ(FCatalog.LoadProvider(a)->Title, u"Renamed");

    edited->Data = FServer.Url("c");
    const std::u16string moved = edited->ID();
    ASSERT_NE(moved, a);
    FCatalog.ProviderUpdate(edited.get(), a);
    EXPECT_EQ(FCatalog.EntriesCount(a), 0);
    EXPECT_FALSE(FCatalog.LoadProvider(a));
    ASSERT_TRUE(FCatalog.LoadProvider(moved));
    EXPECT_EQ(FCatalog.EntriesCount(moved), 0); // until it is refreshed
    FCatalog.EntriesUpdate(moved);
    WaitForRuns(2);
    EXPECT_EQ(FCatalog.EntriesCount(moved), 4);
}
