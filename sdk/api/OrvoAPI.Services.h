#pragma once
// General host services, answered by the core's QueryInterface with their tags.

#include "sdk/api/OrvoAPI.Objects.h"

struct IOrvoServiceVersionInfo : IUnknown {
    static constexpr TGUID IID = OrvoTag("ORVOSrvVerInfo");

    // The host's version as text, for example "v5.40.2700".
    virtual HRESULT ORVO_CALL FormatInfo(IOrvoString** text) = 0;
    virtual int32_t ORVO_CALL VersionMajor() = 0;
    virtual int32_t ORVO_CALL VersionMinor() = 0;
    virtual int32_t ORVO_CALL BuildNumber() = 0;
};

// The host's connection settings, read as a property list. Properties: 1 proxy mode (0 direct,
// 2 the named proxy, anything else the system's settings), 2 proxy server, 3 proxy port, 4 proxy
// user name, 5 proxy password (texts), 6 time-out in milliseconds, 7 user agent (text; empty for
// the plug-in's own). A property the host does not set is absent.
struct IOrvoServiceConnectionSettings : IOrvoPropertyList {
    static constexpr TGUID IID = OrvoTag("IORVOSrvConnCfg");
};

// Localised texts from the host's language files, by keys such as "Tunedex\T1".
struct IOrvoServiceMUI : IUnknown {
    static constexpr TGUID IID = OrvoTag("ORVOSrvMUI");

    virtual HRESULT ORVO_CALL LanguageName(IOrvoString** name) = 0;
    // E_FAIL when the key has no text.
    virtual HRESULT ORVO_CALL LookupText(IOrvoString* key, IOrvoString** text) = 0;
};

// Host messages.
constexpr uint32_t ORVO_MSG_GET_MAIN_WINDOW = 4118; // parameter 0, data: a 64-bit window handle

struct IOrvoServiceMessageDispatcher : IUnknown {
    static constexpr TGUID IID = OrvoTag("ORVOSrvMsgDspr");

    virtual HRESULT ORVO_CALL SendHostMessage(uint32_t message, int32_t parameter, void* data) = 0;
};
