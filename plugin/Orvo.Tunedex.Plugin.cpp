#include "plugin/Orvo.Tunedex.Plugin.h"

#include "nuv/Nuv.Log.h"
#include "nuv/Nuv.Threading.Pool.h"
#include "nuv/Nuv.Web.h"
#include "plugin/Orvo.Tunedex.Core.h"
#include "plugin/Orvo.Tunedex.Plugin.FileManager.h"
#include "plugin/Orvo.Tunedex.Plugin.ML.h"
#include "plugin/Orvo.Tunedex.Plugin.Menus.h"
#include "plugin/Orvo.Tunedex.Providers.Custom.h"
#include "plugin/Orvo.Tunedex.Providers.Playlist.h"
#include "plugin/Orvo.Tunedex.Providers.RadioBrowser.h"
#include "plugin/Orvo.Tunedex.Providers.XiphDir.h"
#include "sdk/api/OrvoAPI.MusicLibrary.h"

TOrvoTunedexPlugin::~TOrvoTunedexPlugin() = default;

const char16_t* ORVO_CALL TOrvoTunedexPlugin::InfoText(int32_t index) {
    switch (index) {
    case 0:
        return u"Tunedex v1.04.42";
    case 1:
        return u"The Tunedex developers";
    case 2:
        return u"Internet Radio Catalog";
    case 3:
        return u"* requires Orvo v5.40.2655 or newer";
    default:
        return u"";
    }
}

uint32_t ORVO_CALL TOrvoTunedexPlugin::CategoryMask() {
    return 1;
}

HRESULT TOrvoTunedexPlugin::DoInitialize(IOrvoCore* core) {
    // The checks ask the core directly: the wrapper functions reach it only once it is kept.
    if (!QueryAs<IOrvoServiceMusicLibrary>(core))
        return E_NOTIMPL;
    auto version = QueryAs<IOrvoServiceVersionInfo>(core);
    if (!version || version->BuildNumber() < TUNEDEX_MINIMUM_HOST_BUILD)
        return E_NOTIMPL;

    NuvLogReadEnvironment();
    TOrvoCustomPlugin::DoInitialize(core);
    try {
        ComPtr<IOrvoString> profile;
        RaiseIfFailed(HostCore()->FolderPath(ORVO_FOLDER_PROFILE, profile.put()), u"%d");
        StartUp(FromHostString(profile));
    } catch (...) {
        // A half-started plug-in keeps nothing of the host: the host need not finalise it.
        TearDown();
        TOrvoCustomPlugin::DoFinalize();
        throw;
    }
    return S_OK;
}

void TOrvoTunedexPlugin::DoFinalize() {
    TearDown();
    TOrvoCustomPlugin::DoFinalize();
}

void TOrvoTunedexPlugin::StartUp(const std::u16string& profileFolder) {
    // The dispatcher's load monitor is a main-thread timer, so it is created here, on the main
    // thread, before any worker could be first to ask for it.
    TaskDispatcher();

    // The editor lists the classes in this order.
    TOrvoTunedexProviderRepository::RegisterProvider(TOrvoTunedexRadioBrowser::Class());
    TOrvoTunedexProviderRepository::RegisterProvider(TOrvoTunedexXiphDirectory::Class());
    TOrvoTunedexProviderRepository::RegisterProvider(TOrvoTunedexPlaylistBasedProvider::Class());
    TOrvoTunedexProviderRepository::RegisterProvider(TOrvoTunedexCustomProvider::Class());
    ApplyConnectionSettings();
    // Whatever the host said: the token is what a default user agent composed from now on shows.
    TNuvWebSettings::SetProductToken(u"Orvo-Tunedex/1.0");
    // The host's profile folder ends with a separator.
    FCatalog = std::make_unique<TOrvoStationCatalog>(profileFolder + u"Tunedex.db");

    FFileManager = MakeInterfaced<TOrvoTunedexFileManager>(FCatalog->WeakRef());
    RegisterExtension(IOrvoServiceFileManager::IID,
                      static_cast<IOrvoExtensionFileInfoProvider*>(FFileManager.get()),
                      u"the station file manager");
    FFileSystem = MakeInterfaced<TOrvoTunedexFakeFileSystem>(FCatalog->WeakRef());
    RegisterExtension(IOrvoServiceFileSystem::IID,
                      static_cast<IOrvoFileSystemCommandOpenFileFolder*>(FFileSystem.get()),
                      u"the settings address");
    FMusicLibrary = MakeInterfaced<TOrvoTunedexMusicLibraryExtension>(FCatalog->WeakRef());
    RaiseIfFailed(HostCore()->AddExtension(IOrvoServiceMusicLibrary::IID,
                                           static_cast<IOrvoMLExtensionDataStorage*>(FMusicLibrary.get())),
                  u"Tunedex: the music library storage could not be registered (%d)");
    RegisterTunedexMenuItems();
}

void TOrvoTunedexPlugin::RegisterExtension(const TGUID& serviceIid, IUnknown* extension,
                                           std::u16string_view what) {
    const HRESULT added = HostCore()->AddExtension(serviceIid, extension);
    if (Failed(added) && added != E_NOINTERFACE)
        throw EInvalidOperation(Format(u"Tunedex: %s could not be registered (%d)", what, added));
}

void TOrvoTunedexPlugin::ApplyConnectionSettings() {
    ComPtr<IOrvoServiceConnectionSettings> settings;
    if (!QueryService(settings))
        return;
    IOrvoPropertyList* list = settings.get();
    TNuvWebSettings::SetUserAgent(ReadTextProp(list, ORVO_CONNECTION_USER_AGENT));
    TNuvWebSettings::SetProxy({ReadTextProp(list, ORVO_CONNECTION_PROXY_SERVER),
                               ReadTextProp(list, ORVO_CONNECTION_PROXY_PORT),
                               ReadTextProp(list, ORVO_CONNECTION_PROXY_USER_NAME),
                               ReadTextProp(list, ORVO_CONNECTION_PROXY_PASSWORD)});
    TNuvWebSettings::SetTimeout(ReadIntProp(list, ORVO_CONNECTION_TIMEOUT, 0));
    TNuvWebSettings::SetProxyMode(
        uint8_t(ReadIntProp(list, ORVO_CONNECTION_PROXY_MODE, ORVO_PROXY_MODE_DIRECT)));
}

void TOrvoTunedexPlugin::TearDown() {
    // The host keeps the extensions and may still call them on any thread. Destroying the
    // catalogue empties their references to it and waits for the calls that hold one, then for a
    // running update; the storage stops listening first.
    FFileManager = nullptr;
    FFileSystem = nullptr;
    if (FMusicLibrary) {
        FMusicLibrary->Detach();
        FMusicLibrary = nullptr;
    }
    std::unique_ptr<TOrvoStationCatalog> catalog = std::move(FCatalog);
    catalog.reset();
    TaskDispatcher().CancelAll(true);
    // The class descriptors live in this library, which the host may unload after finalising.
    TOrvoTunedexProviderRepository::Clear();
}

HRESULT ORVO_CALL OrvoPluginGetHeader(IOrvoPlugin** header) {
    if (!header)
        return E_INVALIDARG;
    *header = nullptr;
    try {
        ComPtr<IOrvoPlugin> plugin = MakeInterfaced<TOrvoTunedexPlugin>();
        *header = plugin.Detach();
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
}
