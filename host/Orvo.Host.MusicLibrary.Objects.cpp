#include "host/Orvo.Host.MusicLibrary.Objects.h"

#include "host/Orvo.Host.Core.h"

#include <algorithm>
#include <limits>

void RegisterMusicLibraryObjects(TOrvoHostCore& core) {
    core.RegisterObject(IOrvoObjectList::IID, [] { return ComPtr<IUnknown>(TOrvoHostObjectList::Create()); });
    core.RegisterObject(IOrvoMLDataField::IID,
                        [] { return QueryAs<IUnknown>(TOrvoHostMLDataField::Create().get()); });
    core.RegisterObject(IOrvoMLFilterGroup::IID,
                        [] { return QueryAs<IUnknown>(TOrvoHostMLFilterGroup::Create().get()); });
    core.RegisterObject(IOrvoMLFieldFilter::IID,
                        [] { return QueryAs<IUnknown>(TOrvoHostMLFieldFilter::Create().get()); });
    core.RegisterObject(IOrvoMLFieldFilterArray::IID,
                        [] { return QueryAs<IUnknown>(TOrvoHostMLFieldFilterArray::Create().get()); });
    core.RegisterObject(IOrvoMLSortDirection::IID,
                        [] { return QueryAs<IUnknown>(TOrvoHostMLSortItem::Create().get()); });
}

// ---- TOrvoHostItems

HRESULT TOrvoHostItems::Add(IUnknown* item) {
    if (!item)
        return E_INVALIDARG;
    std::lock_guard lock(FLock);
    FItems.emplace_back(item);
    return S_OK;
}

HRESULT TOrvoHostItems::Insert(int32_t index, IUnknown* item) {
    if (!item)
        return E_INVALIDARG;
    std::lock_guard lock(FLock);
    if (index < 0 || size_t(index) > FItems.size())
        return E_INVALIDARG;
    FItems.emplace(FItems.begin() + index, item);
    return S_OK;
}

HRESULT TOrvoHostItems::Delete(int32_t index) {
    ComPtr<IUnknown> dropped;
    std::lock_guard lock(FLock);
    if (index < 0 || size_t(index) >= FItems.size())
        return E_INVALIDARG;
    // Released after the lock: the item's destructor may call back into the list.
    dropped = std::move(FItems[size_t(index)]);
    FItems.erase(FItems.begin() + index);
    return S_OK;
}

HRESULT TOrvoHostItems::Clear() {
    std::vector<ComPtr<IUnknown>> dropped;
    std::lock_guard lock(FLock);
    dropped.swap(FItems);
    return S_OK;
}

int32_t TOrvoHostItems::IndexOf(IUnknown* item) const {
    const ComPtr<IUnknown> identity = QueryAs<IUnknown>(item);
    std::lock_guard lock(FLock);
    for (size_t i = 0; i < FItems.size(); ++i)
        if (QueryAs<IUnknown>(FItems[i].get()) == identity)
            return int32_t(i);
    return -1;
}

int32_t TOrvoHostItems::Count() const {
    std::lock_guard lock(FLock);
    return int32_t(std::min(FItems.size(), size_t(std::numeric_limits<int32_t>::max())));
}

HRESULT TOrvoHostItems::Get(int32_t index, const TGUID& iid, void** item) const {
    if (!item)
        return E_INVALIDARG;
    *item = nullptr;
    ComPtr<IUnknown> found;
    {
        std::lock_guard lock(FLock);
        if (index < 0 || size_t(index) >= FItems.size())
            return E_INVALIDARG;
        found = FItems[size_t(index)];
    }
    return found->QueryInterface(iid, item);
}

ComPtr<TOrvoHostObjectList> TOrvoHostObjectList::Create() {
    return MakeInterfaced<TOrvoHostObjectList>();
}

// ---- TOrvoHostProperties

void TOrvoHostProperties::Get(int32_t propId, TOrvoPropValue& value, HRESULT& result) const {
    std::lock_guard lock(FLock);
    if (auto it = FValues.find(propId); it != FValues.end()) {
        value = it->second;
        result = S_OK;
    } else {
        value = std::monostate();
        result = E_INVALIDARG;
    }
}

ComPtr<IUnknown> TOrvoHostProperties::GetObject(int32_t propId) const {
    std::u16string text;
    {
        std::lock_guard lock(FLock);
        if (auto it = FObjects.find(propId); it != FObjects.end())
            return it->second;
        auto it = FValues.find(propId);
        if (it == FValues.end())
            return nullptr;
        text = PropValueToText(it->second);
    }
    return QueryAs<IUnknown>(TOrvoHostString::Create(std::move(text)).get());
}

void TOrvoHostProperties::Set(int32_t propId, TOrvoPropValue value) {
    ComPtr<IUnknown> dropped;
    std::lock_guard lock(FLock);
    if (auto it = FObjects.find(propId); it != FObjects.end()) {
        dropped = std::move(it->second);
        FObjects.erase(it);
    }
    FValues[propId] = std::move(value);
}

void TOrvoHostProperties::SetObject(int32_t propId, IUnknown* object) {
    if (ComPtr<IOrvoString> text = QueryAs<IOrvoString>(object)) {
        Set(propId, FromHostString(text));
        return;
    }
    ComPtr<IUnknown> kept(object);
    std::lock_guard lock(FLock);
    FValues.erase(propId);
    FObjects[propId].Swap(kept);
}

// ---- objects

ComPtr<TOrvoHostMLDataField> TOrvoHostMLDataField::Create() {
    return MakeInterfaced<TOrvoHostMLDataField>();
}

ComPtr<TOrvoHostMLFieldFilter> TOrvoHostMLFieldFilter::Create() {
    return MakeInterfaced<TOrvoHostMLFieldFilter>();
}

ComPtr<TOrvoHostMLFilterGroup> TOrvoHostMLFilterGroup::Create() {
    return MakeInterfaced<TOrvoHostMLFilterGroup>();
}

ComPtr<TOrvoHostMLFieldFilterArray> TOrvoHostMLFieldFilterArray::Create() {
    return MakeInterfaced<TOrvoHostMLFieldFilterArray>();
}

HRESULT ORVO_CALL TOrvoHostMLFieldFilterArray::GetValues(TOrvoVariant* values, int32_t* count) {
    if (!count)
        return E_INVALIDARG;
    try {
        std::vector<TOrvoPropValue> copy;
        {
            std::lock_guard lock(FLock);
            copy = FValues;
        }
        if (!values) {
            *count = int32_t(copy.size());
            return S_OK;
        }
        const size_t n = std::min(copy.size(), size_t(std::max(*count, 0)));
        for (size_t i = 0; i < n; ++i) {
            TOrvoVariant& out = values[i];
            out = TOrvoVariant{};
            if (auto* integer = std::get_if<int64_t>(&copy[i])) {
                out.Kind = TOrvoVariant::Int64;
                out.AsInt64 = *integer;
            } else if (auto* number = std::get_if<double>(&copy[i])) {
                out.Kind = TOrvoVariant::Float;
                out.AsFloat = *number;
            } else if (auto* text = std::get_if<std::u16string>(&copy[i])) {
                out.AsText = TOrvoHostString::Create(*text).Detach();
                out.Kind = TOrvoVariant::Text;
            }
        }
        *count = int32_t(n);
        return S_OK;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

HRESULT ORVO_CALL TOrvoHostMLFieldFilterArray::SetValues(const TOrvoVariant* values, int32_t count) {
    if (count < 0 || (count > 0 && !values))
        return E_INVALIDARG;
    try {
        std::vector<TOrvoPropValue> copy;
        copy.reserve(size_t(count));
        for (int32_t i = 0; i < count; ++i) {
            const TOrvoVariant& value = values[i];
            switch (value.Kind) {
            case TOrvoVariant::Empty:
                copy.emplace_back(std::monostate());
                break;
            case TOrvoVariant::Int32:
                copy.emplace_back(int64_t(value.AsInt32));
                break;
            case TOrvoVariant::Int64:
                copy.emplace_back(value.AsInt64);
                break;
            case TOrvoVariant::Float:
                copy.emplace_back(value.AsFloat);
                break;
            case TOrvoVariant::Text:
                copy.emplace_back(FromHostString(value.AsText));
                break;
            default:
                return E_INVALIDARG;
            }
        }
        std::lock_guard lock(FLock);
        FValues.swap(copy);
        return S_OK;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

ComPtr<TOrvoHostMLSortItem> TOrvoHostMLSortItem::Create(std::u16string field, int32_t direction) {
    return MakeInterfaced<TOrvoHostMLSortItem>(std::move(field), direction);
}

HRESULT ORVO_CALL TOrvoHostMLSortItem::SetDirection(int32_t direction) {
    FDirection.store(direction);
    return S_OK;
}
