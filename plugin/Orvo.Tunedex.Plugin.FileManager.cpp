#include "plugin/Orvo.Tunedex.Plugin.FileManager.h"

#include "nuv/Nuv.Log.h"
#include "nuv/Nuv.Shell.h"
#include "plugin/Orvo.Tunedex.Plugin.UI.h"

HRESULT ORVO_CALL TOrvoTunedexFakeFileSystem::CanHandle(IOrvoString* fileName) {
    return GuardedHostCall(u"Tunedex: ", [&]() -> HRESULT {
        return fileName && FromHostString(fileName) == SettingsAddress ? S_OK : E_FAIL;
    });
}

HRESULT ORVO_CALL TOrvoTunedexFakeFileSystem::Handle(IOrvoString* fileName) {
    const HRESULT accepted = CanHandle(fileName);
    if (accepted != S_OK)
        return accepted;
    const auto catalog = FCatalog.Lock();
    if (!catalog)
        return E_FAIL;
    // The manager could not be built; the host learns of the failure from the result.
    return GuardedHostCall(u"Tunedex: ", [&]() -> HRESULT {
        TOrvoTunedexManagingDialog::Execute(MainWindowHandle(), *catalog);
        return S_OK;
    });
}

void TOrvoTunedexFakeFileSystem::DoGetValue(int32_t propId, TOrvoPropValue& value, HRESULT& result) {
    switch (propId) {
    case ORVO_FSP_SCHEME:
        value = std::u16string(Scheme);
        result = S_OK;
        break;
    case ORVO_FSP_FLAGS:
        value = int64_t(1);
        result = S_OK;
        break;
    default:
        TOrvoPropertyListOf<IOrvoExtensionFileSystem>::DoGetValue(propId, value, result);
        break;
    }
}

// ---- TOrvoTunedexFileManager

bool TOrvoTunedexFileManager::FindStation(IOrvoString* fileName, TOrvoRadioStationInfo& info) const {
    const auto catalog = FCatalog.Lock();
    if (!catalog || !fileName)
        return false;
    const std::u16string name = FromHostString(fileName);
    return TOrvoTunedexProvider::IsRemoteAddress(name) && catalog->FindEntryByFileName(name, info);
}

HRESULT ORVO_CALL TOrvoTunedexFileManager::CanHandle(IOrvoString* fileName) {
    return GuardedHostCall(u"Tunedex: ", [&]() -> HRESULT {
        return fileName && TOrvoTunedexProvider::IsRemoteAddress(FromHostString(fileName)) ? S_OK : E_FAIL;
    });
}

HRESULT ORVO_CALL TOrvoTunedexFileManager::Handle(IOrvoString* fileName) {
    return GuardedHostCall(u"Tunedex: ", [&]() -> HRESULT {
        TOrvoRadioStationInfo station;
        // The home page comes from a catalogue's server: only a web page is opened, never a local
        // file, folder or script. A home page that is none counts as no home page.
        if (!FindStation(fileName, station) || WebPageAddress(station.HomeURL).empty())
            return E_FAIL;
        // Whether the desktop could open it is not the host's concern.
        ShellOpenWebPage(station.HomeURL);
        return S_OK;
    });
}

HRESULT ORVO_CALL TOrvoTunedexFileManager::DescribeFile(IOrvoString* fileName, IOrvoPropertyList* info) {
    return GuardedHostCall(u"Tunedex: ", [&]() -> HRESULT {
        TOrvoRadioStationInfo station;
        if (!FindStation(fileName, station))
            return E_FAIL;
        WriteTextProp(info, ORVO_FIP_DESCRIPTION, station.Description);
        WriteTextProp(info, ORVO_FIP_FILENAME, station.FileName);
        WriteTextProp(info, ORVO_FIP_GENRE, station.Genre);
        WriteTextProp(info, ORVO_FIP_TITLE, station.Name);
        WriteTextProp(info, ORVO_FIP_URL, station.HomeURL);
        WriteIntProp(info, ORVO_FIP_BITRATE, station.Bitrate);
        return S_OK;
    });
}
