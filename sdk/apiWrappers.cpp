#include "sdk/apiWrappers.h"

#include "nuv/Nuv.Log.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <mutex>

// ---- TInterfacedObjectEx

TInterfacedObjectEx::~TInterfacedObjectEx() {
    // Before AfterConstruction the construction reference is still counted (a constructor that
    // raised ends here with it).
    const int32_t expected = FConstructed ? 0 : 1;
    if (FRefCount.load(std::memory_order_acquire) != expected) {
        NuvLogError(u"App", u"Invalid Pointer");
        std::fputs("Invalid Pointer: a reference-counted object was destroyed while still referenced\n",
                   stderr);
        std::abort();
    }
}

void TInterfacedObjectEx::AfterConstruction() {
    FConstructed = true;
    FRefCount.fetch_sub(1, std::memory_order_acq_rel);
}

void TInterfacedObjectEx::DestroyLastReference() {
    int32_t last = 1;
    if (!FRefCount.compare_exchange_strong(last, 0, std::memory_order_acq_rel))
        throw EInvalidPointer(u"Invalid Pointer");
    delete this;
}

void* TInterfacedObjectEx::GetInterface(const TGUID&) {
    return nullptr;
}

HRESULT TInterfacedObjectEx::InternalQueryInterface(const TGUID& iid, void** object) {
    if (!object)
        return E_INVALIDARG;
    *object = GetInterface(iid);
    if (!*object)
        return E_NOINTERFACE;
    InternalAddRef();
    return S_OK;
}

uint32_t TInterfacedObjectEx::InternalAddRef() {
    return uint32_t(FRefCount.fetch_add(1, std::memory_order_relaxed) + 1);
}

uint32_t TInterfacedObjectEx::InternalRelease() {
    const int32_t count = FRefCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (count == 0)
        delete this;
    return uint32_t(count);
}

// ---- the core

namespace {
std::mutex GCoreLock;
ComPtr<IOrvoCore> GCore;
} // namespace

void TOrvoAPIWrappers::Initialize(IOrvoCore* core) {
    ComPtr<IOrvoCore> kept(core);
    std::lock_guard lock(GCoreLock);
    GCore.Swap(kept);
}

void TOrvoAPIWrappers::Finalize() {
    ComPtr<IOrvoCore> dropped;
    {
        std::lock_guard lock(GCoreLock);
        GCore.Swap(dropped);
    }
    // Released outside the lock: the host may call back into us while it lets go.
}

ComPtr<IOrvoCore> TOrvoAPIWrappers::Core() {
    std::lock_guard lock(GCoreLock);
    return GCore;
}

ComPtr<IOrvoCore> HostCore() {
    ComPtr<IOrvoCore> core = TOrvoAPIWrappers::Core();
    if (!core)
        throw EInvalidOperation(u"Plugin was not initialized");
    return core;
}

bool QueryService(const TGUID& iid, void** service) {
    if (!service)
        return false;
    *service = nullptr;
    ComPtr<IOrvoCore> core = TOrvoAPIWrappers::Core();
    return core && Succeeded(core->QueryInterface(iid, service)) && *service;
}

void NewHostObject(const TGUID& iid, void** object) {
    *object = nullptr;
    const HRESULT code = HostCore()->MakeObject(iid, object);
    RaiseIfFailed(code, u"Cannot create object (%d)");
    if (!*object)
        RaiseIfFailed(E_FAIL, u"Cannot create object (%d)");
}

void RaiseIfFailed(HRESULT code, std::u16string_view pattern) {
    if (Failed(code))
        throw Exception(Format(pattern, code));
}

// ---- texts

ComPtr<IOrvoString> ToHostString(std::u16string_view text) {
    if (text.size() > size_t(std::numeric_limits<int32_t>::max()))
        throw EArgumentError(u"Text too long for a host string");
    auto result = NewHostObject<IOrvoString>();
    RaiseIfFailed(result->SetChars(text.data(), int32_t(text.size())));
    return result;
}

std::u16string FromHostString(IOrvoString* text) {
    if (!text)
        return {};
    const int32_t count = text->CharCount();
    const char16_t* chars = text->Chars();
    if (count <= 0 || !chars)
        return {};
    return std::u16string(chars, size_t(count));
}

// ---- localisation

HRESULT LookupKey(std::u16string_view key, ComPtr<IOrvoString>& text) {
    text.Reset();
    ComPtr<IOrvoServiceMUI> mui;
    if (!QueryService(mui))
        return E_NOINTERFACE;
    return mui->LookupText(ToHostString(key).get(), text.put());
}

std::u16string LocalizedText(std::u16string_view key) {
    try {
        ComPtr<IOrvoString> text;
        if (Succeeded(LookupKey(key, text)))
            return FromHostString(text);
    } catch (const std::exception&) {
        // A missing text is never an error: the caller shows nothing.
    }
    return {};
}

ComPtr<IOrvoString> LocalizedHostText(std::u16string_view key) {
    ComPtr<IOrvoString> text;
    try {
        if (Succeeded(LookupKey(key, text)) && text)
            return text;
    } catch (const std::exception&) {
        // As LocalizedText: an empty host string stands in for a missing text.
    }
    return ToHostString(u"");
}

// ---- host messages

HRESULT SendMessageToHost(uint32_t message, int32_t parameter, void* data) {
    ComPtr<IOrvoServiceMessageDispatcher> dispatcher;
    if (!QueryService(dispatcher))
        return E_NOINTERFACE;
    return dispatcher->SendHostMessage(message, parameter, data);
}

TOrvoWindowHandle MainWindowHandle() {
    uint64_t handle = 0;
    if (Failed(SendMessageToHost(ORVO_MSG_GET_MAIN_WINDOW, 0, &handle)))
        return 0;
    return handle;
}

// ---- property-list access

int32_t ReadIntProp(IOrvoPropertyList* list, int32_t id, int32_t fallback) {
    int32_t value = 0;
    if (list && Succeeded(list->GetValueAsInt32(id, &value)))
        return value;
    return fallback;
}

std::u16string ReadTextProp(IOrvoPropertyList* list, int32_t id) {
    ComPtr<IOrvoString> text;
    if (list && Succeeded(list->GetValueAsObject(id, IOrvoString::IID, text.put_void())))
        return FromHostString(text);
    return {};
}

ComPtr<IUnknown> ReadObjectProp(IOrvoPropertyList* list, int32_t id) {
    ComPtr<IUnknown> object;
    if (list && Failed(list->GetValueAsObject(id, IUnknown::IID, object.put_void())))
        object.Reset();
    return object;
}

namespace {
IOrvoPropertyList* RequireList(IOrvoPropertyList* list) {
    if (!list)
        throw EArgumentError(u"PropList is nil");
    return list;
}
} // namespace

void WriteIntProp(IOrvoPropertyList* list, int32_t id, int32_t value) {
    RaiseIfFailed(RequireList(list)->SetValueAsInt32(id, value));
}

void WriteBoolProp(IOrvoPropertyList* list, int32_t id, bool flag) {
    WriteIntProp(list, id, flag ? 1 : 0);
}

void WriteObjectProp(IOrvoPropertyList* list, int32_t id, IUnknown* object) {
    RaiseIfFailed(RequireList(list)->SetValueAsObject(id, object));
}

void WriteTextProp(IOrvoPropertyList* list, int32_t id, std::u16string_view text) {
    RequireList(list);
    WriteObjectProp(list, id, ToHostString(text).get());
}

// ---- property values

namespace {
[[noreturn]] void RaiseConversion(const TOrvoPropValue& value, const char16_t* target) {
    throw EArgumentError(Format(u"Could not convert \"%s\" to %s", PropValueToText(value), target));
}

int64_t FloatToInt64(double value, const TOrvoPropValue& source) {
    // Half to even, as the default floating-point rounding mode does; 2^63 itself is out of range.
    const double rounded = std::nearbyint(value);
    if (!(rounded >= -9223372036854775808.0 && rounded < 9223372036854775808.0))
        RaiseConversion(source, u"Int64");
    return int64_t(rounded);
}

bool ParseFloat(const std::u16string& text, double& value) {
    const std::string ascii = ToUtf8(Trim(text));
    if (ascii.empty())
        return false;
    const char* first = ascii.data();
    if (*first == '+')
        ++first;
    const auto [end, error] = std::from_chars(first, ascii.data() + ascii.size(), value);
    return error == std::errc() && end == ascii.data() + ascii.size();
}
} // namespace

int64_t PropValueToInt64(const TOrvoPropValue& value) {
    if (std::holds_alternative<std::monostate>(value))
        return 0;
    if (auto* i = std::get_if<int64_t>(&value))
        return *i;
    if (auto* f = std::get_if<double>(&value))
        return FloatToInt64(*f, value);
    const auto& text = std::get<std::u16string>(value);
    int64_t i = 0;
    if (TryStrToInt(text, i))
        return i;
    double f = 0;
    if (ParseFloat(text, f))
        return FloatToInt64(f, value);
    RaiseConversion(value, u"Int64");
}

int32_t PropValueToInt32(const TOrvoPropValue& value) {
    const int64_t wide = PropValueToInt64(value);
    if (wide < std::numeric_limits<int32_t>::min() || wide > std::numeric_limits<int32_t>::max())
        RaiseConversion(value, u"Int32");
    return int32_t(wide);
}

double PropValueToFloat(const TOrvoPropValue& value) {
    if (std::holds_alternative<std::monostate>(value))
        return 0;
    if (auto* i = std::get_if<int64_t>(&value))
        return double(*i);
    if (auto* f = std::get_if<double>(&value))
        return *f;
    double f = 0;
    if (ParseFloat(std::get<std::u16string>(value), f))
        return f;
    RaiseConversion(value, u"Double");
}

std::u16string PropValueToText(const TOrvoPropValue& value) {
    if (auto* i = std::get_if<int64_t>(&value))
        return IntToStr(*i);
    if (auto* f = std::get_if<double>(&value)) {
        char buffer[32];
        const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, *f);
        return error == std::errc() ? FromAscii(std::string_view(buffer, size_t(end - buffer))) : u"";
    }
    if (auto* s = std::get_if<std::u16string>(&value))
        return *s;
    return {};
}

bool VariantToPropValue(const TOrvoVariant& variant, TOrvoPropValue& value) {
    switch (variant.Kind) {
    case TOrvoVariant::Empty:
        value = std::monostate();
        return true;
    case TOrvoVariant::Int32:
        value = int64_t(variant.AsInt32);
        return true;
    case TOrvoVariant::Int64:
        value = variant.AsInt64;
        return true;
    case TOrvoVariant::Float:
        value = variant.AsFloat;
        return true;
    case TOrvoVariant::Text:
        value = FromHostString(variant.AsText);
        return true;
    default:
        return false;
    }
}

// ---- TOrvoPropertyList

void* TOrvoPropertyList::GetInterface(const TGUID& iid) {
    // Both list interfaces share one table.
    if (iid == IOrvoPropertyList::IID)
        return static_cast<IOrvoPropertyList*>(static_cast<IOrvoPropertyList2*>(this));
    return TOrvoInterfaces::GetInterface(iid);
}

bool TOrvoPropertyList::CanAccess(HRESULT& result) {
    result = S_OK;
    return true;
}

void TOrvoPropertyList::DoGetValue(int32_t, TOrvoPropValue& value, HRESULT& result) {
    value = std::monostate();
    result = E_INVALIDARG;
}

void TOrvoPropertyList::DoSetValue(int32_t, const TOrvoPropValue&, HRESULT& result) {
    result = E_INVALIDARG;
}

ComPtr<IUnknown> TOrvoPropertyList::DoGetValueAsObject(int32_t propId) {
    TOrvoPropValue value;
    HRESULT result = S_OK;
    DoGetValue(propId, value, result);
    if (result == E_INVALIDARG && propId == 0)
        return FCustomObject;
    if (Succeeded(result))
        return ToHostString(PropValueToText(value));
    return nullptr;
}

void TOrvoPropertyList::DoSetValueAsObject(int32_t propId, IUnknown* object, HRESULT& result) {
    if (propId == 0) {
        FCustomObject = object;
        result = S_OK;
        return;
    }
    if (ComPtr<IOrvoString> text = QueryAs<IOrvoString>(object)) {
        DoSetValue(propId, FromHostString(text), result);
        return;
    }
    result = E_NOTIMPL;
}

// Runs one interface operation through the host boundary's guard: CanAccess first, and every
// error raised inside is logged and answered E_UNEXPECTED.
template <typename Body> HRESULT TOrvoPropertyList::Guarded(Body&& body) {
    return GuardedHostCall(u"", [&]() -> HRESULT {
        HRESULT access = S_OK;
        if (!CanAccess(access))
            return access;
        return body();
    });
}

// The update hooks answer nothing, so a failure inside one can only be logged.
void TOrvoPropertyList::RunUpdateHook(void (TOrvoPropertyList::*hook)(), std::u16string_view name) {
    GuardedHostCall(std::u16string(name) + u" failed: ", [&]() -> HRESULT {
        HRESULT access = S_OK;
        if (CanAccess(access))
            (this->*hook)();
        return S_OK;
    });
}

void ORVO_CALL TOrvoPropertyList::BeginUpdate() {
    RunUpdateHook(&TOrvoPropertyList::DoBeginUpdate, u"BeginUpdate");
}

void ORVO_CALL TOrvoPropertyList::EndUpdate() {
    RunUpdateHook(&TOrvoPropertyList::DoEndUpdate, u"EndUpdate");
}

HRESULT ORVO_CALL TOrvoPropertyList::Reset() {
    return Guarded([&] { return DoReset(); });
}

template <typename Number> HRESULT TOrvoPropertyList::GetNumber(int32_t propId, Number* value) {
    if (!value)
        return E_INVALIDARG;
    *value = 0;
    return Guarded([&] {
        TOrvoPropValue v;
        HRESULT result = S_OK;
        DoGetValue(propId, v, result);
        if (Succeeded(result)) {
            if constexpr (std::is_same_v<Number, double>)
                *value = PropValueToFloat(v);
            else if constexpr (std::is_same_v<Number, int32_t>)
                *value = PropValueToInt32(v);
            else
                *value = PropValueToInt64(v);
        }
        return result;
    });
}

HRESULT ORVO_CALL TOrvoPropertyList::GetValueAsFloat(int32_t propId, double* value) {
    return GetNumber(propId, value);
}

HRESULT ORVO_CALL TOrvoPropertyList::GetValueAsInt32(int32_t propId, int32_t* value) {
    return GetNumber(propId, value);
}

HRESULT ORVO_CALL TOrvoPropertyList::GetValueAsInt64(int32_t propId, int64_t* value) {
    return GetNumber(propId, value);
}

HRESULT ORVO_CALL TOrvoPropertyList::GetValueAsObject(int32_t propId, const TGUID& iid, void** value) {
    if (!value)
        return E_INVALIDARG;
    *value = nullptr;
    return Guarded([&] {
        ComPtr<IUnknown> object = DoGetValueAsObject(propId);
        if (!object)
            return E_INVALIDARG;
        return object->QueryInterface(iid, value);
    });
}

HRESULT TOrvoPropertyList::SetValue(int32_t propId, const TOrvoPropValue& value) {
    return Guarded([&] {
        HRESULT result = S_OK;
        DoSetValue(propId, value, result);
        return result;
    });
}

HRESULT ORVO_CALL TOrvoPropertyList::SetValueAsFloat(int32_t propId, double value) {
    return SetValue(propId, value);
}

HRESULT ORVO_CALL TOrvoPropertyList::SetValueAsInt32(int32_t propId, int32_t value) {
    return SetValue(propId, int64_t(value));
}

HRESULT ORVO_CALL TOrvoPropertyList::SetValueAsInt64(int32_t propId, int64_t value) {
    return SetValue(propId, value);
}

HRESULT ORVO_CALL TOrvoPropertyList::SetValueAsObject(int32_t propId, IUnknown* value) {
    return Guarded([&] {
        HRESULT result = S_OK;
        DoSetValueAsObject(propId, value, result);
        return result;
    });
}

HRESULT ORVO_CALL TOrvoPropertyList::GetValueAsVariant(int32_t propId, TOrvoVariant* value) {
    if (!value)
        return E_INVALIDARG;
    *value = TOrvoVariant{};
    return Guarded([&] {
        TOrvoPropValue v;
        HRESULT result = S_OK;
        DoGetValue(propId, v, result);
        if (Succeeded(result)) {
            if (auto* i = std::get_if<int64_t>(&v)) {
                if (*i >= std::numeric_limits<int32_t>::min() && *i <= std::numeric_limits<int32_t>::max()) {
                    value->Kind = TOrvoVariant::Int32;
                    value->AsInt32 = int32_t(*i);
                } else {
                    value->Kind = TOrvoVariant::Int64;
                    value->AsInt64 = *i;
                }
            } else if (auto* f = std::get_if<double>(&v)) {
                value->Kind = TOrvoVariant::Float;
                value->AsFloat = *f;
            } else if (auto* s = std::get_if<std::u16string>(&v)) {
                value->AsText = ToHostString(*s).Detach();
                value->Kind = TOrvoVariant::Text;
            }
        }
        return result;
    });
}

HRESULT ORVO_CALL TOrvoPropertyList::SetValueAsVariant(int32_t propId, const TOrvoVariant* value) {
    TOrvoPropValue converted;
    if (!value || !VariantToPropValue(*value, converted))
        return E_INVALIDARG;
    return SetValue(propId, converted);
}

void LogHostCallError(std::u16string_view logPrefix, const std::exception& error) noexcept {
    try {
        NuvLogError(u"App", std::u16string(logPrefix) + ExceptionMessage(error));
    } catch (...) {
        // Nothing is left to tell it with.
    }
}

void LogHostCallError(std::u16string_view logPrefix) noexcept {
    try {
        NuvLogError(u"App", std::u16string(logPrefix) + u"An unknown error was raised");
    } catch (...) {
        // Nothing is left to tell it with.
    }
}
