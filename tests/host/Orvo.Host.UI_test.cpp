#include "host/Orvo.Host.Core.h"
#include "host/Orvo.Host.String.h"
#include "host/Orvo.Host.UI.Automation.h"
#include "host/Orvo.Host.UI.h"
#include "platform/Platform.Threads.h"
#include "sdk/apiWrappersGUI.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

namespace {

// Counts the events a control raises and how many adapters are alive.
std::atomic<int> GHandlersAlive{0};

class TCounter : public TOrvoInterfaces<TInterfacedObjectEx, IOrvoUIChangeEvents, IOrvoActionEvent,
                                        IOrvoUITreeListEvents> {
public:
    TCounter() { ++GHandlersAlive; }
    ~TCounter() override { --GHandlersAlive; }
    HRESULT ORVO_CALL Changed(IUnknown*) override { return Note("changed"); }
    HRESULT ORVO_CALL Execute(IUnknown*) override { return Note("action"); }
    HRESULT ORVO_CALL ColumnClick(IUnknown*, int32_t) override { return Note("column"); }
    HRESULT ORVO_CALL NodeExpanded(IUnknown*, IOrvoUITreeListNode*) override { return Note("expanded"); }
    HRESULT ORVO_CALL NodeCollapsed(IUnknown*, IOrvoUITreeListNode*) override { return Note("collapsed"); }
    HRESULT ORVO_CALL NodeClick(IUnknown*, IOrvoUITreeListNode*) override { return Note("click"); }
    HRESULT ORVO_CALL NodeDblClick(IUnknown*, IOrvoUITreeListNode* node) override {
        LastNode = node ? UITreeNodeValue(node, 0) : u"(none)";
        return Note("open");
    }
    HRESULT ORVO_CALL SelectionChanged(IUnknown*) override { return Note("selection"); }
    HRESULT ORVO_CALL ContextPopup(IUnknown*, IOrvoUITreeListNode*) override { return Note("popup"); }
    HRESULT ORVO_CALL KeyPress(IUnknown*, uint32_t) override { return Note("key"); }

    std::string Take() { return std::exchange(FLog, {}); }
    std::u16string LastNode;
    HRESULT Answer = S_OK;

private:
    HRESULT Note(const char* what) {
        FLog += FLog.empty() ? what : std::string(" ") + what;
        return Answer;
    }
    std::string FLog;
};

class HostUI : public ::testing::Test {
protected:
    void SetUp() override {
        FCore = TOrvoHostCore::Create(u"/nonexistent/profile");
        FUI = TOrvoHostUI::Create([](std::u16string_view key) -> std::u16string {
            if (key == u"frmT\\Caption")
                return u"Test form";
            if (key == u"frmT\\B1")
                return u"Save";
            return {};
        });
        FCore->RegisterService(IOrvoServiceUI::IID, FUI);
        TOrvoAPIWrappers::Initialize(FCore.get());
        FForm = UICreateForm(0x10000, u"frmT");
    }
    void TearDown() override {
        UIDisposeForm(FForm.get());
        FForm.Reset();
        TOrvoAPIWrappers::Finalize();
    }
    TOrvoHostForm& ModelForm() { return *FUI->FindForm(u"frmT"); }

    ComPtr<TOrvoHostCore> FCore;
    ComPtr<TOrvoHostUI> FUI;
    ComPtr<IOrvoUIForm> FForm;
};

TEST_F(HostUI, NamesCaptionsAndHandlesComeFromTheHost) {
    auto button = UICreateControl(FForm.get(), nullptr, ORVO_UI_BUTTON, u"B1");
    auto other = UICreateControl(FForm.get(), nullptr, ORVO_UI_BUTTON, u"B9");
    auto box = UICreateControl(FForm.get(), nullptr, ORVO_UI_GROUP_BOX, u"G1");
    EXPECT_EQ(UIGetText(FForm.get(), ORVO_UIP_CAPTION), u"Test form");
    EXPECT_EQ(UIGetText(button.get(), ORVO_UIP_CAPTION), u"Save");
    EXPECT_EQ(UIGetText(other.get(), ORVO_UIP_CAPTION), u"");
    EXPECT_NE(UIWindowHandle(FForm.get()), 0u);
    EXPECT_NE(UIWindowHandle(box.get()), UIWindowHandle(FForm.get()));
    EXPECT_EQ(UIWindowHandle(button.get()), 0u); // a button has no window of its own
    EXPECT_EQ(ModelForm().OwnerWindow(), 0x10000u);

    // Controls nest only in windowed controls of the same form.
    auto inner = UICreateControl(FForm.get(), box.get(), ORVO_UI_EDIT);
    EXPECT_EQ(QueryAs<IOrvoUIWinControl>(box.get())->ControlCount(), 1);
    EXPECT_THROW(UICreateControl(FForm.get(), button.get(), ORVO_UI_EDIT), Exception);
    auto foreign = UICreateForm(0, u"frmOther");
    EXPECT_THROW(UICreateControl(foreign.get(), box.get(), ORVO_UI_EDIT), Exception);
    UIDisposeForm(foreign.get());
    EXPECT_THROW(UICreateControl(foreign.get(), nullptr, ORVO_UI_EDIT), Exception);

    // Creation order, edit buttons after their box.
    auto combo = UICreateControl(FForm.get(), nullptr, ORVO_UI_COMBO);
    UIAddEditButton(combo.get(), nullptr);
    TOrvoHostUIDriver driver(ModelForm());
    EXPECT_EQ(&driver.At(0), &driver.Find(u"B1"));
    EXPECT_EQ(driver.At(3).Kind(), ORVO_UI_EDIT);
    EXPECT_EQ(driver.At(5).Kind(), ORVO_UI_EDIT_BUTTON);
    EXPECT_THROW(driver.At(6), EArgumentError);
    EXPECT_THROW(driver.Find(u"B7"), EArgumentError);
}

TEST_F(HostUI, PropertiesPlacementsAndConstraintsAreKeptAndChecked) {
    auto panel = UICreateControl(FForm.get(), nullptr, ORVO_UI_PANEL);
    UISetInt(panel.get(), ORVO_UIP_BORDER, 0);
    UISetInt(panel.get(), ORVO_UIP_AUTOSIZE, 1);
    EXPECT_EQ(UIGetInt(panel.get(), ORVO_UIP_BORDER, -1), 0);
    EXPECT_EQ(UIGetInt(panel.get(), ORVO_UIP_AUTOSIZE, -1), 1);
    EXPECT_EQ(UIGetInt(panel.get(), ORVO_UIP_PADDING, -1), -1); // never set
    EXPECT_EQ(UIGetInt(panel.get(), ORVO_UIP_ENABLED, -1), 1);
    UISetInt(panel.get(), ORVO_UIP_VISIBLE, 5);
    EXPECT_EQ(UIGetInt(panel.get(), ORVO_UIP_VISIBLE, -1), 1);

    TOrvoUIPlacement bad = UIPlacement(ORVO_UI_ALIGN_TOP, 0);
    bad.Alignment = 6;
    EXPECT_EQ(panel->SetPlacement(bad), E_INVALIDARG);
    bad = UIPlacement(ORVO_UI_ALIGN_TOP, 0, UIMargins(-1));
    EXPECT_EQ(panel->SetPlacement(bad), E_INVALIDARG);
    UISetPlacement(panel.get(), UIPlacement(ORVO_UI_ALIGN_TOP, 0, UIMargins(0)));
    EXPECT_EQ(ModelForm().Children()[0]->Placement().Alignment, ORVO_UI_ALIGN_TOP);

    UISetConstraints(FForm.get(), 620, 480);
    EXPECT_EQ(ModelForm().Constraints().MinWidth, 620);
    TOrvoUIConstraints inverted{100, 100, 50, 0};
    EXPECT_EQ(FForm.As<IOrvoUIControl>()->SetConstraints(inverted), E_INVALIDARG);
}

TEST_F(HostUI, ChangesAreReportedOnceAndNotWhileUpdating) {
    auto counter = MakeInterfaced<TCounter>();
    IUnknown* events = static_cast<IOrvoActionEvent*>(counter.get());
    auto edit = UICreateControl(FForm.get(), nullptr, ORVO_UI_EDIT, {}, events);
    UISetText(edit.get(), ORVO_UIP_TEXT, u"a");
    UISetText(edit.get(), ORVO_UIP_TEXT, u"a"); // unchanged
    EXPECT_EQ(counter->Take(), "changed");
    UISetText(edit.get(), ORVO_UIP_PLACEHOLDER, u"Address");
    EXPECT_EQ(counter->Take(), "");
    EXPECT_EQ(UIGetText(edit.get(), ORVO_UIP_PLACEHOLDER), u"Address");

    UIBeginUpdate(edit.get());
    UISetText(edit.get(), ORVO_UIP_TEXT, u"b");
    UIEndUpdate(edit.get());
    EXPECT_EQ(counter->Take(), "");
    EXPECT_EQ(UIGetText(edit.get(), ORVO_UIP_TEXT), u"b");

    // A handler that fails is recorded, not fatal.
    counter->Answer = E_UNEXPECTED;
    UISetText(edit.get(), ORVO_UIP_TEXT, u"c");
    ASSERT_EQ(FUI->EventFailures().size(), 1u);
    EXPECT_EQ(FUI->EventFailures()[0].Source, u"edit box");
}

TEST_F(HostUI, ComboBoxesKeepTextAndItemIndexTogether) {
    auto counter = MakeInterfaced<TCounter>();
    auto combo = UICreateControl(FForm.get(), nullptr, ORVO_UI_COMBO, {},
                                 static_cast<IOrvoActionEvent*>(counter.get()));
    // An editable box takes any text; an item with that text becomes selected.
    UISetText(combo.get(), ORVO_UIP_COMBO_TEXT, u"de1.api");
    EXPECT_EQ(UIGetInt(combo.get(), ORVO_UIP_ITEM_INDEX, 9), -1);
    UIComboAdd(combo.get(), u"at1.api");
    UIComboAdd(combo.get(), u"de1.api");
    EXPECT_EQ(UIGetInt(combo.get(), ORVO_UIP_ITEM_INDEX, 9), 1);
    EXPECT_EQ(UIGetText(combo.get(), ORVO_UIP_TEXT), u"de1.api");
    EXPECT_EQ(counter->Take(), "changed changed");

    UISetInt(combo.get(), ORVO_UIP_ITEM_INDEX, 0);
    EXPECT_EQ(UIGetText(combo.get(), ORVO_UIP_COMBO_TEXT), u"at1.api");
    ASSERT_EQ(QueryAs<IOrvoUIComboBox>(combo.get())->Delete(0), S_OK);
    EXPECT_EQ(UIGetInt(combo.get(), ORVO_UIP_ITEM_INDEX, 9), -1);
    EXPECT_EQ(UIGetText(combo.get(), ORVO_UIP_COMBO_TEXT), u"at1.api"); // the typed text stays
    UIComboClear(combo.get());
    EXPECT_EQ(UIComboCount(combo.get()), 0);
    counter->Take();

    // A list-only box shows only its items.
    auto list = UICreateControl(FForm.get(), nullptr, ORVO_UI_COMBO);
    UISetInt(list.get(), ORVO_UIP_COMBO_STYLE, 1);
    UIComboAdd(list.get(), u"Country");
    UIComboAdd(list.get(), u"Tag");
    EXPECT_THROW(UISetText(list.get(), ORVO_UIP_COMBO_TEXT, u"Planet"), Exception);
    UISetText(list.get(), ORVO_UIP_COMBO_TEXT, u"Tag");
    EXPECT_EQ(UIGetInt(list.get(), ORVO_UIP_ITEM_INDEX, 9), 1);
    ASSERT_EQ(QueryAs<IOrvoUIComboBox>(list.get())->Delete(0), S_OK);
    EXPECT_EQ(UIGetInt(list.get(), ORVO_UIP_ITEM_INDEX, 9), 0);
    UIComboClear(list.get());
    EXPECT_EQ(UIGetText(list.get(), ORVO_UIP_TEXT), u"");
    EXPECT_THROW(UISetInt(list.get(), ORVO_UIP_COMBO_STYLE, 2), Exception);
}

TEST_F(HostUI, ComboBoxesShowWhenTheProgramRefilledThem) {
    auto combo = UICreateControl(FForm.get(), nullptr, ORVO_UI_COMBO);
    TOrvoHostComboBox& box = TOrvoHostUIDriver(ModelForm()).Combo(0);
    EXPECT_EQ(box.UpdatesEnded(), 0);
    EXPECT_FALSE(box.AwaitingItems());

    // Emptied outside an update: waiting for items until some come or an update ends.
    UIComboClear(combo.get());
    EXPECT_TRUE(box.AwaitingItems());
    UIComboAdd(combo.get(), u"jazz");
    EXPECT_FALSE(box.AwaitingItems());
    UIComboClear(combo.get());
    UIBeginUpdate(combo.get());
    UIBeginUpdate(combo.get());
    UIComboClear(combo.get());
    UIEndUpdate(combo.get());
    EXPECT_TRUE(box.AwaitingItems()) << "an update is still open";
    EXPECT_EQ(box.UpdatesEnded(), 0);
    UIEndUpdate(combo.get());
    EXPECT_FALSE(box.AwaitingItems()) << "refilled with nothing";
    EXPECT_EQ(box.UpdatesEnded(), 1);
    // An end without a beginning ends nothing.
    UIEndUpdate(combo.get());
    EXPECT_EQ(box.UpdatesEnded(), 1);
}

TEST_F(HostUI, ModalShowingRunsTheHostLoopUntilTheFormCloses) {
    testsupport::Watchdog watchdog;
    auto counter = MakeInterfaced<TCounter>();
    auto button = UICreateControl(FForm.get(), nullptr, ORVO_UI_BUTTON, u"B1", UINotifyEvent([&](IUnknown*) {
                                      RaiseIfFailed(FForm->SetModalResult(ORVO_UI_MODAL_OK));
                                  }));
    bool posted = false, sent = false;
    FUI->WhenShownModally(u"frmT", [&](TOrvoHostForm& form) {
        EXPECT_TRUE(form.ShowingModally());
        // Work queued for the main thread runs while the form waits, also work a thread sends.
        platform::PostToMainThread([&] { posted = true; });
        std::thread worker([&] { platform::SendToMainThread([&] { sent = true; }); });
        TOrvoHostUIDriver::WaitUntil([&] { return posted && sent; }, u"the queued calls");
        worker.join();
        int32_t nested = 0;
        EXPECT_EQ(FForm->ShowModal(&nested), E_FAIL); // already shown
        TOrvoHostUIDriver(form).Press(u"B1");
    });
    EXPECT_EQ(UIShowModal(FForm.get()), ORVO_UI_MODAL_OK);
    FUI->RethrowScriptError();
    EXPECT_TRUE(posted && sent);
    EXPECT_FALSE(ModelForm().Showing());

    // Without a script nobody is there to use the form: it closes at once.
    EXPECT_EQ(UIShowModal(FForm.get()), ORVO_UI_MODAL_CANCEL);
    EXPECT_EQ(FUI->ModalHistory(), (std::vector<std::u16string>{u"frmT", u"frmT"}));

    // A script that fails closes the form; its error reaches the caller of the host, not the plug-in.
    FUI->WhenShownModally(u"", [](TOrvoHostForm& form) { TOrvoHostUIDriver(form).Press(u"B404"); });
    EXPECT_EQ(UIShowModal(FForm.get()), ORVO_UI_MODAL_CANCEL);
    EXPECT_THROW(FUI->RethrowScriptError(), EArgumentError);
    EXPECT_NO_THROW(FUI->RethrowScriptError());
}

TEST_F(HostUI, NestedModalFormsRunTheirOwnScripts) {
    testsupport::Watchdog watchdog;
    ComPtr<IOrvoUIForm> editor;
    std::u16string seenInEditor;
    UICreateControl(FForm.get(), nullptr, ORVO_UI_BUTTON, u"B3", UINotifyEvent([&](IUnknown*) {
                        editor = UICreateForm(UIWindowHandle(FForm.get()), u"frmEditor");
                        UICreateControl(editor.get(), nullptr, ORVO_UI_EDIT);
                        UIShowModal(editor.get());
                        UIDisposeForm(editor.get());
                    }));
    FUI->WhenShownModally(u"frmEditor", [&](TOrvoHostForm& form) {
        TOrvoHostUIDriver driver(form);
        driver.Type(driver.Find(ORVO_UI_EDIT), u"typed in the editor");
        seenInEditor = driver.Text(driver.Find(ORVO_UI_EDIT));
        EXPECT_EQ(form.OwnerWindow(), UIWindowHandle(FForm.get()));
    });
    FUI->WhenShownModally(u"frmT", [&](TOrvoHostForm& form) {
        TOrvoHostUIDriver driver(form);
        driver.Press(u"B3");
        EXPECT_TRUE(form.ShowingModally());
        driver.CloseForm();
    });
    UIShowModal(FForm.get());
    FUI->RethrowScriptError();
    EXPECT_EQ(seenInEditor, u"typed in the editor");
    EXPECT_EQ(FUI->ModalHistory(), (std::vector<std::u16string>{u"frmT", u"frmEditor"}));
    EXPECT_EQ(FUI->FindForm(u"frmEditor"), nullptr); // disposed
}

TEST_F(HostUI, ADisposedFormLetsGoOfItsHandlersAndRefusesItsControls) {
    ComPtr<IOrvoUIControl> edit;
    {
        auto counter = MakeInterfaced<TCounter>();
        edit = UICreateControl(FForm.get(), nullptr, ORVO_UI_EDIT, {},
                               static_cast<IOrvoActionEvent*>(counter.get()));
    }
    EXPECT_EQ(GHandlersAlive, 1);
    UIDisposeForm(FForm.get());
    EXPECT_EQ(GHandlersAlive, 0);
    EXPECT_EQ(FUI->FindForm(u"frmT"), nullptr);
    EXPECT_THROW(UISetText(edit.get(), ORVO_UIP_TEXT, u"late"), Exception);
    EXPECT_EQ(FForm->ShowModal(nullptr), E_FAIL);
    TOrvoUIPlacement placement;
    EXPECT_EQ(edit->GetPlacement(&placement), E_FAIL);
}

TEST_F(HostUI, FormsAndControlsRefuseOtherThreads) {
    auto edit = UICreateControl(FForm.get(), nullptr, ORVO_UI_EDIT);
    auto fromWorker = std::async(std::launch::async, [&] {
        ComPtr<IOrvoUIControl> made;
        return std::vector<HRESULT>{
            QueryAs<IOrvoPropertyList>(edit.get())->SetValueAsInt32(ORVO_UIP_ENABLED, 0),
            FForm->Close(),
            UIService()->CreateControl(FForm.get(), nullptr, nullptr, nullptr, ORVO_UI_EDIT, made.put()),
        };
    });
    for (HRESULT result : fromWorker.get())
        EXPECT_EQ(result, E_FAIL);
    EXPECT_EQ(UIGetInt(edit.get(), ORVO_UIP_ENABLED, -1), 1);
}

TEST_F(HostUI, TreeListsShowNodesAndReportSelectionAndOpening) {
    auto counter = MakeInterfaced<TCounter>();
    auto list = UICreateControl(FForm.get(), nullptr, ORVO_UI_TREE_LIST, {},
                                static_cast<IOrvoActionEvent*>(counter.get()));
    UITreeListAddColumn(list.get());
    auto date = UITreeListAddColumn(list.get());
    UISetInt(date.get(), ORVO_UIP_COLUMN_STRETCH, 0);
    UISetInt(date.get(), ORVO_UIP_COLUMN_WIDTH, 120);
    UISetInt(list.get(), ORVO_UIP_ROW_SELECT, 1);
    auto& model = TOrvoHostUIDriver(ModelForm()).TreeList();
    ASSERT_EQ(model.Columns().size(), 2u);
    EXPECT_FALSE(model.Columns()[1]->Stretch());
    EXPECT_EQ(model.Columns()[1]->Width(), 120);
    EXPECT_TRUE(model.Columns()[0]->Stretch());

    auto tree = UIRequire<IOrvoUITreeList>(list.get());
    auto root = UITreeListRoot(list.get());
    tree->BeginUpdate();
    for (const char16_t* title : {u"Jazz", u"Rock"})
        UITreeNodeSetValues(UITreeNodeAddChild(root.get()).get(),
                            {title, u"-", u"0", u"id-" + std::u16string(title)});
    tree->EndUpdate();
    EXPECT_EQ(tree->RowCount(), 2);
    EXPECT_EQ(tree->SelectedCount(), 0);
    EXPECT_EQ(UITreeListFocused(list.get()), nullptr);
    EXPECT_EQ(counter->Take(), "");

    FUI->WhenShownModally(u"frmT", [&](TOrvoHostForm& form) {
        TOrvoHostUIDriver driver(form);
        driver.ClickRow(driver.TreeList(), 1);
        EXPECT_EQ(counter->Take(), "selection click");
        EXPECT_EQ(UITreeNodeValue(UITreeListFocused(list.get()).get(), 3), u"id-Rock");
        driver.ClickRow(driver.TreeList(), 1);
        EXPECT_EQ(counter->Take(), "click"); // the selection did not change
        driver.OpenRow(driver.TreeList(), 0);
        EXPECT_EQ(counter->Take(), "selection click open");
        EXPECT_EQ(counter->LastNode, u"Jazz");
        EXPECT_THROW(driver.ClickRow(driver.TreeList(), 2), EArgumentError);
        EXPECT_EQ(driver.Rows(driver.TreeList())[1],
                  (std::vector<std::u16string>{u"Rock", u"-", u"0", u"id-Rock"}));
    });
    UIShowModal(FForm.get());
    FUI->RethrowScriptError();

    // Removing the focused node takes the focus and the selection with it.
    ASSERT_EQ(tree->SelectedCount(), 1);
    ASSERT_EQ(root->DeleteChildren(), S_OK);
    EXPECT_EQ(counter->Take(), "selection");
    EXPECT_EQ(tree->SelectedCount(), 0);
    EXPECT_EQ(tree->RowCount(), 0);
    EXPECT_EQ(UITreeListFocused(list.get()), nullptr);
}

TEST_F(HostUI, TreeListsNestRowsUnderExpandedNodesAndRefuseForeignNodes) {
    auto list = UICreateControl(FForm.get(), nullptr, ORVO_UI_TREE_LIST);
    auto tree = UIRequire<IOrvoUITreeList>(list.get());
    auto root = UITreeListRoot(list.get());
    auto parent = UITreeNodeAddChild(root.get());
    auto child = UITreeNodeAddChild(parent.get());
    UITreeNodeAddChild(root.get());
    EXPECT_EQ(tree->RowCount(), 2);
    EXPECT_EQ(tree->RowOf(child.get()), -1);
    ASSERT_EQ(tree->MakeVisible(child.get()), S_OK);
    EXPECT_EQ(tree->RowOf(child.get()), 1);
    ASSERT_EQ(tree->FullCollapse(), S_OK);
    EXPECT_EQ(tree->RowCount(), 2);
    EXPECT_EQ(child->Index(), 0);
    EXPECT_EQ(root->Index(), -1);
    EXPECT_EQ(root->Delete(), E_FAIL);
    EXPECT_EQ(child->SetValue(-1, nullptr), E_INVALIDARG);

    auto otherList = UICreateControl(FForm.get(), nullptr, ORVO_UI_TREE_LIST);
    auto stranger = UITreeNodeAddChild(UITreeListRoot(otherList.get()).get());
    EXPECT_EQ(tree->SetFocusedNode(stranger.get()), E_INVALIDARG);
    EXPECT_EQ(tree->SetFocusedNode(root.get()), E_INVALIDARG);

    ASSERT_EQ(child->Delete(), S_OK);
    EXPECT_EQ(parent->ChildCount(), 0);
    EXPECT_EQ(child->AddChild(IOrvoUITreeListNode::IID, nullptr), E_FAIL); // a deleted node is dead
}

} // namespace
