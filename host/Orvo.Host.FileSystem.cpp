#include "host/Orvo.Host.FileSystem.h"

#include "host/Orvo.Host.Core.h"
#include "host/Orvo.Host.String.h"
#include "nuv/Nuv.Strings.h"

ComPtr<TOrvoHostFileSystems> TOrvoHostFileSystems::Create(TOrvoHostCore& core) {
    return MakeInterfaced<TOrvoHostFileSystems>(core);
}

std::u16string TOrvoHostFileSystems::SchemeOf(std::u16string_view fileName) {
    // A scheme is a letter followed by letters, digits, "+", "-" or ".", then "://".
    const size_t colon = fileName.find(u"://");
    if (colon == std::u16string_view::npos || colon == 0)
        return {};
    for (size_t i = 0; i < colon; ++i) {
        const char16_t c = fileName[i];
        const bool other = IsAsciiDigit(c) || c == u'+' || c == u'-' || c == u'.';
        if (!IsAsciiLetter(c) && (i == 0 || !other))
            return {};
    }
    return std::u16string(fileName.substr(0, colon));
}

HRESULT ORVO_CALL TOrvoHostFileSystems::OpenLink(IOrvoString* fileName) {
    if (!fileName)
        return E_INVALIDARG;
    try {
        const std::u16string name = FromHostString(fileName);
        const std::u16string scheme = SchemeOf(name);
        if (scheme.empty())
            return E_FAIL;
        for (const auto& extension : FCore.Extensions(IOrvoServiceFileSystem::IID)) {
            // A file system is a property list answered under its own identifier.
            ComPtr<IOrvoPropertyList> properties;
            if (Failed(extension->QueryInterface(IOrvoExtensionFileSystem::IID, properties.put_void())) ||
                !properties)
                continue;
            ComPtr<IOrvoString> served;
            if (Failed(properties->GetValueAsObject(ORVO_FSP_SCHEME, IOrvoString::IID, served.put_void())) ||
                !SameTextAscii(FromHostString(served), scheme))
                continue;
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

HRESULT TOrvoHostFileSystems::OpenLink(std::u16string_view fileName) {
    return OpenLink(TOrvoHostString::Create(std::u16string(fileName)).get());
}
