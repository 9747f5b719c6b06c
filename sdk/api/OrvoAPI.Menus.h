#pragma once
// Menus: the host's menu items, the menu manager where plug-ins add their own, the images drawn
// as glyphs, and the DPI-aware interface of objects drawn at a resolution of their own.

#include "sdk/api/OrvoAPI.Objects.h"

// A menu item ("ORVOMenuItem"): a property list with no operations of its own. Plug-ins make
// one with MakeObject, fill it and register it with AddExtension at the menu manager.
struct IOrvoMenuItem : IOrvoPropertyList2 {
    static constexpr TGUID IID = OrvoTag("ORVOMenuItem");
};
constexpr int32_t ORVO_MIP_CAPTION = 1;  // text; without one the host names the item after its action
constexpr int32_t ORVO_MIP_ID = 2;       // text: the identifier the menu manager finds the item by
constexpr int32_t ORVO_MIP_ENABLED = 4;  // 0 or 1
constexpr int32_t ORVO_MIP_ACTION = 6;   // object offering IOrvoActionEvent: run when the item is chosen
constexpr int32_t ORVO_MIP_ON_SHOW = 7;  // object offering IOrvoActionEvent: run before the menu holding
                                         // the item is shown, with the item as data
constexpr int32_t ORVO_MIP_GLYPH = 10;   // object offering IOrvoImage2
constexpr int32_t ORVO_MIP_PARENT = 11;  // the menu item (or built-in menu) the item is shown in
constexpr int32_t ORVO_MIP_VISIBLE = 12; // 0 or 1

// Built-in menus of the host.
constexpr int32_t ORVO_MENU_MUSIC_LIBRARY = 80; // the music library's context menu

struct IOrvoServiceMenuManager : IUnknown {
    static constexpr TGUID IID = OrvoTag("ORVOSrvMenuMngr");

    // The built-in menu with that number; E_INVALIDARG for a number the host has no menu for.
    virtual HRESULT ORVO_CALL BuiltInMenu(int32_t number, IOrvoMenuItem** menu) = 0;
    // The registered menu item whose identifier (ORVO_MIP_ID) equals `id`, case-sensitively;
    // E_FAIL when there is none.
    virtual HRESULT ORVO_CALL FindMenuItem(IOrvoString* id, IOrvoMenuItem** item) = 0;
};

// An object drawn at a resolution of its own (dots per inch; 96 is the plain size).
struct IOrvoDPIAware : IUnknown {
    static constexpr TGUID IID = OrvoTag("ORVODPIAware");

    virtual int32_t ORVO_CALL GetDPI() = 0;
    // E_INVALIDARG for a resolution below 1.
    virtual HRESULT ORVO_CALL SetDPI(int32_t dpi) = 0;
};

// An image ("ORVOImage2"); it may also offer IOrvoDPIAware.
struct IOrvoImage2 : IUnknown {
    static constexpr TGUID IID = OrvoTag("ORVOImage2");

    // The size in pixels; 0 x 0 while nothing is loaded.
    virtual HRESULT ORVO_CALL GetSize(int32_t* width, int32_t* height) = 0;
    // Loads a PNG image from the stream's position on; E_FAIL, with the image unchanged, when the
    // stream holds no PNG image.
    virtual HRESULT ORVO_CALL LoadFromStream(IOrvoStream* stream) = 0;
};
