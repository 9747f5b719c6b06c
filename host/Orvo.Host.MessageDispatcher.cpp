#include "host/Orvo.Host.MessageDispatcher.h"

#include <cstring>

ComPtr<TOrvoHostMessageDispatcher> TOrvoHostMessageDispatcher::Create(TOrvoWindowHandle mainWindow) {
    return MakeInterfaced<TOrvoHostMessageDispatcher>(mainWindow);
}

HRESULT ORVO_CALL TOrvoHostMessageDispatcher::SendHostMessage(uint32_t message, int32_t parameter,
                                                              void* data) {
    switch (message) {
    case ORVO_MSG_GET_MAIN_WINDOW:
        if (parameter != 0 || !data)
            return E_INVALIDARG;
        std::memcpy(data, &FMainWindow, sizeof FMainWindow);
        return S_OK;
    default:
        return E_NOTIMPL;
    }
}
