#pragma once
// The music library's host objects that a storage reads or fills: object lists ("ORVOObjList"),
// data fields ("ORVOMLDataFld"), filter groups ("ORVOMLFltGrp"), field conditions
// ("ORVOMLFldFlt"), value-list conditions ("ORVOMLFldFltArr") and sort items ("ORVOMLSortDirtn",
// a host string with a direction).
//
// Thread-safety: every operation may be called from any thread; each object guards its state with
// a lock of its own that is never held while calling out.

#include "host/Orvo.Host.String.h"
#include "sdk/api/OrvoAPI.MusicLibrary.h"
#include "sdk/apiWrappers.h"

#include <map>
#include <mutex>
#include <vector>

class TOrvoHostCore;

// Makes the objects above available through the core's MakeObject.
void RegisterMusicLibraryObjects(TOrvoHostCore& core);

// An ordered list of references, shared by object lists and filter groups.
class TOrvoHostItems {
public:
    HRESULT Add(IUnknown* item);
    HRESULT Insert(int32_t index, IUnknown* item);
    HRESULT Delete(int32_t index);
    HRESULT Clear();
    int32_t IndexOf(IUnknown* item) const;
    int32_t Count() const;
    HRESULT Get(int32_t index, const TGUID& iid, void** item) const;

private:
    mutable std::mutex FLock;
    std::vector<ComPtr<IUnknown>> FItems;
};

class TOrvoHostObjectList : public TOrvoInterfaces<TInterfacedObjectEx, IOrvoObjectList> {
public:
    static ComPtr<TOrvoHostObjectList> Create();

    HRESULT ORVO_CALL Add(IUnknown* item) override { return FItems.Add(item); }
    HRESULT ORVO_CALL Clear() override { return FItems.Clear(); }
    HRESULT ORVO_CALL Delete(int32_t index) override { return FItems.Delete(index); }
    HRESULT ORVO_CALL Insert(int32_t index, IUnknown* item) override { return FItems.Insert(index, item); }
    int32_t ORVO_CALL Count() override { return FItems.Count(); }
    HRESULT ORVO_CALL Get(int32_t index, const TGUID& iid, void** item) override {
        return FItems.Get(index, iid, item);
    }

protected:
    TOrvoHostObjectList() = default;
    template <typename T, typename... Args> friend ComPtr<T> MakeInterfaced(Args&&... args);

private:
    TOrvoHostItems FItems;
};

// Numbered values and objects of a host object. A text value reads as a host string too, and a
// host string written as an object is kept as its text.
class TOrvoHostProperties {
public:
    void Get(int32_t propId, TOrvoPropValue& value, HRESULT& result) const;
    ComPtr<IUnknown> GetObject(int32_t propId) const;
    void Set(int32_t propId, TOrvoPropValue value);
    void SetObject(int32_t propId, IUnknown* object);

private:
    mutable std::mutex FLock;
    std::map<int32_t, TOrvoPropValue> FValues;
    std::map<int32_t, ComPtr<IUnknown>> FObjects;
};

// A host object that is a property list (Base) with any property settable.
template <typename Base> class TOrvoHostPropertyBagOf : public Base {
protected:
    void DoGetValue(int32_t propId, TOrvoPropValue& value, HRESULT& result) override {
        FProperties.Get(propId, value, result);
    }
    ComPtr<IUnknown> DoGetValueAsObject(int32_t propId) override { return FProperties.GetObject(propId); }
    void DoSetValue(int32_t propId, const TOrvoPropValue& value, HRESULT& result) override {
        FProperties.Set(propId, value);
        result = S_OK;
    }
    void DoSetValueAsObject(int32_t propId, IUnknown* object, HRESULT& result) override {
        FProperties.SetObject(propId, object);
        result = S_OK;
    }

private:
    TOrvoHostProperties FProperties;
};

// The same answering the interface I.
template <typename I> using TOrvoHostPropertyBag = TOrvoHostPropertyBagOf<TOrvoPropertyListOf<I>>;

class TOrvoHostMLDataField : public TOrvoHostPropertyBag<IOrvoMLDataField> {
public:
    static ComPtr<TOrvoHostMLDataField> Create();

protected:
    TOrvoHostMLDataField() = default;
    template <typename T, typename... Args> friend ComPtr<T> MakeInterfaced(Args&&... args);
};

class TOrvoHostMLFieldFilter : public TOrvoHostPropertyBag<IOrvoMLFieldFilter> {
public:
    static ComPtr<TOrvoHostMLFieldFilter> Create();

protected:
    TOrvoHostMLFieldFilter() = default;
    template <typename T, typename... Args> friend ComPtr<T> MakeInterfaced(Args&&... args);
};

class TOrvoHostMLFilterGroup : public TOrvoHostPropertyBag<IOrvoMLFilterGroup> {
public:
    static ComPtr<TOrvoHostMLFilterGroup> Create();

    HRESULT ORVO_CALL Add(IUnknown* child) override { return FChildren.Add(child); }
    HRESULT ORVO_CALL Insert(int32_t index, IUnknown* child) override {
        return FChildren.Insert(index, child);
    }
    HRESULT ORVO_CALL Delete(int32_t index) override { return FChildren.Delete(index); }
    HRESULT ORVO_CALL Clear() override { return FChildren.Clear(); }
    int32_t ORVO_CALL IndexOf(IUnknown* child) override { return FChildren.IndexOf(child); }
    HRESULT ORVO_CALL Get(int32_t index, const TGUID& iid, void** child) override {
        return FChildren.Get(index, iid, child);
    }
    int32_t ORVO_CALL Count() override { return FChildren.Count(); }

protected:
    TOrvoHostMLFilterGroup() = default;
    template <typename T, typename... Args> friend ComPtr<T> MakeInterfaced(Args&&... args);

private:
    TOrvoHostItems FChildren;
};

class TOrvoHostMLFieldFilterArray : public TOrvoHostPropertyBag<IOrvoMLFieldFilterArray> {
public:
    static ComPtr<TOrvoHostMLFieldFilterArray> Create();

    HRESULT ORVO_CALL GetValues(TOrvoVariant* values, int32_t* count) override;
    HRESULT ORVO_CALL SetValues(const TOrvoVariant* values, int32_t count) override;

protected:
    TOrvoHostMLFieldFilterArray() = default;
    template <typename T, typename... Args> friend ComPtr<T> MakeInterfaced(Args&&... args);

private:
    mutable std::mutex FLock;
    std::vector<TOrvoPropValue> FValues;
};

// A sort item: the field name as a host string, and its direction.
class TOrvoHostMLSortItem : public TOrvoInterfaces<TOrvoHostString, IOrvoMLSortDirection> {
public:
    static ComPtr<TOrvoHostMLSortItem> Create(std::u16string field = {},
                                              int32_t direction = ORVO_ML_SORT_ASCENDING);

    int32_t ORVO_CALL Direction() override { return FDirection.load(); }
    HRESULT ORVO_CALL SetDirection(int32_t direction) override;

protected:
    TOrvoHostMLSortItem(std::u16string field, int32_t direction)
        : TOrvoInterfaces(std::move(field)), FDirection(direction) {}
    template <typename T, typename... Args> friend ComPtr<T> MakeInterfaced(Args&&... args);

private:
    std::atomic<int32_t> FDirection;
};
