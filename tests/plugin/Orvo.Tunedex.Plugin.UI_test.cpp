#include "plugin/Orvo.Tunedex.Plugin.UI.h"

#include "host/Orvo.Host.Core.h"
#include "host/Orvo.Host.FileSystem.h"
#include "host/Orvo.Host.MessageDispatcher.h"
#include "host/Orvo.Host.UI.Automation.h"
#include "host/Orvo.Host.UI.MessageDialog.h"
#include "host/Orvo.Host.UI.h"
#include "nuv/Nuv.Strings.h"
#include "platform/Platform.Threads.h"
#include "plugin/Orvo.Tunedex.Plugin.FileManager.h"
#include "tests/Orvo.Tunedex.Providers.RadioBrowser.TestServers.h"
#include "tests/TestSupport.h"
#include "tests/plugin/Orvo.Tunedex.TestProvider.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

// The test body is the main thread; the dialogs run in the host model's modal loop.

using testsupport::TRadioBrowserStandIn;
using testsupport::TRegisteredProviders;
using testsupport::TScopedEnvironment;
using testsupport::TScopedFolder;
using testsupport::TSrvNameServer;
using testsupport::TTestLineProvider;
using TBrowser = TOrvoTunedexRadioBrowser;

namespace {

// A class without an address; storing one titled "refused" fails, as a database error would.
class TFixedProvider : public TOrvoTunedexProvider {
public:
    static const TOrvoTunedexProviderClass& Class() {
        static const TOrvoTunedexProviderClassOf<TFixedProvider> cls(u"TFixedProvider");
        return cls;
    }
    static std::u16string DisplayName() { return u"Fixed list"; }
    const TOrvoTunedexProviderClass& ClassType() const override { return Class(); }
    std::u16string DocumentURL() const override { return {}; }
    std::u16string ID() const override {
        if (Title == u"refused")
            throw EInvalidOperation(u"Storage refused");
        return u"fixed";
    }
    using TOrvoTunedexProvider::AsyncFetch;
    void AsyncFetch(TNuvStream&, std::u16string_view, const TOrvoStationReceiver&) override {}
};

// The editor's controls in creation order.
enum TCombo { cbClass = 0, cbServer = 1, cbKind = 2, cbValue = 3 };
enum TEdit { edTitle = 0, edAddress = 1 };

class EditDialog : public ::testing::Test {
protected:
    void SetUp() override {
        FCore = TOrvoHostCore::Create(u"/nonexistent/profile");
        FUI = TOrvoHostUI::Create();
        FMessages = TOrvoHostMessageDialog::Create();
        FCore->RegisterService(IOrvoServiceUI::IID, FUI);
        FCore->RegisterService(IOrvoUIMessageDialog::IID, FMessages);
        FCore->RegisterService(IOrvoServiceMessageDispatcher::IID, TOrvoHostMessageDispatcher::Create(0x777));
        TOrvoAPIWrappers::Initialize(FCore.get());
        FCatalog = std::make_unique<TOrvoStationCatalog>(FFolder.File("Tunedex.db"));
    }
    void TearDown() override {
        // A handler that raised is a fault of the dialog, whatever the test looked at.
        for (const auto& failure : FUI->EventFailures())
            ADD_FAILURE() << "event failed: " << ToUtf8(failure.Source);
        FCatalog.reset();
        TOrvoAPIWrappers::Finalize();
    }

    // Runs the editor with the script acting on it; answers Execute's result.
    bool RunEditor(const std::function<void(TOrvoHostUIDriver&)>& script, std::u16string_view id = {}) {
        FUI->WhenShownModally(u"frmTunedexEditor", [&](TOrvoHostForm& form) {
            TOrvoHostUIDriver driver(form);
            script(driver);
        });
        const bool saved = TOrvoTunedexEditDialog::Execute(0, *FCatalog, id);
        FUI->RethrowScriptError();
        return saved;
    }

    std::vector<std::u16string> StoredIds() {
        std::vector<std::u16string> ids;
        FCatalog->EnumProviders([&](TOrvoTunedexProvider& p) { ids.push_back(p.ID()); });
        return ids;
    }

    std::vector<std::u16string> StoredTitles() {
        std::vector<std::u16string> titles;
        FCatalog->EnumProviders([&](TOrvoTunedexProvider& p) { titles.push_back(p.Title); });
        return titles;
    }

    // A document of one station for the line provider.
    std::u16string Document() {
        const std::u16string path = FFolder.File("stations.txt");
        std::ofstream(ToUtf8(path)) << "Jazz One|http://127.0.0.1:1/jazz\n";
        return path;
    }

    TScopedFolder FFolder;
    ComPtr<TOrvoHostCore> FCore;
    ComPtr<TOrvoHostUI> FUI;
    ComPtr<TOrvoHostMessageDialog> FMessages;
    std::unique_ptr<TOrvoStationCatalog> FCatalog;
};

TEST_F(EditDialog, AutomaticTitlesFollowTheClassButTypedOnesStay) {
    TRegisteredProviders classes{&TTestLineProvider::Class(), &TFixedProvider::Class()};
    RunEditor([](TOrvoHostUIDriver& d) {
        TOrvoHostControl& title = d.Edit(ORVO_UI_EDIT, edTitle);
        TOrvoHostControl& classes = d.Combo(cbClass);
        EXPECT_EQ(d.Text(title), u"");
        d.Type(title, u"Mine");
        d.Pick(classes, 1);
        EXPECT_EQ(d.Text(title), u"Fixed list") << "a class without address replaces even a typed title";
        d.Pick(classes, 0);
        EXPECT_EQ(d.Text(title), u"") << "an automatic title goes with its class";
        d.Pick(classes, 1);
        d.Type(title, u"Typed after");
        d.Pick(classes, 0);
        EXPECT_EQ(d.Text(title), u"Typed after");
    });
}

TEST_F(EditDialog, SaveWaitsForAnAcceptableAddress) {
    TRegisteredProviders classes{&TTestLineProvider::Class()};
    struct Case {
        std::u16string Address;
        bool Accepted;
    };
    const std::vector<Case> cases = {
        {u"", false},
        {u"stations.txt", false},
        // A rooted name without a drive is a full path on POSIX systems only.
        {u"/home/user/stations.txt", !testsupport::kWindows},
        {u"http://example.com/a\x01.pls", false},
        {u"www.example.com/list", false},
        {u"C", false},
        {u"1:\\list", false},
        {u"http:/x.example", false},
        {u"http://example.com/list.pls", true},
        {u"ftp:\\\\host\\list", true},
        {u"\\\\server\\share\\list.m3u", true},
        {u"C:\\lists\\a.m3u", true},
        {u"d:", true},
    };
    RunEditor([&](TOrvoHostUIDriver& d) {
        TOrvoHostControl& title = d.Edit(ORVO_UI_EDIT, edTitle);
        TOrvoHostControl& address = d.Edit(ORVO_UI_EDIT, edAddress);
        TOrvoHostControl& save = d.Find(u"B1");
        for (const Case& c : cases) {
            d.Type(title, u"");
            d.Type(address, c.Address);
            EXPECT_FALSE(d.Enabled(save)) << ToUtf8(c.Address) << ": no title";
            d.Type(title, u"List");
            EXPECT_EQ(d.Enabled(save), c.Accepted) << ToUtf8(c.Address);
        }
    });
}

TEST_F(EditDialog, TheClassBoxIsUsableOnlyWithAChoice) {
    for (const bool two : {false, true}) {
        TRegisteredProviders classes =
            two ? TRegisteredProviders{&TTestLineProvider::Class(), &TFixedProvider::Class()}
                : TRegisteredProviders{&TFixedProvider::Class()};
        RunEditor([&](TOrvoHostUIDriver& d) {
            TOrvoHostControl& classBox = d.Combo(cbClass);
            EXPECT_EQ(d.Enabled(classBox), two);
            // The first class is applied before anything is typed.
            EXPECT_EQ(d.Combo(cbClass).ItemIndex(), 0);
            if (!two) {
                EXPECT_EQ(d.Text(d.Edit(ORVO_UI_EDIT, edTitle)), u"Fixed list");
                EXPECT_FALSE(d.Edit(ORVO_UI_EDIT, edAddress).Visible());
                EXPECT_TRUE(d.Enabled(d.Find(u"B1")));
            }
        });
    }
}

TEST_F(EditDialog, SavingStoresTheCatalogueAndStartsItsRefresh) {
    TRegisteredProviders classes{&TTestLineProvider::Class()};
    const std::u16string document = Document();
    const bool saved = RunEditor([&](TOrvoHostUIDriver& d) {
        d.Type(d.Edit(ORVO_UI_EDIT, edTitle), u"Jazz lines");
        d.Type(d.Edit(ORVO_UI_EDIT, edAddress), u"C:" + document);
        EXPECT_TRUE(d.Enabled(d.Find(u"B1")));
    });
    EXPECT_FALSE(saved) << "closing without saving saves nothing";
    EXPECT_TRUE(StoredIds().empty());

    // A catalogue stored with a relative path, which the editor would refuse, can only be saved
    // once its address is corrected.
    auto seed = TTestLineProvider::Class().Create(u"Seed", u"lines.txt", 0);
    FCatalog->ProviderUpdate(seed.get(), u"");
    const std::u16string seedId = seed->ID();
    const bool edited = RunEditor(
        [&](TOrvoHostUIDriver& d) {
            EXPECT_EQ(d.Text(d.Edit(ORVO_UI_EDIT, edTitle)), u"Seed");
            EXPECT_EQ(d.Text(d.Edit(ORVO_UI_EDIT, edAddress)), u"lines.txt");
            EXPECT_FALSE(d.Enabled(d.Find(u"B1")));
            d.Type(d.Edit(ORVO_UI_EDIT, edTitle), u"Renamed");
        },
        seedId);
    EXPECT_FALSE(edited);

    const bool replaced = RunEditor(
        [&](TOrvoHostUIDriver& d) {
            d.Type(d.Edit(ORVO_UI_EDIT, edAddress), u"http://127.0.0.1:1/none.txt");
            d.Press(u"B1");
        },
        seedId);
    EXPECT_TRUE(replaced);
    auto stored = TTestLineProvider::Class().Create(u"", u"http://127.0.0.1:1/none.txt", 0);
    EXPECT_EQ(StoredIds(), std::vector<std::u16string>{stored->ID()})
        << "the edited row replaces the old one";
    auto loaded = FCatalog->LoadProvider(stored->ID());
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->Title, u"Seed");
    TOrvoHostUIDriver::WaitUntil([&] { return FCatalog->UpdateTask() == 0; }, u"the refresh");
}

TEST_F(EditDialog, SavedCatalogueIsRefreshedWithTheProvidersIdentifier) {
    TRegisteredProviders classes{&TFixedProvider::Class()};
    testsupport::Watchdog watchdog;
    struct TStarted : IOrvoStationCatalogListener {
        std::vector<std::u16string> Ids;
        std::mutex Lock;
        void CatalogChanged() override {}
        void AsyncUpdateStarted() override {}
        void UpdateProgress(std::u16string_view, int64_t, int64_t) override {}
        void ProviderUpdateStarted(std::u16string_view id) override {
            std::lock_guard guard(Lock);
            Ids.emplace_back(id);
        }
        void AsyncUpdateFinished() override {}
    } started;
    FCatalog->Listeners().Add(&started);
    EXPECT_TRUE(RunEditor([](TOrvoHostUIDriver& d) { d.Press(u"B1"); }));
    TOrvoHostUIDriver::WaitUntil(
        [&] {
            std::lock_guard guard(started.Lock);
            return !started.Ids.empty() && FCatalog->UpdateTask() == 0;
        },
        u"the refresh");
    FCatalog->Listeners().Remove(&started);
    EXPECT_EQ(started.Ids, std::vector<std::u16string>{u"fixed"});
    EXPECT_EQ(StoredIds(), std::vector<std::u16string>{u"fixed"});
}

TEST_F(EditDialog, ASaveErrorIsShownAndTheFormStaysOpen) {
    TRegisteredProviders classes{&TFixedProvider::Class()};
    const bool saved = RunEditor([&](TOrvoHostUIDriver& d) {
        d.Type(d.Edit(ORVO_UI_EDIT, edTitle), u"refused");
        d.Press(u"B1");
        EXPECT_TRUE(d.Form().Showing()) << "the user may correct the input";
        ASSERT_EQ(FMessages->Messages().size(), 1u);
        EXPECT_EQ(FMessages->Messages()[0].Text, u"Storage refused");
        EXPECT_EQ(FMessages->Messages()[0].Flags, ORVO_MSG_ICON_WARNING);
        d.Type(d.Edit(ORVO_UI_EDIT, edTitle), u"accepted");
        d.Press(u"B1");
    });
    EXPECT_TRUE(saved);
    EXPECT_EQ(StoredIds(), std::vector<std::u16string>{u"fixed"});
    TOrvoHostUIDriver::WaitUntil([&] { return FCatalog->UpdateTask() == 0; }, u"the refresh");
}

// ---- Radio Browser

class RadioBrowserEditor : public EditDialog {
protected:
    TRadioBrowserStandIn FStandIn{testsupport::CorpusDir() / "radiobrowser"};
};

TEST_F(RadioBrowserEditor, ATagCatalogueIsStoredAsServerKindValue) {
    if (!testsupport::TSrvNameServer::AnswersAreRead())
        GTEST_SKIP() << "this system's DNS client reads no SRV answer from a loopback stand-in";
    TRegisteredProviders classes{&TTestLineProvider::Class(), &TBrowser::Class()};
    testsupport::Watchdog watchdog;
    TSrvNameServer dns({"de1.api.radio-browser.info"});
    TScopedEnvironment resolver("TUNEDEX_DNS_SERVER", dns.Address().c_str());
    FStandIn.Serve("/json/tags", R"([{"name":"jazz","stationcount":9},{"name":"blues","stationcount":2}])");
    const std::u16string server = FStandIn.Server();
    const bool saved = RunEditor([&](TOrvoHostUIDriver& d) {
        TOrvoHostControl& save = d.Find(u"B1");
        d.Pick(d.Combo(cbClass), u"Radio Browser");
        EXPECT_EQ(d.Text(d.Edit(ORVO_UI_EDIT, edTitle)), u"Radio Browser");
        EXPECT_FALSE(d.Enabled(save)) << "no server yet";
        EXPECT_TRUE(d.Combo(cbServer).Visible());
        EXPECT_FALSE(d.Edit(ORVO_UI_EDIT, edAddress).Visible());
        TOrvoHostComboBox& servers = d.Combo(cbServer);
        TOrvoHostUIDriver::WaitUntil([&] { return servers.Items().size() == 2; }, u"the servers");
        EXPECT_EQ(d.Text(servers), u"all.api.radio-browser.info") << "the first server is chosen";
        EXPECT_TRUE(d.Enabled(save));
        d.Pick(d.Combo(cbKind), 2);
        d.Type(d.Edit(ORVO_UI_EDIT, edTitle), u"Jazz");
        d.Type(d.Combo(cbServer), server);
        EXPECT_TRUE(d.Enabled(save));
        TOrvoHostComboBox& values = d.Combo(cbValue);
        TOrvoHostUIDriver::WaitUntil([&] { return values.Items().size() == 2; }, u"the tags");
        EXPECT_EQ(values.Items(), (std::vector<std::u16string>{u"blues", u"jazz"}));
        d.Pick(values, u"jazz");
        EXPECT_EQ(d.Text(d.Edit(ORVO_UI_EDIT, edTitle)), u"Jazz") << "picking a value keeps the title";
        d.Press(save);
    });
    ASSERT_TRUE(saved);
    std::vector<std::u16string> data;
    FCatalog->EnumProviders([&](TOrvoTunedexProvider& p) { data.push_back(p.Data); });
    EXPECT_EQ(data, std::vector<std::u16string>{server + u";2;jazz"});
    EXPECT_EQ(StoredTitles(), std::vector<std::u16string>{u"Jazz"});
    TOrvoHostUIDriver::WaitUntil([&] { return FCatalog->UpdateTask() == 0; }, u"the refresh");
}

TEST_F(RadioBrowserEditor, LoadingShowsTheSelectionOfTheCatalogue) {
    TRegisteredProviders classes{&TTestLineProvider::Class(), &TBrowser::Class()};
    testsupport::Watchdog watchdog;
    TSrvNameServer dns({}, TSrvNameServer::Refuse);
    TScopedEnvironment resolver("TUNEDEX_DNS_SERVER", dns.Address().c_str());
    auto stored = TBrowser::Class().Create(u"Dutch", FStandIn.Server() + u";1;dutch", 0);
    FCatalog->ProviderUpdate(stored.get(), u"");
    RunEditor(
        [&](TOrvoHostUIDriver& d) {
            EXPECT_EQ(d.Text(d.Combo(cbClass)), u"Radio Browser");
            EXPECT_EQ(d.Text(d.Edit(ORVO_UI_EDIT, edTitle)), u"Dutch");
            EXPECT_EQ(d.Text(d.Combo(cbServer)), FStandIn.Server());
            EXPECT_EQ(d.Combo(cbKind).ItemIndex(), 1);
            EXPECT_EQ(d.Text(d.Combo(cbValue)), u"dutch");
            EXPECT_TRUE(d.Enabled(d.Find(u"B1")));
        },
        stored->ID());
}

TEST_F(RadioBrowserEditor, ClosingWaitsForTheRunningLookUp) {
    TRegisteredProviders classes{&TBrowser::Class()};
    testsupport::Watchdog watchdog;
    TSrvNameServer dns({}, TSrvNameServer::Silent);
    TScopedEnvironment resolver("TUNEDEX_DNS_SERVER", dns.Address().c_str());
    for (int round = 0; round < 3; ++round) {
        RunEditor([&](TOrvoHostUIDriver&) {
            TOrvoHostUIDriver::WaitUntil([&] { return dns.Queries() > round; }, u"the server look-up");
        });
        // Nothing of the closed dialog is left running.
        EXPECT_TRUE(FUI->Forms().empty());
    }
}

// ---- the manager

class ManagerDialog : public EditDialog {
protected:
    // Runs the manager with the script acting on it.
    void RunManager(const std::function<void(TOrvoHostUIDriver&)>& script) {
        FUI->WhenShownModally(u"frmTunedexManager", [&](TOrvoHostForm& form) {
            TOrvoHostUIDriver driver(form);
            script(driver);
        });
        TOrvoTunedexManagingDialog::Execute(0, *FCatalog);
        FUI->RethrowScriptError();
    }
    std::u16string Store(std::u16string title, std::u16string data) {
        auto provider = TTestLineProvider::Class().Create(std::move(title), std::move(data), 0);
        FCatalog->ProviderUpdate(provider.get(), u"");
        return provider->ID();
    }
    using TRows = std::vector<std::vector<std::u16string>>;
    static std::vector<bool> Usable(TOrvoHostUIDriver& d) {
        std::vector<bool> usable;
        for (const char16_t* name : {u"B2", u"B3", u"B6", u"B1", u"B4", u"B5"})
            usable.push_back(d.Enabled(d.Find(name)));
        return usable;
    }
};

TEST_F(ManagerDialog, ButtonsFollowTheListAndItsSelection) {
    TRegisteredProviders classes{&TTestLineProvider::Class()};
    RunManager([&](TOrvoHostUIDriver& d) {
        EXPECT_TRUE(d.Rows(d.TreeList()).empty());
        EXPECT_EQ(Usable(d), (std::vector<bool>{true, true, false, false, false, false}));
    });
    const std::u16string id = Store(u"Jazz", u"http://127.0.0.1:1/jazz.txt");
    RunManager([&](TOrvoHostUIDriver& d) {
        TOrvoHostControl& list = d.TreeList();
        EXPECT_EQ(d.Rows(list), (TRows{{u"Jazz", u"-", u"0", id}})) << "never updated";
        EXPECT_EQ(Usable(d), (std::vector<bool>{true, true, false, false, false, true}));
        d.ClickRow(list, 0);
        EXPECT_EQ(Usable(d), (std::vector<bool>{true, true, true, true, true, true}));
        d.Press(u"B2");
        EXPECT_FALSE(d.Form().Showing());
    });
}

TEST_F(ManagerDialog, RemoveAndResetEmptyTheList) {
    TRegisteredProviders classes{&TTestLineProvider::Class()};
    const std::u16string first = Store(u"One", u"http://127.0.0.1:1/one.txt");
    const std::u16string second = Store(u"Two", u"http://127.0.0.1:1/two.txt");
    TOrvoRadioStationInfo station;
    station.Name = u"S";
    station.FileName = u"http://127.0.0.1:1/s";
    FCatalog->AddEntry(station, second);
    RunManager([&](TOrvoHostUIDriver& d) {
        TOrvoHostControl& list = d.TreeList();
        ASSERT_EQ(d.Rows(list).size(), 2u);
        d.ClickRow(list, d.Rows(list)[0][3] == first ? 0 : 1);
        d.Press(u"B4");
        EXPECT_EQ(d.Rows(list), (TRows{{u"Two", u"-", u"0", second}}));
        EXPECT_EQ(Usable(d), (std::vector<bool>{true, true, false, false, false, true}));
        d.Press(u"B5");
        EXPECT_TRUE(d.Rows(list).empty());
        EXPECT_EQ(Usable(d), (std::vector<bool>{true, true, false, false, false, false}));
    });
    EXPECT_TRUE(StoredIds().empty());
    EXPECT_TRUE(FCatalog->IsEmpty());
}

TEST_F(ManagerDialog, AddAndEditRunTheEditorAndShowTheResult) {
    TRegisteredProviders classes{&TTestLineProvider::Class()};
    RunManager([&](TOrvoHostUIDriver& d) {
        FUI->WhenShownModally(u"frmTunedexEditor", [](TOrvoHostForm& form) {
            TOrvoHostUIDriver editor(form);
            editor.Type(editor.Edit(ORVO_UI_EDIT, edTitle), u"Added");
            editor.Type(editor.Edit(ORVO_UI_EDIT, edAddress), u"http://127.0.0.1:1/added.txt");
            editor.Press(u"B1");
        });
        d.Press(u"B3");
        TOrvoHostControl& list = d.TreeList();
        ASSERT_EQ(d.Rows(list).size(), 1u);
        EXPECT_EQ(d.Rows(list)[0][0], u"Added");

        FUI->WhenShownModally(u"frmTunedexEditor", [](TOrvoHostForm& form) {
            TOrvoHostUIDriver editor(form);
            EXPECT_EQ(editor.Text(editor.Edit(ORVO_UI_EDIT, edTitle)), u"Added");
            editor.Type(editor.Edit(ORVO_UI_EDIT, edTitle), u"Renamed");
            editor.Press(u"B1");
        });
        d.OpenRow(list, 0);
        EXPECT_EQ(d.Rows(list)[0][0], u"Renamed");
        // Both editor showings ran their scripts.
        EXPECT_EQ(FUI->PendingScripts(), 0u);
    });
    EXPECT_EQ(StoredTitles(), std::vector<std::u16string>{u"Renamed"});
    TOrvoHostUIDriver::WaitUntil([&] { return FCatalog->UpdateTask() == 0; }, u"the refresh");
}

TEST_F(ManagerDialog, TheUpdatedRowShowsTheUpdatingTextThenDateAndCount) {
    TRegisteredProviders classes{&TTestLineProvider::Class()};
    testsupport::Watchdog watchdog;
    const std::u16string id = Store(u"Lines", Document());
    const std::u16string other = Store(u"Other", u"http://127.0.0.1:1/other.txt");
    TOrvoTunedexManagingDialog dialog(0, *FCatalog);
    TOrvoHostUIDriver d(*FUI->FindForm(u"frmTunedexManager"));
    TOrvoHostControl& list = d.TreeList();
    auto row = [&](const std::u16string& rowId) {
        for (const auto& values : d.Rows(list))
            if (values[3] == rowId)
                return values;
        return std::vector<std::u16string>{};
    };
    const std::u16string updating = LocalizedText(u"Tunedex\\S1");

    // As the update's thread tells it.
    std::thread([&] { dialog.ProviderUpdateStarted(id); }).join();
    TOrvoHostUIDriver::WaitUntil([&] { return row(id)[1] == updating; }, u"the updating text");
    EXPECT_EQ(row(id), (std::vector<std::u16string>{u"Lines", updating, u"", id}));
    EXPECT_EQ(row(other), (std::vector<std::u16string>{u"Other", u"-", u"0", other}));
    std::thread([&] { dialog.AsyncUpdateFinished(); }).join();
    TOrvoHostUIDriver::WaitUntil([&] { return row(id)[1] == u"-"; }, u"the date");

    // A real run ends with the date and the station count.
    FCatalog->EntriesUpdate(id);
    TOrvoHostUIDriver::WaitUntil([&] { return FCatalog->UpdateTask() == 0 && row(id)[2] == u"1"; },
                                 u"the count");
    EXPECT_NE(row(id)[1], u"-");
    EXPECT_NE(row(id)[1], updating);
}

TEST_F(ManagerDialog, ANotificationAfterClosingDoesNotTouchTheDialog) {
    TRegisteredProviders classes{&TTestLineProvider::Class()};
    Store(u"Lines", u"http://127.0.0.1:1/lines.txt");
    for (int round = 0; round < 20; ++round) {
        auto dialog = std::make_unique<TOrvoTunedexManagingDialog>(0, *FCatalog);
        std::thread notifier([&] {
            dialog->ProviderUpdateStarted(u"x");
            dialog->CatalogChanged();
            dialog->AsyncUpdateFinished();
        });
        notifier.join();
        dialog.reset();
        // The queued rebuilds run now, with the dialog gone.
        platform::PumpMainThreadUntil([] { return false; }, 5);
        // And the catalogue no longer knows it.
        FCatalog->Listeners().CatalogChanged();
        platform::PumpMainThreadUntil([] { return false; }, 5);
    }
    EXPECT_TRUE(FUI->Forms().empty());
}

// ---- the settings address

class SettingsAddress : public EditDialog {
protected:
    void SetUp() override {
        EditDialog::SetUp();
        FFileSystem = MakeInterfaced<TOrvoTunedexFakeFileSystem>(FCatalog->WeakRef());
        FFileSystems = TOrvoHostFileSystems::Create(*FCore);
        FCore->RegisterService(IOrvoServiceFileSystem::IID, FFileSystems);
        ASSERT_EQ(FCore->AddExtension(IOrvoServiceFileSystem::IID,
                                      static_cast<IOrvoFileSystemCommandOpenFileFolder*>(FFileSystem.get())),
                  S_OK);
    }
    void TearDown() override {
        FCore->ClearExtensions();
        EditDialog::TearDown();
    }
    ComPtr<TOrvoTunedexFakeFileSystem> FFileSystem;
    ComPtr<TOrvoHostFileSystems> FFileSystems;
};

TEST_F(SettingsAddress, OnlyTheExactAddressIsHandled) {
    struct Case {
        const char16_t* Name;
        HRESULT Result;
    };
    for (const Case& c :
         {Case{u"tunedex://settings", S_OK}, Case{u"Tunedex://settings", E_FAIL},
          Case{u"tunedex://Settings", E_FAIL}, Case{u"tunedex://settings/", E_FAIL},
          Case{u"tunedex://settings?x", E_FAIL}, Case{u"tunedex://", E_FAIL}, Case{u"", E_FAIL}}) {
        EXPECT_EQ(FFileSystem->CanHandle(ToHostString(c.Name).get()), c.Result) << ToUtf8(c.Name);
        // Handling a name refused shows nothing.
        EXPECT_EQ(FFileSystem->Handle(ToHostString(c.Name).get()) == S_OK, c.Result == S_OK)
            << ToUtf8(c.Name);
    }
    // The one accepted name showed the manager, and nothing else was shown.
    EXPECT_EQ(FUI->ModalHistory(), std::vector<std::u16string>{u"frmTunedexManager"});
    EXPECT_EQ(FFileSystem->CanHandle(nullptr), E_FAIL);
}

TEST_F(SettingsAddress, FollowingTheLinkOpensTheManagerOverTheMainWindow) {
    TRegisteredProviders classes{&TTestLineProvider::Class()};
    const std::u16string id = [&] {
        auto provider = TTestLineProvider::Class().Create(u"Listed", u"http://127.0.0.1:1/x.txt", 0);
        FCatalog->ProviderUpdate(provider.get(), u"");
        return provider->ID();
    }();
    std::vector<std::vector<std::u16string>> rows;
    FUI->WhenShownModally(u"frmTunedexManager", [&](TOrvoHostForm& form) {
        TOrvoHostUIDriver d(form);
        rows = d.Rows(d.TreeList());
        d.Press(u"B2");
    });
    EXPECT_EQ(FFileSystems->OpenLink(u"tunedex://settings"), S_OK);
    FUI->RethrowScriptError();
    EXPECT_EQ(rows, (std::vector<std::vector<std::u16string>>{{u"Listed", u"-", u"0", id}}));
    EXPECT_EQ(FFileSystems->OpenLink(u"tunedex://settings/"), E_FAIL);
    EXPECT_EQ(FUI->ModalHistory().size(), 1u);

    int32_t flags = 0;
    ComPtr<IOrvoPropertyList> properties = QueryAs<IOrvoExtensionFileSystem>(FFileSystem.get());
    ASSERT_TRUE(properties);
    ASSERT_EQ(properties->GetValueAsInt32(ORVO_FSP_FLAGS, &flags), S_OK);
    EXPECT_EQ(flags, 1) << "the names are commands, not files";
}

} // namespace
