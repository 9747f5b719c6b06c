#pragma once
// The reference host's core object: host objects, folders, services and the extensions the
// plug-in registers. Services and object kinds are registered by tag, so a new service is one
// class and one RegisterService call.
//
// Thread-safety: every operation may be called from any thread; the tables are guarded by one
// lock that is never held while calling out.

#include "sdk/apiWrappers.h"

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

struct TOrvoGuidLess {
    bool operator()(const TGUID& a, const TGUID& b) const;
};

class TOrvoHostCore : public TOrvoInterfaces<TInterfacedObjectEx, IOrvoCore> {
public:
    using TObjectFactory = std::function<ComPtr<IUnknown>()>;

    // A core whose profile folder (made to end with "/") is `profileFolder`; it answers
    // "ORVOString" objects and no services until they are registered.
    static ComPtr<TOrvoHostCore> Create(std::u16string profileFolder);

    void RegisterService(const TGUID& iid, ComPtr<IUnknown> service);
    void UnregisterService(const TGUID& iid);
    void RegisterObject(const TGUID& iid, TObjectFactory factory);
    void UnregisterObject(const TGUID& iid);

    // The extensions registered at a service, in registration order.
    std::vector<ComPtr<IUnknown>> Extensions(const TGUID& serviceIid) const;
    // Releases every registered extension; the host does this before unloading the plug-in,
    // whose code they run.
    void ClearExtensions();
    const std::u16string& ProfileFolder() const { return FProfileFolder; }

    HRESULT ORVO_CALL QueryInterface(const TGUID& iid, void** object) override;
    HRESULT ORVO_CALL MakeObject(const TGUID& iid, void** object) override;
    HRESULT ORVO_CALL FolderPath(int32_t kind, IOrvoString** path) override;
    HRESULT ORVO_CALL AddExtension(const TGUID& serviceIid, IUnknown* extension) override;

protected:
    explicit TOrvoHostCore(std::u16string profileFolder);
    template <typename T, typename... Args> friend ComPtr<T> MakeInterfaced(Args&&... args);

private:
    ComPtr<IUnknown> Service(const TGUID& iid) const;

    const std::u16string FProfileFolder;
    mutable std::mutex FLock;
    std::map<TGUID, ComPtr<IUnknown>, TOrvoGuidLess> FServices;
    std::map<TGUID, TObjectFactory, TOrvoGuidLess> FFactories;
    std::map<TGUID, std::vector<ComPtr<IUnknown>>, TOrvoGuidLess> FExtensions;
};
