#pragma once
// The plug-in entry: the core object the host hands over, the plug-in object and the export.

#include "sdk/api/OrvoAPI.Objects.h"

// Kinds of FolderPath.
constexpr int32_t ORVO_FOLDER_PROFILE = 6;

// The host's core object. Services are answered by its QueryInterface with the service's tag.
struct IOrvoCore : IUnknown {
    static constexpr TGUID IID = OrvoTag("ORVOCore");

    // A new host object ("ORVOString", ...) as the interface `iid`, with a reference.
    virtual HRESULT ORVO_CALL MakeObject(const TGUID& iid, void** object) = 0;
    // A folder of the host; the profile folder (ORVO_FOLDER_PROFILE) ends with a separator.
    virtual HRESULT ORVO_CALL FolderPath(int32_t kind, IOrvoString** path) = 0;
    // Registers an extension at the service `serviceIid`; the host keeps a reference.
    virtual HRESULT ORVO_CALL AddExtension(const TGUID& serviceIid, IUnknown* extension) = 0;
};

// The plug-in object the host obtains from OrvoPluginGetHeader. Its identifier is all zero.
struct IOrvoPlugin : IUnknown {
    static constexpr TGUID IID = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

    // A static, zero-terminated text: 0 name, 1 author, 2 short description, 3 full description.
    virtual const char16_t* ORVO_CALL InfoText(int32_t index) = 0;
    virtual uint32_t ORVO_CALL CategoryMask() = 0;
    virtual HRESULT ORVO_CALL Initialize(IOrvoCore* core) = 0;
    virtual void ORVO_CALL Finalize() = 0;
    virtual void ORVO_CALL SystemNotify(int32_t id, IUnknown* data) = 0;
};

// The library's one export.
using TOrvoPluginGetHeader = HRESULT(ORVO_CALL*)(IOrvoPlugin** header);
constexpr const char* ORVO_PLUGIN_ENTRY = "OrvoPluginGetHeader";
