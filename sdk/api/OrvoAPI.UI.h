#pragma once
// The host's user-interface service ("ORVOServiceUI"): forms and controls built at run time, their
// numbered properties, placements and events, and the message dialog ("auiMsgDlg").
//
// Every form and control is also a property list: query it for IOrvoPropertyList to read and
// write its numbered properties (ORVO_UIP_*). The interfaces below are flat (each derives from
// IUnknown alone); an object answers every interface its kind has, so a combo box answers
// IOrvoUIControl, IOrvoUIButtonedEdit, IOrvoUIComboBox and IOrvoPropertyList.
//
// Events go to the handler given when a control is made: the host queries it for the event
// interface it raises (a change, an action, tree-list events) and skips the event when it has none.
// A control raises change events whenever its value changes, whether the user or the program
// changed it, except between BeginUpdate and EndUpdate of its property list: changes made then are
// not reported, afterwards either. An event operation answers a failure when its handler raised an
// error; the handler side shows the error before it returns (see apiWrappersGUI).
//
// Forms and controls belong to the host's main thread; their operations answer E_FAIL elsewhere.
// References may be released on any thread.

#include "sdk/api/OrvoAPI.Objects.h"

// A window of the host, owner of forms and message dialogs.
using TOrvoUIWindowHandle = uint64_t;

// ---- records

struct TOrvoUIRect {
    int32_t Left = 0;
    int32_t Top = 0;
    int32_t Right = 0;
    int32_t Bottom = 0;
};

// Alignment of a control inside its parent.
constexpr int32_t ORVO_UI_ALIGN_NONE = 0;
constexpr int32_t ORVO_UI_ALIGN_TOP = 1;
constexpr int32_t ORVO_UI_ALIGN_BOTTOM = 2;
constexpr int32_t ORVO_UI_ALIGN_LEFT = 3;
constexpr int32_t ORVO_UI_ALIGN_RIGHT = 4;
constexpr int32_t ORVO_UI_ALIGN_CLIENT = 5; // fills the space the other controls leave

// Where a control sits in its parent. Margins are the space kept around the control. Anchors
// hold 1 for each side (left, top, right, bottom) whose distance to the parent's edge the control
// keeps when the parent is resized; the default keeps left and top. Bounds are the control's
// rectangle in its parent: Right - Left is the width and Bottom - Top the height that an aligned
// control keeps across its alignment (the height for top, bottom and client, the width for left,
// right and client).
struct TOrvoUIPlacement {
    int32_t Alignment = ORVO_UI_ALIGN_NONE;
    TOrvoUIRect Margins{3, 3, 3, 3};
    TOrvoUIRect Anchors{1, 1, 0, 0};
    TOrvoUIRect Bounds{};
};

// Size limits of a control; 0 means no limit.
struct TOrvoUIConstraints {
    int32_t MinWidth = 0;
    int32_t MinHeight = 0;
    int32_t MaxWidth = 0;
    int32_t MaxHeight = 0;
};

// ---- numbered properties of forms and controls

constexpr int32_t ORVO_UIP_ENABLED = 1;      // 0 or 1; a disabled control takes no input
constexpr int32_t ORVO_UIP_GLYPH = 5;        // edit buttons: the picture drawn (10 a web link)
constexpr int32_t ORVO_UIP_VISIBLE = 6;      // 0 or 1
constexpr int32_t ORVO_UIP_AUTOSIZE = 31;    // 0 or 1: the control sizes itself to its content
constexpr int32_t ORVO_UIP_BORDER = 32;      // 0 none, 1 single, 2 a sizeable frame (forms)
constexpr int32_t ORVO_UIP_CAPTION = 33;     // text: a form's title, a button's or group's label
constexpr int32_t ORVO_UIP_POSITION = 34;    // forms: 0 where the host likes, 1 centred on the owner
constexpr int32_t ORVO_UIP_PADDING = 36;     // space kept inside the control's edges, in pixels
constexpr int32_t ORVO_UIP_TEXT = 37;        // text of an edit box or of a combo box's edit part
constexpr int32_t ORVO_UIP_ROW_SELECT = 41;  // tree lists: 0 or 1, a selection covers whole rows
constexpr int32_t ORVO_UIP_ITEM_INDEX = 52;  // combo boxes: the selected item, -1 for none
constexpr int32_t ORVO_UIP_PLACEHOLDER = 53; // text shown in an empty edit box
constexpr int32_t ORVO_UIP_COMBO_TEXT = 54;  // combo boxes: the text (as ORVO_UIP_TEXT)
constexpr int32_t ORVO_UIP_COMBO_STYLE = 55; // combo boxes: 0 the text may be typed, 1 list only

// Numbered properties of tree-list columns.
constexpr int32_t ORVO_UIP_COLUMN_STRETCH = 1; // 0 or 1 (the default): the column takes spare width
constexpr int32_t ORVO_UIP_COLUMN_WIDTH = 9;   // width in pixels of a column that does not stretch

// Modal results.
constexpr int32_t ORVO_UI_MODAL_OK = 1;
constexpr int32_t ORVO_UI_MODAL_CANCEL = 2;

// ---- events

// A control's value changed; `sender` is the control.
struct IOrvoUIChangeEvents : IUnknown {
    static constexpr TGUID IID = OrvoTag("auiEvntChange");

    virtual HRESULT ORVO_CALL Changed(IUnknown* sender) = 0;
};

// An action: a button pressed (`data` is the button), a menu item chosen, a task cancelled.
struct IOrvoActionEvent : IUnknown {
    static constexpr TGUID IID = OrvoTag("ORVOActionEvent");

    virtual HRESULT ORVO_CALL Execute(IUnknown* data) = 0;
};

struct IOrvoUITreeListNode;

// Events of a tree list; `sender` is the tree list.
struct IOrvoUITreeListEvents : IUnknown {
    static constexpr TGUID IID = OrvoTag("auiTLEvents");

    virtual HRESULT ORVO_CALL ColumnClick(IUnknown* sender, int32_t column) = 0;
    virtual HRESULT ORVO_CALL NodeExpanded(IUnknown* sender, IOrvoUITreeListNode* node) = 0;
    virtual HRESULT ORVO_CALL NodeCollapsed(IUnknown* sender, IOrvoUITreeListNode* node) = 0;
    virtual HRESULT ORVO_CALL NodeClick(IUnknown* sender, IOrvoUITreeListNode* node) = 0;
    // A node was opened (double-clicked, or Enter pressed on it); `node` may be null.
    virtual HRESULT ORVO_CALL NodeDblClick(IUnknown* sender, IOrvoUITreeListNode* node) = 0;
    // The selection or the focused node changed.
    virtual HRESULT ORVO_CALL SelectionChanged(IUnknown* sender) = 0;
    virtual HRESULT ORVO_CALL ContextPopup(IUnknown* sender, IOrvoUITreeListNode* node) = 0;
    virtual HRESULT ORVO_CALL KeyPress(IUnknown* sender, uint32_t key) = 0;
};

// ---- controls

// Every control.
struct IOrvoUIControl : IUnknown {
    static constexpr TGUID IID = OrvoTag("auiControl");

    virtual HRESULT ORVO_CALL GetPlacement(TOrvoUIPlacement* placement) = 0;
    virtual HRESULT ORVO_CALL GetConstraints(TOrvoUIConstraints* constraints) = 0;
    // E_INVALIDARG for an unknown alignment or negative margins or sizes.
    virtual HRESULT ORVO_CALL SetPlacement(const TOrvoUIPlacement& placement) = 0;
    virtual HRESULT ORVO_CALL SetConstraints(const TOrvoUIConstraints& constraints) = 0;
};

// A control with a window of its own that holds other controls: forms, group boxes, panels,
// brand boxes, tree lists.
struct IOrvoUIWinControl : IUnknown {
    static constexpr TGUID IID = OrvoTag("auiWinControl");

    // The child controls in creation order.
    virtual int32_t ORVO_CALL ControlCount() = 0;
    virtual HRESULT ORVO_CALL GetControl(int32_t index, IOrvoUIControl** control) = 0;
    // The window, owner of the dialogs this control opens.
    virtual TOrvoUIWindowHandle ORVO_CALL Handle() = 0;
};

// A form. It lives until Dispose, also when the plug-in keeps references to it or its controls:
// after Dispose every operation on them answers E_FAIL and they raise no more events.
struct IOrvoUIForm : IUnknown {
    static constexpr TGUID IID = OrvoTag("auiForm");

    // Hides the form; a modal showing ends with ORVO_UI_MODAL_CANCEL.
    virtual HRESULT ORVO_CALL Close() = 0;
    // Shows the form without waiting.
    virtual HRESULT ORVO_CALL Show() = 0;
    // Ends a modal showing with `result` (not 0), as a button of the form does.
    virtual HRESULT ORVO_CALL SetModalResult(int32_t result) = 0;
    // Destroys the form and its controls. `flags`: 0 (others are reserved, E_INVALIDARG).
    virtual HRESULT ORVO_CALL Dispose(int32_t flags) = 0;
    // Shows the form and returns when it has closed, with how it ended. The host's main loop
    // keeps running meanwhile, so calls queued to the main thread are served. E_FAIL when the
    // form is already shown.
    virtual HRESULT ORVO_CALL ShowModal(int32_t* modalResult) = 0;
};

// An edit box with buttons in it (edit and combo boxes). A button is a control whose handler
// receives IOrvoActionEvent when it is pressed.
struct IOrvoUIButtonedEdit : IUnknown {
    static constexpr TGUID IID = OrvoTag("auiButtonedEdit");

    virtual HRESULT ORVO_CALL AddButton(IUnknown* events, IOrvoUIControl** button) = 0;
    virtual int32_t ORVO_CALL ButtonCount() = 0;
    virtual HRESULT ORVO_CALL GetButton(int32_t index, IOrvoUIControl** button) = 0;
};

// A combo box's list. The tag is also the control kind.
struct IOrvoUIComboBox : IUnknown {
    static constexpr TGUID IID = OrvoTag("auiCombo");

    // Appends an item with its text and an optional object.
    virtual HRESULT ORVO_CALL Add(IOrvoString* text, IUnknown* object) = 0;
    // Removes every item; the item index becomes -1 (the typed text of an editable box stays).
    virtual HRESULT ORVO_CALL Clear() = 0;
    virtual HRESULT ORVO_CALL Delete(int32_t index) = 0;
    virtual HRESULT ORVO_CALL GetItemText(int32_t index, IOrvoString** text) = 0;
    // E_FAIL for an item without an object.
    virtual HRESULT ORVO_CALL GetItemObject(int32_t index, const TGUID& iid, void** object) = 0;
    virtual int32_t ORVO_CALL Count() = 0;
};

// A node of a tree list. Values are texts by index; the columns show values 0, 1, 2, ...
struct IOrvoUITreeListNode : IUnknown {
    static constexpr TGUID IID = OrvoTag("auiTLNode");

    virtual HRESULT ORVO_CALL AddChild(const TGUID& iid, void** child) = 0;
    virtual HRESULT ORVO_CALL DeleteChildren() = 0;
    // Removes the node from its parent; E_FAIL for the root.
    virtual HRESULT ORVO_CALL Delete() = 0;
    virtual int32_t ORVO_CALL ChildCount() = 0;
    virtual HRESULT ORVO_CALL GetChild(int32_t index, const TGUID& iid, void** child) = 0;
    // E_FAIL for the root.
    virtual HRESULT ORVO_CALL GetParent(const TGUID& iid, void** parent) = 0;
    // The node's position among its parent's children; -1 for the root or a deleted node.
    virtual int32_t ORVO_CALL Index() = 0;
    // An empty text for a value never set; E_INVALIDARG for a negative index.
    virtual HRESULT ORVO_CALL GetValue(int32_t index, IOrvoString** value) = 0;
    virtual HRESULT ORVO_CALL SetValue(int32_t index, IOrvoString* value) = 0;
};

// A column of a tree list; its settings are properties (ORVO_UIP_COLUMN_*).
struct IOrvoUITreeListColumn : IUnknown {
    static constexpr TGUID IID = OrvoTag("auiTLColumn");

    // The column's position, -1 once deleted.
    virtual int32_t ORVO_CALL Index() = 0;
};

// A list of rows that may nest. Rows are the nodes under the hidden root that are shown: the
// root's children, and the children of expanded nodes, in order.
struct IOrvoUITreeList : IUnknown {
    static constexpr TGUID IID = OrvoTag("auiTL");

    virtual HRESULT ORVO_CALL AddColumn(const TGUID& iid, void** column) = 0;
    virtual int32_t ORVO_CALL ColumnCount() = 0;
    virtual HRESULT ORVO_CALL GetColumn(int32_t index, const TGUID& iid, void** column) = 0;
    virtual HRESULT ORVO_CALL DeleteColumn(int32_t index) = 0;
    // Bracket many changes; events are not raised in between.
    virtual void ORVO_CALL BeginUpdate() = 0;
    virtual void ORVO_CALL EndUpdate() = 0;
    // Removes every node.
    virtual HRESULT ORVO_CALL Clear() = 0;
    virtual HRESULT ORVO_CALL FullExpand() = 0;
    // The hidden root whose children are the top-level rows.
    virtual HRESULT ORVO_CALL GetRootNode(const TGUID& iid, void** root) = 0;
    virtual HRESULT ORVO_CALL FullCollapse() = 0;
    // Focuses a node (null: none) and makes it the only selected one.
    virtual HRESULT ORVO_CALL SetFocusedNode(IOrvoUITreeListNode* node) = 0;
    virtual HRESULT ORVO_CALL SelectNode(IOrvoUITreeListNode* node, int32_t selected) = 0;
    virtual HRESULT ORVO_CALL ClearSelection() = 0;
    // The number of rows shown.
    virtual int32_t ORVO_CALL RowCount() = 0;
    virtual HRESULT ORVO_CALL GetRow(int32_t row, const TGUID& iid, void** node) = 0;
    // The row that shows the node, -1 when none does.
    virtual int32_t ORVO_CALL RowOf(IOrvoUITreeListNode* node) = 0;
    // Expands the node's ancestors so that it is shown.
    virtual HRESULT ORVO_CALL MakeVisible(IOrvoUITreeListNode* node) = 0;
    // E_FAIL when no node has the focus.
    virtual HRESULT ORVO_CALL GetFocusedNode(const TGUID& iid, void** node) = 0;
    // The selected nodes in row order.
    virtual HRESULT ORVO_CALL GetSelected(int32_t index, const TGUID& iid, void** node) = 0;
    virtual int32_t ORVO_CALL IsSelected(IOrvoUITreeListNode* node) = 0;
    virtual int32_t ORVO_CALL SelectedCount() = 0;
};

// ---- the service

// Control kinds of CreateControl.
constexpr TGUID ORVO_UI_EDIT = OrvoTag("auiEdit");
constexpr TGUID ORVO_UI_COMBO = IOrvoUIComboBox::IID;
constexpr TGUID ORVO_UI_BUTTON = OrvoTag("auiButton");
constexpr TGUID ORVO_UI_GROUP_BOX = OrvoTag("auiGroupBox");
constexpr TGUID ORVO_UI_PANEL = OrvoTag("auiPanel");
// A panel framed in the host's brand colours, the body of a dialog.
constexpr TGUID ORVO_UI_BRAND_BOX = OrvoTag("auiBrandBox");
constexpr TGUID ORVO_UI_TREE_LIST = IOrvoUITreeList::IID;

struct IOrvoServiceUI : IUnknown {
    static constexpr TGUID IID = OrvoTag("ORVOServiceUI");

    // Makes a control of `kind` on `parent` (a windowed control of `owner`; null: the form
    // itself). `name` may be null; the host takes a named control's caption from its language file
    // ("<form name>\<control name>"). `events` receives the control's events; it may be null.
    // E_INVALIDARG for an unknown kind or a parent of another form or without a window.
    virtual HRESULT ORVO_CALL CreateControl(IOrvoUIForm* owner, IUnknown* parent, IOrvoString* name,
                                            IUnknown* events, const TGUID& kind,
                                            IOrvoUIControl** control) = 0;
    // Makes a hidden form owned by the window `owner`. `flags`: 0 (others are reserved). Its caption
    // comes from the language file ("<name>\Caption"). When `events` answers IOrvoActionEvent it
    // is executed, with the form as data, whenever the form closes.
    virtual HRESULT ORVO_CALL CreateForm(TOrvoUIWindowHandle owner, int32_t flags, IOrvoString* name,
                                         IUnknown* events, IOrvoUIForm** form) = 0;
};

// Flags of the message dialog: a button set and an icon, added.
constexpr int32_t ORVO_MSG_OK = 0;
constexpr int32_t ORVO_MSG_OK_CANCEL = 1;
constexpr int32_t ORVO_MSG_YES_NO = 4;
constexpr int32_t ORVO_MSG_ICON_ERROR = 16;
constexpr int32_t ORVO_MSG_ICON_QUESTION = 32;
constexpr int32_t ORVO_MSG_ICON_WARNING = 48;
constexpr int32_t ORVO_MSG_ICON_INFORMATION = 64;

// The answers of the message dialog.
constexpr int32_t ORVO_MSG_RESULT_OK = 1;
constexpr int32_t ORVO_MSG_RESULT_CANCEL = 2;
constexpr int32_t ORVO_MSG_RESULT_YES = 6;
constexpr int32_t ORVO_MSG_RESULT_NO = 7;

// The message dialog service.
struct IOrvoUIMessageDialog : IUnknown {
    static constexpr TGUID IID = OrvoTag("auiMsgDlg");

    // Shows `text` with `caption` over the window `owner` and waits for the user's answer
    // (ORVO_MSG_RESULT_*); `result` may be null.
    virtual HRESULT ORVO_CALL Execute(TOrvoUIWindowHandle owner, IOrvoString* caption, IOrvoString* text,
                                      int32_t flags, int32_t* result) = 0;
};
