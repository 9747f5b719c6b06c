#pragma once
// The catalogue's commands in the music library's menu: refresh every catalogue, refresh the
// catalogue selected in the grouping tree, and open the catalogue manager. They show only while
// the library shows this plug-in's storage.

#include "plugin/Orvo.Tunedex.Core.h"
#include "sdk/api/OrvoAPI.Tunedex.h"
#include "sdk/apiWrappersMenus.h"

#include <string>

// The identifier of the command that opens the manager (the refresh commands' are shared with
// hosts).
constexpr std::u16string_view TUNEDEX_ACTION_EDIT = u"Orvo.Tunedex.Actions.Edit";

// The catalogue of the music library's current storage when that storage is this plug-in's; an
// empty pin otherwise (also once the plug-in has torn its catalogue down).
TNuvWeakRef<TOrvoStationCatalog>::TPin GetCatalogStorage();

// Decides, as the menu is shown, whether the library shows the catalogue, and which catalogue
// (its title, by the "Provider" field) the grouping tree has selected.
//
// Thread-safety: main thread, as menus are.
class TOrvoTunedexMusicLibraryTreeMenuController : public TOrvoUICustomMenuItemController {
public:
    // The title selected in the grouping tree; empty when none or when the storage is not shown.
    std::u16string SelectedProvider;

protected:
    TOrvoTunedexMusicLibraryTreeMenuController() = default;
    template <typename T, typename... Args> friend ComPtr<T> MakeInterfaced(Args&&... args);

    bool CalculateIsAvailable() override;
};

// The commands share the glyph and reach their controller's selection.
class TOrvoTunedexMenuItem : public TOrvoUICustomMenuItem {
protected:
    using TOrvoUICustomMenuItem::TOrvoUICustomMenuItem;

    std::u16string GetGlyphName() override { return u"MenuGlyph"; }
    // The title selected in the grouping tree when the menu was shown.
    std::u16string SelectedProvider() const;
};

// Opens the catalogue manager over the host's main window.
class TOrvoTunedexEditMenuItem : public TOrvoTunedexMenuItem {
protected:
    using TOrvoTunedexMenuItem::TOrvoTunedexMenuItem;
    template <typename T, typename... Args> friend ComPtr<T> MakeInterfaced(Args&&... args);

    int32_t GetState() override;
    void Execute() override;
};

// Refreshes the catalogue selected in the grouping tree; shown only with a selection.
class TOrvoTunedexRefreshCatalogMenuItem : public TOrvoTunedexMenuItem {
protected:
    using TOrvoTunedexMenuItem::TOrvoTunedexMenuItem;
    template <typename T, typename... Args> friend ComPtr<T> MakeInterfaced(Args&&... args);

    int32_t GetState() override;
    void Execute() override;
};

// Refreshes every catalogue; shown with the storage, usable once it holds stations.
class TOrvoTunedexRefreshCatalogsMenuItem : public TOrvoTunedexMenuItem {
protected:
    using TOrvoTunedexMenuItem::TOrvoTunedexMenuItem;
    template <typename T, typename... Args> friend ComPtr<T> MakeInterfaced(Args&&... args);

    int32_t GetState() override;
    void Execute() override;
};

// Registers the three commands, sharing one controller, in the music library's menu. Raises as
// TOrvoUICustomMenuItem::Register does.
void RegisterTunedexMenuItems();
