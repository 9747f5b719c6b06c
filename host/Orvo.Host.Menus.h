#pragma once
// The menu manager ("ORVOSrvMenuMngr"): the host's built-in menus, the menu items plug-ins make
// ("ORVOMenuItem") and register, their glyph images ("ORVOImage2"), and the showing of a menu:
// the on-show events of its items run first, then the host draws what they left visible.
//
// Thread-safety: menus belong to the host's main thread; the objects guard their own state, so
// references may be dropped anywhere.

#include "host/Orvo.Host.MusicLibrary.Objects.h"
#include "sdk/api/OrvoAPI.Menus.h"
#include "sdk/api/OrvoAPI.UI.h"
#include "sdk/apiWrappers.h"

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

class TOrvoHostCore;

// A menu item, drawn at the resolution it was made with.
class TOrvoHostMenuItem : public TOrvoInterfaces<TOrvoHostPropertyBag<IOrvoMenuItem>, IOrvoDPIAware> {
public:
    static ComPtr<TOrvoHostMenuItem> Create(int32_t dpi = 96);

    int32_t ORVO_CALL GetDPI() override { return FDPI.load(); }
    HRESULT ORVO_CALL SetDPI(int32_t dpi) override;

protected:
    explicit TOrvoHostMenuItem(int32_t dpi) : FDPI(dpi) {}
    template <typename T, typename... Args> friend ComPtr<T> MakeInterfaced(Args&&... args);

private:
    std::atomic<int32_t> FDPI;
};

// A PNG image: the host keeps its bytes and reads its size from its header.
class TOrvoHostImage : public TOrvoInterfaces<TInterfacedObjectEx, IOrvoImage2, IOrvoDPIAware> {
public:
    static ComPtr<TOrvoHostImage> Create();

    HRESULT ORVO_CALL GetSize(int32_t* width, int32_t* height) override;
    HRESULT ORVO_CALL LoadFromStream(IOrvoStream* stream) override;
    int32_t ORVO_CALL GetDPI() override { return FDPI.load(); }
    HRESULT ORVO_CALL SetDPI(int32_t dpi) override;

    std::vector<uint8_t> Bytes() const;

protected:
    TOrvoHostImage() = default;
    template <typename T, typename... Args> friend ComPtr<T> MakeInterfaced(Args&&... args);

private:
    mutable std::mutex FLock;
    std::vector<uint8_t> FBytes;
    int32_t FWidth = 0;
    int32_t FHeight = 0;
    std::atomic<int32_t> FDPI{96};
};

// One item of a menu as the host draws it.
struct TOrvoHostMenuEntry {
    std::u16string ID;
    std::u16string Caption;
    bool Enabled = false;
    bool Visible = false;
    // The glyph's size in pixels; 0 x 0 without one.
    int32_t GlyphWidth = 0;
    int32_t GlyphHeight = 0;
};

class TOrvoHostMenus : public TOrvoInterfaces<TInterfacedObjectEx, IOrvoServiceMenuManager> {
public:
    using TCaptionLookup = std::function<std::u16string(std::u16string_view key)>;

    // `core` owns the service and outlives it; the service makes it answer "ORVOMenuItem" and
    // "ORVOImage2". An item without a caption of its own is named by the text of key
    // "Actions\<identifier>", else by its identifier.
    static ComPtr<TOrvoHostMenus> Create(TOrvoHostCore& core, TCaptionLookup captions = {});

    HRESULT ORVO_CALL BuiltInMenu(int32_t number, IOrvoMenuItem** menu) override;
    HRESULT ORVO_CALL FindMenuItem(IOrvoString* id, IOrvoMenuItem** item) override;

    // The resolution menu items are made with (96 unless set).
    void SetDPI(int32_t dpi) { FDPI.store(dpi); }
    int32_t DPI() const { return FDPI.load(); }

    // Shows the built-in menu: runs the on-show event of each of its registered items (once per
    // event object, in registration order), then answers the items in registration order.
    // Raises EArgumentError for a number the host has no menu for.
    std::vector<TOrvoHostMenuEntry> Show(int32_t number);
    // Chooses a registered item, as a click does: runs its action with the menu item as data and
    // answers its result. E_FAIL for an unknown identifier, an item hidden or disabled, or one
    // without an action.
    HRESULT Choose(std::u16string_view id);
    // The registered item with the identifier, or null.
    ComPtr<IOrvoMenuItem> Item(std::u16string_view id) const;

protected:
    TOrvoHostMenus(TOrvoHostCore& core, TCaptionLookup captions);
    template <typename T, typename... Args> friend ComPtr<T> MakeInterfaced(Args&&... args);

private:
    // The registered menu items, in registration order.
    std::vector<ComPtr<IOrvoMenuItem>> Items() const;
    TOrvoHostMenuEntry Entry(IOrvoMenuItem& item) const;

    TOrvoHostCore& FCore;
    TCaptionLookup FCaptions;
    std::atomic<int32_t> FDPI{96};
    std::map<int32_t, ComPtr<TOrvoHostMenuItem>> FBuiltIn;
};
