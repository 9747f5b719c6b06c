#pragma once
// The music-library service ("ORVOSrvML"): the registration point of data storages.

#include "sdk/api/OrvoAPI.MusicLibrary.h"
#include "sdk/apiWrappers.h"

class TOrvoHostCore;

class TOrvoHostMusicLibrary : public TOrvoInterfaces<TInterfacedObjectEx, IOrvoServiceMusicLibrary> {
public:
    // `core` owns the service and outlives it.
    static ComPtr<TOrvoHostMusicLibrary> Create(TOrvoHostCore& core);

    // The first registered storage that offers `iid`; E_FAIL when none does.
    HRESULT ORVO_CALL ActiveStorage(const TGUID& iid, void** storage) override;

protected:
    explicit TOrvoHostMusicLibrary(TOrvoHostCore& core) : FCore(core) {}
    template <typename T, typename... Args> friend ComPtr<T> MakeInterfaced(Args&&... args);

private:
    TOrvoHostCore& FCore;
};
