#include "host/Orvo.Host.UI.Controls.h"

#include "host/Orvo.Host.String.h"
#include "host/Orvo.Host.UI.h"
#include "platform/Platform.Threads.h"

namespace {

bool IsTextProperty(int32_t propId) {
    return propId == ORVO_UIP_CAPTION || propId == ORVO_UIP_TEXT || propId == ORVO_UIP_PLACEHOLDER ||
           propId == ORVO_UIP_COMBO_TEXT;
}

bool ValidRect(const TOrvoUIRect& r) {
    return r.Left >= 0 && r.Top >= 0 && r.Right >= 0 && r.Bottom >= 0;
}

std::u16string KindText(const TGUID& kind) {
    if (kind == ORVO_UI_EDIT)
        return u"edit box";
    if (kind == ORVO_UI_COMBO)
        return u"combo box";
    if (kind == ORVO_UI_BUTTON)
        return u"button";
    if (kind == ORVO_UI_EDIT_BUTTON)
        return u"edit button";
    if (kind == ORVO_UI_GROUP_BOX)
        return u"group box";
    if (kind == ORVO_UI_PANEL)
        return u"panel";
    if (kind == ORVO_UI_BRAND_BOX)
        return u"brand box";
    if (kind == ORVO_UI_TREE_LIST)
        return u"tree list";
    if (kind == IOrvoUIForm::IID)
        return u"form";
    return u"control";
}

} // namespace

// ---- TOrvoHostControl

TOrvoHostControl::TOrvoHostControl(TOrvoHostUI& ui, TOrvoHostForm* form, TOrvoHostControl* parent,
                                   const TGUID& kind, std::u16string name, ComPtr<IUnknown> events)
    : FUI(ui), FForm(form), FParent(parent), FKind(kind), FName(std::move(name)), FEvents(std::move(events)) {
    FProperties[ORVO_UIP_ENABLED] = int64_t(1);
    FProperties[ORVO_UIP_VISIBLE] = int64_t(1);
}

void TOrvoHostControl::EventFailed(HRESULT result) {
    FUI.EventFailed(result, Describe());
}

bool TOrvoHostControl::CanAccess(HRESULT& result) {
    if (!FAlive || !platform::IsMainThread()) {
        result = E_FAIL;
        return false;
    }
    return true;
}

void TOrvoHostControl::DoBeginUpdate() {
    ++FUpdateCount;
}

void TOrvoHostControl::DoEndUpdate() {
    if (FUpdateCount > 0 && --FUpdateCount == 0)
        ++FUpdatesEnded;
}

bool TOrvoHostControl::GetSpecial(int32_t, TOrvoPropValue&) {
    return false;
}

bool TOrvoHostControl::SetSpecial(int32_t, const TOrvoPropValue&, HRESULT&) {
    return false;
}

void TOrvoHostControl::DoGetValue(int32_t propId, TOrvoPropValue& value, HRESULT& result) {
    result = S_OK;
    if (GetSpecial(propId, value))
        return;
    if (auto it = FProperties.find(propId); it != FProperties.end()) {
        value = it->second;
        return;
    }
    if (propId == ORVO_UIP_CAPTION) {
        value = std::u16string();
        return;
    }
    value = std::monostate();
    result = E_INVALIDARG;
}

void TOrvoHostControl::DoSetValue(int32_t propId, const TOrvoPropValue& value, HRESULT& result) {
    result = S_OK;
    if (SetSpecial(propId, value, result))
        return;
    if (propId == ORVO_UIP_ENABLED || propId == ORVO_UIP_VISIBLE)
        FProperties[propId] = int64_t(PropValueToInt32(value) != 0);
    else if (IsTextProperty(propId))
        FProperties[propId] = PropValueToText(value);
    else if (std::holds_alternative<std::monostate>(value))
        result = E_INVALIDARG;
    else
        FProperties[propId] = value;
}

ComPtr<IUnknown> TOrvoHostControl::DoGetValueAsObject(int32_t propId) {
    // The host makes its own strings: the wrappers' ToHostString belongs to the plug-in's side.
    TOrvoPropValue value;
    HRESULT result = S_OK;
    DoGetValue(propId, value, result);
    if (Failed(result))
        return propId == 0 ? FCustomObject : nullptr;
    return ComPtr<IUnknown>(TOrvoHostString::Create(PropValueToText(value)));
}

std::optional<TOrvoPropValue> TOrvoHostControl::Property(int32_t id) {
    TOrvoPropValue value;
    HRESULT result = S_OK;
    DoGetValue(id, value, result);
    if (Failed(result))
        return std::nullopt;
    return value;
}

bool TOrvoHostControl::Enabled() const {
    auto it = FProperties.find(ORVO_UIP_ENABLED);
    return it == FProperties.end() || PropValueToInt32(it->second) != 0;
}

bool TOrvoHostControl::Visible() const {
    auto it = FProperties.find(ORVO_UIP_VISIBLE);
    return it == FProperties.end() || PropValueToInt32(it->second) != 0;
}

bool TOrvoHostControl::Usable() const {
    if (!FAlive)
        return false;
    for (const TOrvoHostControl* c = this; c; c = c->FParent)
        if (!c->Enabled() || !c->Visible())
            return false;
    return true;
}

std::u16string TOrvoHostControl::Caption() const {
    auto it = FProperties.find(ORVO_UIP_CAPTION);
    return it == FProperties.end() ? std::u16string() : PropValueToText(it->second);
}

std::u16string TOrvoHostControl::Describe() const {
    std::u16string text = KindText(FKind);
    if (!FName.empty())
        text += u" \"" + FName + u"\"";
    return text;
}

void TOrvoHostControl::RaiseChanged() {
    RaiseEvent<IOrvoUIChangeEvents>(
        [](IOrvoUIChangeEvents* h, IUnknown* sender) { return h->Changed(sender); });
}

void TOrvoHostControl::RaiseAction() {
    RaiseEvent<IOrvoActionEvent>([](IOrvoActionEvent* h, IUnknown* sender) { return h->Execute(sender); });
}

void TOrvoHostControl::AddChild(ComPtr<TOrvoHostControl> child) {
    FChildren.push_back(std::move(child));
}

void TOrvoHostControl::Detach() {
    FAlive = false;
    // Handlers hold the plug-in's dialog; they go now, not when the plug-in lets go of the control.
    ComPtr<IUnknown> events = std::move(FEvents);
    std::vector<ComPtr<TOrvoHostControl>> children = std::move(FChildren);
    FChildren.clear();
    for (auto& child : children)
        child->Detach();
    FForm = nullptr;
    FParent = nullptr;
}

HRESULT ORVO_CALL TOrvoHostControl::GetPlacement(TOrvoUIPlacement* placement) {
    return Call([&] {
        if (!placement)
            return E_INVALIDARG;
        *placement = FPlacement;
        return S_OK;
    });
}

HRESULT ORVO_CALL TOrvoHostControl::GetConstraints(TOrvoUIConstraints* constraints) {
    return Call([&] {
        if (!constraints)
            return E_INVALIDARG;
        *constraints = FConstraints;
        return S_OK;
    });
}

HRESULT ORVO_CALL TOrvoHostControl::SetPlacement(const TOrvoUIPlacement& placement) {
    return Call([&] {
        if (placement.Alignment < ORVO_UI_ALIGN_NONE || placement.Alignment > ORVO_UI_ALIGN_CLIENT ||
            !ValidRect(placement.Margins) || placement.Bounds.Right < placement.Bounds.Left ||
            placement.Bounds.Bottom < placement.Bounds.Top)
            return E_INVALIDARG;
        FPlacement = placement;
        return S_OK;
    });
}

HRESULT ORVO_CALL TOrvoHostControl::SetConstraints(const TOrvoUIConstraints& constraints) {
    return Call([&] {
        const TOrvoUIConstraints& c = constraints;
        if (c.MinWidth < 0 || c.MinHeight < 0 || c.MaxWidth < 0 || c.MaxHeight < 0 ||
            (c.MaxWidth && c.MaxWidth < c.MinWidth) || (c.MaxHeight && c.MaxHeight < c.MinHeight))
            return E_INVALIDARG;
        FConstraints = constraints;
        return S_OK;
    });
}

// ---- TOrvoHostWinControl

TOrvoHostWinControl::TOrvoHostWinControl(TOrvoHostUI& ui, TOrvoHostForm* form, TOrvoHostControl* parent,
                                         const TGUID& kind, std::u16string name, ComPtr<IUnknown> events)
    : TOrvoInterfaces(ui, form, parent, kind, std::move(name), std::move(events)),
      FHandle(ui.NewWindowHandle()) {}

int32_t ORVO_CALL TOrvoHostWinControl::ControlCount() {
    HRESULT ignored = S_OK;
    return CanAccess(ignored) ? int32_t(FChildren.size()) : 0;
}

HRESULT ORVO_CALL TOrvoHostWinControl::GetControl(int32_t index, IOrvoUIControl** control) {
    return Call([&] {
        if (!control)
            return E_INVALIDARG;
        *control = nullptr;
        if (index < 0 || size_t(index) >= FChildren.size())
            return E_INVALIDARG;
        *control = ComPtr<IOrvoUIControl>(FChildren[size_t(index)].get()).Detach();
        return S_OK;
    });
}

// ---- TOrvoHostEdit

TOrvoHostEdit::TOrvoHostEdit(TOrvoHostUI& ui, TOrvoHostForm* form, TOrvoHostControl* parent,
                             const TGUID& kind, std::u16string name, ComPtr<IUnknown> events)
    : TOrvoInterfaces(ui, form, parent, kind, std::move(name), std::move(events)) {}

bool TOrvoHostEdit::GetSpecial(int32_t propId, TOrvoPropValue& value) {
    if (propId == ORVO_UIP_TEXT) {
        value = FText;
        return true;
    }
    if (propId == ORVO_UIP_PLACEHOLDER && !FProperties.contains(propId)) {
        value = std::u16string();
        return true;
    }
    return false;
}

bool TOrvoHostEdit::SetSpecial(int32_t propId, const TOrvoPropValue& value, HRESULT& result) {
    if (propId != ORVO_UIP_TEXT)
        return false;
    try {
        SetText(PropValueToText(value));
    } catch (const EArgumentError&) {
        result = E_INVALIDARG;
    }
    return true;
}

void TOrvoHostEdit::SetText(std::u16string text) {
    if (text == FText)
        return;
    FText = std::move(text);
    RaiseChanged();
}

HRESULT ORVO_CALL TOrvoHostEdit::AddButton(IUnknown* events, IOrvoUIControl** button) {
    return Call([&] {
        if (!button)
            return E_INVALIDARG;
        *button = nullptr;
        auto made = MakeInterfaced<TOrvoHostControl>(FUI, FForm, this, ORVO_UI_EDIT_BUTTON, std::u16string(),
                                                     ComPtr<IUnknown>(events));
        AddChild(made);
        *button = ComPtr<IOrvoUIControl>(made.get()).Detach();
        return S_OK;
    });
}

int32_t ORVO_CALL TOrvoHostEdit::ButtonCount() {
    HRESULT ignored = S_OK;
    return CanAccess(ignored) ? int32_t(FChildren.size()) : 0;
}

HRESULT ORVO_CALL TOrvoHostEdit::GetButton(int32_t index, IOrvoUIControl** button) {
    return Call([&] {
        if (!button)
            return E_INVALIDARG;
        *button = nullptr;
        if (index < 0 || size_t(index) >= FChildren.size())
            return E_INVALIDARG;
        *button = ComPtr<IOrvoUIControl>(FChildren[size_t(index)].get()).Detach();
        return S_OK;
    });
}

// ---- TOrvoHostComboBox

bool TOrvoHostComboBox::ListOnly() const {
    auto it = FProperties.find(ORVO_UIP_COMBO_STYLE);
    return it != FProperties.end() && PropValueToInt32(it->second) == 1;
}

std::vector<std::u16string> TOrvoHostComboBox::Items() const {
    std::vector<std::u16string> items;
    for (const auto& item : FItems)
        items.push_back(item.Text);
    return items;
}

void TOrvoHostComboBox::Select(int32_t index, std::u16string text) {
    if (index == FItemIndex && text == FText)
        return;
    FItemIndex = index;
    FText = std::move(text);
    RaiseChanged();
}

void TOrvoHostComboBox::SetItemIndex(int32_t index) {
    if (index < -1 || index >= int32_t(FItems.size()))
        throw EArgumentError(Format(u"The %s has no item %d", Describe(), index));
    Select(index, index < 0 ? std::u16string() : FItems[size_t(index)].Text);
}

void TOrvoHostComboBox::SetText(std::u16string text) {
    int32_t index = -1;
    for (size_t i = 0; i < FItems.size(); ++i)
        if (FItems[i].Text == text) {
            index = int32_t(i);
            break;
        }
    if (index < 0 && ListOnly() && !text.empty())
        throw EArgumentError(Format(u"The %s lists no item \"%s\"", Describe(), text));
    Select(index, std::move(text));
}

bool TOrvoHostComboBox::GetSpecial(int32_t propId, TOrvoPropValue& value) {
    if (propId == ORVO_UIP_COMBO_TEXT)
        propId = ORVO_UIP_TEXT;
    if (propId == ORVO_UIP_ITEM_INDEX) {
        value = int64_t(FItemIndex);
        return true;
    }
    if (propId == ORVO_UIP_COMBO_STYLE && !FProperties.contains(propId)) {
        value = int64_t(0);
        return true;
    }
    return TOrvoInterfaces::GetSpecial(propId, value);
}

bool TOrvoHostComboBox::SetSpecial(int32_t propId, const TOrvoPropValue& value, HRESULT& result) {
    if (propId == ORVO_UIP_COMBO_TEXT)
        propId = ORVO_UIP_TEXT;
    if (propId == ORVO_UIP_ITEM_INDEX) {
        try {
            SetItemIndex(PropValueToInt32(value));
        } catch (const EArgumentError&) {
            result = E_INVALIDARG;
        }
        return true;
    }
    if (propId == ORVO_UIP_COMBO_STYLE) {
        const int32_t style = PropValueToInt32(value);
        if (style != 0 && style != 1)
            result = E_INVALIDARG;
        else
            FProperties[propId] = int64_t(style);
        // A list-only box shows only what its list holds.
        if (style == 1 && FItemIndex < 0)
            Select(-1, std::u16string());
        return true;
    }
    return TOrvoInterfaces::SetSpecial(propId, value, result);
}

HRESULT ORVO_CALL TOrvoHostComboBox::Add(IOrvoString* text, IUnknown* object) {
    return Call([&] {
        FItems.push_back({FromHostString(text), ComPtr<IUnknown>(object)});
        FAwaitingItems = false;
        // An editable box whose typed text the new item matches now shows that item.
        if (FItemIndex < 0 && !FText.empty() && FItems.back().Text == FText)
            Select(int32_t(FItems.size()) - 1, FText);
        return S_OK;
    });
}

void TOrvoHostComboBox::DoEndUpdate() {
    TOrvoHostEdit::DoEndUpdate();
    if (!Updating())
        FAwaitingItems = false;
}

HRESULT ORVO_CALL TOrvoHostComboBox::Clear() {
    return Call([&] {
        FItems.clear();
        // Emptied within an update, the list is being refilled: the update's end shows the result.
        if (!Updating())
            FAwaitingItems = true;
        Select(-1, ListOnly() ? std::u16string() : FText);
        return S_OK;
    });
}

HRESULT ORVO_CALL TOrvoHostComboBox::Delete(int32_t index) {
    return Call([&] {
        if (index < 0 || size_t(index) >= FItems.size())
            return E_INVALIDARG;
        FItems.erase(FItems.begin() + index);
        if (index == FItemIndex)
            Select(-1, ListOnly() ? std::u16string() : FText);
        else if (index < FItemIndex)
            --FItemIndex;
        return S_OK;
    });
}

HRESULT ORVO_CALL TOrvoHostComboBox::GetItemText(int32_t index, IOrvoString** text) {
    return Call([&] {
        if (!text)
            return E_INVALIDARG;
        *text = nullptr;
        if (index < 0 || size_t(index) >= FItems.size())
            return E_INVALIDARG;
        *text = TOrvoHostString::Create(FItems[size_t(index)].Text).Detach();
        return S_OK;
    });
}

HRESULT ORVO_CALL TOrvoHostComboBox::GetItemObject(int32_t index, const TGUID& iid, void** object) {
    return Call([&] {
        if (!object)
            return E_INVALIDARG;
        *object = nullptr;
        if (index < 0 || size_t(index) >= FItems.size())
            return E_INVALIDARG;
        const auto& item = FItems[size_t(index)].Object;
        return item ? item->QueryInterface(iid, object) : E_FAIL;
    });
}

int32_t ORVO_CALL TOrvoHostComboBox::Count() {
    HRESULT ignored = S_OK;
    return CanAccess(ignored) ? int32_t(FItems.size()) : 0;
}

// ---- TOrvoHostForm

TOrvoHostForm::TOrvoHostForm(TOrvoHostUI& ui, TOrvoUIWindowHandle owner, std::u16string name,
                             ComPtr<IUnknown> events)
    : TOrvoInterfaces(ui, nullptr, nullptr, IOrvoUIForm::IID, std::move(name), std::move(events)),
      FKeepUI(static_cast<IOrvoServiceUI*>(&ui)), FOwnerWindow(owner) {
    ui.FormCreated(this);
}

TOrvoHostForm::~TOrvoHostForm() {
    // Released without Dispose: the controls the plug-in still holds must not point here.
    if (FAlive) {
        FUI.FormGone(this);
        Detach();
    }
}

std::vector<TOrvoHostControl*> TOrvoHostForm::AllControls() const {
    std::vector<TOrvoHostControl*> all;
    std::function<void(const TOrvoHostControl&)> walk = [&](const TOrvoHostControl& c) {
        for (const auto& child : c.Children()) {
            all.push_back(child.get());
            walk(*child);
        }
    };
    walk(*this);
    return all;
}

void TOrvoHostForm::CloseWith(int32_t modalResult) {
    if (!FShowing)
        return;
    FShowing = false;
    if (modalResult != 0)
        FModalResult = modalResult;
    else if (FModalResult == 0)
        FModalResult = ORVO_UI_MODAL_CANCEL;
    RaiseAction();
    platform::WakeMainThread();
}

HRESULT ORVO_CALL TOrvoHostForm::Close() {
    return Call([&] {
        CloseWith(0);
        return S_OK;
    });
}

HRESULT ORVO_CALL TOrvoHostForm::Show() {
    return Call([&] {
        FShowing = true;
        return S_OK;
    });
}

HRESULT ORVO_CALL TOrvoHostForm::SetModalResult(int32_t result) {
    return Call([&] {
        if (result == 0)
            return E_INVALIDARG;
        FModalResult = result;
        CloseWith(result);
        return S_OK;
    });
}

HRESULT ORVO_CALL TOrvoHostForm::Dispose(int32_t flags) {
    return Call([&] {
        if (flags != 0)
            return E_INVALIDARG;
        ComPtr<IUnknown> keep(static_cast<IOrvoUIForm*>(this));
        CloseWith(0);
        FUI.FormGone(this);
        Detach();
        return S_OK;
    });
}

HRESULT ORVO_CALL TOrvoHostForm::ShowModal(int32_t* modalResult) {
    return Call([&] {
        if (modalResult)
            *modalResult = 0;
        if (FShowing)
            return E_FAIL;
        ComPtr<IUnknown> keep(static_cast<IOrvoUIForm*>(this));
        FShowing = true;
        FModal = true;
        FModalResult = 0;
        FUI.ModalShowing(*this);
        // The host's loop goes on while the form waits: queued main-thread calls are served, and
        // one that fails does not end the showing.
        while (FShowing) {
            try {
                platform::PumpMainThreadUntil([this] { return !FShowing; });
            } catch (const std::exception& e) {
                FUI.EventFailed(E_UNEXPECTED, u"a queued main-thread call: " + ExceptionMessage(e));
            } catch (...) {
                FUI.EventFailed(E_UNEXPECTED, u"a queued main-thread call");
            }
        }
        FModal = false;
        if (modalResult)
            *modalResult = FModalResult;
        return S_OK;
    });
}
