#include "host/Orvo.Host.Core.h"

#include "host/Orvo.Host.String.h"

#include <cstring>

bool TOrvoGuidLess::operator()(const TGUID& a, const TGUID& b) const {
    return std::memcmp(&a, &b, sizeof(TGUID)) < 0;
}

TOrvoHostCore::TOrvoHostCore(std::u16string profileFolder)
    : FProfileFolder(profileFolder.empty() || profileFolder.back() == u'/'
                         ? std::move(profileFolder)
                         : std::move(profileFolder) + u'/') {
    FFactories[IOrvoString::IID] = [] { return ComPtr<IUnknown>(TOrvoHostString::Create()); };
}

ComPtr<TOrvoHostCore> TOrvoHostCore::Create(std::u16string profileFolder) {
    return MakeInterfaced<TOrvoHostCore>(std::move(profileFolder));
}

void TOrvoHostCore::RegisterService(const TGUID& iid, ComPtr<IUnknown> service) {
    std::lock_guard lock(FLock);
    FServices[iid] = std::move(service);
}

void TOrvoHostCore::UnregisterService(const TGUID& iid) {
    ComPtr<IUnknown> dropped;
    std::lock_guard lock(FLock);
    if (auto it = FServices.find(iid); it != FServices.end()) {
        dropped = std::move(it->second);
        FServices.erase(it);
    }
}

void TOrvoHostCore::RegisterObject(const TGUID& iid, TObjectFactory factory) {
    std::lock_guard lock(FLock);
    FFactories[iid] = std::move(factory);
}

void TOrvoHostCore::UnregisterObject(const TGUID& iid) {
    std::lock_guard lock(FLock);
    FFactories.erase(iid);
}

std::vector<ComPtr<IUnknown>> TOrvoHostCore::Extensions(const TGUID& serviceIid) const {
    std::lock_guard lock(FLock);
    auto it = FExtensions.find(serviceIid);
    return it == FExtensions.end() ? std::vector<ComPtr<IUnknown>>() : it->second;
}

void TOrvoHostCore::ClearExtensions() {
    std::map<TGUID, std::vector<ComPtr<IUnknown>>, TOrvoGuidLess> dropped;
    {
        std::lock_guard lock(FLock);
        dropped.swap(FExtensions);
    }
    // Released outside the lock: an extension's destructor may call the core.
}

ComPtr<IUnknown> TOrvoHostCore::Service(const TGUID& iid) const {
    std::lock_guard lock(FLock);
    auto it = FServices.find(iid);
    return it == FServices.end() ? nullptr : it->second;
}

HRESULT ORVO_CALL TOrvoHostCore::QueryInterface(const TGUID& iid, void** object) {
    if (!object)
        return E_INVALIDARG;
    if (Succeeded(InternalQueryInterface(iid, object)))
        return S_OK;
    if (ComPtr<IUnknown> service = Service(iid))
        return service->QueryInterface(iid, object);
    *object = nullptr;
    return E_NOINTERFACE;
}

HRESULT ORVO_CALL TOrvoHostCore::MakeObject(const TGUID& iid, void** object) {
    if (!object)
        return E_INVALIDARG;
    *object = nullptr;
    TObjectFactory factory;
    {
        std::lock_guard lock(FLock);
        auto it = FFactories.find(iid);
        if (it == FFactories.end())
            return E_NOINTERFACE;
        factory = it->second;
    }
    try {
        ComPtr<IUnknown> made = factory();
        return made ? made->QueryInterface(iid, object) : E_FAIL;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

HRESULT ORVO_CALL TOrvoHostCore::FolderPath(int32_t kind, IOrvoString** path) {
    if (!path)
        return E_INVALIDARG;
    *path = nullptr;
    if (kind != ORVO_FOLDER_PROFILE)
        return E_INVALIDARG;
    try {
        *path = TOrvoHostString::Create(FProfileFolder).Detach();
        return S_OK;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

HRESULT ORVO_CALL TOrvoHostCore::AddExtension(const TGUID& serviceIid, IUnknown* extension) {
    if (!extension)
        return E_INVALIDARG;
    try {
        std::lock_guard lock(FLock);
        if (!FServices.contains(serviceIid))
            return E_NOINTERFACE;
        FExtensions[serviceIid].emplace_back(extension);
        return S_OK;
    } catch (...) {
        return E_UNEXPECTED;
    }
}
