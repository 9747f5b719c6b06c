#include "plugin/Orvo.Tunedex.Plugin.Menus.h"

#include "host/Orvo.Host.Core.h"
#include "host/Orvo.Host.Menus.h"
#include "host/Orvo.Host.MessageDispatcher.h"
#include "host/Orvo.Host.MusicLibrary.Objects.h"
#include "host/Orvo.Host.MusicLibrary.UI.h"
#include "host/Orvo.Host.UI.Automation.h"
#include "host/Orvo.Host.UI.h"
#include "plugin/Orvo.Tunedex.Plugin.ML.h"
#include "tests/TestSupport.h"
#include "tests/plugin/Orvo.Tunedex.TestProvider.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

// The test body is the main thread; refreshes run on the dispatcher and are waited for through
// the host's loop.

using testsupport::TRegisteredProviders;
using testsupport::TTestLineProvider;

namespace {

// A music library whose current storage the test chooses.
class TSwitchableMusicLibrary : public TOrvoInterfaces<TInterfacedObjectEx, IOrvoServiceMusicLibrary> {
public:
    HRESULT ORVO_CALL ActiveStorage(const TGUID& iid, void** storage) override {
        if (!storage)
            return E_INVALIDARG;
        *storage = nullptr;
        return Current ? Current->QueryInterface(iid, storage) : E_FAIL;
    }
    ComPtr<IUnknown> Current;
};

// Another plug-in's storage: a property list that is no station catalogue.
class TOtherStorage : public TOrvoPropertyList {};

struct TState {
    bool Enabled, Visible;
    bool operator==(const TState&) const = default;
};
constexpr TState Hidden{false, false};
constexpr TState Shown{true, true};
constexpr TState Greyed{false, true};

class TunedexMenus : public ::testing::Test {
protected:
    void SetUp() override {
        FCore = TOrvoHostCore::Create(u"/nonexistent/profile");
        RegisterMusicLibraryObjects(*FCore);
        FMenus = TOrvoHostMenus::Create(*FCore);
        FCore->RegisterService(IOrvoServiceMenuManager::IID, FMenus);
        FLibraryUI = TOrvoHostMusicLibraryUI::Create();
        FCore->RegisterService(IOrvoServiceMusicLibraryUI::IID, FLibraryUI);
        FLibrary = MakeInterfaced<TSwitchableMusicLibrary>();
        FCore->RegisterService(IOrvoServiceMusicLibrary::IID, FLibrary);
        FUI = TOrvoHostUI::Create();
        FCore->RegisterService(IOrvoServiceUI::IID, FUI);
        FCore->RegisterService(IOrvoServiceMessageDispatcher::IID, TOrvoHostMessageDispatcher::Create(0x777));
        TOrvoAPIWrappers::Initialize(FCore.get());
        FCatalog = std::make_unique<TOrvoStationCatalog>(FFolder.File("Tunedex.db"));
        FStorage = MakeInterfaced<TOrvoTunedexMusicLibraryExtension>(FCatalog->WeakRef());
        FLibrary->Current = QueryAs<IUnknown>(static_cast<IOrvoMLStationCatalog*>(FStorage.get()));
        RegisterTunedexMenuItems();
    }
    void TearDown() override {
        FCore->ClearExtensions();
        FStorage->Detach();
        FCatalog.reset();
        TOrvoAPIWrappers::Finalize();
    }

    // The three items' states as the menu is shown: RefreshCatalogs, RefreshCatalog, Edit.
    std::vector<TState> Show() {
        std::vector<TState> states;
        for (const TOrvoHostMenuEntry& entry : FMenus->Show(ORVO_MENU_MUSIC_LIBRARY))
            states.push_back({entry.Enabled, entry.Visible});
        return states;
    }

    // Stores a catalogue of the line provider over a document of one station.
    void AddCatalogue(const std::u16string& title, const std::string& station) {
        const std::u16string path = FFolder.File(ToUtf8(title) + ".txt");
        std::ofstream(ToUtf8(path)) << station << "|http://127.0.0.1:1/" << station << "\n";
        auto provider = TTestLineProvider::Class().Create(title, path, 0);
        FCatalog->ProviderUpdate(provider.get(), u"");
    }

    // Waits until no refresh runs.
    void WaitForRefresh() {
        TOrvoHostUIDriver::WaitUntil([&] { return FCatalog->UpdateTask() == 0; }, u"the refresh");
    }

    std::vector<std::u16string> StationNames() {
        std::vector<std::u16string> names;
        for (const char16_t* name : {u"jazz", u"rock"}) {
            TOrvoRadioStationInfo info;
            if (FCatalog->FindEntry(u"Name", name, info))
                names.push_back(info.Name);
        }
        return names;
    }

    testsupport::TScopedFolder FFolder;
    ComPtr<TOrvoHostCore> FCore;
    ComPtr<TOrvoHostMenus> FMenus;
    ComPtr<TOrvoHostMusicLibraryUI> FLibraryUI;
    ComPtr<TSwitchableMusicLibrary> FLibrary;
    ComPtr<TOrvoHostUI> FUI;
    std::unique_ptr<TOrvoStationCatalog> FCatalog;
    ComPtr<TOrvoTunedexMusicLibraryExtension> FStorage;
};

TEST_F(TunedexMenus, ThreeItemsInTheLibraryMenuSharingOneOnShowEvent) {
    const auto entries = FMenus->Show(ORVO_MENU_MUSIC_LIBRARY);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].ID, u"Orvo.Tunedex.Actions.RefreshCatalogs");
    EXPECT_EQ(entries[1].ID, u"Orvo.Tunedex.Actions.RefreshCatalog");
    EXPECT_EQ(entries[2].ID, u"Orvo.Tunedex.Actions.Edit");
    // Only the first item carries the controller; the plug-in names none of them.
    EXPECT_TRUE(ReadObjectProp(FMenus->Item(TUNEDEX_ACTION_REFRESH_CATALOGS).get(), ORVO_MIP_ON_SHOW));
    EXPECT_FALSE(ReadObjectProp(FMenus->Item(TUNEDEX_ACTION_REFRESH_CATALOG).get(), ORVO_MIP_ON_SHOW));
    EXPECT_FALSE(ReadObjectProp(FMenus->Item(TUNEDEX_ACTION_EDIT).get(), ORVO_MIP_ON_SHOW));
    EXPECT_EQ(ReadTextProp(FMenus->Item(TUNEDEX_ACTION_EDIT).get(), ORVO_MIP_CAPTION), u"");

    // A second registration finds the identifiers taken.
    try {
        RegisterTunedexMenuItems();
        FAIL() << "registered twice";
    } catch (const EInvalidInsert& e) {
        EXPECT_EQ(ExceptionMessage(e), u"The Orvo.Tunedex.Actions.RefreshCatalogs ID is already registered");
    }
    EXPECT_EQ(FMenus->Show(ORVO_MENU_MUSIC_LIBRARY).size(), 3u);
}

TEST_F(TunedexMenus, StatesFollowTheStorageTheCatalogueAndTheTreeSelection) {
    TRegisteredProviders classes{&TTestLineProvider::Class()};
    // The catalogue is empty: nothing to refresh yet, but the manager opens.
    EXPECT_EQ(Show(), (std::vector<TState>{Greyed, Hidden, Shown}));
    // A selection of another field is no catalogue.
    FLibraryUI->SelectGroupingNode({{u"Genre", u"jazz"}});
    EXPECT_EQ(Show(), (std::vector<TState>{Greyed, Hidden, Shown}));
    // Field names are matched exactly.
    FLibraryUI->SelectGroupingNode({{u"provider", u"Jazz"}});
    EXPECT_EQ(Show(), (std::vector<TState>{Greyed, Hidden, Shown}));
    // A catalogue selected below another level is found.
    FLibraryUI->SelectGroupingNode({{u"Genre", u"jazz"}, {u"Provider", u"Jazz"}});
    EXPECT_EQ(Show(), (std::vector<TState>{Greyed, Shown, Shown}));

    TOrvoRadioStationInfo station;
    station.Name = u"one";
    station.FileName = u"http://a/1";
    FCatalog->AddEntry(station, u"p1");
    EXPECT_EQ(Show(), (std::vector<TState>{Shown, Shown, Shown}));
    FLibraryUI->SelectGroupingNode({});
    EXPECT_EQ(Show(), (std::vector<TState>{Shown, Hidden, Shown}));

    // Another storage in the library hides everything, selection or not.
    FLibraryUI->SelectGroupingNode({{u"Provider", u"Jazz"}});
    FLibrary->Current = QueryAs<IUnknown>(MakeInterfaced<TOtherStorage>().get());
    EXPECT_EQ(Show(), (std::vector<TState>{Hidden, Hidden, Hidden}));
    FLibrary->Current.Reset();
    EXPECT_EQ(Show(), (std::vector<TState>{Hidden, Hidden, Hidden}));
}

TEST_F(TunedexMenus, RefreshingTheSelectedOrEveryCatalogue) {
    TRegisteredProviders classes{&TTestLineProvider::Class()};
    AddCatalogue(u"Jazz", "jazz");
    AddCatalogue(u"Rock", "rock");
    FLibraryUI->SelectGroupingNode({{u"Provider", u"Jazz"}});
    Show();
    ASSERT_EQ(FMenus->Choose(TUNEDEX_ACTION_REFRESH_CATALOG), S_OK);
    WaitForRefresh();
    EXPECT_EQ(StationNames(), std::vector<std::u16string>{u"jazz"});

    FLibraryUI->SelectGroupingNode({});
    Show();
    EXPECT_EQ(FMenus->Choose(TUNEDEX_ACTION_REFRESH_CATALOG), E_FAIL) << "a hidden item is not chosen";
    ASSERT_EQ(FMenus->Choose(TUNEDEX_ACTION_REFRESH_CATALOGS), S_OK);
    WaitForRefresh();
    EXPECT_EQ(StationNames(), (std::vector<std::u16string>{u"jazz", u"rock"}));
}

TEST_F(TunedexMenus, CommandsDoNothingOnceTheStorageIsNotShown) {
    TRegisteredProviders classes{&TTestLineProvider::Class()};
    AddCatalogue(u"Jazz", "jazz");
    FLibraryUI->SelectGroupingNode({{u"Provider", u"Jazz"}});
    Show();
    // The library switches storage after the menu was shown: the commands find no catalogue.
    FLibrary->Current = QueryAs<IUnknown>(MakeInterfaced<TOtherStorage>().get());
    EXPECT_EQ(FMenus->Choose(TUNEDEX_ACTION_REFRESH_CATALOG), S_OK);
    EXPECT_EQ(FMenus->Choose(TUNEDEX_ACTION_EDIT), S_OK);
    EXPECT_EQ(FCatalog->UpdateTask(), TaskHandle(0));
    EXPECT_TRUE(FUI->ModalHistory().empty());
    // A detached storage (the plug-in finalised) has no catalogue either.
    FLibrary->Current = QueryAs<IUnknown>(static_cast<IOrvoMLStationCatalog*>(FStorage.get()));
    FStorage->Detach();
    EXPECT_EQ(Show(), (std::vector<TState>{Hidden, Hidden, Hidden}));
}

TEST_F(TunedexMenus, EditOpensTheManager) {
    Show();
    FUI->WhenShownModally(u"frmTunedexManager",
                          [](TOrvoHostForm& form) { TOrvoHostUIDriver(form).CloseForm(); });
    EXPECT_EQ(FMenus->Choose(TUNEDEX_ACTION_EDIT), S_OK);
    FUI->RethrowScriptError();
    EXPECT_EQ(FUI->ModalHistory(), std::vector<std::u16string>{u"frmTunedexManager"});
}

TEST_F(TunedexMenus, GlyphsFollowTheMenuResolution) {
    struct Case {
        int32_t DPI, Size;
    };
    for (const Case c : {Case{96, 16}, Case{72, 16}, Case{120, 16}, Case{144, 24}, Case{168, 24},
                         Case{192, 32}, Case{288, 32}}) {
        FCore->ClearExtensions();
        FMenus->SetDPI(c.DPI);
        RegisterTunedexMenuItems();
        for (const TOrvoHostMenuEntry& entry : FMenus->Show(ORVO_MENU_MUSIC_LIBRARY)) {
            EXPECT_EQ(entry.GlyphWidth, c.Size) << c.DPI << " " << ToUtf8(entry.ID);
            EXPECT_EQ(entry.GlyphHeight, c.Size) << c.DPI << " " << ToUtf8(entry.ID);
        }
    }
}

} // namespace
