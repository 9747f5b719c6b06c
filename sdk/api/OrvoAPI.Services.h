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

// The host's connection settings, read as a property list. A property the host does not set is
// absent.
struct IOrvoServiceConnectionSettings : IOrvoPropertyList {
    static constexpr TGUID IID = OrvoTag("IORVOSrvConnCfg");
};
constexpr int32_t ORVO_CONNECTION_PROXY_MODE = 1;      // integer: ORVO_PROXY_MODE_*
constexpr int32_t ORVO_CONNECTION_PROXY_SERVER = 2;    // text
constexpr int32_t ORVO_CONNECTION_PROXY_PORT = 3;      // text
constexpr int32_t ORVO_CONNECTION_PROXY_USER_NAME = 4; // text
constexpr int32_t ORVO_CONNECTION_PROXY_PASSWORD = 5;  // text
constexpr int32_t ORVO_CONNECTION_TIMEOUT = 6;         // integer, milliseconds
constexpr int32_t ORVO_CONNECTION_USER_AGENT = 7;      // text; empty for the plug-in's own

// Proxy modes; any value not named here means the system's settings.
constexpr int32_t ORVO_PROXY_MODE_DIRECT = 0;
constexpr int32_t ORVO_PROXY_MODE_SYSTEM = 1;
constexpr int32_t ORVO_PROXY_MODE_NAMED = 2; // the proxy server, port and credentials given

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
