#include "host/Orvo.Host.VersionInfo.h"

#include "host/Orvo.Host.String.h"

ComPtr<TOrvoHostVersionInfo> TOrvoHostVersionInfo::Create(int32_t build) {
    return MakeInterfaced<TOrvoHostVersionInfo>(build);
}

HRESULT ORVO_CALL TOrvoHostVersionInfo::FormatInfo(IOrvoString** text) {
    if (!text)
        return E_INVALIDARG;
    try {
        *text =
            TOrvoHostString::Create(Format(u"v%d.%d.%d", VersionMajor(), VersionMinor(), FBuild)).Detach();
        return S_OK;
    } catch (...) {
        *text = nullptr;
        return E_UNEXPECTED;
    }
}
