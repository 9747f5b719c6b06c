#include "plugin/Orvo.Tunedex.Plugin.Menus.h"

#include "plugin/Orvo.Tunedex.Plugin.ML.h"
#include "plugin/Orvo.Tunedex.Plugin.UI.h"
#include "sdk/api/OrvoAPI.MusicLibrary.h"

TNuvWeakRef<TOrvoStationCatalog>::TPin GetCatalogStorage() {
    ComPtr<IOrvoServiceMusicLibrary> library;
    if (!QueryService(library))
        return {};
    ComPtr<IOrvoMLStationCatalog> storage;
    if (Failed(library->ActiveStorage(IOrvoMLStationCatalog::IID, storage.put_void())) || !storage)
        return {};
    return storage->GetCatalog().Lock();
}

// ---- TOrvoTunedexMusicLibraryTreeMenuController

bool TOrvoTunedexMusicLibraryTreeMenuController::CalculateIsAvailable() {
    SelectedProvider.clear();
    const bool available = bool(GetCatalogStorage());
    if (available)
        TOrvoUIMusicLibraryBasedMenuItemController::GetGroupingTreeSelection(u"Provider", SelectedProvider);
    return available;
}

// ---- the items

std::u16string TOrvoTunedexMenuItem::SelectedProvider() const {
    auto* controller = dynamic_cast<TOrvoTunedexMusicLibraryTreeMenuController*>(Controller());
    return controller ? controller->SelectedProvider : std::u16string();
}

int32_t TOrvoTunedexEditMenuItem::GetState() {
    // Usable exactly while the storage is shown, as any item of the controller.
    return TOrvoTunedexMenuItem::GetState();
}

void TOrvoTunedexEditMenuItem::Execute() {
    if (const auto catalog = GetCatalogStorage())
        TOrvoTunedexManagingDialog::Execute(MainWindowHandle(), *catalog);
}

int32_t TOrvoTunedexRefreshCatalogMenuItem::GetState() {
    return SelectedProvider().empty() ? 0 : ORVO_MENU_STATE_ENABLED | ORVO_MENU_STATE_VISIBLE;
}

void TOrvoTunedexRefreshCatalogMenuItem::Execute() {
    const std::u16string title = SelectedProvider();
    if (title.empty())
        return;
    if (const auto catalog = GetCatalogStorage())
        catalog->EntriesUpdateByTitle(title);
}

int32_t TOrvoTunedexRefreshCatalogsMenuItem::GetState() {
    if (!Controller() || !Controller()->IsAvailable())
        return 0;
    const auto catalog = GetCatalogStorage();
    return catalog && !catalog->IsEmpty() ? ORVO_MENU_STATE_ENABLED | ORVO_MENU_STATE_VISIBLE
                                          : ORVO_MENU_STATE_VISIBLE;
}

void TOrvoTunedexRefreshCatalogsMenuItem::Execute() {
    if (const auto catalog = GetCatalogStorage())
        catalog->EntriesUpdateAll();
}

void RegisterTunedexMenuItems() {
    ComPtr<IOrvoUIMenuItemController> controller =
        MakeInterfaced<TOrvoTunedexMusicLibraryTreeMenuController>();
    // The first item carries the controller as the menu's on-show event.
    MakeInterfaced<TOrvoTunedexRefreshCatalogsMenuItem>(controller)
        ->Register(TUNEDEX_ACTION_REFRESH_CATALOGS, ORVO_MENU_MUSIC_LIBRARY);
    MakeInterfaced<TOrvoTunedexRefreshCatalogMenuItem>(controller)
        ->Register(TUNEDEX_ACTION_REFRESH_CATALOG, ORVO_MENU_MUSIC_LIBRARY);
    MakeInterfaced<TOrvoTunedexEditMenuItem>(controller)
        ->Register(TUNEDEX_ACTION_EDIT, ORVO_MENU_MUSIC_LIBRARY);
}
