#include "host/Orvo.Host.MusicLibrary.h"

#include "host/Orvo.Host.Core.h"

ComPtr<TOrvoHostMusicLibrary> TOrvoHostMusicLibrary::Create(TOrvoHostCore& core) {
    return MakeInterfaced<TOrvoHostMusicLibrary>(core);
}

HRESULT ORVO_CALL TOrvoHostMusicLibrary::ActiveStorage(const TGUID& iid, void** storage) {
    if (!storage)
        return E_INVALIDARG;
    *storage = nullptr;
    for (const auto& extension : FCore.Extensions(IOrvoServiceMusicLibrary::IID))
        if (Succeeded(extension->QueryInterface(iid, storage)))
            return S_OK;
    return E_FAIL;
}
