#pragma once
// The catalogue dialogs, built at run time from the host's user-interface service.
//
// Thread-safety: main thread only, like the host's forms.

#include "plugin/Orvo.Tunedex.Core.h"
#include "plugin/Orvo.Tunedex.Providers.RadioBrowser.h"
#include "sdk/apiWrappersGUI.h"

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// Adds a catalogue or edits one: title, provider class, and the class's source address or Radio
// Browser selection. Saving stores the provider and starts its refresh.
class TOrvoTunedexEditDialog {
public:
    // Shows the dialog owned by `ownerWindow`, loading the catalogue `providerId` unless it is
    // empty; answers whether the user saved.
    static bool Execute(TOrvoWindowHandle ownerWindow, TOrvoStationCatalog& catalog,
                        std::u16string_view providerId);

    TOrvoTunedexEditDialog(TOrvoWindowHandle ownerWindow, TOrvoStationCatalog& catalog);
    // Cancels the running value query and waits for it, so that its callback never reaches a
    // dialog that is gone; then destroys the form.
    ~TOrvoTunedexEditDialog();
    TOrvoTunedexEditDialog(const TOrvoTunedexEditDialog&) = delete;
    TOrvoTunedexEditDialog& operator=(const TOrvoTunedexEditDialog&) = delete;

    void LoadProvider(std::u16string_view providerId);
    // The provider settings the boxes describe.
    std::u16string DataText() const;
    // Whether an address may be saved: a network path, URL form, an absolute path of this
    // system or a drive path, on one line without control characters.
    static bool IsAcceptableAddress(std::u16string_view address);

    ComPtr<IOrvoUIForm> Form;
    ComPtr<IOrvoUIControl> TitleEdit;
    ComPtr<IOrvoUIControl> ClassCombo;
    ComPtr<IOrvoUIControl> HomePageButton;
    ComPtr<IOrvoUIControl> AddressEdit;
    ComPtr<IOrvoUIControl> RadioBrowserPanel;
    ComPtr<IOrvoUIControl> ServerCombo;
    ComPtr<IOrvoUIControl> KindCombo;
    ComPtr<IOrvoUIControl> ValueCombo;
    ComPtr<IOrvoUIControl> SaveButton;
    TOrvoStationCatalog* Catalog;
    bool Saved = false;
    TDateTime KeptDate = 0;
    std::u16string EditedID;
    TaskHandle ValueQuery = 0;
    bool TitleIsAutomatic = false;

private:
    void PopulateProviders();
    const TOrvoTunedexProviderClass& SelectedClass() const;
    bool IsRadioBrowser(const TOrvoTunedexProviderClass& cls) const;
    void ClassChanged(IUnknown* sender);
    void TitleChanged(IUnknown* sender);
    void AddressChanged(IUnknown* sender);
    void ValueChanged(IUnknown* sender);
    void ListChanged(IUnknown* sender);
    void Validate();
    void QueryRadioBrowserData(TOrvoTunedexRadioBrowser::TQueryKind kind);
    void FillCombo(IOrvoUIControl* combo, const std::vector<std::u16string>& values);
    void Save(IUnknown* sender);
    void OpenHomePage(IUnknown* sender);

    // Revoked when the dialog goes, so a late query callback does nothing.
    TNuvLifetime FLifetime;
};

// Lists the catalogues with their last update and station count, and adds, edits, refreshes and
// removes them or resets the whole catalogue. While open it listens to the catalogue and rebuilds
// its list on the main thread.
class TOrvoTunedexManagingDialog : public IOrvoStationCatalogListener {
public:
    static void Execute(TOrvoWindowHandle ownerWindow, TOrvoStationCatalog& catalog);

    TOrvoTunedexManagingDialog(TOrvoWindowHandle ownerWindow, TOrvoStationCatalog& catalog);
    // Revokes queued rebuilds first, then destroys the form; it stops listening before its
    // members go.
    ~TOrvoTunedexManagingDialog();
    TOrvoTunedexManagingDialog(const TOrvoTunedexManagingDialog&) = delete;
    TOrvoTunedexManagingDialog& operator=(const TOrvoTunedexManagingDialog&) = delete;

    void PopulateProviders();
    // The identifier of the focused row; empty without one.
    std::u16string SelectedID() const;

    ComPtr<IOrvoUIForm> Form;
    ComPtr<IOrvoUIControl> TreeList;
    ComPtr<IOrvoUIControl> EditButton;
    ComPtr<IOrvoUIControl> RefreshButton;
    ComPtr<IOrvoUIControl> RemoveButton;
    ComPtr<IOrvoUIControl> ResetButton;
    TOrvoStationCatalog* Catalog;

    // IOrvoStationCatalogListener; any thread.
    void CatalogChanged() override;
    void AsyncUpdateStarted() override {}
    void UpdateProgress(std::u16string_view, int64_t, int64_t) override {}
    void ProviderUpdateStarted(std::u16string_view providerId) override;
    void AsyncUpdateFinished() override;

private:
    class TListHandler;

    void Build(TOrvoWindowHandle ownerWindow);
    void UpdateButtons();
    void Add(IUnknown* sender);
    void Edit(IUnknown* sender);
    void Refresh(IUnknown* sender);
    void Remove(IUnknown* sender);
    void Reset(IUnknown* sender);
    // Rebuilds later on the main thread, unless the dialog has gone by then.
    void QueuePopulate();
    std::u16string UpdatingID() const;

    // Written by notifications on the update's thread, read by rebuilds on the main thread.
    mutable std::mutex FUpdatingLock;
    std::u16string FUpdatingID;
    // Main thread only: a queued rebuild runs only while the dialog is not revoked.
    TNuvLifetime FLifetime;
    // Last, so that the dialog listens from before Build until its members start to go.
    TNuvListenerScope<IOrvoStationCatalogListener> FListening;
};
