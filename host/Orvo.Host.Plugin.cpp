#include "host/Orvo.Host.Plugin.h"

#include "nuv/Nuv.Exceptions.h"
#include "nuv/Nuv.Strings.h"

#include "platform/Platform.System.h"

namespace {
[[noreturn]] void RaiseLoad(const std::string& path, std::u16string_view reason) {
    throw Exception(Format(u"Cannot load plug-in \"%s\": %s", FromUtf8(path), reason));
}
} // namespace

TOrvoHostPluginModule::TOrvoHostPluginModule(const std::string& path) : FPath(path) {
    std::string error;
    FHandle = platform::LoadModule(path, error);
    if (!FHandle)
        RaiseLoad(path, FromUtf8(error));
    try {
        auto entry =
            reinterpret_cast<TOrvoPluginGetHeader>(platform::ModuleSymbol(FHandle, ORVO_PLUGIN_ENTRY));
        if (!entry)
            RaiseLoad(path, u"the library has no OrvoPluginGetHeader");
        const HRESULT result = entry(FPlugin.put());
        if (Failed(result) || !FPlugin)
            RaiseLoad(path, Format(u"OrvoPluginGetHeader failed (0x%08X)", uint32_t(result)));
    } catch (...) {
        FPlugin.Reset();
        platform::UnloadModule(FHandle);
        throw;
    }
}

TOrvoHostPluginModule::~TOrvoHostPluginModule() {
    // The object's code lives in the library: it must be gone before the library is.
    FPlugin.Reset();
    platform::UnloadModule(FHandle);
}

std::u16string TOrvoHostPluginModule::InfoText(int32_t index) const {
    const char16_t* text = FPlugin->InfoText(index);
    return text ? std::u16string(text) : std::u16string();
}
