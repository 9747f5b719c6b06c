#include "host/Orvo.Host.UI.TreeList.h"

#include "host/Orvo.Host.String.h"
#include "platform/Platform.Threads.h"

#include <algorithm>

namespace {

template <typename T> HRESULT Answer(T* object, const TGUID& iid, void** out) {
    if (!out)
        return E_INVALIDARG;
    *out = nullptr;
    return object ? object->QueryInterface(iid, out) : E_FAIL;
}

} // namespace

// ---- TOrvoHostTreeNode

template <typename Body> HRESULT TOrvoHostTreeNode::Call(Body&& body) noexcept {
    if (!FTree || !FTree->Accessible())
        return E_FAIL;
    try {
        return body();
    } catch (...) {
        return E_UNEXPECTED;
    }
}

void TOrvoHostTreeNode::RemoveChildren() {
    std::vector<ComPtr<TOrvoHostTreeNode>> children = std::move(FChildren);
    FChildren.clear();
    for (auto& child : children)
        child->Detach();
}

void TOrvoHostTreeNode::Detach() {
    if (FTree)
        FTree->NodeRemoved(*this);
    RemoveChildren();
    FTree = nullptr;
    FParent = nullptr;
}

HRESULT ORVO_CALL TOrvoHostTreeNode::AddChild(const TGUID& iid, void** child) {
    return Call([&] {
        auto made = MakeInterfaced<TOrvoHostTreeNode>(FTree, this);
        FChildren.push_back(made);
        return Answer(made.get(), iid, child);
    });
}

HRESULT ORVO_CALL TOrvoHostTreeNode::DeleteChildren() {
    return Call([&] {
        RemoveChildren();
        return S_OK;
    });
}

HRESULT ORVO_CALL TOrvoHostTreeNode::Delete() {
    return Call([&] {
        if (!FParent)
            return E_FAIL;
        ComPtr<TOrvoHostTreeNode> keep(this);
        auto& siblings = FParent->FChildren;
        siblings.erase(std::find(siblings.begin(), siblings.end(), keep));
        Detach();
        return S_OK;
    });
}

int32_t ORVO_CALL TOrvoHostTreeNode::ChildCount() {
    return FTree && FTree->Accessible() ? int32_t(FChildren.size()) : 0;
}

HRESULT ORVO_CALL TOrvoHostTreeNode::GetChild(int32_t index, const TGUID& iid, void** child) {
    return Call([&] {
        if (index < 0 || size_t(index) >= FChildren.size())
            return child ? (*child = nullptr, E_INVALIDARG) : E_INVALIDARG;
        return Answer(FChildren[size_t(index)].get(), iid, child);
    });
}

HRESULT ORVO_CALL TOrvoHostTreeNode::GetParent(const TGUID& iid, void** parent) {
    return Call([&] { return Answer(FParent, iid, parent); });
}

int32_t ORVO_CALL TOrvoHostTreeNode::Index() {
    if (!FParent || !FTree || !FTree->Accessible())
        return -1;
    const auto& siblings = FParent->FChildren;
    for (size_t i = 0; i < siblings.size(); ++i)
        if (siblings[i].get() == this)
            return int32_t(i);
    return -1;
}

std::u16string TOrvoHostTreeNode::Value(size_t index) const {
    return index < FValues.size() ? FValues[index] : std::u16string();
}

HRESULT ORVO_CALL TOrvoHostTreeNode::GetValue(int32_t index, IOrvoString** value) {
    return Call([&] {
        if (!value || index < 0)
            return E_INVALIDARG;
        *value = TOrvoHostString::Create(Value(size_t(index))).Detach();
        return S_OK;
    });
}

HRESULT ORVO_CALL TOrvoHostTreeNode::SetValue(int32_t index, IOrvoString* value) {
    return Call([&] {
        // A bound on the index keeps a wild number from allocating the world.
        if (index < 0 || index >= 1024)
            return E_INVALIDARG;
        if (size_t(index) >= FValues.size())
            FValues.resize(size_t(index) + 1);
        FValues[size_t(index)] = FromHostString(value);
        return S_OK;
    });
}

// ---- TOrvoHostTreeColumn

TOrvoHostTreeColumn::TOrvoHostTreeColumn(TOrvoHostTreeList* tree) : FTree(tree) {
    FProperties[ORVO_UIP_COLUMN_STRETCH] = int64_t(1);
    FProperties[ORVO_UIP_COLUMN_WIDTH] = int64_t(0);
}

int32_t ORVO_CALL TOrvoHostTreeColumn::Index() {
    if (!FTree || !FTree->Accessible())
        return -1;
    const auto& columns = FTree->Columns();
    for (size_t i = 0; i < columns.size(); ++i)
        if (columns[i].get() == this)
            return int32_t(i);
    return -1;
}

bool TOrvoHostTreeColumn::Stretch() const {
    return PropValueToInt32(FProperties.at(ORVO_UIP_COLUMN_STRETCH)) != 0;
}

int32_t TOrvoHostTreeColumn::Width() const {
    return PropValueToInt32(FProperties.at(ORVO_UIP_COLUMN_WIDTH));
}

bool TOrvoHostTreeColumn::CanAccess(HRESULT& result) {
    if (!FTree || !FTree->Accessible()) {
        result = E_FAIL;
        return false;
    }
    return true;
}

void TOrvoHostTreeColumn::DoGetValue(int32_t propId, TOrvoPropValue& value, HRESULT& result) {
    auto it = FProperties.find(propId);
    if (it == FProperties.end()) {
        value = std::monostate();
        result = E_INVALIDARG;
        return;
    }
    value = it->second;
    result = S_OK;
}

void TOrvoHostTreeColumn::DoSetValue(int32_t propId, const TOrvoPropValue& value, HRESULT& result) {
    result = S_OK;
    if (propId == ORVO_UIP_COLUMN_STRETCH)
        FProperties[propId] = int64_t(PropValueToInt32(value) != 0);
    else if (propId == ORVO_UIP_COLUMN_WIDTH) {
        const int32_t width = PropValueToInt32(value);
        if (width < 0)
            result = E_INVALIDARG;
        else
            FProperties[propId] = int64_t(width);
    } else if (propId == ORVO_UIP_CAPTION)
        FProperties[propId] = PropValueToText(value);
    else
        result = E_INVALIDARG;
}

ComPtr<IUnknown> TOrvoHostTreeColumn::DoGetValueAsObject(int32_t propId) {
    auto it = FProperties.find(propId);
    if (it == FProperties.end())
        return nullptr;
    return ComPtr<IUnknown>(TOrvoHostString::Create(PropValueToText(it->second)));
}

// ---- TOrvoHostTreeList

TOrvoHostTreeList::TOrvoHostTreeList(TOrvoHostUI& ui, TOrvoHostForm* form, TOrvoHostControl* parent,
                                     const TGUID& kind, std::u16string name, ComPtr<IUnknown> events)
    : TOrvoInterfaces(ui, form, parent, kind, std::move(name), std::move(events)) {
    FRoot = MakeInterfaced<TOrvoHostTreeNode>(this, nullptr);
    FRoot->FExpanded = true;
}

bool TOrvoHostTreeList::Accessible() {
    HRESULT ignored = S_OK;
    return CanAccess(ignored);
}

void TOrvoHostTreeList::Detach() {
    FFocused.Reset();
    FSelected.clear();
    // Nodes the plug-in still holds answer E_FAIL from now on.
    FRoot->RemoveChildren();
    FRoot->FTree = nullptr;
    for (auto& column : FColumns)
        column->FTree = nullptr;
    FColumns.clear();
    TOrvoInterfaces::Detach();
}

template <typename Fire> void TOrvoHostTreeList::RaiseListEvent(Fire&& fire) {
    RaiseEvent<IOrvoUITreeListEvents>(std::forward<Fire>(fire));
}

void TOrvoHostTreeList::SelectionChanged() {
    RaiseListEvent([](IOrvoUITreeListEvents* h, IUnknown* sender) { return h->SelectionChanged(sender); });
}

void TOrvoHostTreeList::NodeRemoved(TOrvoHostTreeNode& node) {
    bool changed = false;
    if (FFocused.get() == &node) {
        FFocused.Reset();
        changed = true;
    }
    const auto gone = std::remove_if(FSelected.begin(), FSelected.end(),
                                     [&](const ComPtr<TOrvoHostTreeNode>& n) { return n.get() == &node; });
    if (gone != FSelected.end()) {
        FSelected.erase(gone, FSelected.end());
        changed = true;
    }
    if (changed)
        SelectionChanged();
}

TOrvoHostTreeNode* TOrvoHostTreeList::OwnNode(IOrvoUITreeListNode* node) const {
    if (!node)
        return nullptr;
    // Only nodes of this list are ours to cast: compare against the model's own nodes.
    std::vector<TOrvoHostTreeNode*> stack{FRoot.get()};
    while (!stack.empty()) {
        TOrvoHostTreeNode* n = stack.back();
        stack.pop_back();
        if (static_cast<IOrvoUITreeListNode*>(n) == node)
            return n;
        for (const auto& child : n->Children())
            stack.push_back(child.get());
    }
    return nullptr;
}

std::vector<TOrvoHostTreeNode*> TOrvoHostTreeList::Rows() const {
    std::vector<TOrvoHostTreeNode*> rows;
    std::function<void(const TOrvoHostTreeNode&)> walk = [&](const TOrvoHostTreeNode& n) {
        for (const auto& child : n.Children()) {
            rows.push_back(child.get());
            if (child->Expanded())
                walk(*child);
        }
    };
    walk(*FRoot);
    return rows;
}

HRESULT ORVO_CALL TOrvoHostTreeList::AddColumn(const TGUID& iid, void** column) {
    return Call([&] {
        auto made = MakeInterfaced<TOrvoHostTreeColumn>(this);
        FColumns.push_back(made);
        return Answer(made.get(), iid, column);
    });
}

int32_t ORVO_CALL TOrvoHostTreeList::ColumnCount() {
    return Accessible() ? int32_t(FColumns.size()) : 0;
}

HRESULT ORVO_CALL TOrvoHostTreeList::GetColumn(int32_t index, const TGUID& iid, void** column) {
    return Call([&] {
        if (index < 0 || size_t(index) >= FColumns.size())
            return column ? (*column = nullptr, E_INVALIDARG) : E_INVALIDARG;
        return Answer(FColumns[size_t(index)].get(), iid, column);
    });
}

HRESULT ORVO_CALL TOrvoHostTreeList::DeleteColumn(int32_t index) {
    return Call([&] {
        if (index < 0 || size_t(index) >= FColumns.size())
            return E_INVALIDARG;
        FColumns[size_t(index)]->FTree = nullptr;
        FColumns.erase(FColumns.begin() + index);
        return S_OK;
    });
}

void ORVO_CALL TOrvoHostTreeList::BeginUpdate() {
    TOrvoPropertyList::BeginUpdate();
}

void ORVO_CALL TOrvoHostTreeList::EndUpdate() {
    TOrvoPropertyList::EndUpdate();
}

HRESULT ORVO_CALL TOrvoHostTreeList::Clear() {
    return Call([&] {
        FRoot->RemoveChildren();
        return S_OK;
    });
}

HRESULT ORVO_CALL TOrvoHostTreeList::FullExpand() {
    return Call([&] {
        std::function<void(TOrvoHostTreeNode&)> walk = [&](TOrvoHostTreeNode& n) {
            for (const auto& child : n.Children()) {
                child->SetExpanded(true);
                walk(*child);
            }
        };
        walk(*FRoot);
        return S_OK;
    });
}

HRESULT ORVO_CALL TOrvoHostTreeList::FullCollapse() {
    return Call([&] {
        std::function<void(TOrvoHostTreeNode&)> walk = [&](TOrvoHostTreeNode& n) {
            for (const auto& child : n.Children()) {
                child->SetExpanded(false);
                walk(*child);
            }
        };
        walk(*FRoot);
        return S_OK;
    });
}

HRESULT ORVO_CALL TOrvoHostTreeList::GetRootNode(const TGUID& iid, void** root) {
    return Call([&] { return Answer(FRoot.get(), iid, root); });
}

HRESULT ORVO_CALL TOrvoHostTreeList::SetFocusedNode(IOrvoUITreeListNode* node) {
    return Call([&] {
        TOrvoHostTreeNode* own = OwnNode(node);
        if ((node && !own) || own == FRoot.get())
            return E_INVALIDARG;
        const bool changed = FFocused.get() != own || FSelected.size() != (own ? 1u : 0u) ||
                             (own && FSelected.front().get() != own);
        FFocused = ComPtr<TOrvoHostTreeNode>(own);
        FSelected.clear();
        if (own)
            FSelected.emplace_back(own);
        if (changed)
            SelectionChanged();
        return S_OK;
    });
}

HRESULT ORVO_CALL TOrvoHostTreeList::SelectNode(IOrvoUITreeListNode* node, int32_t selected) {
    return Call([&] {
        TOrvoHostTreeNode* own = OwnNode(node);
        if (!own || own == FRoot.get())
            return E_INVALIDARG;
        auto it = std::find_if(FSelected.begin(), FSelected.end(),
                               [&](const ComPtr<TOrvoHostTreeNode>& n) { return n.get() == own; });
        if (selected && it == FSelected.end())
            FSelected.emplace_back(own);
        else if (!selected && it != FSelected.end())
            FSelected.erase(it);
        else
            return S_OK;
        SelectionChanged();
        return S_OK;
    });
}

HRESULT ORVO_CALL TOrvoHostTreeList::ClearSelection() {
    return Call([&] {
        if (FSelected.empty())
            return S_OK;
        FSelected.clear();
        SelectionChanged();
        return S_OK;
    });
}

int32_t ORVO_CALL TOrvoHostTreeList::RowCount() {
    return Accessible() ? int32_t(Rows().size()) : 0;
}

HRESULT ORVO_CALL TOrvoHostTreeList::GetRow(int32_t row, const TGUID& iid, void** node) {
    return Call([&] {
        const auto rows = Rows();
        if (row < 0 || size_t(row) >= rows.size())
            return node ? (*node = nullptr, E_INVALIDARG) : E_INVALIDARG;
        return Answer(rows[size_t(row)], iid, node);
    });
}

int32_t ORVO_CALL TOrvoHostTreeList::RowOf(IOrvoUITreeListNode* node) {
    if (!Accessible() || !node)
        return -1;
    const auto rows = Rows();
    for (size_t i = 0; i < rows.size(); ++i)
        if (static_cast<IOrvoUITreeListNode*>(rows[i]) == node)
            return int32_t(i);
    return -1;
}

HRESULT ORVO_CALL TOrvoHostTreeList::MakeVisible(IOrvoUITreeListNode* node) {
    return Call([&] {
        TOrvoHostTreeNode* own = OwnNode(node);
        if (!own)
            return E_INVALIDARG;
        for (TOrvoHostTreeNode* p = own->Parent(); p; p = p->Parent())
            p->SetExpanded(true);
        return S_OK;
    });
}

HRESULT ORVO_CALL TOrvoHostTreeList::GetFocusedNode(const TGUID& iid, void** node) {
    return Call([&] { return Answer(FFocused.get(), iid, node); });
}

HRESULT ORVO_CALL TOrvoHostTreeList::GetSelected(int32_t index, const TGUID& iid, void** node) {
    return Call([&] {
        std::vector<TOrvoHostTreeNode*> inRowOrder;
        for (TOrvoHostTreeNode* row : Rows())
            for (const auto& s : FSelected)
                if (s.get() == row)
                    inRowOrder.push_back(row);
        if (index < 0 || size_t(index) >= inRowOrder.size())
            return node ? (*node = nullptr, E_INVALIDARG) : E_INVALIDARG;
        return Answer(inRowOrder[size_t(index)], iid, node);
    });
}

int32_t ORVO_CALL TOrvoHostTreeList::IsSelected(IOrvoUITreeListNode* node) {
    if (!Accessible())
        return 0;
    for (const auto& s : FSelected)
        if (static_cast<IOrvoUITreeListNode*>(s.get()) == node)
            return 1;
    return 0;
}

int32_t ORVO_CALL TOrvoHostTreeList::SelectedCount() {
    return Accessible() ? int32_t(FSelected.size()) : 0;
}

void TOrvoHostTreeList::ClickRow(int32_t row) {
    const auto rows = Rows();
    if (row < 0 || size_t(row) >= rows.size())
        throw EArgumentError(Format(u"The %s shows no row %d", Describe(), row));
    ComPtr<TOrvoHostTreeNode> node(rows[size_t(row)]);
    RaiseIfFailed(SetFocusedNode(node.get()));
    RaiseListEvent(
        [&](IOrvoUITreeListEvents* h, IUnknown* sender) { return h->NodeClick(sender, node.get()); });
}

void TOrvoHostTreeList::OpenRow(int32_t row) {
    ClickRow(row);
    ComPtr<TOrvoHostTreeNode> node = FFocused;
    RaiseListEvent(
        [&](IOrvoUITreeListEvents* h, IUnknown* sender) { return h->NodeDblClick(sender, node.get()); });
}
