#include "plugin/Orvo.Tunedex.Plugin.FileManager.h"

#include "nuv/Nuv.Log.h"
#include "plugin/Orvo.Tunedex.Plugin.UI.h"

HRESULT ORVO_CALL TOrvoTunedexFakeFileSystem::CanHandle(IOrvoString* fileName) {
    try {
        return fileName && FromHostString(fileName) == SettingsAddress ? S_OK : E_FAIL;
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT ORVO_CALL TOrvoTunedexFakeFileSystem::Handle(IOrvoString* fileName) {
    const HRESULT accepted = CanHandle(fileName);
    if (accepted != S_OK)
        return accepted;
    if (!Catalog)
        return E_FAIL;
    try {
        TOrvoTunedexManagingDialog::Execute(MainWindowHandle(), *Catalog);
        return S_OK;
    } catch (const std::exception& e) {
        // The manager could not be built; the host learns of the failure from the result.
        NuvLogError(u"App", u"Tunedex: " + ExceptionMessage(e));
        return E_UNEXPECTED;
    } catch (...) {
        return E_UNEXPECTED;
    }
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
