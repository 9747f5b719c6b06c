#include "host/Orvo.Host.Menus.h"

#include "host/Orvo.Host.Core.h"
#include "host/Orvo.Host.String.h"

#include <algorithm>
#include <array>

namespace {

// Reads a 32-bit big-endian number.
uint32_t BigEndian32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// The canonical identity of a host object, for comparing references.
ComPtr<IUnknown> Identity(IUnknown* object) {
    return object ? QueryAs<IUnknown>(object) : nullptr;
}

} // namespace

// ---- TOrvoHostMenuItem

ComPtr<TOrvoHostMenuItem> TOrvoHostMenuItem::Create(int32_t dpi) {
    return MakeInterfaced<TOrvoHostMenuItem>(dpi);
}

HRESULT ORVO_CALL TOrvoHostMenuItem::SetDPI(int32_t dpi) {
    if (dpi < 1)
        return E_INVALIDARG;
    FDPI.store(dpi);
    return S_OK;
}

// ---- TOrvoHostImage

ComPtr<TOrvoHostImage> TOrvoHostImage::Create() {
    return MakeInterfaced<TOrvoHostImage>();
}

HRESULT ORVO_CALL TOrvoHostImage::GetSize(int32_t* width, int32_t* height) {
    if (!width || !height)
        return E_INVALIDARG;
    std::lock_guard lock(FLock);
    *width = FWidth;
    *height = FHeight;
    return S_OK;
}

HRESULT ORVO_CALL TOrvoHostImage::LoadFromStream(IOrvoStream* stream) {
    if (!stream)
        return E_INVALIDARG;
    try {
        std::vector<uint8_t> bytes;
        std::array<uint8_t, 16384> buffer;
        for (;;) {
            const int32_t read = stream->Read(buffer.data(), uint32_t(buffer.size()));
            if (read < 0)
                return E_FAIL;
            if (read == 0)
                break;
            bytes.insert(bytes.end(), buffer.begin(), buffer.begin() + read);
        }
        // The signature, then the header chunk: length 13, "IHDR", width, height, ...
        static constexpr uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        if (bytes.size() < 8 + 8 + 13 ||
            !std::equal(std::begin(signature), std::end(signature), bytes.begin()) ||
            BigEndian32(&bytes[8]) != 13 || !std::equal(bytes.begin() + 12, bytes.begin() + 16, "IHDR"))
            return E_FAIL;
        const uint32_t width = BigEndian32(&bytes[16]);
        const uint32_t height = BigEndian32(&bytes[20]);
        if (width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX)
            return E_FAIL;
        std::lock_guard lock(FLock);
        FBytes = std::move(bytes);
        FWidth = int32_t(width);
        FHeight = int32_t(height);
        return S_OK;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

HRESULT ORVO_CALL TOrvoHostImage::SetDPI(int32_t dpi) {
    if (dpi < 1)
        return E_INVALIDARG;
    FDPI.store(dpi);
    return S_OK;
}

std::vector<uint8_t> TOrvoHostImage::Bytes() const {
    std::lock_guard lock(FLock);
    return FBytes;
}

// ---- TOrvoHostMenus

ComPtr<TOrvoHostMenus> TOrvoHostMenus::Create(TOrvoHostCore& core, TCaptionLookup captions) {
    ComPtr<TOrvoHostMenus> menus = MakeInterfaced<TOrvoHostMenus>(core, std::move(captions));
    // The factory keeps the service, which refers to the core without owning it, so the two
    // form no cycle, and items are made with the service's resolution however long it lives.
    core.RegisterObject(IOrvoMenuItem::IID,
                        [menus] { return QueryAs<IUnknown>(TOrvoHostMenuItem::Create(menus->DPI()).get()); });
    core.RegisterObject(IOrvoImage2::IID, [] { return QueryAs<IUnknown>(TOrvoHostImage::Create().get()); });
    return menus;
}

TOrvoHostMenus::TOrvoHostMenus(TOrvoHostCore& core, TCaptionLookup captions)
    : FCore(core), FCaptions(std::move(captions)) {
    ComPtr<TOrvoHostMenuItem> library = TOrvoHostMenuItem::Create();
    library->SetValueAsObject(ORVO_MIP_CAPTION, TOrvoHostString::Create(u"Music library").get());
    FBuiltIn.emplace(ORVO_MENU_MUSIC_LIBRARY, std::move(library));
}

HRESULT ORVO_CALL TOrvoHostMenus::BuiltInMenu(int32_t number, IOrvoMenuItem** menu) {
    if (!menu)
        return E_INVALIDARG;
    *menu = nullptr;
    auto it = FBuiltIn.find(number);
    if (it == FBuiltIn.end())
        return E_INVALIDARG;
    *menu = ComPtr<IOrvoMenuItem>(it->second).Detach();
    return S_OK;
}

HRESULT ORVO_CALL TOrvoHostMenus::FindMenuItem(IOrvoString* id, IOrvoMenuItem** item) {
    if (!id || !item)
        return E_INVALIDARG;
    *item = nullptr;
    try {
        ComPtr<IOrvoMenuItem> found = Item(FromHostString(id));
        if (!found)
            return E_FAIL;
        *item = found.Detach();
        return S_OK;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

std::vector<ComPtr<IOrvoMenuItem>> TOrvoHostMenus::Items() const {
    std::vector<ComPtr<IOrvoMenuItem>> items;
    for (const auto& extension : FCore.Extensions(IOrvoServiceMenuManager::IID))
        if (ComPtr<IOrvoMenuItem> item = QueryAs<IOrvoMenuItem>(extension.get()))
            items.push_back(std::move(item));
    return items;
}

ComPtr<IOrvoMenuItem> TOrvoHostMenus::Item(std::u16string_view id) const {
    if (id.empty())
        return nullptr;
    for (auto& item : Items())
        if (ReadTextProp(item.get(), ORVO_MIP_ID) == id)
            return item;
    return nullptr;
}

TOrvoHostMenuEntry TOrvoHostMenus::Entry(IOrvoMenuItem& item) const {
    TOrvoHostMenuEntry entry;
    entry.ID = ReadTextProp(&item, ORVO_MIP_ID);
    entry.Caption = ReadTextProp(&item, ORVO_MIP_CAPTION);
    if (entry.Caption.empty() && FCaptions)
        entry.Caption = FCaptions(u"Actions\\" + entry.ID);
    if (entry.Caption.empty())
        entry.Caption = entry.ID;
    // A new item is shown and usable until told otherwise.
    entry.Enabled = ReadIntProp(&item, ORVO_MIP_ENABLED, 1) != 0;
    entry.Visible = ReadIntProp(&item, ORVO_MIP_VISIBLE, 1) != 0;
    ComPtr<IOrvoImage2> glyph;
    if (Succeeded(item.GetValueAsObject(ORVO_MIP_GLYPH, IOrvoImage2::IID, glyph.put_void())) && glyph)
        glyph->GetSize(&entry.GlyphWidth, &entry.GlyphHeight);
    return entry;
}

std::vector<TOrvoHostMenuEntry> TOrvoHostMenus::Show(int32_t number) {
    auto menu = FBuiltIn.find(number);
    if (menu == FBuiltIn.end())
        throw EArgumentError(Format(u"The host has no menu %d", number));
    const ComPtr<IUnknown> parent = Identity(static_cast<IOrvoMenuItem*>(menu->second.get()));
    std::vector<ComPtr<IOrvoMenuItem>> items;
    for (auto& item : Items())
        if (ReadObjectProp(item.get(), ORVO_MIP_PARENT) == parent)
            items.push_back(std::move(item));

    std::vector<ComPtr<IUnknown>> raised;
    for (const auto& item : items) {
        ComPtr<IUnknown> event = ReadObjectProp(item.get(), ORVO_MIP_ON_SHOW);
        ComPtr<IOrvoActionEvent> action = QueryAs<IOrvoActionEvent>(event.get());
        if (!action || std::find(raised.begin(), raised.end(), event) != raised.end())
            continue;
        raised.push_back(event);
        action->Execute(item.get());
    }
    std::vector<TOrvoHostMenuEntry> entries;
    for (const auto& item : items)
        entries.push_back(Entry(*item));
    return entries;
}

HRESULT TOrvoHostMenus::Choose(std::u16string_view id) {
    ComPtr<IOrvoMenuItem> item = Item(id);
    if (!item)
        return E_FAIL;
    const TOrvoHostMenuEntry entry = Entry(*item);
    ComPtr<IUnknown> event = ReadObjectProp(item.get(), ORVO_MIP_ACTION);
    ComPtr<IOrvoActionEvent> action = QueryAs<IOrvoActionEvent>(event.get());
    if (!entry.Enabled || !entry.Visible || !action)
        return E_FAIL;
    return action->Execute(item.get());
}
