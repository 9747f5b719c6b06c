#include "host/Orvo.Host.FileManager.h"

#include "host/Orvo.Host.Core.h"
#include "host/Orvo.Host.String.h"

ComPtr<TOrvoHostFileInfo> TOrvoHostFileInfo::Create() {
    return MakeInterfaced<TOrvoHostFileInfo>();
}

ComPtr<TOrvoHostFileManager> TOrvoHostFileManager::Create(TOrvoHostCore& core) {
    return MakeInterfaced<TOrvoHostFileManager>(core);
}

HRESULT ORVO_CALL TOrvoHostFileManager::DescribeFile(IOrvoString* fileName, IOrvoPropertyList** info) {
    if (!fileName || !info)
        return E_INVALIDARG;
    *info = nullptr;
    try {
        for (const auto& extension : FCore.Extensions(IOrvoServiceFileManager::IID)) {
            ComPtr<IOrvoExtensionFileInfoProvider> provider =
                QueryAs<IOrvoExtensionFileInfoProvider>(extension.get());
            if (!provider)
                continue;
            // Each provider gets a list of its own, so one that fails half-way leaves nothing
            // behind for the next.
            ComPtr<TOrvoHostFileInfo> described = TOrvoHostFileInfo::Create();
            if (provider->DescribeFile(fileName, described.get()) == S_OK) {
                *info = ComPtr<IOrvoPropertyList>(described).Detach();
                return S_OK;
            }
        }
        return E_FAIL;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

HRESULT ORVO_CALL TOrvoHostFileManager::OpenFileFolder(IOrvoString* fileName) {
    if (!fileName)
        return E_INVALIDARG;
    try {
        for (const auto& extension : FCore.Extensions(IOrvoServiceFileManager::IID)) {
            ComPtr<IOrvoFileSystemCommandOpenFileFolder> command =
                QueryAs<IOrvoFileSystemCommandOpenFileFolder>(extension.get());
            if (command && command->CanHandle(fileName) == S_OK)
                return command->Handle(fileName);
        }
        return E_FAIL;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

HRESULT TOrvoHostFileManager::DescribeFile(std::u16string_view fileName, ComPtr<IOrvoPropertyList>& info) {
    info.Reset();
    return DescribeFile(TOrvoHostString::Create(std::u16string(fileName)).get(), info.put());
}

HRESULT TOrvoHostFileManager::OpenFileFolder(std::u16string_view fileName) {
    return OpenFileFolder(TOrvoHostString::Create(std::u16string(fileName)).get());
}
