#pragma once
// File names the host hands to the plug-in: the settings address "tunedex://settings", which
// opens the catalogue manager when a person follows the link to it.

#include "plugin/Orvo.Tunedex.Core.h"
#include "sdk/api/OrvoAPI.FileSystem.h"
#include "sdk/apiWrappers.h"

#include <string_view>

// The "tunedex" scheme; its only name is the settings address.
//
// Thread-safety: the host asks on its main thread, where the manager is shown.
class TOrvoTunedexFakeFileSystem : public TOrvoInterfaces<TOrvoPropertyListOf<IOrvoExtensionFileSystem>,
                                                          IOrvoFileSystemCommandOpenFileFolder> {
public:
    static constexpr std::u16string_view Scheme = u"tunedex";
    static constexpr std::u16string_view SettingsAddress = u"tunedex://settings";

    explicit TOrvoTunedexFakeFileSystem(TOrvoStationCatalog* catalog) : Catalog(catalog) {}

    // S_OK for the settings address spelled exactly, E_FAIL for any other name.
    HRESULT ORVO_CALL CanHandle(IOrvoString* fileName) override;
    // Opens the manager, owned by the host's main window, for an accepted name.
    HRESULT ORVO_CALL Handle(IOrvoString* fileName) override;

    // The host keeps its reference after the plug-in has gone; from then on nothing is opened.
    void Detach() { Catalog = nullptr; }

    TOrvoStationCatalog* Catalog;

protected:
    void DoGetValue(int32_t propId, TOrvoPropValue& value, HRESULT& result) override;
};
