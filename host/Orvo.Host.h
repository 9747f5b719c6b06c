#pragma once
// The reference host: a core with its services, and the plug-in it loads, initialises and
// finalises as a player would.

#include "host/Orvo.Host.ConnectionSettings.h"
#include "host/Orvo.Host.Core.h"
#include "host/Orvo.Host.FileManager.h"
#include "host/Orvo.Host.FileSystem.h"
#include "host/Orvo.Host.Menus.h"
#include "host/Orvo.Host.MusicLibrary.UI.h"
#include "host/Orvo.Host.Plugin.h"
#include "host/Orvo.Host.UI.MessageDialog.h"
#include "host/Orvo.Host.UI.h"
#include "host/Orvo.Host.VersionInfo.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

struct TOrvoHostSettings {
    // The plug-in library; empty: DefaultPluginFile().
    std::filesystem::path PluginFile;
    // The profile folder; empty: DefaultProfileFolder().
    std::filesystem::path ProfileFolder;
    // The build the version-information service reports.
    int32_t BuildNumber = TOrvoHostVersionInfo::DefaultBuild;
    // What the connection-settings service answers.
    TOrvoHostConnection Connection;
};

// "0x80004001" for a result code.
std::string ResultCodeText(HRESULT code);

// Thread-safety: created, used and destroyed on the host's main thread.
class TOrvoHost {
public:
    // The handle the host reports as its main window, the owner of the plug-in's dialogs.
    static constexpr TOrvoWindowHandle MainWindow = 0x10000;

    // Resolves the folders, creates the profile folder and sets up the core and its services;
    // raises Exception when the profile folder cannot be created.
    explicit TOrvoHost(const TOrvoHostSettings& settings);
    // Unloads the plug-in.
    ~TOrvoHost();
    TOrvoHost(const TOrvoHost&) = delete;
    TOrvoHost& operator=(const TOrvoHost&) = delete;

    TOrvoHostCore& Core() const { return *FCore; }
    // The forms and controls the plug-in makes, its message dialogs, and the file systems it
    // registers.
    TOrvoHostUI& UI() const { return *FUI; }
    TOrvoHostMessageDialog& MessageDialog() const { return *FMessageDialog; }
    TOrvoHostFileSystems& FileSystems() const { return *FFileSystems; }
    // The file-info providers the plug-in registers.
    TOrvoHostFileManager& FileManager() const { return *FFileManager; }
    // The menus and the music library's selection.
    TOrvoHostMenus& Menus() const { return *FMenus; }
    TOrvoHostMusicLibraryUI& MusicLibraryUI() const { return *FMusicLibraryUI; }
    const std::filesystem::path& PluginFile() const { return FPluginFile; }
    const std::filesystem::path& ProfileFolder() const { return FProfileFolder; }

    // Loads the plug-in library and obtains its object; raises when that fails.
    TOrvoHostPluginModule& Load();
    // Initialises the loaded plug-in with the core and answers its result.
    HRESULT Initialize();
    bool Initialized() const { return FInitialized; }
    // Finalises an initialised plug-in, releases what it registered and unloads it.
    void Unload();

    // The host's main loop: serves the calls the plug-in sends or posts to the main thread, and
    // its timers, until done() answers true or the time-out (milliseconds) passes; answers
    // done(). Every wait of the host goes through here, so a worker waiting for the main thread
    // never waits for ever.
    bool RunUntil(const std::function<bool()>& done, uint32_t timeoutMs = UINT32_MAX);
    // Runs the main-thread calls that are due now, without waiting.
    void ProcessPending();

    // $TUNEDEX_PROFILE, else $XDG_DATA_HOME/tunedex, else ~/.local/share/tunedex; raises when
    // none can be had.
    static std::filesystem::path DefaultProfileFolder();
    // libtunedex.so (tunedex.dll on Windows) in ../lib beside the program's folder, else in the
    // program's folder.
    static std::filesystem::path DefaultPluginFile();

private:
    std::filesystem::path FPluginFile;
    std::filesystem::path FProfileFolder;
    ComPtr<TOrvoHostCore> FCore;
    ComPtr<TOrvoHostUI> FUI;
    ComPtr<TOrvoHostMessageDialog> FMessageDialog;
    ComPtr<TOrvoHostFileSystems> FFileSystems;
    ComPtr<TOrvoHostFileManager> FFileManager;
    ComPtr<TOrvoHostMenus> FMenus;
    ComPtr<TOrvoHostMusicLibraryUI> FMusicLibraryUI;
    std::unique_ptr<TOrvoHostPluginModule> FModule;
    bool FInitialized = false;
};
