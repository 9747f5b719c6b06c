#pragma once
// A plug-in library loaded by the host: the module, its export and the plug-in object.

#include "sdk/api/ComPtr.h"
#include "sdk/api/OrvoAPI.Plugin.h"

#include <string>

// Thread-safety: used by the host's main thread only.
class TOrvoHostPluginModule {
public:
    // Loads the library (UTF-8 path) and obtains its plug-in object; raises Exception
    // "Cannot load plug-in "%s": %s" when the library, its export or its object is missing.
    explicit TOrvoHostPluginModule(const std::string& path);
    // Releases the plug-in object, then unloads the library.
    ~TOrvoHostPluginModule();
    TOrvoHostPluginModule(const TOrvoHostPluginModule&) = delete;
    TOrvoHostPluginModule& operator=(const TOrvoHostPluginModule&) = delete;

    IOrvoPlugin& Plugin() const { return *FPlugin; }
    // The info text of that index; empty for a null text.
    std::u16string InfoText(int32_t index) const;
    const std::string& Path() const { return FPath; }

private:
    std::string FPath;
    void* FHandle = nullptr;
    ComPtr<IOrvoPlugin> FPlugin;
};
