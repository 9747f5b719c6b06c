#pragma once
// A local stream offered to the host as IOrvoStream, and the library's compiled-in resources.
//
// Thread-safety: an adapter is used by one thread at a time, as its stream is. The resource
// table is filled before main (or before dlopen returns) and only read afterwards.

#include "nuv/Nuv.Streams.h"
#include "sdk/apiWrappers.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

// A file compiled into the library by tunedex_resources(): its name is the file name without
// the extension, its type the extension in upper case ("refresh.png" is "refresh", "PNG").
struct TOrvoResource {
    std::u16string_view Name;
    std::u16string_view Type;
    const uint8_t* Data;
    size_t Size;
};

class TOrvoResources {
public:
    // Called by the generated resource tables during static initialisation.
    static void Register(const TOrvoResource& resource);
    // The resource of that name and type (ASCII case ignored), or null.
    static const TOrvoResource* Find(std::u16string_view name, std::u16string_view type);
};

class TOrvoStreamAdapter : public TOrvoInterfaces<TInterfacedObjectEx, IOrvoStream> {
public:
    // Wraps the stream; with ownership the stream is destroyed with the adapter.
    static ComPtr<TOrvoStreamAdapter> Create(TNuvStream* source, bool ownership);
    static ComPtr<TOrvoStreamAdapter> Create(std::unique_ptr<TNuvStream> source);
    // A stream over a copy of the library's resource; raises EStreamError "Resource %s not found".
    static ComPtr<TOrvoStreamAdapter> CreateFromResource(std::u16string_view name, std::u16string_view type);

    int64_t ORVO_CALL Size() override;
    HRESULT ORVO_CALL SetSize(int64_t size) override;
    int64_t ORVO_CALL Position() override;
    // 0 when the stream stands where the seek asked (origin 0: the offset; 1: the old position
    // plus the offset; 2: the size plus the offset), E_FAIL when it ended elsewhere, E_UNEXPECTED
    // when the stream refused (a negative target), E_INVALIDARG for an unknown origin.
    HRESULT ORVO_CALL Seek(int64_t offset, int32_t origin) override;
    int32_t ORVO_CALL Read(uint8_t* buffer, uint32_t count) override;
    HRESULT ORVO_CALL Write(const uint8_t* buffer, uint32_t count, uint32_t* written) override;

    TNuvStream& Source() const { return *FSource; }

protected:
    TOrvoStreamAdapter(TNuvStream* source, bool ownership);
    ~TOrvoStreamAdapter() override;
    template <typename T, typename... Args> friend ComPtr<T> MakeInterfaced(Args&&... args);

private:
    TNuvStream* FSource;
    bool FOwnership;
};
