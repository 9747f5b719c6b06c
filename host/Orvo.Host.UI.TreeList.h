#pragma once
// The tree list of the in-memory user-interface model: columns, nodes with text values, the
// focused node and the selection, and the tree-list events.
//
// Thread-safety: main thread only, like every control.

#include "host/Orvo.Host.UI.Controls.h"

class TOrvoHostTreeList;

class TOrvoHostTreeNode : public TOrvoInterfaces<TInterfacedObjectEx, IOrvoUITreeListNode> {
public:
    HRESULT ORVO_CALL AddChild(const TGUID& iid, void** child) override;
    HRESULT ORVO_CALL DeleteChildren() override;
    HRESULT ORVO_CALL Delete() override;
    int32_t ORVO_CALL ChildCount() override;
    HRESULT ORVO_CALL GetChild(int32_t index, const TGUID& iid, void** child) override;
    HRESULT ORVO_CALL GetParent(const TGUID& iid, void** parent) override;
    int32_t ORVO_CALL Index() override;
    HRESULT ORVO_CALL GetValue(int32_t index, IOrvoString** value) override;
    HRESULT ORVO_CALL SetValue(int32_t index, IOrvoString* value) override;

    // The value shown in column `index`, empty when never set.
    std::u16string Value(size_t index) const;
    const std::vector<std::u16string>& Values() const { return FValues; }
    const std::vector<ComPtr<TOrvoHostTreeNode>>& Children() const { return FChildren; }
    TOrvoHostTreeNode* Parent() const { return FParent; }
    bool Expanded() const { return FExpanded; }
    void SetExpanded(bool expanded) { FExpanded = expanded; }

protected:
    TOrvoHostTreeNode(TOrvoHostTreeList* tree, TOrvoHostTreeNode* parent) : FTree(tree), FParent(parent) {}
    template <typename T, typename... Args> friend ComPtr<T> MakeInterfaced(Args&&... args);
    friend class TOrvoHostTreeList;

private:
    template <typename Body> HRESULT Call(Body&& body) noexcept;
    // Takes the node and its subtree out of the list.
    void Detach();
    void RemoveChildren();

    TOrvoHostTreeList* FTree;
    TOrvoHostTreeNode* FParent;
    std::vector<ComPtr<TOrvoHostTreeNode>> FChildren;
    std::vector<std::u16string> FValues;
    bool FExpanded = false;
};

class TOrvoHostTreeColumn : public TOrvoInterfaces<TOrvoPropertyList, IOrvoUITreeListColumn> {
public:
    int32_t ORVO_CALL Index() override;

    bool Stretch() const;
    int32_t Width() const;

protected:
    explicit TOrvoHostTreeColumn(TOrvoHostTreeList* tree);
    template <typename T, typename... Args> friend ComPtr<T> MakeInterfaced(Args&&... args);
    friend class TOrvoHostTreeList;

    bool CanAccess(HRESULT& result) override;
    void DoGetValue(int32_t propId, TOrvoPropValue& value, HRESULT& result) override;
    void DoSetValue(int32_t propId, const TOrvoPropValue& value, HRESULT& result) override;
    ComPtr<IUnknown> DoGetValueAsObject(int32_t propId) override;

private:
    TOrvoHostTreeList* FTree;
    std::map<int32_t, TOrvoPropValue> FProperties;
};

class TOrvoHostTreeList : public TOrvoInterfaces<TOrvoHostWinControl, IOrvoUITreeList> {
public:
    HRESULT ORVO_CALL AddColumn(const TGUID& iid, void** column) override;
    int32_t ORVO_CALL ColumnCount() override;
    HRESULT ORVO_CALL GetColumn(int32_t index, const TGUID& iid, void** column) override;
    HRESULT ORVO_CALL DeleteColumn(int32_t index) override;
    // Also the property list's: one count of updates.
    void ORVO_CALL BeginUpdate() override;
    void ORVO_CALL EndUpdate() override;
    HRESULT ORVO_CALL Clear() override;
    HRESULT ORVO_CALL FullExpand() override;
    HRESULT ORVO_CALL GetRootNode(const TGUID& iid, void** root) override;
    HRESULT ORVO_CALL FullCollapse() override;
    HRESULT ORVO_CALL SetFocusedNode(IOrvoUITreeListNode* node) override;
    HRESULT ORVO_CALL SelectNode(IOrvoUITreeListNode* node, int32_t selected) override;
    HRESULT ORVO_CALL ClearSelection() override;
    int32_t ORVO_CALL RowCount() override;
    HRESULT ORVO_CALL GetRow(int32_t row, const TGUID& iid, void** node) override;
    int32_t ORVO_CALL RowOf(IOrvoUITreeListNode* node) override;
    HRESULT ORVO_CALL MakeVisible(IOrvoUITreeListNode* node) override;
    HRESULT ORVO_CALL GetFocusedNode(const TGUID& iid, void** node) override;
    HRESULT ORVO_CALL GetSelected(int32_t index, const TGUID& iid, void** node) override;
    int32_t ORVO_CALL IsSelected(IOrvoUITreeListNode* node) override;
    int32_t ORVO_CALL SelectedCount() override;

    // ---- the host's side
    const std::vector<ComPtr<TOrvoHostTreeColumn>>& Columns() const { return FColumns; }
    TOrvoHostTreeNode& Root() const { return *FRoot; }
    // The nodes shown, in row order.
    std::vector<TOrvoHostTreeNode*> Rows() const;
    TOrvoHostTreeNode* Focused() const { return FFocused.get(); }
    // As a person clicking a row: focuses and selects it alone, raises the selection change when
    // it changed, then the click. Raises EArgumentError for a row not shown.
    void ClickRow(int32_t row);
    // As a person double-clicking a row: the click, then the node is opened.
    void OpenRow(int32_t row);

    void Detach() override;
    // A node and its subtree leave the list: they lose the focus and the selection.
    void NodeRemoved(TOrvoHostTreeNode& node);
    bool Accessible();

protected:
    TOrvoHostTreeList(TOrvoHostUI& ui, TOrvoHostForm* form, TOrvoHostControl* parent, const TGUID& kind,
                      std::u16string name, ComPtr<IUnknown> events);
    template <typename T, typename... Args> friend ComPtr<T> MakeInterfaced(Args&&... args);

private:
    // The model node behind an interface of this list, or null.
    TOrvoHostTreeNode* OwnNode(IOrvoUITreeListNode* node) const;
    template <typename Fire> void RaiseListEvent(Fire&& fire);
    void SelectionChanged();

    std::vector<ComPtr<TOrvoHostTreeColumn>> FColumns;
    ComPtr<TOrvoHostTreeNode> FRoot;
    ComPtr<TOrvoHostTreeNode> FFocused;
    std::vector<ComPtr<TOrvoHostTreeNode>> FSelected;
};
