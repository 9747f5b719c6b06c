#include "sdk/OrvoCustomPlugin.h"

#include "nuv/Nuv.Log.h"

HRESULT ORVO_CALL TOrvoCustomPlugin::Initialize(IOrvoCore* core) {
    try {
        if (!core)
            return E_INVALIDARG;
        return DoInitialize(core);
    } catch (const std::exception& e) {
        NuvLogError(u"App", ExceptionMessage(e));
    } catch (...) {
        NuvLogError(u"App", u"Unknown error during initialization");
    }
    return E_UNEXPECTED;
}

void ORVO_CALL TOrvoCustomPlugin::Finalize() {
    try {
        DoFinalize();
    } catch (const std::exception& e) {
        NuvLogError(u"App", ExceptionMessage(e));
    } catch (...) {
        NuvLogError(u"App", u"Unknown error during finalization");
    }
}

void ORVO_CALL TOrvoCustomPlugin::SystemNotify(int32_t, IUnknown*) {}

HRESULT TOrvoCustomPlugin::DoInitialize(IOrvoCore* core) {
    TOrvoAPIWrappers::Initialize(core);
    return S_OK;
}

void TOrvoCustomPlugin::DoFinalize() {
    TOrvoAPIWrappers::Finalize();
}
