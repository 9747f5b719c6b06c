#pragma once
// The in-memory model of the host's forms and controls: numbered properties, placements,
// constraints, children, items and events. Nothing is drawn; the automation layer acts on the
// model the way a person acts on a window, and the plug-in sees a host that behaves like one.
//
// Thread-safety: forms and controls belong to the main thread. Their interface operations answer
// E_FAIL on any other thread; the host-side accessors must be called on the main thread.

#include "sdk/api/OrvoAPI.UI.h"
#include "sdk/apiWrappers.h"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

class TOrvoHostUI;
class TOrvoHostForm;

// The kind of the buttons inside edit and combo boxes.
constexpr TGUID ORVO_UI_EDIT_BUTTON = OrvoTag("auiEditButton");

// Every control; buttons and edit buttons are this class itself.
class TOrvoHostControl : public TOrvoInterfaces<TOrvoPropertyList, IOrvoUIControl> {
public:
    // ---- IOrvoUIControl
    HRESULT ORVO_CALL GetPlacement(TOrvoUIPlacement* placement) override;
    HRESULT ORVO_CALL GetConstraints(TOrvoUIConstraints* constraints) override;
    HRESULT ORVO_CALL SetPlacement(const TOrvoUIPlacement& placement) override;
    HRESULT ORVO_CALL SetConstraints(const TOrvoUIConstraints& constraints) override;

    // ---- the host's side
    const TGUID& Kind() const { return FKind; }
    const std::u16string& Name() const { return FName; }
    // The form, and the parent control; null for a form, and after the form was disposed.
    TOrvoHostForm* Form() const { return FForm; }
    TOrvoHostControl* Parent() const { return FParent; }
    const std::vector<ComPtr<TOrvoHostControl>>& Children() const { return FChildren; }
    // False once the form is disposed.
    bool Alive() const { return FAlive; }
    bool Enabled() const;
    bool Visible() const;
    // Whether a person can reach the control: alive, and it and every ancestor enabled and visible.
    bool Usable() const;
    bool Updating() const { return FUpdateCount > 0; }
    // How many updates (BeginUpdate ... EndUpdate) the program has ended: each is one change a
    // person sees at once, such as a list refilled.
    int UpdatesEnded() const { return FUpdatesEnded; }
    std::u16string Caption() const;
    const TOrvoUIPlacement& Placement() const { return FPlacement; }
    const TOrvoUIConstraints& Constraints() const { return FConstraints; }
    // A numbered property as the plug-in reads it; none when it cannot be read.
    std::optional<TOrvoPropValue> Property(int32_t id);
    // "Button B1" or "a combo box", for messages.
    std::u16string Describe() const;

    // Raises the control's change event, or its action event with the control as data. Nothing
    // happens while the control is updating or dead, or when its handler lacks the interface.
    void RaiseChanged();
    void RaiseAction();

    // Adds a child; the parent keeps it until the form is disposed.
    void AddChild(ComPtr<TOrvoHostControl> child);
    // Drops the events and the children and ends the control's life: the form was disposed.
    virtual void Detach();

protected:
    TOrvoHostControl(TOrvoHostUI& ui, TOrvoHostForm* form, TOrvoHostControl* parent, const TGUID& kind,
                     std::u16string name, ComPtr<IUnknown> events);
    template <typename T, typename... Args> friend ComPtr<T> MakeInterfaced(Args&&... args);

    // Runs an interface operation: E_FAIL off the main thread or for a dead control, the body's
    // result otherwise, E_UNEXPECTED for an error raised inside.
    template <typename Body> HRESULT Call(Body&& body) noexcept;
    // Runs a handler of the control's events that answers interface E.
    template <typename E, typename Fire> void RaiseEvent(Fire&& fire);
    void EventFailed(HRESULT result);

    bool CanAccess(HRESULT& result) override;
    void DoBeginUpdate() override;
    void DoEndUpdate() override;
    void DoGetValue(int32_t propId, TOrvoPropValue& value, HRESULT& result) override;
    void DoSetValue(int32_t propId, const TOrvoPropValue& value, HRESULT& result) override;
    ComPtr<IUnknown> DoGetValueAsObject(int32_t propId) override;

    // Properties with a meaning of their own in a derived kind: answer true when handled.
    virtual bool GetSpecial(int32_t propId, TOrvoPropValue& value);
    virtual bool SetSpecial(int32_t propId, const TOrvoPropValue& value, HRESULT& result);

    TOrvoHostUI& FUI;
    TOrvoHostForm* FForm;
    TOrvoHostControl* FParent;
    const TGUID FKind;
    const std::u16string FName;
    ComPtr<IUnknown> FEvents;
    std::vector<ComPtr<TOrvoHostControl>> FChildren;
    std::map<int32_t, TOrvoPropValue> FProperties;
    TOrvoUIPlacement FPlacement;
    TOrvoUIConstraints FConstraints;
    int FUpdateCount = 0;
    int FUpdatesEnded = 0;
    bool FAlive = true;
};

// A control with a window that holds others: group boxes, panels, brand boxes, tree lists, forms.
class TOrvoHostWinControl : public TOrvoInterfaces<TOrvoHostControl, IOrvoUIWinControl> {
public:
    int32_t ORVO_CALL ControlCount() override;
    HRESULT ORVO_CALL GetControl(int32_t index, IOrvoUIControl** control) override;
    TOrvoUIWindowHandle ORVO_CALL Handle() override { return FHandle; }

    TOrvoUIWindowHandle WindowHandle() const { return FHandle; }

protected:
    TOrvoHostWinControl(TOrvoHostUI& ui, TOrvoHostForm* form, TOrvoHostControl* parent, const TGUID& kind,
                        std::u16string name, ComPtr<IUnknown> events);
    template <typename T, typename... Args> friend ComPtr<T> MakeInterfaced(Args&&... args);

    const TOrvoUIWindowHandle FHandle;
};

// An edit box: a text, a placeholder and buttons.
class TOrvoHostEdit : public TOrvoInterfaces<TOrvoHostControl, IOrvoUIButtonedEdit> {
public:
    HRESULT ORVO_CALL AddButton(IUnknown* events, IOrvoUIControl** button) override;
    int32_t ORVO_CALL ButtonCount() override;
    HRESULT ORVO_CALL GetButton(int32_t index, IOrvoUIControl** button) override;

    const std::u16string& Text() const { return FText; }
    // Sets the text as typing does; the change event follows when the text differs. Raises
    // EArgumentError when the box does not take the text.
    virtual void SetText(std::u16string text);
    // Whether a person may type into the box.
    virtual bool Editable() const { return true; }

protected:
    TOrvoHostEdit(TOrvoHostUI& ui, TOrvoHostForm* form, TOrvoHostControl* parent, const TGUID& kind,
                  std::u16string name, ComPtr<IUnknown> events);
    template <typename T, typename... Args> friend ComPtr<T> MakeInterfaced(Args&&... args);

    bool GetSpecial(int32_t propId, TOrvoPropValue& value) override;
    bool SetSpecial(int32_t propId, const TOrvoPropValue& value, HRESULT& result) override;

    std::u16string FText;
};

// A combo box: an edit box with a list of items. Its text is the selected item's; in an editable
// box (style 0) it may also be any typed text, which selects the item with that exact text if any.
class TOrvoHostComboBox : public TOrvoInterfaces<TOrvoHostEdit, IOrvoUIComboBox> {
public:
    HRESULT ORVO_CALL Add(IOrvoString* text, IUnknown* object) override;
    HRESULT ORVO_CALL Clear() override;
    HRESULT ORVO_CALL Delete(int32_t index) override;
    HRESULT ORVO_CALL GetItemText(int32_t index, IOrvoString** text) override;
    HRESULT ORVO_CALL GetItemObject(int32_t index, const TGUID& iid, void** object) override;
    int32_t ORVO_CALL Count() override;

    std::vector<std::u16string> Items() const;
    int32_t ItemIndex() const { return FItemIndex; }
    // Selects an item (-1: none) as picking it does; raises EArgumentError outside the list.
    void SetItemIndex(int32_t index);
    void SetText(std::u16string text) override;
    bool Editable() const override { return !ListOnly(); }
    bool ListOnly() const;
    // Whether the program emptied the list outside an update and has put nothing in it since: a
    // person sees a list waiting to be filled.
    bool AwaitingItems() const { return FAwaitingItems; }

protected:
    using TOrvoInterfaces::TOrvoInterfaces;
    template <typename T, typename... Args> friend ComPtr<T> MakeInterfaced(Args&&... args);

    bool GetSpecial(int32_t propId, TOrvoPropValue& value) override;
    bool SetSpecial(int32_t propId, const TOrvoPropValue& value, HRESULT& result) override;

private:
    struct TItem {
        std::u16string Text;
        ComPtr<IUnknown> Object;
    };
    // Sets text and index together and reports a change once.
    void Select(int32_t index, std::u16string text);

    void DoEndUpdate() override;

    std::vector<TItem> FItems;
    int32_t FItemIndex = -1;
    bool FAwaitingItems = false;
};

// A form: a windowed control that is shown, modally or not, closed and disposed.
class TOrvoHostForm : public TOrvoInterfaces<TOrvoHostWinControl, IOrvoUIForm> {
public:
    ~TOrvoHostForm() override;

    HRESULT ORVO_CALL Close() override;
    HRESULT ORVO_CALL Show() override;
    HRESULT ORVO_CALL SetModalResult(int32_t result) override;
    HRESULT ORVO_CALL Dispose(int32_t flags) override;
    HRESULT ORVO_CALL ShowModal(int32_t* modalResult) override;

    TOrvoUIWindowHandle OwnerWindow() const { return FOwnerWindow; }
    bool Showing() const { return FShowing; }
    bool ShowingModally() const { return FShowing && FModal; }
    // Every control of the form, depth first in creation order (edit buttons after their box).
    std::vector<TOrvoHostControl*> AllControls() const;
    // Hides the form with a modal result (0 keeps the one set), as its close box does.
    void CloseWith(int32_t modalResult);

protected:
    TOrvoHostForm(TOrvoHostUI& ui, TOrvoUIWindowHandle owner, std::u16string name, ComPtr<IUnknown> events);
    template <typename T, typename... Args> friend ComPtr<T> MakeInterfaced(Args&&... args);

private:
    ComPtr<IUnknown> FKeepUI; // the service lives as long as one of its forms
    const TOrvoUIWindowHandle FOwnerWindow;
    bool FShowing = false;
    bool FModal = false;
    int32_t FModalResult = 0;
};

// ---- templates

template <typename Body> HRESULT TOrvoHostControl::Call(Body&& body) noexcept {
    HRESULT result = S_OK;
    if (!CanAccess(result))
        return result;
    try {
        return body();
    } catch (...) {
        return E_UNEXPECTED;
    }
}

template <typename E, typename Fire> void TOrvoHostControl::RaiseEvent(Fire&& fire) {
    if (!FAlive || Updating() || !FEvents)
        return;
    ComPtr<E> handler = FEvents.As<E>();
    if (!handler)
        return;
    // The handler may dispose of the form; the control must outlive the call.
    ComPtr<IUnknown> self = QueryAs<IUnknown>(static_cast<IOrvoUIControl*>(this));
    const HRESULT result = fire(handler.get(), self.get());
    if (Failed(result))
        EventFailed(result);
}
