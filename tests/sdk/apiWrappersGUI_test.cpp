#include "sdk/apiWrappersGUI.h"

#include "host/Orvo.Host.Core.h"
#include "host/Orvo.Host.MessageDispatcher.h"
#include "host/Orvo.Host.UI.Automation.h"
#include "host/Orvo.Host.UI.MessageDialog.h"
#include "host/Orvo.Host.UI.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct ITestExtra : IUnknown {
    static constexpr TGUID IID = OrvoTag("TestExtra");
    virtual int32_t ORVO_CALL Value() = 0;
};

class TExtra : public TOrvoInterfaces<TInterfacedObjectEx, ITestExtra> {
public:
    int32_t ORVO_CALL Value() override { return 7; }
};

// A host with the user-interface services, reached through the wrappers as the plug-in does.
class GuiHost : public ::testing::Test {
protected:
    void SetUp() override {
        FCore = TOrvoHostCore::Create(u"/nonexistent/profile");
        FUI = TOrvoHostUI::Create();
        FMessages = TOrvoHostMessageDialog::Create();
        FCore->RegisterService(IOrvoServiceUI::IID, FUI);
        FCore->RegisterService(IOrvoUIMessageDialog::IID, FMessages);
        FCore->RegisterService(IOrvoServiceMessageDispatcher::IID, TOrvoHostMessageDispatcher::Create(0x777));
        TOrvoAPIWrappers::Initialize(FCore.get());
    }
    void TearDown() override { TOrvoAPIWrappers::Finalize(); }

    ComPtr<TOrvoHostCore> FCore;
    ComPtr<TOrvoHostUI> FUI;
    ComPtr<TOrvoHostMessageDialog> FMessages;
};

TEST(UIEventAdapter, CallsTheSenderMethodThenTheOtherForChangesAndActions) {
    std::vector<std::string> calls;
    auto probe = MakeInterfaced<TExtra>();
    IUnknown* sender = static_cast<ITestExtra*>(probe.get());
    auto adapter = MakeInterfaced<TOrvoUINotifyEventAdapter>(
        [&](IUnknown* s) { calls.push_back(s == sender ? "event(sender)" : "event(other)"); },
        [&] { calls.push_back("event2"); });

    EXPECT_EQ(adapter.As<IOrvoUIChangeEvents>()->Changed(sender), S_OK);
    EXPECT_EQ(adapter.As<IOrvoActionEvent>()->Execute(sender), S_OK);
    EXPECT_EQ(calls, (std::vector<std::string>{"event(sender)", "event2", "event(sender)", "event2"}));

    // Either method may be missing.
    calls.clear();
    adapter->FEvent = nullptr;
    EXPECT_EQ(adapter->Changed(nullptr), S_OK);
    adapter->FEvent2 = nullptr;
    EXPECT_EQ(adapter->Execute(nullptr), S_OK);
    EXPECT_EQ(calls, std::vector<std::string>{"event2"});
}

TEST(UIEventAdapter, PassesQueriesItCannotAnswerToItsMaster) {
    auto master = MakeInterfaced<TExtra>();
    auto withMaster = MakeInterfaced<TOrvoUINotifyEventAdapter>(
        nullptr, nullptr, ComPtr<IUnknown>(static_cast<ITestExtra*>(master.get())));
    auto alone = MakeInterfaced<TOrvoUINotifyEventAdapter>(nullptr);

    // Its own interfaces come from itself, also with a master.
    EXPECT_EQ(withMaster.As<IOrvoActionEvent>().get(), static_cast<IOrvoActionEvent*>(withMaster.get()));
    ComPtr<ITestExtra> extra = withMaster.As<ITestExtra>();
    ASSERT_TRUE(extra);
    EXPECT_EQ(extra->Value(), 7);
    EXPECT_EQ(master->RefCount(), 3); // ours, the adapter's, and the answer's

    void* none = &none;
    EXPECT_EQ(static_cast<IOrvoUIChangeEvents*>(alone.get())->QueryInterface(ITestExtra::IID, &none),
              E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
}

TEST_F(GuiHost, AnErrorLeavingAHandlerIsShownAndAnsweredAsAFailure) {
    auto adapter = MakeInterfaced<TOrvoUINotifyEventAdapter>(
        [](IUnknown*) { throw Exception(u"Tunedex: catalog index out of bounds"); });
    EXPECT_EQ(adapter->Execute(nullptr), E_UNEXPECTED);
    const auto shown = FMessages->Messages();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].Text, u"Tunedex: catalog index out of bounds");
    EXPECT_EQ(shown[0].Owner, 0x777u);
    EXPECT_EQ(shown[0].Flags, ORVO_MSG_ICON_ERROR);
}

TEST(UIPlacement, SetsTheSizeAcrossTheAlignment) {
    struct Case {
        int32_t Alignment, Size, Width, Height;
    } cases[] = {
        {ORVO_UI_ALIGN_NONE, 50, 0, 0},     {ORVO_UI_ALIGN_TOP, 25, 0, 25},
        {ORVO_UI_ALIGN_BOTTOM, 25, 0, 25},  {ORVO_UI_ALIGN_LEFT, 160, 160, 0},
        {ORVO_UI_ALIGN_RIGHT, 100, 100, 0}, {ORVO_UI_ALIGN_CLIENT, 40, 40, 40},
    };
    for (const Case& c : cases) {
        const TOrvoUIPlacement p = UIPlacement(c.Alignment, c.Size);
        EXPECT_EQ(p.Alignment, c.Alignment);
        EXPECT_EQ(p.Bounds.Right - p.Bounds.Left, c.Width) << c.Alignment;
        EXPECT_EQ(p.Bounds.Bottom - p.Bounds.Top, c.Height) << c.Alignment;
        EXPECT_EQ(p.Margins.Left + p.Margins.Top + p.Margins.Right + p.Margins.Bottom, 12);
        EXPECT_EQ(p.Anchors.Left, 1);
        EXPECT_EQ(p.Anchors.Top, 1);
        EXPECT_EQ(p.Anchors.Right, 0);
        EXPECT_EQ(p.Anchors.Bottom, 0);
    }
    const TOrvoUIPlacement save = UIPlacement(ORVO_UI_ALIGN_BOTTOM, 25, UIMargins(360, 3, 3, 3));
    EXPECT_EQ(save.Margins.Left, 360);
    EXPECT_EQ(save.Margins.Bottom, 3);
}

// A small dialog built through the wrappers as the plug-in's dialogs are: a name box, a kind box
// with a help button, and a save button enabled once a name is given.
class TTestDialog {
public:
    explicit TTestDialog(TOrvoWindowHandle owner) {
        Form = UICreateForm(owner, u"frmTest");
        UISetConstraints(Form.get(), 480, 210);
        NameEdit = UICreateControl(Form.get(), nullptr, ORVO_UI_EDIT, {}, Handler([this](IUnknown*) {
                                       ++NameChanges;
                                       Validate();
                                   }));
        KindCombo = UICreateControlAs<IOrvoUIComboBox>(
            Form.get(), nullptr, ORVO_UI_COMBO, {}, Handler([this](IUnknown* sender) {
                KindSenderWasCombo = UISameObject(sender, KindCombo.get());
            }));
        UISetInt(KindCombo.get(), ORVO_UIP_COMBO_STYLE, 1);
        HelpButton = UIAddEditButton(KindCombo.get(), Handler([this](IUnknown*) { ++HelpPresses; }));
        UISetInt(HelpButton.get(), ORVO_UIP_GLYPH, 10);
        for (const char16_t* kind : {u"Country", u"Language", u"Tag"})
            UIComboAdd(KindCombo.get(), kind);
        UISetInt(KindCombo.get(), ORVO_UIP_ITEM_INDEX, 0);
        SaveButton = UICreateControl(Form.get(), nullptr, ORVO_UI_BUTTON, u"B1", Handler([this](IUnknown*) {
                                         Saved = UIGetText(NameEdit.get(), ORVO_UIP_TEXT);
                                         if (Saved == u"fail")
                                             UIShowMessage(UIWindowHandle(Form.get()), u"Test",
                                                           u"Cannot save", ORVO_MSG_ICON_WARNING);
                                         else
                                             UICloseForm(Form.get());
                                     }));
        UISetPlacement(SaveButton.get(), UIPlacement(ORVO_UI_ALIGN_BOTTOM, 25, UIMargins(360, 3, 3, 3)));
        Validate();
    }
    ~TTestDialog() { UIDisposeForm(Form.get()); }

    void Validate() {
        UISetBool(SaveButton.get(), ORVO_UIP_ENABLED, !UIGetText(NameEdit.get(), ORVO_UIP_TEXT).empty());
    }

    ComPtr<IUnknown> Handler(TOrvoUINotifyEvent event) { return UINotifyEvent(std::move(event)); }

    ComPtr<IOrvoUIForm> Form;
    ComPtr<IOrvoUIControl> NameEdit, HelpButton, SaveButton;
    ComPtr<IOrvoUIComboBox> KindCombo;
    int NameChanges = 0, HelpPresses = 0;
    bool KindSenderWasCombo = false;
    std::u16string Saved;
};

TEST_F(GuiHost, ADialogBuiltThroughTheWrappersIsUsedAsAPersonUsesIt) {
    TTestDialog dialog(0x10000);
    ASSERT_TRUE(dialog.SaveButton);
    EXPECT_FALSE(dialog.Form.As<IOrvoPropertyList>() == nullptr);

    int32_t modalResult = -1;
    FUI->WhenShownModally(u"frmTest", [&](TOrvoHostForm& form) {
        TOrvoHostUIDriver driver(form);
        TOrvoHostControl& name = driver.Find(ORVO_UI_EDIT);
        TOrvoHostControl& kind = driver.Find(ORVO_UI_COMBO);
        EXPECT_FALSE(driver.Enabled(driver.Find(u"B1")));
        EXPECT_THROW(driver.Press(u"B1"), EInvalidOperation);
        EXPECT_TRUE(dialog.Saved.empty());

        driver.Type(name, u"Jazz");
        EXPECT_EQ(dialog.NameChanges, 1);
        EXPECT_TRUE(driver.Enabled(driver.Find(u"B1")));

        EXPECT_THROW(driver.Type(kind, u"Anything"), EInvalidOperation); // a list-only box
        driver.Pick(kind, u"Tag");
        EXPECT_TRUE(dialog.KindSenderWasCombo);
        EXPECT_EQ(UIGetInt(dialog.KindCombo.get(), ORVO_UIP_ITEM_INDEX), 2);
        EXPECT_EQ(UIGetText(dialog.KindCombo.get(), ORVO_UIP_COMBO_TEXT), u"Tag");
        driver.PressEditButton(kind);
        EXPECT_EQ(dialog.HelpPresses, 1);

        driver.Type(name, u"fail");
        driver.Press(u"B1");
        EXPECT_TRUE(form.Showing()); // the message leaves the form open

        driver.Type(name, u"Jazz radio");
        driver.Press(u"B1");
        EXPECT_FALSE(form.Showing());
    });
    modalResult = UIShowModal(dialog.Form.get());
    FUI->RethrowScriptError();
    EXPECT_EQ(modalResult, ORVO_UI_MODAL_CANCEL);
    EXPECT_EQ(dialog.Saved, u"Jazz radio");
    EXPECT_EQ(FUI->PendingScripts(), 0u);

    const auto shown = FMessages->Messages();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].Caption, u"Test");
    EXPECT_EQ(shown[0].Text, u"Cannot save");
    EXPECT_EQ(shown[0].Flags, 48);
    EXPECT_EQ(shown[0].Owner, UIWindowHandle(dialog.Form.get()));
    EXPECT_NE(shown[0].Owner, 0u);

    TOrvoUIPlacement placement;
    ASSERT_EQ(dialog.SaveButton->GetPlacement(&placement), S_OK);
    EXPECT_EQ(placement.Alignment, ORVO_UI_ALIGN_BOTTOM);
    EXPECT_EQ(placement.Margins.Left, 360);
    EXPECT_EQ(UIGetInt(dialog.HelpButton.get(), ORVO_UIP_GLYPH), 10);
}

TEST_F(GuiHost, HelpersRaiseWhereTheHostRefuses) {
    TTestDialog dialog(0);
    EXPECT_THROW(UISetInt(dialog.KindCombo.get(), ORVO_UIP_ITEM_INDEX, 3), Exception);
    EXPECT_THROW(UIComboItem(dialog.KindCombo.get(), 5), Exception);
    EXPECT_EQ(UIComboItem(dialog.KindCombo.get(), 1), u"Language");
    EXPECT_THROW(UIComboAdd(dialog.NameEdit.get(), u"x"), EInvalidOperation); // an edit box has no list
    EXPECT_EQ(UIGetInt(dialog.NameEdit.get(), 99, -5), -5);
    EXPECT_EQ(UIGetText(nullptr, ORVO_UIP_TEXT), u"");
    EXPECT_THROW(UICreateControl(dialog.Form.get(), nullptr, OrvoTag("auiNoSuchKind")), Exception);
}

} // namespace
