#pragma once
// The host's music library.

#include "sdk/api/OrvoAPI.h"

struct IOrvoServiceMusicLibrary : IUnknown {
    static constexpr TGUID IID = OrvoTag("ORVOSrvML");

    // The storage the library shows now, as the interface `iid`; E_FAIL when there is none.
    virtual HRESULT ORVO_CALL ActiveStorage(const TGUID& iid, void** storage) = 0;
};
