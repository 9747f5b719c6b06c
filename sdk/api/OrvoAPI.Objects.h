#pragma once
// Host objects the plug-in creates or receives: strings, property lists, streams.

#include "sdk/api/OrvoAPI.h"

// A host string: UTF-16 characters, not necessarily zero-terminated.
struct IOrvoString : IUnknown {
    static constexpr TGUID IID = OrvoTag("ORVOString");

    // The character at a zero-based index; E_INVALIDARG outside the text.
    virtual HRESULT ORVO_CALL CharAt(int32_t index, char16_t* ch) = 0;
    // The characters, valid until the string changes; may be null when the text is empty.
    virtual const char16_t* ORVO_CALL Chars() = 0;
    virtual int32_t ORVO_CALL CharCount() = 0;
    virtual int32_t ORVO_CALL HashCode() = 0;
    virtual HRESULT ORVO_CALL SetCharAt(int32_t index, char16_t ch) = 0;
    // Replaces the text with `count` characters from `chars`.
    virtual HRESULT ORVO_CALL SetChars(const char16_t* chars, int32_t count) = 0;
    virtual HRESULT ORVO_CALL Append(const char16_t* chars, int32_t count) = 0;
};

// A value crossing the property-list boundary as a variant. The slot numbers follow the
// Windows variant kinds so a host can map them one to one. A Text value carries one reference to
// a host string, which the receiver releases. Null is the database's NULL, unlike Empty (no
// value at all); Single is 32-bit floating point; Currency is a count of ten-thousandths in
// AsInt64; Date is days since 30 December 1899 in AsFloat; Boolean is 0 for false and -1 for
// true in AsInt16.
struct TOrvoVariant {
    enum : uint16_t {
        Empty = 0,
        Null = 1,
        Int16 = 2,
        Int32 = 3,
        Single = 4,
        Float = 5,
        Currency = 6,
        Date = 7,
        Text = 8,
        Boolean = 11,
        Int8 = 16,
        UInt8 = 17,
        UInt16 = 18,
        UInt32 = 19,
        Int64 = 20,
        UInt64 = 21,
    };
    uint16_t Kind;
    uint16_t Reserved[3];
    union {
        int8_t AsInt8;
        uint8_t AsUInt8;
        int16_t AsInt16;
        uint16_t AsUInt16;
        int32_t AsInt32;
        uint32_t AsUInt32;
        int64_t AsInt64;
        uint64_t AsUInt64;
        float AsSingle;
        double AsFloat;
        IOrvoString* AsText;
    };
};

// Numbered properties of a host or plug-in object. Both list interfaces share one table.
struct IOrvoPropertyList : IUnknown {
    static constexpr TGUID IID = OrvoTag("ORVOPropList");

    virtual void ORVO_CALL BeginUpdate() = 0;
    virtual void ORVO_CALL EndUpdate() = 0;
    virtual HRESULT ORVO_CALL Reset() = 0;
    virtual HRESULT ORVO_CALL GetValueAsFloat(int32_t propId, double* value) = 0;
    virtual HRESULT ORVO_CALL GetValueAsInt32(int32_t propId, int32_t* value) = 0;
    virtual HRESULT ORVO_CALL GetValueAsInt64(int32_t propId, int64_t* value) = 0;
    // The property as the interface `iid`, with a reference.
    virtual HRESULT ORVO_CALL GetValueAsObject(int32_t propId, const TGUID& iid, void** value) = 0;
    virtual HRESULT ORVO_CALL SetValueAsFloat(int32_t propId, double value) = 0;
    virtual HRESULT ORVO_CALL SetValueAsInt32(int32_t propId, int32_t value) = 0;
    virtual HRESULT ORVO_CALL SetValueAsInt64(int32_t propId, int64_t value) = 0;
    virtual HRESULT ORVO_CALL SetValueAsObject(int32_t propId, IUnknown* value) = 0;
};

struct IOrvoPropertyList2 : IOrvoPropertyList {
    static constexpr TGUID IID = OrvoTag("ORVOPropList2");

    virtual HRESULT ORVO_CALL GetValueAsVariant(int32_t propId, TOrvoVariant* value) = 0;
    virtual HRESULT ORVO_CALL SetValueAsVariant(int32_t propId, const TOrvoVariant* value) = 0;
};

// A byte stream. Origins of Seek: 0 from the start, 1 from the position, 2 from the end.
struct IOrvoStream : IUnknown {
    static constexpr TGUID IID = OrvoTag("ORVOStream");

    // -1 when the size cannot be had.
    virtual int64_t ORVO_CALL Size() = 0;
    virtual HRESULT ORVO_CALL SetSize(int64_t size) = 0;
    // -1 when the position cannot be had.
    virtual int64_t ORVO_CALL Position() = 0;
    virtual HRESULT ORVO_CALL Seek(int64_t offset, int32_t origin) = 0;
    // The number of bytes read, or -1 on an error.
    virtual int32_t ORVO_CALL Read(uint8_t* buffer, uint32_t count) = 0;
    virtual HRESULT ORVO_CALL Write(const uint8_t* buffer, uint32_t count, uint32_t* written) = 0;
};

// A list of host or plug-in objects ("ORVOObjList"): field lists, sort lists, grouping fields.
struct IOrvoObjectList : IUnknown {
    static constexpr TGUID IID = OrvoTag("ORVOObjList");

    // Appends the item (the list keeps a reference); E_INVALIDARG for null.
    virtual HRESULT ORVO_CALL Add(IUnknown* item) = 0;
    virtual HRESULT ORVO_CALL Clear() = 0;
    // Removes the item at the zero-based index; E_INVALIDARG outside the list.
    virtual HRESULT ORVO_CALL Delete(int32_t index) = 0;
    // Inserts before the zero-based index (the count appends); E_INVALIDARG outside the list.
    virtual HRESULT ORVO_CALL Insert(int32_t index, IUnknown* item) = 0;
    virtual int32_t ORVO_CALL Count() = 0;
    // The item at the index as the interface `iid`, with a reference; E_INVALIDARG outside the
    // list, E_NOINTERFACE when the item does not offer `iid`.
    virtual HRESULT ORVO_CALL Get(int32_t index, const TGUID& iid, void** item) = 0;
};
