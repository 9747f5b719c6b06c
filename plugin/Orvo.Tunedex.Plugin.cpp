#include "plugin/Orvo.Tunedex.Plugin.h"

#include "nuv/Nuv.Threading.Pool.h"
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
    // The start-up sequence registers the provider classes, copies the host's connection
    // settings, opens the catalogue in the profile folder and registers the extensions and menus.
    (void)profileFolder;
    // The dispatcher's load monitor is a main-thread timer, so it is created here, on the main
    // thread, before any worker could be first to ask for it.
    TaskDispatcher();
}

void TOrvoTunedexPlugin::TearDown() {
    // Destroys the catalogue (which waits for a running update) and ends all background work.
    TaskDispatcher().CancelAll(true);
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
