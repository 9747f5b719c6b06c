#pragma once
// File names the host hands to the plug-in: the settings address "tunedex://settings", which
// opens the catalogue manager when a person follows the link to it, and the stations' stream
// addresses, whose details and home pages come from the catalogue.

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

    // The host keeps its reference after the plug-in has gone; once the catalogue has gone,
    // nothing is opened.
    explicit TOrvoTunedexFakeFileSystem(TNuvWeakRef<TOrvoStationCatalog> catalog)
        : FCatalog(std::move(catalog)) {}

    // S_OK for the settings address spelled exactly, E_FAIL for any other name.
    HRESULT ORVO_CALL CanHandle(IOrvoString* fileName) override;
    // Opens the manager, owned by the host's main window, for an accepted name.
    HRESULT ORVO_CALL Handle(IOrvoString* fileName) override;

protected:
    void DoGetValue(int32_t propId, TOrvoPropValue& value, HRESULT& result) override;

private:
    const TNuvWeakRef<TOrvoStationCatalog> FCatalog;
};

// Station details for stream addresses, and the station's home page as the "folder" of one.
//
// Thread-safety: the host may ask on any thread; look-ups take the catalogue's own lock and pin
// it, so the catalogue's destruction waits for them, and after it nothing is found.
class TOrvoTunedexFileManager
    : public TOrvoInterfaces<TInterfacedObjectEx, IOrvoFileSystemCommandOpenFileFolder,
                             IOrvoExtensionFileInfoProvider> {
public:
    // S_OK for a name in URL form (a scheme, ":", then "//" or two backslashes), E_FAIL for any other.
    HRESULT ORVO_CALL CanHandle(IOrvoString* fileName) override;
    // Opens the home page of the station with that stream address with the shell and answers
    // S_OK; E_FAIL when the name is no address, no station has it or the station has no home
    // page. Whether the shell managed to open the page is not reported.
    HRESULT ORVO_CALL Handle(IOrvoString* fileName) override;
    // Writes the station's description, stream address, genre, name, home page and bit rate into
    // `info`; E_FAIL, with `info` untouched, when the name is no station's address.
    HRESULT ORVO_CALL DescribeFile(IOrvoString* fileName, IOrvoPropertyList* info) override;

protected:
    explicit TOrvoTunedexFileManager(TNuvWeakRef<TOrvoStationCatalog> catalog)
        : FCatalog(std::move(catalog)) {}
    template <typename T, typename... Args> friend ComPtr<T> MakeInterfaced(Args&&... args);

private:
    // The station with the stream address `fileName`, when the name is in URL form.
    bool FindStation(IOrvoString* fileName, TOrvoRadioStationInfo& info) const;

    const TNuvWeakRef<TOrvoStationCatalog> FCatalog;
};
