#pragma once
// Menu items of the plug-in in the host's menus: an item registers itself with the menu manager
// under an identifier and runs its command when chosen; a controller shared by several items
// decides, each time the host is about to show their menu, whether they are available, and
// writes every bound item's state and glyph into the host's menu item.
//
// Thread-safety: menus belong to the host's main thread; every operation here runs there.

#include "sdk/api/OrvoAPI.Menus.h"
#include "sdk/api/OrvoAPI.MusicLibraryUI.h"
#include "sdk/api/OrvoAPI.UI.h"
#include "sdk/apiWrappers.h"

#include <string>
#include <string_view>
#include <variant>
#include <vector>

class TOrvoUICustomMenuItem;
class TOrvoFileList;

// The controller of menu items; its action (IOrvoActionEvent::Execute) is the on-show event of
// their menu.
struct IOrvoUIMenuItemController : IOrvoActionEvent {
    static constexpr TGUID IID = {
        0x3F4AA204, 0xE1BC, 0x4EC9, {0xAC, 0x70, 0x3F, 0x74, 0xF5, 0x22, 0x56, 0x04}};

    // Takes `item`, registered as the host's `menuItem`, among the items it updates.
    virtual void Bind(IOrvoMenuItem* menuItem, TOrvoUICustomMenuItem* item) = 0;
    // What the last on-show event decided.
    virtual bool IsAvailable() = 0;
};

// A controller that gathers file names when the menu is shown.
struct IOrvoUIFileBasedMenuItemController : IUnknown {
    static constexpr TGUID IID = {
        0xB9FB51EF, 0x0637, 0x45A8, {0xAF, 0x38, 0x21, 0xC0, 0x3C, 0x81, 0x8A, 0xE7}};

    virtual TOrvoFileList& Files() = 0;
};

// The menu manager's item with the identifier, or null (also without a menu manager).
ComPtr<IOrvoMenuItem> FindMenuItem(std::u16string_view id);

// The glyph resource for a resolution: the plain name up to 96 DPI and where no scaled glyph
// fits; otherwise `name` followed by the largest of the steps 120, 144, 168 and 192 that is not
// above `dpi` and has a PNG resource, so a menu drawn at twice the size gets the glyph drawn for it.
std::u16string ScaledGlyphName(std::u16string_view name, int32_t dpi);

// Where a menu item goes: the host's built-in menu with that number, or the menu item with that
// identifier.
using TOrvoMenuParent = std::variant<int32_t, std::u16string>;

// Bits of an item's state.
constexpr int32_t ORVO_MENU_STATE_ENABLED = 1;
constexpr int32_t ORVO_MENU_STATE_VISIBLE = 2;

// One menu item of the plug-in. The host holds it as the action of its menu item.
class TOrvoUICustomMenuItem : public TOrvoInterfaces<TInterfacedObjectEx, IOrvoActionEvent> {
public:
    // Registers the item with the host's menu manager under `id`, in `parent`. Does nothing
    // without a menu manager. Raises EInvalidInsert "The instance is already registered as
    // handler for %s menu" for an item registered before, EArgumentError "Cannot register menu
    // item without ID" for an empty identifier, EInvalidInsert "The %s ID is already registered"
    // for an identifier in use, and the host's result code ("%d") when the parent cannot be had.
    void Register(std::u16string_view id, const TOrvoMenuParent& parent);

    // The identifier registered under; empty before.
    const std::u16string& ID() const { return FID; }
    IOrvoUIMenuItemController* Controller() const { return FController.get(); }

    // The item is chosen: runs Execute(). An error raised is logged and answered as E_UNEXPECTED.
    HRESULT ORVO_CALL Execute(IUnknown* data) override;

    // Writes the glyph (when the item has one) and the state into the host's menu item.
    void Update(IOrvoMenuItem* menuItem);

protected:
    explicit TOrvoUICustomMenuItem(ComPtr<IOrvoUIMenuItemController> controller);
    ~TOrvoUICustomMenuItem() override;
    template <typename T, typename... Args> friend ComPtr<T> MakeInterfaced(Args&&... args);

    // The name of the item's PNG glyph resource; empty: no glyph.
    virtual std::u16string GetGlyphName() { return {}; }
    // ORVO_MENU_STATE_* bits: enabled and visible while the controller is available, else neither.
    virtual int32_t GetState();
    // The item's command.
    virtual void Execute() = 0;
    // Writes the state: enabled into ORVO_MIP_ENABLED, visible into ORVO_MIP_VISIBLE.
    virtual void UpdateMenuItem(IOrvoMenuItem* menuItem);

private:
    // Loads the glyph at the menu item's resolution; any failure keeps the glyph it had.
    void UpdateGlyph(IOrvoMenuItem* menuItem);

    ComPtr<IOrvoUIMenuItemController> FController;
    std::u16string FID;
};

// The availability shared by the items bound to it, recomputed each time their menu is shown.
class TOrvoUICustomMenuItemController
    : public TOrvoInterfaces<TInterfacedObjectEx, IOrvoUIMenuItemController> {
public:
    // The on-show event: Refresh().
    HRESULT ORVO_CALL Execute(IUnknown* data) override;
    // The first item bound carries the controller as its menu's on-show event.
    void Bind(IOrvoMenuItem* menuItem, TOrvoUICustomMenuItem* item) override;
    bool IsAvailable() override { return FIsAvailable; }

    // Recomputes the availability and updates every registered item the menu manager knows.
    void Refresh();
    // Forgets an item that goes away.
    void Unbind(TOrvoUICustomMenuItem* item);

protected:
    TOrvoUICustomMenuItemController() = default;
    template <typename T, typename... Args> friend ComPtr<T> MakeInterfaced(Args&&... args);

    // The host asks for the on-show event as a plain action.
    void* GetInterface(const TGUID& iid) override;

    virtual bool CalculateIsAvailable() = 0;

    bool FIsAvailable = false;
    // Not owned: each item unbinds itself when it goes.
    std::vector<TOrvoUICustomMenuItem*> FMenuItems;
};

// File names, compared without regard to case, with one of them possibly focused.
class TOrvoFileList {
public:
    void Add(std::u16string fileName) { FItems.push_back(std::move(fileName)); }
    void Clear();
    int32_t Count() const { return int32_t(FItems.size()); }
    const std::u16string& operator[](int32_t index) const { return FItems.at(size_t(index)); }
    const std::vector<std::u16string>& Items() const { return FItems; }
    // The index of the name, or -1.
    int32_t IndexOf(std::u16string_view fileName) const;
    // Focuses the name when it is in the list; otherwise nothing is focused.
    void MarkFocused(std::u16string_view fileName) { FFocusIndex = IndexOf(fileName); }
    // The focused index, -1 when none.
    int32_t FocusIndex() const { return FFocusIndex; }

private:
    std::vector<std::u16string> FItems;
    int32_t FFocusIndex = -1;
};

// A controller whose items act on files, gathered when the menu is shown.
class TOrvoUICustomFileBasedMenuItemController
    : public TOrvoInterfaces<TOrvoUICustomMenuItemController, IOrvoUIFileBasedMenuItemController> {
public:
    TOrvoFileList& Files() override { return FFiles; }

protected:
    // Gathers the files afresh; available when they could be gathered.
    bool CalculateIsAvailable() override;
    virtual bool CanGatherFiles() { return true; }
    virtual void GatherFiles(TOrvoFileList& files) = 0;

    TOrvoFileList FFiles;
};

// A controller for the music library's menus: the files are those selected there.
class TOrvoUIMusicLibraryBasedMenuItemController : public TOrvoUICustomFileBasedMenuItemController {
public:
    // The value the grouping tree's selection gives the field (names compared case-sensitively):
    // the first condition on that field, depth first, children in order. False, with the value
    // empty, when the selection does not involve the field or the host has no music-library UI.
    static bool GetGroupingTreeSelection(std::u16string_view fieldName, std::u16string& fieldValue);

protected:
    // The selected files, the focused one marked; nothing without the music-library UI.
    void GatherFiles(TOrvoFileList& files) override;
};
