#pragma once
// The version-information service ("ORVOSrvVerInfo"): the host build the plug-in checks.

#include "sdk/apiWrappers.h"

class TOrvoHostVersionInfo : public TOrvoInterfaces<TInterfacedObjectEx, IOrvoServiceVersionInfo> {
public:
    static constexpr int32_t DefaultBuild = 2700;
    static ComPtr<TOrvoHostVersionInfo> Create(int32_t build = DefaultBuild);

    HRESULT ORVO_CALL FormatInfo(IOrvoString** text) override;
    int32_t ORVO_CALL VersionMajor() override { return 5; }
    int32_t ORVO_CALL VersionMinor() override { return 40; }
    int32_t ORVO_CALL BuildNumber() override { return FBuild; }

protected:
    explicit TOrvoHostVersionInfo(int32_t build) : FBuild(build) {}
    template <typename T, typename... Args> friend ComPtr<T> MakeInterfaced(Args&&... args);

private:
    const int32_t FBuild;
};
