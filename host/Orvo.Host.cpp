#include "host/Orvo.Host.h"

#include "host/Orvo.Host.Localization.h"
#include "host/Orvo.Host.MessageDispatcher.h"
#include "host/Orvo.Host.MusicLibrary.Objects.h"
#include "host/Orvo.Host.MusicLibrary.h"
#include "nuv/Nuv.Log.h"
#include "platform/Platform.System.h"
#include "platform/Platform.Threads.h"

#include <cstdlib>
#include <system_error>

namespace fs = std::filesystem;

std::string ResultCodeText(HRESULT code) {
    return ToUtf8(Format(u"0x%08X", uint32_t(code)));
}

TOrvoHost::TOrvoHost(const TOrvoHostSettings& settings)
    : FPluginFile(settings.PluginFile.empty() ? DefaultPluginFile() : settings.PluginFile),
      FProfileFolder(settings.ProfileFolder.empty() ? DefaultProfileFolder() : settings.ProfileFolder) {
    // The thread that loads the plug-in is its main thread, as in a player.
    platform::SetMainThread();
    std::error_code error;
    fs::create_directories(FProfileFolder, error);
    if (error || !fs::is_directory(FProfileFolder))
        throw Exception(Format(u"Cannot create the profile folder \"%s\": %s",
                               FromUtf8(FProfileFolder.string()),
                               FromUtf8(error ? error.message() : "not a folder")));
    FProfileFolder = fs::absolute(FProfileFolder).lexically_normal();

    FCore = TOrvoHostCore::Create(FromUtf8(FProfileFolder.string()));
    FCore->RegisterService(IOrvoServiceMusicLibrary::IID, TOrvoHostMusicLibrary::Create(*FCore));
    RegisterMusicLibraryObjects(*FCore);
    FCore->RegisterService(IOrvoServiceVersionInfo::IID, TOrvoHostVersionInfo::Create(settings.BuildNumber));
    ComPtr<TOrvoHostLocalization> localization = TOrvoHostLocalization::CreateDefault();
    FCore->RegisterService(IOrvoServiceMUI::IID, localization);
    FCore->RegisterService(IOrvoServiceMessageDispatcher::IID,
                           TOrvoHostMessageDispatcher::Create(MainWindow));
    FCore->RegisterService(IOrvoServiceConnectionSettings::IID,
                           TOrvoHostConnectionSettings::Create(settings.Connection));
    FUI = TOrvoHostUI::Create([localization](std::u16string_view key) { return localization->Text(key); });
    FCore->RegisterService(IOrvoServiceUI::IID, FUI);
    FMessageDialog = TOrvoHostMessageDialog::Create();
    FCore->RegisterService(IOrvoUIMessageDialog::IID, FMessageDialog);
    FFileSystems = TOrvoHostFileSystems::Create(*FCore);
    FCore->RegisterService(IOrvoServiceFileSystem::IID, FFileSystems);
    FFileManager = TOrvoHostFileManager::Create(*FCore);
    FCore->RegisterService(IOrvoServiceFileManager::IID, FFileManager);
    FMenus = TOrvoHostMenus::Create(
        *FCore, [localization](std::u16string_view key) { return localization->Text(key); });
    FCore->RegisterService(IOrvoServiceMenuManager::IID, FMenus);
    FMusicLibraryUI = TOrvoHostMusicLibraryUI::Create();
    FCore->RegisterService(IOrvoServiceMusicLibraryUI::IID, FMusicLibraryUI);
}

TOrvoHost::~TOrvoHost() {
    Unload();
}

TOrvoHostPluginModule& TOrvoHost::Load() {
    if (!FModule)
        FModule = std::make_unique<TOrvoHostPluginModule>(FPluginFile.string());
    return *FModule;
}

HRESULT TOrvoHost::Initialize() {
    if (FInitialized)
        return S_OK;
    const HRESULT result = Load().Plugin().Initialize(FCore.get());
    FInitialized = Succeeded(result);
    return result;
}

void TOrvoHost::Unload() {
    if (FModule && FInitialized)
        FModule->Plugin().Finalize();
    FInitialized = false;
    // Extensions run the plug-in's code, so they go before the library does; so do calls it
    // queued for the main thread through the host's forms.
    FCore->ClearExtensions();
    platform::DiscardMainThreadCalls(FUI.get());
    FModule.reset();
}

bool TOrvoHost::RunUntil(const std::function<bool()>& done, uint32_t timeoutMs) {
    const uint64_t start = platform::TickCount64();
    for (;;) {
        const uint64_t elapsed = platform::TickCount64() - start;
        const uint32_t left = timeoutMs == platform::Infinite
                                  ? platform::Infinite
                                  : uint32_t(elapsed >= timeoutMs ? 0 : timeoutMs - elapsed);
        try {
            return platform::PumpMainThreadUntil(done, left);
        } catch (const std::exception& e) {
            // A failing posted call must not stop the loop: the player logs it and goes on.
            NuvLogError(u"App", FromUtf8(e.what()));
        }
    }
}

void TOrvoHost::ProcessPending() {
    RunUntil([] { return false; }, 0);
}

fs::path TOrvoHost::DefaultProfileFolder() {
    if (const char* profile = std::getenv("TUNEDEX_PROFILE"); profile && *profile)
        return profile;
    // A relative XDG_DATA_HOME is invalid and ignored, as the base-directory rules say.
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data == '/')
        return fs::path(data) / "tunedex";
#ifdef _WIN32
    // Where Windows programs keep what a user's profile carries from machine to machine.
    if (const char* data = std::getenv("APPDATA"); data && *data)
        return fs::path(data) / "tunedex";
#endif
    if (const char* home = std::getenv("HOME"); home && *home)
        return fs::path(home) / ".local" / "share" / "tunedex";
    throw Exception(u"Cannot find a profile folder: set TUNEDEX_PROFILE or HOME");
}

namespace {
#ifdef _WIN32
constexpr const char* kPluginFileName = "tunedex.dll";
#else
constexpr const char* kPluginFileName = "libtunedex.so";
#endif
} // namespace

fs::path TOrvoHost::DefaultPluginFile() {
    const fs::path program = platform::ExecutablePath();
    const fs::path folder = program.empty() ? fs::current_path() : program.parent_path();
    const fs::path besideLib = (folder / ".." / "lib" / kPluginFileName).lexically_normal();
    const fs::path beside = folder / kPluginFileName;
    if (!fs::exists(besideLib) && fs::exists(beside))
        return beside;
    return besideLib;
}
