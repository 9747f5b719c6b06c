#pragma once
// Acting on a form of the in-memory model as a person does: find a control by its name or by its
// place in the order of creation, type into edit boxes, pick combo items, press buttons, click and
// open tree-list rows, read what the form shows, and wait while the host's loop runs. What a
// person could not do (press a disabled button, type into a hidden box) raises EInvalidOperation
// with a message that says what was refused.
//
// Thread-safety: main thread only, like the forms.
//
// To act on a form the plug-in shows modally, queue a script before the call that shows it:
//
//     ui.WhenShownModally(u"frmTunedexManager", [&](TOrvoHostForm& form) {
//         TOrvoHostUIDriver manager(form);
//         manager.Press(u"B3");   // a nested modal form runs its own queued script
//     });
//     fileSystems.OpenLink(u"tunedex://settings");
//     ui.RethrowScriptError();

#include "host/Orvo.Host.UI.TreeList.h"

#include <string>
#include <string_view>
#include <vector>

class TOrvoHostUIDriver {
public:
    explicit TOrvoHostUIDriver(TOrvoHostForm& form);

    TOrvoHostForm& Form() const { return *FForm; }

    // ---- finding controls; each raises EArgumentError when there is no such control
    // The control of that name.
    TOrvoHostControl& Find(std::u16string_view name) const;
    // The n-th (from 0) control of a kind in creation order.
    TOrvoHostControl& Find(const TGUID& kind, size_t n = 0) const;
    // The n-th control of the form in creation order (edit buttons follow their box).
    TOrvoHostControl& At(size_t n) const;
    TOrvoHostEdit& Edit(const TGUID& kind, size_t n) const;
    TOrvoHostComboBox& Combo(size_t n) const;
    TOrvoHostTreeList& TreeList(size_t n = 0) const;

    // ---- acting
    // Replaces the text of an edit box or editable combo box, as typing it does.
    void Type(TOrvoHostControl& control, std::u16string_view text) const;
    // Picks the combo item at that index, or the item with that text.
    void Pick(TOrvoHostControl& combo, int32_t index) const;
    void Pick(TOrvoHostControl& combo, std::u16string_view itemText) const;
    // Presses a button (or an edit box's button).
    void Press(TOrvoHostControl& button) const;
    void Press(std::u16string_view buttonName) const { Press(Find(buttonName)); }
    // Presses the n-th button inside an edit or combo box.
    void PressEditButton(TOrvoHostControl& edit, size_t n = 0) const;
    // Clicks, or double-clicks, a row of a tree list.
    void ClickRow(TOrvoHostControl& treeList, int32_t row) const;
    void OpenRow(TOrvoHostControl& treeList, int32_t row) const;
    // Closes the form with its close box.
    void CloseForm() const;

    // ---- reading
    std::u16string Text(TOrvoHostControl& control) const;
    bool Enabled(TOrvoHostControl& control) const { return control.Usable(); }
    // The values of every row of a tree list, row by row.
    std::vector<std::vector<std::u16string>> Rows(TOrvoHostControl& treeList) const;

    // Runs the host's loop until `done` answers true; raises EInvalidOperation naming `what` when
    // `timeoutMs` passes first.
    static void WaitUntil(const std::function<bool()>& done, std::u16string_view what,
                          uint32_t timeoutMs = 10000);

private:
    // Raises unless a person can reach the control now.
    void RequireUsable(const TOrvoHostControl& control, std::u16string_view action) const;

    ComPtr<TOrvoHostForm> FForm;
};
