#pragma once
// The thin layer between the plug-in's classes and the host's interfaces: the kept core object,
// service look-up, host objects, texts, localisation, host messages, typed property-list access,
// the reference-counted base of every object handed to the host, and the property-list base
// class.
//
// Thread-safety: the core holder may be read from any thread while the main thread initialises
// or finalises it. Reference counts change atomically, so the host may release objects from any
// thread. Everything else follows the thread rules of the host object it touches.

#include "nuv/Nuv.Exceptions.h"
#include "nuv/Nuv.Strings.h"
#include "sdk/api/ComPtr.h"
#include "sdk/api/OrvoAPI.Objects.h"
#include "sdk/api/OrvoAPI.Plugin.h"
#include "sdk/api/OrvoAPI.Services.h"

#include <atomic>
#include <string>
#include <string_view>
#include <variant>

// ---- reference-counted objects

template <typename T, typename... Args> ComPtr<T> MakeInterfaced(Args&&... args);

// Base of every object handed to the host.
//
// The count starts at 1 while the object is being constructed, so that references handed out
// and dropped by a constructor cannot destroy it; MakeInterfaced lowers it to 0 right after
// construction and hands the caller the first real reference. Release at 0 destroys the object:
// that is the normal end of life.
//
// A destructor must not throw, so destruction of a still-referenced object is checked where it
// can still be refused: DestroyInterfaced raises EInvalidPointer "Invalid Pointer" and leaves the
// object alive when other references remain. The destructor itself only meets a live count when
// code bypassed both paths (a plain delete, an object on the stack); it then logs "Invalid
// Pointer" and aborts, since continuing would leave the host holding a dangling pointer.
class TInterfacedObjectEx {
public:
    TInterfacedObjectEx(const TInterfacedObjectEx&) = delete;
    TInterfacedObjectEx& operator=(const TInterfacedObjectEx&) = delete;

    // The current count, for diagnostics and tests.
    int32_t RefCount() const { return FRefCount.load(std::memory_order_acquire); }

protected:
    TInterfacedObjectEx() = default;
    virtual ~TInterfacedObjectEx();

    // The object's interface `iid` without a new reference, or null. Each level of a class that
    // adds interfaces answers its own and asks its base (TOrvoInterfaces does this).
    virtual void* GetInterface(const TGUID& iid);

    HRESULT InternalQueryInterface(const TGUID& iid, void** object);
    uint32_t InternalAddRef();
    uint32_t InternalRelease();

    std::atomic<int32_t> FRefCount{1};

private:
    template <typename T, typename... Args> friend ComPtr<T> MakeInterfaced(Args&&... args);
    template <typename T> friend void DestroyInterfaced(ComPtr<T>& object);
    void AfterConstruction();
    void DestroyLastReference();
    bool FConstructed = false;
};

// Implements IUnknown for the interfaces a class adds on top of Base (TInterfacedObjectEx or a
// class derived from it): QueryInterface answers each of them, then whatever Base answers, and
// IUnknown as the first interface of the innermost level.
template <typename Base, typename First, typename... More>
class TOrvoInterfaces : public Base, public First, public More... {
public:
    using Base::Base;

    HRESULT ORVO_CALL QueryInterface(const TGUID& iid, void** object) override {
        return this->InternalQueryInterface(iid, object);
    }
    uint32_t ORVO_CALL AddRef() override { return this->InternalAddRef(); }
    uint32_t ORVO_CALL Release() override { return this->InternalRelease(); }

protected:
    void* GetInterface(const TGUID& iid) override {
        void* found = nullptr;
        if (iid == First::IID)
            found = static_cast<First*>(this);
        ((found == nullptr && iid == More::IID ? (found = static_cast<More*>(this)) : nullptr), ...);
        if (!found)
            found = Base::GetInterface(iid);
        if (!found && iid == IUnknown::IID)
            found = static_cast<IUnknown*>(static_cast<First*>(this));
        return found;
    }
};

// Creates a reference-counted object and returns the first reference to it.
template <typename T, typename... Args> ComPtr<T> MakeInterfaced(Args&&... args) {
    T* object = new T(std::forward<Args>(args)...);
    object->TInterfacedObjectEx::AfterConstruction();
    return ComPtr<T>(object);
}

// Destroys the object now through its last reference. Raises EInvalidPointer "Invalid Pointer"
// and leaves the object (and `object`) untouched when other references remain.
template <typename T> void DestroyInterfaced(ComPtr<T>& object) {
    if (T* p = object.get()) {
        p->TInterfacedObjectEx::DestroyLastReference();
        object.Detach();
    }
}

// ---- the core

class TOrvoAPIWrappers {
public:
    // Keeps one reference to the host's core; Finalize drops it.
    static void Initialize(IOrvoCore* core);
    static void Finalize();
    // The kept core, or null.
    static ComPtr<IOrvoCore> Core();
};

// The kept core; raises EInvalidOperation "Plugin was not initialized" when there is none.
ComPtr<IOrvoCore> HostCore();
// Looks up a host service; false when there is no core or the core does not offer it.
bool QueryService(const TGUID& iid, void** service);
template <typename T> bool QueryService(ComPtr<T>& service) {
    return QueryService(T::IID, service.put_void());
}
// Creates a host object; raises "Cannot create object (%d)" with the host's result on failure.
void NewHostObject(const TGUID& iid, void** object);
template <typename T> ComPtr<T> NewHostObject() {
    ComPtr<T> result;
    NewHostObject(T::IID, result.put_void());
    return result;
}
// Raises an error whose message is `pattern` formatted with the code, when the code is negative.
void RaiseIfFailed(HRESULT code, std::u16string_view pattern = u"%d");

// ---- texts

// A new host string holding the text.
ComPtr<IOrvoString> ToHostString(std::u16string_view text);
// The text of a host string; empty for null.
std::u16string FromHostString(IOrvoString* text);
inline std::u16string FromHostString(const ComPtr<IOrvoString>& text) {
    return FromHostString(text.get());
}

// ---- localisation (keys such as "Tunedex\T1")

// The host's text for the key; E_NOINTERFACE without the localisation service.
HRESULT LookupKey(std::u16string_view key, ComPtr<IOrvoString>& text);
// The host's text for the key, or the empty text on any failure.
std::u16string LocalizedText(std::u16string_view key);
// The host's text as a host string, or an empty host string on any failure.
ComPtr<IOrvoString> LocalizedHostText(std::u16string_view key);
// The host's text for the key used as a Format pattern.
template <typename... Args>
ComPtr<IOrvoString> LocalizedFormat(std::u16string_view key, const Args&... args) {
    return ToHostString(Format(LocalizedText(key), args...));
}

// Runs the body of an operation the host calls. An error must never cross into the host: one
// raised inside is written to the error log (tag "App", `logPrefix` before its message) and
// answered E_UNEXPECTED.
void LogHostCallError(std::u16string_view logPrefix, const std::exception& error) noexcept;
// The same for an error that is no std::exception: "<logPrefix>An unknown error was raised".
void LogHostCallError(std::u16string_view logPrefix) noexcept;
template <typename Body> HRESULT GuardedHostCall(std::u16string_view logPrefix, Body&& body) noexcept {
    try {
        return body();
    } catch (const std::exception& e) {
        LogHostCallError(logPrefix, e);
    } catch (...) {
        LogHostCallError(logPrefix);
    }
    return E_UNEXPECTED;
}

// Calls BeginUpdate on the object now and EndUpdate when the scope is left, by return or by an
// exception, so the two always pair.
template <typename T> class TOrvoUpdateScope {
public:
    explicit TOrvoUpdateScope(ComPtr<T> object) : FObject(std::move(object)) { FObject->BeginUpdate(); }
    ~TOrvoUpdateScope() { FObject->EndUpdate(); }
    TOrvoUpdateScope(const TOrvoUpdateScope&) = delete;
    TOrvoUpdateScope& operator=(const TOrvoUpdateScope&) = delete;

private:
    ComPtr<T> FObject;
};

// ---- host messages

using TOrvoWindowHandle = uint64_t;

// SendHostMessage of the message dispatcher; E_NOINTERFACE without the service.
HRESULT SendMessageToHost(uint32_t message, int32_t parameter, void* data);
// The host's main window, owner of dialogs; 0 when it cannot be had.
TOrvoWindowHandle MainWindowHandle();

// ---- property-list access (the list may be null)

int32_t ReadIntProp(IOrvoPropertyList* list, int32_t id, int32_t fallback = 0);
std::u16string ReadTextProp(IOrvoPropertyList* list, int32_t id);
ComPtr<IUnknown> ReadObjectProp(IOrvoPropertyList* list, int32_t id);
// The writes raise "PropList is nil" for a null list and the result code ("%d") on failure.
void WriteIntProp(IOrvoPropertyList* list, int32_t id, int32_t value);
void WriteBoolProp(IOrvoPropertyList* list, int32_t id, bool flag);
void WriteObjectProp(IOrvoPropertyList* list, int32_t id, IUnknown* object);
void WriteTextProp(IOrvoPropertyList* list, int32_t id, std::u16string_view text);

// ---- plug-in objects read by the host as property lists

// A property value as the plug-in's classes produce and take it.
using TOrvoPropValue = std::variant<std::monostate, int64_t, double, std::u16string>;

// Conversions of a property value; numbers and numeric texts convert, anything else raises
// EArgumentError (the property list turns that into E_UNEXPECTED). Floats become integers by
// rounding half to even; a value outside the target range raises.
int64_t PropValueToInt64(const TOrvoPropValue& value);
int32_t PropValueToInt32(const TOrvoPropValue& value);
double PropValueToFloat(const TOrvoPropValue& value);
std::u16string PropValueToText(const TOrvoPropValue& value);
// The value a variant carries (its text, without taking its reference); false for a kind that
// is none of empty, 32- and 64-bit integer, float and text.
bool VariantToPropValue(const TOrvoVariant& variant, TOrvoPropValue& value);

// Base of plug-in objects the host reads and writes by property number. Derived classes override
// the Do* hooks; the interface operations around them ask CanAccess first and turn every error
// raised inside into E_UNEXPECTED, so nothing crosses into the host.
class TOrvoPropertyList : public TOrvoInterfaces<TInterfacedObjectEx, IOrvoPropertyList2> {
public:
    void ORVO_CALL BeginUpdate() override;
    void ORVO_CALL EndUpdate() override;
    HRESULT ORVO_CALL Reset() override;
    HRESULT ORVO_CALL GetValueAsFloat(int32_t propId, double* value) override;
    HRESULT ORVO_CALL GetValueAsInt32(int32_t propId, int32_t* value) override;
    HRESULT ORVO_CALL GetValueAsInt64(int32_t propId, int64_t* value) override;
    HRESULT ORVO_CALL GetValueAsObject(int32_t propId, const TGUID& iid, void** value) override;
    HRESULT ORVO_CALL SetValueAsFloat(int32_t propId, double value) override;
    HRESULT ORVO_CALL SetValueAsInt32(int32_t propId, int32_t value) override;
    HRESULT ORVO_CALL SetValueAsInt64(int32_t propId, int64_t value) override;
    HRESULT ORVO_CALL SetValueAsObject(int32_t propId, IUnknown* value) override;
    HRESULT ORVO_CALL GetValueAsVariant(int32_t propId, TOrvoVariant* value) override;
    HRESULT ORVO_CALL SetValueAsVariant(int32_t propId, const TOrvoVariant* value) override;

protected:
    void* GetInterface(const TGUID& iid) override;

    // Whether the list may be used now; `result` is answered when not. True with 0 here.
    virtual bool CanAccess(HRESULT& result);
    virtual void DoBeginUpdate() {}
    virtual void DoEndUpdate() {}

private:
    void RunUpdateHook(void (TOrvoPropertyList::*hook)(), std::u16string_view name);

protected:
    // The value of a property; here every property is unknown (E_INVALIDARG).
    virtual void DoGetValue(int32_t propId, TOrvoPropValue& value, HRESULT& result);
    // The value as an object: the custom object for property 0 when DoGetValue does not know it,
    // a host string of the value when DoGetValue succeeds, otherwise null.
    virtual ComPtr<IUnknown> DoGetValueAsObject(int32_t propId);
    virtual HRESULT DoReset() { return E_NOTIMPL; }
    virtual void DoSetValue(int32_t propId, const TOrvoPropValue& value, HRESULT& result);
    // Property 0 stores the custom object; a host string sets the text through DoSetValue.
    virtual void DoSetValueAsObject(int32_t propId, IUnknown* object, HRESULT& result);

    ComPtr<IUnknown> FCustomObject;

private:
    template <typename Body> HRESULT Guarded(Body&& body);
    template <typename Number> HRESULT GetNumber(int32_t propId, Number* value);
    HRESULT SetValue(int32_t propId, const TOrvoPropValue& value);
};

// A property list that also answers the interface I, an interface whose first operations are the
// property-list operations (a data storage, a filter group, ...). I's property-list slots run the
// same operations as the list's own, so derived classes override only the Do* hooks and I's own
// operations.
template <typename I> class TOrvoPropertyListOf : public TOrvoPropertyList, public I {
public:
    HRESULT ORVO_CALL QueryInterface(const TGUID& iid, void** object) override {
        return TOrvoPropertyList::QueryInterface(iid, object);
    }
    uint32_t ORVO_CALL AddRef() override { return TOrvoPropertyList::AddRef(); }
    uint32_t ORVO_CALL Release() override { return TOrvoPropertyList::Release(); }
    void ORVO_CALL BeginUpdate() override { TOrvoPropertyList::BeginUpdate(); }
    void ORVO_CALL EndUpdate() override { TOrvoPropertyList::EndUpdate(); }
    HRESULT ORVO_CALL Reset() override { return TOrvoPropertyList::Reset(); }
    HRESULT ORVO_CALL GetValueAsFloat(int32_t propId, double* value) override {
        return TOrvoPropertyList::GetValueAsFloat(propId, value);
    }
    HRESULT ORVO_CALL GetValueAsInt32(int32_t propId, int32_t* value) override {
        return TOrvoPropertyList::GetValueAsInt32(propId, value);
    }
    HRESULT ORVO_CALL GetValueAsInt64(int32_t propId, int64_t* value) override {
        return TOrvoPropertyList::GetValueAsInt64(propId, value);
    }
    HRESULT ORVO_CALL GetValueAsObject(int32_t propId, const TGUID& iid, void** value) override {
        return TOrvoPropertyList::GetValueAsObject(propId, iid, value);
    }
    HRESULT ORVO_CALL SetValueAsFloat(int32_t propId, double value) override {
        return TOrvoPropertyList::SetValueAsFloat(propId, value);
    }
    HRESULT ORVO_CALL SetValueAsInt32(int32_t propId, int32_t value) override {
        return TOrvoPropertyList::SetValueAsInt32(propId, value);
    }
    HRESULT ORVO_CALL SetValueAsInt64(int32_t propId, int64_t value) override {
        return TOrvoPropertyList::SetValueAsInt64(propId, value);
    }
    HRESULT ORVO_CALL SetValueAsObject(int32_t propId, IUnknown* value) override {
        return TOrvoPropertyList::SetValueAsObject(propId, value);
    }
    HRESULT ORVO_CALL GetValueAsVariant(int32_t propId, TOrvoVariant* value) override {
        return TOrvoPropertyList::GetValueAsVariant(propId, value);
    }
    HRESULT ORVO_CALL SetValueAsVariant(int32_t propId, const TOrvoVariant* value) override {
        return TOrvoPropertyList::SetValueAsVariant(propId, value);
    }

protected:
    void* GetInterface(const TGUID& iid) override {
        if (iid == I::IID)
            return static_cast<I*>(this);
        return TOrvoPropertyList::GetInterface(iid);
    }
};
