#include "sdk/apiWrappers.Streams.h"

#include <algorithm>
#include <limits>
#include <vector>

// ---- resources

namespace {
std::vector<TOrvoResource>& ResourceTable() {
    // A function-local table, so registrations from any translation unit's static
    // initialisation find it constructed.
    static std::vector<TOrvoResource> table;
    return table;
}
} // namespace

void TOrvoResources::Register(const TOrvoResource& resource) {
    ResourceTable().push_back(resource);
}

const TOrvoResource* TOrvoResources::Find(std::u16string_view name, std::u16string_view type) {
    for (const auto& resource : ResourceTable())
        if (SameTextAscii(resource.Name, name) && SameTextAscii(resource.Type, type))
            return &resource;
    return nullptr;
}

// ---- TOrvoStreamAdapter

TOrvoStreamAdapter::TOrvoStreamAdapter(TNuvStream* source, bool ownership)
    : FSource(source), FOwnership(ownership) {
    if (!source)
        throw EArgumentError(u"Stream is nil");
}

TOrvoStreamAdapter::~TOrvoStreamAdapter() {
    if (FOwnership)
        delete FSource;
}

ComPtr<TOrvoStreamAdapter> TOrvoStreamAdapter::Create(TNuvStream* source, bool ownership) {
    return MakeInterfaced<TOrvoStreamAdapter>(source, ownership);
}

ComPtr<TOrvoStreamAdapter> TOrvoStreamAdapter::Create(std::unique_ptr<TNuvStream> source) {
    auto adapter = Create(source.get(), true);
    source.release();
    return adapter;
}

ComPtr<TOrvoStreamAdapter> TOrvoStreamAdapter::CreateFromResource(std::u16string_view name,
                                                                  std::u16string_view type) {
    const TOrvoResource* resource = TOrvoResources::Find(name, type);
    if (!resource)
        throw EStreamError(Format(u"Resource %s not found", name));
    // A copy, so that a host writing to the stream cannot touch the library's read-only data.
    return Create(std::make_unique<TNuvMemoryStream>(resource->Data, resource->Size));
}

int64_t ORVO_CALL TOrvoStreamAdapter::Size() {
    try {
        return FSource->Size();
    } catch (...) {
        return -1;
    }
}

HRESULT ORVO_CALL TOrvoStreamAdapter::SetSize(int64_t size) {
    try {
        FSource->SetSize(size);
        return S_OK;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

int64_t ORVO_CALL TOrvoStreamAdapter::Position() {
    try {
        return FSource->Position();
    } catch (...) {
        return -1;
    }
}

HRESULT ORVO_CALL TOrvoStreamAdapter::Seek(int64_t offset, int32_t origin) {
    try {
        int64_t base = 0;
        switch (origin) {
        case 0:
            break;
        case 1:
            base = FSource->Position();
            break;
        case 2:
            base = FSource->Size();
            break;
        default:
            return E_INVALIDARG;
        }
        // The stream must land where the caller asked; for relative origins that is the base plus
        // the offset, not the offset itself.
        const int64_t target = base + offset;
        const int64_t at = FSource->Seek(offset, TNuvSeekOrigin(origin));
        return at == target ? S_OK : E_FAIL;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

int32_t ORVO_CALL TOrvoStreamAdapter::Read(uint8_t* buffer, uint32_t count) {
    try {
        if (!buffer && count > 0)
            return -1;
        // The answer is 32-bit signed; a larger request reads in one go up to what fits.
        const int64_t wanted = std::min<int64_t>(count, std::numeric_limits<int32_t>::max());
        return int32_t(FSource->Read(buffer, wanted));
    } catch (...) {
        return -1;
    }
}

HRESULT ORVO_CALL TOrvoStreamAdapter::Write(const uint8_t* buffer, uint32_t count, uint32_t* written) {
    try {
        if (written)
            *written = 0;
        if (!buffer && count > 0)
            return E_INVALIDARG;
        const int64_t n = FSource->Write(buffer, count);
        if (written)
            *written = uint32_t(n);
        return S_OK;
    } catch (...) {
        return E_UNEXPECTED;
    }
}
