#pragma once
// The plug-in's side of the host's user-interface service: event adapters that turn host events
// into calls of the dialogs' methods, placement records, and helpers that make controls and read
// and write their numbered properties.
//
// Thread-safety: forms and controls belong to the host's main thread; so do these helpers. The
// adapters' reference counts change atomically.

#include "sdk/api/OrvoAPI.UI.h"
#include "sdk/apiWrappers.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// ---- event adapters

// Base of the event adapters: answers its own interfaces, and passes any other query on to the
// master adapter when one is set, so that one handler object can offer the events of two.
class TOrvoUICustomEventAdapter : public TInterfacedObjectEx {
public:
    explicit TOrvoUICustomEventAdapter(ComPtr<IUnknown> masterAdapter = nullptr)
        : FMasterAdapter(std::move(masterAdapter)) {}

protected:
    // Hides the base's query, so the QueryInterface of TOrvoInterfaces levels above this class
    // comes here.
    HRESULT InternalQueryInterface(const TGUID& iid, void** object);

    // Runs an event's handler. An error it raises is shown in the host's message dialog, owned by
    // the host's main window, and answered as E_UNEXPECTED: an error must not cross into the host,
    // and the user should still learn of it.
    template <typename Body> HRESULT Dispatch(Body&& body) noexcept {
        try {
            body();
            return S_OK;
        } catch (const std::exception& e) {
            return ReportHandlerError(ExceptionMessage(e));
        } catch (...) {
            return ReportHandlerError(u"Unknown error");
        }
    }

    ComPtr<IUnknown> FMasterAdapter;

private:
    static HRESULT ReportHandlerError(const std::u16string& message) noexcept;
};

// A method taking the sender (or the action's data).
using TOrvoUINotifyEvent = std::function<void(IUnknown* sender)>;

// Answers change and action events: each calls FEvent with its argument when set, then FEvent2.
class TOrvoUINotifyEventAdapter
    : public TOrvoInterfaces<TOrvoUICustomEventAdapter, IOrvoUIChangeEvents, IOrvoActionEvent> {
public:
    explicit TOrvoUINotifyEventAdapter(TOrvoUINotifyEvent event, std::function<void()> event2 = {},
                                       ComPtr<IUnknown> masterAdapter = nullptr);

    HRESULT ORVO_CALL Changed(IUnknown* sender) override;
    HRESULT ORVO_CALL Execute(IUnknown* data) override;

    TOrvoUINotifyEvent FEvent;
    std::function<void()> FEvent2;

private:
    HRESULT Notify(IUnknown* sender);
};

// An adapter calling `event`, the usual handler of one control.
ComPtr<IUnknown> UINotifyEvent(TOrvoUINotifyEvent event);

// Whether two interfaces belong to one object (a sender and a dialog's control, say).
bool UISameObject(IUnknown* a, IUnknown* b);

// ---- placements

// A placement with an alignment; `size` is the height for top, bottom and client alignment and
// the width for left, right and client alignment.
TOrvoUIPlacement UIPlacement(int32_t alignment, int32_t size = 0);
TOrvoUIPlacement UIPlacement(int32_t alignment, int32_t size, TOrvoUIRect margins);
// Margins left, top, right, bottom.
constexpr TOrvoUIRect UIMargins(int32_t left, int32_t top, int32_t right, int32_t bottom) {
    return {left, top, right, bottom};
}
constexpr TOrvoUIRect UIMargins(int32_t all) {
    return {all, all, all, all};
}

// ---- forms and controls
//
// The helpers take any interface of a form or control. Failures raise: a missing service or
// interface EInvalidOperation, a host failure the result code ("%d").

// The user-interface service; raises when the host has none.
ComPtr<IOrvoServiceUI> UIService();

// A new hidden form owned by `owner`.
ComPtr<IOrvoUIForm> UICreateForm(TOrvoWindowHandle owner, std::u16string_view name);
// A new control of `kind` on `parent` (null: the form); `name` may be empty, `events` null.
ComPtr<IOrvoUIControl> UICreateControl(IOrvoUIForm* form, IUnknown* parent, const TGUID& kind,
                                       std::u16string_view name = {},
                                       const ComPtr<IUnknown>& events = nullptr);
// The same, answered as the interface T of the control.
template <typename T>
ComPtr<T> UICreateControlAs(IOrvoUIForm* form, IUnknown* parent, const TGUID& kind,
                            std::u16string_view name = {}, const ComPtr<IUnknown>& events = nullptr);

// An interface of a form or control; raises EInvalidOperation when it has none.
template <typename T> ComPtr<T> UIRequire(IUnknown* control);

void UISetPlacement(IUnknown* control, const TOrvoUIPlacement& placement);
// Sets the minimum size; no maximum.
void UISetConstraints(IUnknown* control, int32_t minWidth, int32_t minHeight);

// Numbered properties.
void UISetInt(IUnknown* control, int32_t id, int32_t value);
void UISetBool(IUnknown* control, int32_t id, bool value);
void UISetText(IUnknown* control, int32_t id, std::u16string_view text);
void UISetObject(IUnknown* control, int32_t id, IUnknown* object);
// The reads answer `fallback`, the empty text or null when the property cannot be read.
int32_t UIGetInt(IUnknown* control, int32_t id, int32_t fallback = 0);
std::u16string UIGetText(IUnknown* control, int32_t id);
ComPtr<IUnknown> UIGetObject(IUnknown* control, int32_t id);
// Brackets many changes of one control, during which it raises no events.
void UIBeginUpdate(IUnknown* control);
void UIEndUpdate(IUnknown* control);

// Combo boxes.
void UIComboAdd(IUnknown* combo, std::u16string_view text, IUnknown* object = nullptr);
void UIComboClear(IUnknown* combo);
int32_t UIComboCount(IUnknown* combo);
std::u16string UIComboItem(IUnknown* combo, int32_t index);
// Adds a button to an edit or combo box; `events` receives its presses.
ComPtr<IOrvoUIControl> UIAddEditButton(IUnknown* edit, const ComPtr<IUnknown>& events);

// Forms.
int32_t UIShowModal(IOrvoUIForm* form);
void UICloseForm(IOrvoUIForm* form);
// Destroys the form; never raises, as destructors call it.
void UIDisposeForm(IOrvoUIForm* form) noexcept;
// The window of a form or windowed control, 0 when it has none.
TOrvoWindowHandle UIWindowHandle(IUnknown* control);

// Tree lists.
ComPtr<IOrvoUITreeListColumn> UITreeListAddColumn(IUnknown* treeList);
ComPtr<IOrvoUITreeListNode> UITreeListRoot(IUnknown* treeList);
// The focused node, or null.
ComPtr<IOrvoUITreeListNode> UITreeListFocused(IUnknown* treeList);
ComPtr<IOrvoUITreeListNode> UITreeNodeAddChild(IOrvoUITreeListNode* parent);
void UITreeNodeSetValues(IOrvoUITreeListNode* node, const std::vector<std::u16string>& values);
std::u16string UITreeNodeValue(IOrvoUITreeListNode* node, int32_t index);

// The host's message dialog ("auiMsgDlg"): shows the text and answers the user's choice
// (ORVO_MSG_RESULT_*); 0 when the host has no message dialog.
int32_t UIShowMessage(TOrvoWindowHandle owner, std::u16string_view caption, std::u16string_view text,
                      int32_t flags);

// ---- templates

template <typename T> ComPtr<T> UIRequire(IUnknown* control) {
    ComPtr<T> result = QueryAs<T>(control);
    if (!result)
        throw EInvalidOperation(u"The control lacks an interface the operation needs");
    return result;
}

template <typename T>
ComPtr<T> UICreateControlAs(IOrvoUIForm* form, IUnknown* parent, const TGUID& kind, std::u16string_view name,
                            const ComPtr<IUnknown>& events) {
    ComPtr<IOrvoUIControl> control = UICreateControl(form, parent, kind, name, events);
    return UIRequire<T>(control.get());
}
