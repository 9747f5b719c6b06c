#pragma once
// The plug-in object and the library's one export.

#include "sdk/OrvoCustomPlugin.h"

#include <memory>
#include <string>
#include <string_view>

class TOrvoStationCatalog;
class TOrvoTunedexFakeFileSystem;
class TOrvoTunedexFileManager;
class TOrvoTunedexMusicLibraryExtension;

// The oldest host build the plug-in works with.
constexpr int32_t TUNEDEX_MINIMUM_HOST_BUILD = 2655;

// The plug-in object: its texts, the checks that decide whether a host is usable, and the order
// of start-up and tear-down.
//
// Thread-safety: every operation runs on the host's main thread.
class TOrvoTunedexPlugin : public TOrvoCustomPlugin {
public:
    const char16_t* ORVO_CALL InfoText(int32_t index) override;
    uint32_t ORVO_CALL CategoryMask() override;

protected:
    TOrvoTunedexPlugin() = default;
    ~TOrvoTunedexPlugin() override;
    template <typename T, typename... Args> friend ComPtr<T> MakeInterfaced(Args&&... args);

    // Refuses (E_NOTIMPL) a host without the music library or older than the minimum build,
    // before anything changes; then keeps the core, finds the profile folder and starts up.
    // From keeping the core on, failures raise.
    HRESULT DoInitialize(IOrvoCore* core) override;
    // Tears down what start-up created, then drops the core.
    void DoFinalize() override;

private:
    void StartUp(const std::u16string& profileFolder);
    void TearDown();

    // Copies the host's proxy, time-out and user agent into the web settings, when the host
    // offers them.
    static void ApplyConnectionSettings();
    // Registers an extension at a host service. A host without the service gets none, and the
    // rest still works; any other refusal raises with `what` in the message.
    static void RegisterExtension(const TGUID& serviceIid, IUnknown* extension, std::u16string_view what);

    // StartUp creates the catalogue in the profile folder and TearDown destroys it.
    std::unique_ptr<TOrvoStationCatalog> FCatalog;
    // The stream addresses' file manager and the settings address's file system; the host keeps its own
    // reference, and they reach the catalogue only through its weak references.
    ComPtr<TOrvoTunedexFileManager> FFileManager;
    ComPtr<TOrvoTunedexFakeFileSystem> FFileSystem;
    // The music library's storage; TearDown also stops it listening to the catalogue.
    ComPtr<TOrvoTunedexMusicLibraryExtension> FMusicLibrary;
};

extern "C" {
// Creates the plug-in object and hands its interface to the host, which holds the one reference.
__attribute__((visibility("default"))) HRESULT ORVO_CALL OrvoPluginGetHeader(IOrvoPlugin** header);
}
