#include "host/Orvo.Host.UI.Automation.h"

#include "platform/Platform.Threads.h"

TOrvoHostUIDriver::TOrvoHostUIDriver(TOrvoHostForm& form) : FForm(&form) {}

TOrvoHostControl& TOrvoHostUIDriver::Find(std::u16string_view name) const {
    for (TOrvoHostControl* c : FForm->AllControls())
        if (c->Name() == name)
            return *c;
    throw EArgumentError(Format(u"The form \"%s\" has no control \"%s\"", FForm->Name(), name));
}

TOrvoHostControl& TOrvoHostUIDriver::Find(const TGUID& kind, size_t n) const {
    size_t seen = 0;
    for (TOrvoHostControl* c : FForm->AllControls())
        if (c->Kind() == kind && seen++ == n)
            return *c;
    throw EArgumentError(Format(u"The form \"%s\" has no control %u of that kind", FForm->Name(), n));
}

TOrvoHostControl& TOrvoHostUIDriver::At(size_t n) const {
    const auto all = FForm->AllControls();
    if (n >= all.size())
        throw EArgumentError(
            Format(u"The form \"%s\" has %u controls, not %u", FForm->Name(), all.size(), n + 1));
    return *all[n];
}

TOrvoHostEdit& TOrvoHostUIDriver::Edit(const TGUID& kind, size_t n) const {
    auto* edit = dynamic_cast<TOrvoHostEdit*>(&Find(kind, n));
    if (!edit)
        throw EArgumentError(u"That control is no edit box");
    return *edit;
}

TOrvoHostComboBox& TOrvoHostUIDriver::Combo(size_t n) const {
    return static_cast<TOrvoHostComboBox&>(Find(ORVO_UI_COMBO, n));
}

TOrvoHostTreeList& TOrvoHostUIDriver::TreeList(size_t n) const {
    return static_cast<TOrvoHostTreeList&>(Find(ORVO_UI_TREE_LIST, n));
}

void TOrvoHostUIDriver::RequireUsable(const TOrvoHostControl& control, std::u16string_view action) const {
    if (!control.Alive())
        throw EInvalidOperation(Format(u"Cannot %s the %s: its form is gone", action, control.Describe()));
    if (!FForm->Showing())
        throw EInvalidOperation(Format(u"Cannot %s the %s: the form \"%s\" is not shown", action,
                                       control.Describe(), FForm->Name()));
    for (const TOrvoHostControl* c = &control; c; c = c->Parent()) {
        if (!c->Visible())
            throw EInvalidOperation(Format(u"Cannot %s the %s: it is hidden", action, control.Describe()));
        if (!c->Enabled())
            throw EInvalidOperation(Format(u"Cannot %s the %s: it is disabled", action, control.Describe()));
    }
}

void TOrvoHostUIDriver::Type(TOrvoHostControl& control, std::u16string_view text) const {
    auto* edit = dynamic_cast<TOrvoHostEdit*>(&control);
    if (!edit)
        throw EInvalidOperation(Format(u"Cannot type into the %s", control.Describe()));
    RequireUsable(control, u"type into");
    if (!edit->Editable())
        throw EInvalidOperation(
            Format(u"Cannot type into the %s: it only lists its items", control.Describe()));
    edit->SetText(std::u16string(text));
}

void TOrvoHostUIDriver::Pick(TOrvoHostControl& combo, int32_t index) const {
    auto* box = dynamic_cast<TOrvoHostComboBox*>(&combo);
    if (!box)
        throw EInvalidOperation(Format(u"Cannot pick an item of the %s", combo.Describe()));
    RequireUsable(combo, u"pick an item of");
    if (index < 0 || index >= box->Count())
        throw EInvalidOperation(
            Format(u"The %s has no item %d (it has %d)", combo.Describe(), index, box->Count()));
    box->SetItemIndex(index);
}

void TOrvoHostUIDriver::Pick(TOrvoHostControl& combo, std::u16string_view itemText) const {
    auto* box = dynamic_cast<TOrvoHostComboBox*>(&combo);
    if (!box)
        throw EInvalidOperation(Format(u"Cannot pick an item of the %s", combo.Describe()));
    const auto items = box->Items();
    for (size_t i = 0; i < items.size(); ++i)
        if (items[i] == itemText)
            return Pick(combo, int32_t(i));
    throw EInvalidOperation(Format(u"The %s lists no item \"%s\"", combo.Describe(), itemText));
}

void TOrvoHostUIDriver::Press(TOrvoHostControl& button) const {
    if (button.Kind() != ORVO_UI_BUTTON && button.Kind() != ORVO_UI_EDIT_BUTTON)
        throw EInvalidOperation(Format(u"Cannot press the %s", button.Describe()));
    RequireUsable(button, u"press");
    button.RaiseAction();
}

void TOrvoHostUIDriver::PressEditButton(TOrvoHostControl& edit, size_t n) const {
    if (!dynamic_cast<TOrvoHostEdit*>(&edit) || n >= edit.Children().size())
        throw EInvalidOperation(Format(u"The %s has no button %u", edit.Describe(), n));
    Press(*edit.Children()[n]);
}

void TOrvoHostUIDriver::ClickRow(TOrvoHostControl& treeList, int32_t row) const {
    auto* list = dynamic_cast<TOrvoHostTreeList*>(&treeList);
    if (!list)
        throw EInvalidOperation(Format(u"Cannot click a row of the %s", treeList.Describe()));
    RequireUsable(treeList, u"click a row of");
    list->ClickRow(row);
}

void TOrvoHostUIDriver::OpenRow(TOrvoHostControl& treeList, int32_t row) const {
    auto* list = dynamic_cast<TOrvoHostTreeList*>(&treeList);
    if (!list)
        throw EInvalidOperation(Format(u"Cannot open a row of the %s", treeList.Describe()));
    RequireUsable(treeList, u"open a row of");
    list->OpenRow(row);
}

void TOrvoHostUIDriver::CloseForm() const {
    FForm->CloseWith(ORVO_UI_MODAL_CANCEL);
}

std::u16string TOrvoHostUIDriver::Text(TOrvoHostControl& control) const {
    if (auto* edit = dynamic_cast<TOrvoHostEdit*>(&control))
        return edit->Text();
    return control.Caption();
}

std::vector<std::vector<std::u16string>> TOrvoHostUIDriver::Rows(TOrvoHostControl& treeList) const {
    auto* list = dynamic_cast<TOrvoHostTreeList*>(&treeList);
    if (!list)
        throw EInvalidOperation(Format(u"The %s has no rows", treeList.Describe()));
    std::vector<std::vector<std::u16string>> rows;
    for (TOrvoHostTreeNode* node : list->Rows())
        rows.push_back(node->Values());
    return rows;
}

void TOrvoHostUIDriver::WaitUntil(const std::function<bool()>& done, std::u16string_view what,
                                  uint32_t timeoutMs) {
    if (!platform::PumpMainThreadUntil(done, timeoutMs))
        throw EInvalidOperation(Format(u"Timed out after %u ms waiting for %s", timeoutMs, what));
}
