#include "sdk/apiWrappersGUI.h"

#include "nuv/Nuv.Log.h"

// ---- event adapters

HRESULT TOrvoUICustomEventAdapter::InternalQueryInterface(const TGUID& iid, void** object) {
    const HRESULT result = TInterfacedObjectEx::InternalQueryInterface(iid, object);
    if (result == E_NOINTERFACE && FMasterAdapter)
        return FMasterAdapter->QueryInterface(iid, object);
    return result;
}

HRESULT TOrvoUICustomEventAdapter::ReportHandlerError(const std::u16string& message) noexcept {
    try {
        if (UIShowMessage(MainWindowHandle(), u"", message, ORVO_MSG_ICON_ERROR) == 0)
            NuvLogError(u"App", message);
    } catch (...) {
        // Nothing more can be done for the user; the result still says that the handler failed.
    }
    return E_UNEXPECTED;
}

TOrvoUINotifyEventAdapter::TOrvoUINotifyEventAdapter(TOrvoUINotifyEvent event, std::function<void()> event2,
                                                     ComPtr<IUnknown> masterAdapter)
    : FEvent(std::move(event)), FEvent2(std::move(event2)) {
    FMasterAdapter = std::move(masterAdapter);
}

HRESULT TOrvoUINotifyEventAdapter::Notify(IUnknown* sender) {
    // The handler may drop the last outside reference to this adapter (a dialog that disposes of
    // its form); it must live until the handler returns.
    ComPtr<IUnknown> self(static_cast<IOrvoUIChangeEvents*>(this));
    return Dispatch([&] {
        if (FEvent)
            FEvent(sender);
        if (FEvent2)
            FEvent2();
    });
}

HRESULT ORVO_CALL TOrvoUINotifyEventAdapter::Changed(IUnknown* sender) {
    return Notify(sender);
}

HRESULT ORVO_CALL TOrvoUINotifyEventAdapter::Execute(IUnknown* data) {
    return Notify(data);
}

ComPtr<IUnknown> UINotifyEvent(TOrvoUINotifyEvent event) {
    auto adapter = MakeInterfaced<TOrvoUINotifyEventAdapter>(std::move(event));
    return ComPtr<IUnknown>(static_cast<IOrvoUIChangeEvents*>(adapter.get()));
}

bool UISameObject(IUnknown* a, IUnknown* b) {
    if (!a || !b)
        return a == b;
    return QueryAs<IUnknown>(a).get() == QueryAs<IUnknown>(b).get();
}

// ---- placements

TOrvoUIPlacement UIPlacement(int32_t alignment, int32_t size) {
    return UIPlacement(alignment, size, UIMargins(3));
}

TOrvoUIPlacement UIPlacement(int32_t alignment, int32_t size, TOrvoUIRect margins) {
    TOrvoUIPlacement placement;
    placement.Alignment = alignment;
    placement.Margins = margins;
    switch (alignment) {
    case ORVO_UI_ALIGN_TOP:
    case ORVO_UI_ALIGN_BOTTOM:
        placement.Bounds.Bottom = size;
        break;
    case ORVO_UI_ALIGN_LEFT:
    case ORVO_UI_ALIGN_RIGHT:
        placement.Bounds.Right = size;
        break;
    case ORVO_UI_ALIGN_CLIENT:
        placement.Bounds.Right = size;
        placement.Bounds.Bottom = size;
        break;
    default:
        break;
    }
    return placement;
}

// ---- forms and controls

ComPtr<IOrvoServiceUI> UIService() {
    ComPtr<IOrvoServiceUI> service;
    if (!QueryService(service))
        throw EInvalidOperation(u"The host offers no user-interface service");
    return service;
}

ComPtr<IOrvoUIForm> UICreateForm(TOrvoWindowHandle owner, std::u16string_view name) {
    ComPtr<IOrvoUIForm> form;
    RaiseIfFailed(UIService()->CreateForm(owner, 0, ToHostString(name).get(), nullptr, form.put()));
    return form;
}

ComPtr<IOrvoUIControl> UICreateControl(IOrvoUIForm* form, IUnknown* parent, const TGUID& kind,
                                       std::u16string_view name, const ComPtr<IUnknown>& events) {
    ComPtr<IOrvoString> hostName = name.empty() ? nullptr : ToHostString(name);
    ComPtr<IOrvoUIControl> control;
    RaiseIfFailed(
        UIService()->CreateControl(form, parent, hostName.get(), events.get(), kind, control.put()));
    return control;
}

void UISetPlacement(IUnknown* control, const TOrvoUIPlacement& placement) {
    RaiseIfFailed(UIRequire<IOrvoUIControl>(control)->SetPlacement(placement));
}

void UISetConstraints(IUnknown* control, int32_t minWidth, int32_t minHeight) {
    TOrvoUIConstraints constraints;
    constraints.MinWidth = minWidth;
    constraints.MinHeight = minHeight;
    RaiseIfFailed(UIRequire<IOrvoUIControl>(control)->SetConstraints(constraints));
}

void UISetInt(IUnknown* control, int32_t id, int32_t value) {
    WriteIntProp(UIRequire<IOrvoPropertyList>(control).get(), id, value);
}

void UISetBool(IUnknown* control, int32_t id, bool value) {
    WriteBoolProp(UIRequire<IOrvoPropertyList>(control).get(), id, value);
}

void UISetText(IUnknown* control, int32_t id, std::u16string_view text) {
    WriteTextProp(UIRequire<IOrvoPropertyList>(control).get(), id, text);
}

void UISetObject(IUnknown* control, int32_t id, IUnknown* object) {
    WriteObjectProp(UIRequire<IOrvoPropertyList>(control).get(), id, object);
}

int32_t UIGetInt(IUnknown* control, int32_t id, int32_t fallback) {
    return ReadIntProp(QueryAs<IOrvoPropertyList>(control).get(), id, fallback);
}

std::u16string UIGetText(IUnknown* control, int32_t id) {
    return ReadTextProp(QueryAs<IOrvoPropertyList>(control).get(), id);
}

ComPtr<IUnknown> UIGetObject(IUnknown* control, int32_t id) {
    return ReadObjectProp(QueryAs<IOrvoPropertyList>(control).get(), id);
}

void UIBeginUpdate(IUnknown* control) {
    UIRequire<IOrvoPropertyList>(control)->BeginUpdate();
}

void UIEndUpdate(IUnknown* control) {
    UIRequire<IOrvoPropertyList>(control)->EndUpdate();
}

void UIComboAdd(IUnknown* combo, std::u16string_view text, IUnknown* object) {
    RaiseIfFailed(UIRequire<IOrvoUIComboBox>(combo)->Add(ToHostString(text).get(), object));
}

void UIComboClear(IUnknown* combo) {
    RaiseIfFailed(UIRequire<IOrvoUIComboBox>(combo)->Clear());
}

int32_t UIComboCount(IUnknown* combo) {
    return UIRequire<IOrvoUIComboBox>(combo)->Count();
}

std::u16string UIComboItem(IUnknown* combo, int32_t index) {
    ComPtr<IOrvoString> text;
    RaiseIfFailed(UIRequire<IOrvoUIComboBox>(combo)->GetItemText(index, text.put()));
    return FromHostString(text);
}

ComPtr<IOrvoUIControl> UIAddEditButton(IUnknown* edit, const ComPtr<IUnknown>& events) {
    ComPtr<IOrvoUIControl> button;
    RaiseIfFailed(UIRequire<IOrvoUIButtonedEdit>(edit)->AddButton(events.get(), button.put()));
    return button;
}

int32_t UIShowModal(IOrvoUIForm* form) {
    int32_t result = 0;
    RaiseIfFailed(UIRequire<IOrvoUIForm>(form)->ShowModal(&result));
    return result;
}

void UICloseForm(IOrvoUIForm* form) {
    RaiseIfFailed(UIRequire<IOrvoUIForm>(form)->Close());
}

void UIDisposeForm(IOrvoUIForm* form) noexcept {
    if (form)
        form->Dispose(0);
}

TOrvoWindowHandle UIWindowHandle(IUnknown* control) {
    ComPtr<IOrvoUIWinControl> windowed = QueryAs<IOrvoUIWinControl>(control);
    return windowed ? windowed->Handle() : 0;
}

ComPtr<IOrvoUITreeListColumn> UITreeListAddColumn(IUnknown* treeList) {
    ComPtr<IOrvoUITreeListColumn> column;
    RaiseIfFailed(
        UIRequire<IOrvoUITreeList>(treeList)->AddColumn(IOrvoUITreeListColumn::IID, column.put_void()));
    return column;
}

ComPtr<IOrvoUITreeListNode> UITreeListRoot(IUnknown* treeList) {
    ComPtr<IOrvoUITreeListNode> root;
    RaiseIfFailed(
        UIRequire<IOrvoUITreeList>(treeList)->GetRootNode(IOrvoUITreeListNode::IID, root.put_void()));
    return root;
}

ComPtr<IOrvoUITreeListNode> UITreeListFocused(IUnknown* treeList) {
    ComPtr<IOrvoUITreeListNode> node;
    if (Failed(
            UIRequire<IOrvoUITreeList>(treeList)->GetFocusedNode(IOrvoUITreeListNode::IID, node.put_void())))
        node.Reset();
    return node;
}

ComPtr<IOrvoUITreeListNode> UITreeNodeAddChild(IOrvoUITreeListNode* parent) {
    ComPtr<IOrvoUITreeListNode> child;
    RaiseIfFailed(
        UIRequire<IOrvoUITreeListNode>(parent)->AddChild(IOrvoUITreeListNode::IID, child.put_void()));
    return child;
}

void UITreeNodeSetValues(IOrvoUITreeListNode* node, const std::vector<std::u16string>& values) {
    UIRequire<IOrvoUITreeListNode>(node);
    for (size_t i = 0; i < values.size(); ++i)
        RaiseIfFailed(node->SetValue(int32_t(i), ToHostString(values[i]).get()));
}

std::u16string UITreeNodeValue(IOrvoUITreeListNode* node, int32_t index) {
    ComPtr<IOrvoString> value;
    RaiseIfFailed(UIRequire<IOrvoUITreeListNode>(node)->GetValue(index, value.put()));
    return FromHostString(value);
}

int32_t UIShowMessage(TOrvoWindowHandle owner, std::u16string_view caption, std::u16string_view text,
                      int32_t flags) {
    ComPtr<IOrvoUIMessageDialog> dialog;
    if (!QueryService(dialog))
        return 0;
    int32_t result = 0;
    RaiseIfFailed(
        dialog->Execute(owner, ToHostString(caption).get(), ToHostString(text).get(), flags, &result));
    return result;
}
