#pragma once
// The file-manager service ("ORVOSrvFileMan"): the registration point of file-info providers,
// which the host asks about the file names it shows or plays, and whose open-folder command opens
// what stands behind a name.
//
// Thread-safety: every operation may be called from any thread; providers run on the caller's.

#include "host/Orvo.Host.MusicLibrary.Objects.h"
#include "sdk/api/OrvoAPI.FileSystem.h"
#include "sdk/apiWrappers.h"

#include <string_view>

class TOrvoHostCore;

// The file-info list the service hands to providers: any property may be set and read.
class TOrvoHostFileInfo : public TOrvoHostPropertyBagOf<TOrvoPropertyList> {
public:
    static ComPtr<TOrvoHostFileInfo> Create();

protected:
    TOrvoHostFileInfo() = default;
    template <typename T, typename... Args> friend ComPtr<T> MakeInterfaced(Args&&... args);
};

class TOrvoHostFileManager : public TOrvoInterfaces<TInterfacedObjectEx, IOrvoServiceFileManager> {
public:
    // `core` owns the service and outlives it.
    static ComPtr<TOrvoHostFileManager> Create(TOrvoHostCore& core);

    HRESULT ORVO_CALL DescribeFile(IOrvoString* fileName, IOrvoPropertyList** info) override;
    HRESULT ORVO_CALL OpenFileFolder(IOrvoString* fileName) override;
    // The same for texts.
    HRESULT DescribeFile(std::u16string_view fileName, ComPtr<IOrvoPropertyList>& info);
    HRESULT OpenFileFolder(std::u16string_view fileName);

protected:
    explicit TOrvoHostFileManager(TOrvoHostCore& core) : FCore(core) {}
    template <typename T, typename... Args> friend ComPtr<T> MakeInterfaced(Args&&... args);

private:
    TOrvoHostCore& FCore;
};
