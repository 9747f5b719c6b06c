#pragma once
// The file-system service ("ORVOSrvFS"): the registration point of file systems, extensions that
// serve the names of a scheme of their own. Following a link such as "tunedex://settings" hands
// it to the registered file system of its scheme that accepts it.
//
// Thread-safety: every operation may be called from any thread; a file system's Handle runs on
// the caller's (the plug-in expects the main thread for names that open dialogs).

#include "sdk/api/OrvoAPI.FileSystem.h"
#include "sdk/apiWrappers.h"

class TOrvoHostCore;

class TOrvoHostFileSystems : public TOrvoInterfaces<TInterfacedObjectEx, IOrvoServiceFileSystem> {
public:
    // `core` owns the service and outlives it.
    static ComPtr<TOrvoHostFileSystems> Create(TOrvoHostCore& core);

    HRESULT ORVO_CALL OpenLink(IOrvoString* fileName) override;
    // The same for a text.
    HRESULT OpenLink(std::u16string_view fileName);

    // The scheme of a name ("tunedex" of "tunedex://settings"), empty when it has none.
    static std::u16string SchemeOf(std::u16string_view fileName);

protected:
    explicit TOrvoHostFileSystems(TOrvoHostCore& core) : FCore(core) {}
    template <typename T, typename... Args> friend ComPtr<T> MakeInterfaced(Args&&... args);

private:
    TOrvoHostCore& FCore;
};
