#include "sdk/apiWrappersMenus.h"

#include "host/Orvo.Host.Core.h"
#include "host/Orvo.Host.Menus.h"
#include "host/Orvo.Host.MusicLibrary.Objects.h"
#include "host/Orvo.Host.MusicLibrary.UI.h"
#include "host/Orvo.Host.String.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A controller whose availability the test sets; it counts how often the menu was shown.
class TTestController : public TOrvoUICustomMenuItemController {
public:
    bool Available = true;
    int Shown = 0;

protected:
    bool CalculateIsAvailable() override {
        ++Shown;
        return Available;
    }
};

class TTestItem : public TOrvoUICustomMenuItem {
public:
    explicit TTestItem(ComPtr<IOrvoUIMenuItemController> controller)
        : TOrvoUICustomMenuItem(std::move(controller)) {}
    std::u16string Glyph;
    int Runs = 0;

protected:
    std::u16string GetGlyphName() override { return Glyph; }
    void Execute() override { ++Runs; }
};

class TTestLibraryController : public TOrvoUIMusicLibraryBasedMenuItemController {};

class MenuWrappers : public ::testing::Test {
protected:
    void SetUp() override {
        FCore = TOrvoHostCore::Create(u"/nonexistent/profile");
        RegisterMusicLibraryObjects(*FCore);
        FMenus = TOrvoHostMenus::Create(*FCore);
        FCore->RegisterService(IOrvoServiceMenuManager::IID, FMenus);
        FLibraryUI = TOrvoHostMusicLibraryUI::Create();
        FCore->RegisterService(IOrvoServiceMusicLibraryUI::IID, FLibraryUI);
        TOrvoAPIWrappers::Initialize(FCore.get());
        FController = MakeInterfaced<TTestController>();
    }
    void TearDown() override {
        FCore->ClearExtensions();
        TOrvoAPIWrappers::Finalize();
    }

    ComPtr<TTestItem> Item(std::u16string_view id, const TOrvoMenuParent& parent = ORVO_MENU_MUSIC_LIBRARY) {
        ComPtr<TTestItem> item = MakeInterfaced<TTestItem>(FController);
        item->Register(id, parent);
        return item;
    }

    template <typename E> static std::u16string Raised(const std::function<void()>& action) {
        try {
            action();
        } catch (const E& e) {
            return ExceptionMessage(e);
        }
        return u"(nothing raised)";
    }

    ComPtr<TOrvoHostCore> FCore;
    ComPtr<TOrvoHostMenus> FMenus;
    ComPtr<TOrvoHostMusicLibraryUI> FLibraryUI;
    ComPtr<TTestController> FController;
};

TEST_F(MenuWrappers, RegistrationRefusesWhatWouldConfuseTheHost) {
    ComPtr<TTestItem> first = Item(u"Test.First");
    EXPECT_EQ(first->ID(), u"Test.First");
    EXPECT_EQ(Raised<EInvalidInsert>([&] { first->Register(u"Test.Other", ORVO_MENU_MUSIC_LIBRARY); }),
              u"The instance is already registered as handler for Test.First menu");
    EXPECT_EQ(Raised<EInvalidInsert>([&] { Item(u"Test.First"); }),
              u"The Test.First ID is already registered");
    EXPECT_EQ(Raised<EArgumentError>([&] { Item(u""); }), u"Cannot register menu item without ID");
    // The host has no menu 81: its result code, in decimal.
    EXPECT_EQ(Raised<Exception>([&] { Item(u"Test.Lost", 81); }), u"-2147024809");
    EXPECT_EQ(Raised<Exception>([&] { Item(u"Test.Orphan", std::u16string(u"Test.Missing")); }),
              u"-2147467259");
    EXPECT_EQ(FMenus->Show(ORVO_MENU_MUSIC_LIBRARY).size(), 1u);

    // A parent named by identifier is that item.
    Item(u"Test.Child", std::u16string(u"Test.First"));
    EXPECT_EQ(ReadObjectProp(FMenus->Item(u"Test.Child").get(), ORVO_MIP_PARENT),
              QueryAs<IUnknown>(FMenus->Item(u"Test.First").get()));
}

TEST_F(MenuWrappers, WithoutAMenuManagerNothingIsRegistered) {
    FCore->UnregisterService(IOrvoServiceMenuManager::IID);
    ComPtr<TTestItem> item = Item(u"Test.First");
    EXPECT_EQ(item->ID(), u"");
    EXPECT_TRUE(FCore->Extensions(IOrvoServiceMenuManager::IID).empty());
    EXPECT_FALSE(FindMenuItem(u"Test.First"));
}

TEST_F(MenuWrappers, TheFirstItemCarriesTheOnShowEventThatUpdatesThemAll) {
    ComPtr<TTestItem> first = Item(u"Test.First");
    ComPtr<TTestItem> second = Item(u"Test.Second");
    EXPECT_EQ(ReadObjectProp(FMenus->Item(u"Test.First").get(), ORVO_MIP_ON_SHOW),
              QueryAs<IUnknown>(static_cast<IOrvoUIMenuItemController*>(FController.get())));
    EXPECT_FALSE(ReadObjectProp(FMenus->Item(u"Test.Second").get(), ORVO_MIP_ON_SHOW));

    FController->Available = false;
    for (const TOrvoHostMenuEntry& entry : FMenus->Show(ORVO_MENU_MUSIC_LIBRARY)) {
        EXPECT_FALSE(entry.Enabled) << ToUtf8(entry.ID);
        EXPECT_FALSE(entry.Visible) << ToUtf8(entry.ID);
    }
    EXPECT_EQ(FController->Shown, 1) << "one event for the menu";
    EXPECT_EQ(FMenus->Choose(u"Test.First"), E_FAIL);
    FController->Available = true;
    for (const TOrvoHostMenuEntry& entry : FMenus->Show(ORVO_MENU_MUSIC_LIBRARY))
        EXPECT_TRUE(entry.Enabled && entry.Visible) << ToUtf8(entry.ID);
    EXPECT_EQ(FMenus->Choose(u"Test.Second"), S_OK);
    EXPECT_EQ(second->Runs, 1);
    EXPECT_EQ(first->Runs, 0);

    // Items the host let go are no longer updated.
    first = nullptr;
    second = nullptr;
    FCore->ClearExtensions();
    FController->Refresh();
}

TEST_F(MenuWrappers, GlyphsAreLoadedAtTheMenusResolution) {
    struct Case {
        int32_t DPI;
        const char16_t* Resource;
        int32_t Size;
    };
    for (const Case& c :
         {Case{96, u"MenuIcon", 16}, Case{119, u"MenuIcon", 16}, Case{120, u"MenuIcon", 16},
          Case{143, u"MenuIcon", 16}, Case{144, u"MenuIcon144", 24}, Case{191, u"MenuIcon144", 24},
          Case{192, u"MenuIcon192", 32}, Case{480, u"MenuIcon192", 32}}) {
        EXPECT_EQ(ScaledGlyphName(u"MenuIcon", c.DPI), c.Resource) << c.DPI;
        FCore->ClearExtensions();
        FMenus->SetDPI(c.DPI);
        ComPtr<TTestItem> item = MakeInterfaced<TTestItem>(FController);
        item->Glyph = u"MenuIcon";
        item->Register(u"Test.Glyph", ORVO_MENU_MUSIC_LIBRARY);
        const auto entries = FMenus->Show(ORVO_MENU_MUSIC_LIBRARY);
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].GlyphWidth, c.Size) << c.DPI;
    }
    // Only the plain size exists: every resolution gets it.
    EXPECT_EQ(ScaledGlyphName(u"Glyph", 192), u"Glyph");

    // A glyph that cannot be loaded leaves the one the item had.
    FCore->ClearExtensions();
    FMenus->SetDPI(96);
    ComPtr<TTestItem> item = MakeInterfaced<TTestItem>(FController);
    item->Glyph = u"MenuIcon";
    item->Register(u"Test.Glyph", ORVO_MENU_MUSIC_LIBRARY);
    FMenus->Show(ORVO_MENU_MUSIC_LIBRARY);
    item->Glyph = u"Glyph"; // a truncated image
    EXPECT_EQ(FMenus->Show(ORVO_MENU_MUSIC_LIBRARY)[0].GlyphWidth, 16);
    item->Glyph = u"Missing";
    EXPECT_EQ(FMenus->Show(ORVO_MENU_MUSIC_LIBRARY)[0].GlyphWidth, 16);
}

TEST_F(MenuWrappers, TheLibraryControllerGathersTheSelectedFiles) {
    ComPtr<TTestLibraryController> controller = MakeInterfaced<TTestLibraryController>();
    ComPtr<TTestItem> item = MakeInterfaced<TTestItem>(controller);
    item->Register(u"Test.Files", ORVO_MENU_MUSIC_LIBRARY);
    FLibraryUI->SelectFiles({u"http://a/1", u"http://Ä/2", u"http://a/3"}, u"HTTP://ä/2");
    FMenus->Show(ORVO_MENU_MUSIC_LIBRARY);
    TOrvoFileList& files = controller->Files();
    EXPECT_TRUE(controller->IsAvailable());
    EXPECT_EQ(files.Items(), (std::vector<std::u16string>{u"http://a/1", u"http://Ä/2", u"http://a/3"}));
    EXPECT_EQ(files.FocusIndex(), 1) << "names compare without regard to case";

    // The list is gathered afresh each time; a focus outside the selection marks nothing.
    FLibraryUI->SelectFiles({u"x"}, u"y");
    FMenus->Show(ORVO_MENU_MUSIC_LIBRARY);
    EXPECT_EQ(files.Items(), std::vector<std::u16string>{u"x"});
    EXPECT_EQ(files.FocusIndex(), -1);

    FCore->UnregisterService(IOrvoServiceMusicLibraryUI::IID);
    FMenus->Show(ORVO_MENU_MUSIC_LIBRARY);
    EXPECT_EQ(files.Count(), 0);
}

TEST_F(MenuWrappers, GroupingTreeSelectionIsTheFirstConditionOnTheField) {
    std::u16string value = u"stale";
    EXPECT_FALSE(TOrvoUIMusicLibraryBasedMenuItemController::GetGroupingTreeSelection(u"Provider", value));
    EXPECT_EQ(value, u"");
    FLibraryUI->SelectGroupingNode({{u"Genre", u"jazz"}, {u"Provider", u"Smooth"}, {u"Provider", u"Later"}});
    EXPECT_TRUE(TOrvoUIMusicLibraryBasedMenuItemController::GetGroupingTreeSelection(u"Provider", value));
    EXPECT_EQ(value, u"Smooth");
    EXPECT_FALSE(TOrvoUIMusicLibraryBasedMenuItemController::GetGroupingTreeSelection(u"provider", value));

    // Depth first: a group's conditions come before the conditions that follow the group.
    ComPtr<IOrvoMLFilterGroup> top = NewHostObject<IOrvoMLFilterGroup>();
    ComPtr<IOrvoMLFilterGroup> nested = NewHostObject<IOrvoMLFilterGroup>();
    const auto condition = [](std::u16string_view field, std::u16string_view text, bool asDataField) {
        ComPtr<IOrvoMLFieldFilter> c = NewHostObject<IOrvoMLFieldFilter>();
        if (asDataField) {
            ComPtr<IOrvoMLDataField> f = NewHostObject<IOrvoMLDataField>();
            WriteTextProp(f.get(), ORVO_ML_FIELD_NAME, field);
            WriteObjectProp(c.get(), ORVO_ML_CONDITION_FIELD, f.get());
        } else {
            // A plain field name is no grouping level.
            WriteTextProp(c.get(), ORVO_ML_CONDITION_FIELD, field);
        }
        WriteTextProp(c.get(), ORVO_ML_CONDITION_VALUE1, text);
        return QueryAs<IUnknown>(c.get());
    };
    top->Add(condition(u"Provider", u"plain name", false).get());
    nested->Add(condition(u"Provider", u"nested", true).get());
    top->Add(QueryAs<IUnknown>(nested.get()).get());
    top->Add(condition(u"Provider", u"after", true).get());
    FLibraryUI->SetGroupingTreeFilter(top);
    EXPECT_TRUE(TOrvoUIMusicLibraryBasedMenuItemController::GetGroupingTreeSelection(u"Provider", value));
    EXPECT_EQ(value, u"nested");
}

} // namespace
