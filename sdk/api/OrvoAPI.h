#pragma once
// The host's binary interface, core part: result codes, interface identifiers and the IUnknown
// layout every host interface starts with. Each area of the host API has a header of its own
// beside this one (objects, plug-in entry, services, music library, ...); adding an area is adding
// a header.
//
// Interfaces are abstract structs: QueryInterface, AddRef, Release, then the interface's own
// operations in slot order. They have no data members and no virtual destructors, and every
// operation uses ORVO_CALL, so the vtable matches the host's on every platform.

#include <cstddef>
#include <cstdint>

// The host's calling convention: stdcall on 32-bit Windows, the platform's default elsewhere
// (x64 Windows and the System V ABI have only one).
#if defined(_WIN32) && defined(_M_IX86)
#define ORVO_CALL __stdcall
#elif defined(_WIN32) && defined(__i386__)
#define ORVO_CALL __attribute__((stdcall))
#else
#define ORVO_CALL
#endif

// 32-bit result of every host operation; negative means failure. On Windows it is the system's
// own type and codes, so a unit may include the Windows headers beside this one in either order.
#ifdef _WIN32
#include <winerror.h>
using HRESULT = long;
static_assert(sizeof(HRESULT) == 4);
#else
using HRESULT = int32_t;

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = HRESULT(0x80004001u);
constexpr HRESULT E_NOINTERFACE = HRESULT(0x80004002u);
constexpr HRESULT E_FAIL = HRESULT(0x80004005u);
constexpr HRESULT E_INVALIDARG = HRESULT(0x80070057u);
// An exception raised inside a callback, turned into a result at the host boundary.
constexpr HRESULT E_UNEXPECTED = HRESULT(0x8000FFFFu);
#endif

constexpr bool Succeeded(HRESULT code) {
    return code >= 0;
}
constexpr bool Failed(HRESULT code) {
    return code < 0;
}

// A 128-bit interface identifier with the Windows GUID layout.
struct TGUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];

    friend constexpr bool operator==(const TGUID& a, const TGUID& b) {
        if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3)
            return false;
        for (int i = 0; i < 8; ++i)
            if (a.Data4[i] != b.Data4[i])
                return false;
        return true;
    }
};
static_assert(sizeof(TGUID) == 16);

namespace orvo_detail {
constexpr uint8_t TagByte(const char* tag, size_t length, size_t index) {
    return index < length ? uint8_t(tag[index]) : 0;
}
} // namespace orvo_detail

// The identifier whose bytes spell an ASCII tag, zero-padded: characters 1-4 form Data1 (read in
// order as its hex digits), 5-6 Data2, 7-8 Data3, the rest Data4. "ORVOSrvML" gives
// {4F52564F-5372-764D-4C00-000000000000}.
template <size_t N> consteval TGUID OrvoTag(const char (&tag)[N]) {
    using orvo_detail::TagByte;
    // A longer tag is a compile error, not a silently cut identifier.
    static_assert(N - 1 <= 16, "an interface tag has at most 16 characters");
    constexpr size_t length = N - 1;
    auto b = [&](size_t i) { return TagByte(tag, length, i); };
    return TGUID{uint32_t(b(0)) << 24 | uint32_t(b(1)) << 16 | uint32_t(b(2)) << 8 | b(3),
                 uint16_t(b(4) << 8 | b(5)),
                 uint16_t(b(6) << 8 | b(7)),
                 {b(8), b(9), b(10), b(11), b(12), b(13), b(14), b(15)}};
}

// The identifier of an interface type: every interface declares `static constexpr TGUID IID`.
template <typename T> constexpr const TGUID& IIDOf() {
    return T::IID;
}

struct IUnknown {
    static constexpr TGUID IID = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

    // Answers the object's interface `iid` in `object` (with a reference) or E_NOINTERFACE and null.
    virtual HRESULT ORVO_CALL QueryInterface(const TGUID& iid, void** object) = 0;
    // Add and drop one reference; the answer is the new count, for diagnostics only.
    virtual uint32_t ORVO_CALL AddRef() = 0;
    virtual uint32_t ORVO_CALL Release() = 0;
};
