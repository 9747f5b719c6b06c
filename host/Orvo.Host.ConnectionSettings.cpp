#include "host/Orvo.Host.ConnectionSettings.h"

#include "host/Orvo.Host.String.h"
#include "nuv/Nuv.Web.h"

#include <cstdlib>

std::string TOrvoHostConnection::ProxyText() const {
    if (ProxyMode == ORVO_PROXY_MODE_DIRECT)
        return "direct";
    if (ProxyMode != ORVO_PROXY_MODE_NAMED)
        return "system";
    std::u16string_view host = ProxyServer, scheme;
    if (const size_t found = host.find(u"://"); found != host.npos) {
        scheme = host.substr(0, found + 3);
        host.remove_prefix(found + 3);
    }
    std::u16string text(scheme);
    if (!ProxyUserName.empty() || !ProxyPassword.empty())
        text += ProxyUserName + (ProxyPassword.empty() ? u"" : u":" + ProxyPassword) + u"@";
    text += host;
    if (!ProxyPort.empty())
        text += u":" + ProxyPort;
    return ToUtf8(text);
}

void TOrvoHostConnection::SetProxy(std::string_view text) {
    const std::u16string spec = Trim(FromUtf8(text));
    if (SameTextAscii(spec, u"direct")) {
        ProxyMode = ORVO_PROXY_MODE_DIRECT;
        return;
    }
    if (SameTextAscii(spec, u"system")) {
        ProxyMode = ORVO_PROXY_MODE_SYSTEM;
        return;
    }
    std::u16string_view rest = spec;
    std::u16string scheme;
    if (const size_t found = rest.find(u"://"); found != rest.npos) {
        scheme = rest.substr(0, found + 3);
        rest.remove_prefix(found + 3);
    }
    while (!rest.empty() && rest.back() == u'/')
        rest.remove_suffix(1);
    std::u16string_view user, password;
    if (const size_t at = rest.rfind(u'@'); at != rest.npos) {
        std::u16string_view credentials = rest.substr(0, at);
        rest.remove_prefix(at + 1);
        const size_t colon = credentials.find(u':');
        user = credentials.substr(0, colon);
        if (colon != credentials.npos)
            password = credentials.substr(colon + 1);
    }
    std::u16string_view host = rest, port;
    const size_t bracket = rest.rfind(u']');
    if (const size_t colon = rest.rfind(u':');
        colon != rest.npos && (bracket == rest.npos || colon > bracket)) {
        host = rest.substr(0, colon);
        port = rest.substr(colon + 1);
        int64_t number = 0;
        if (!TryStrToInt(port, number) || number < 1 || number > 65535)
            throw EArgumentError(Format(u"Invalid proxy port \"%s\"", port));
    }
    if (host.empty() || host.find_first_of(u" /@") != host.npos)
        throw EArgumentError(Format(u"Invalid proxy \"%s\": expected direct, system or HOST[:PORT]", spec));
    ProxyMode = ORVO_PROXY_MODE_NAMED;
    ProxyServer = scheme + std::u16string(host);
    ProxyPort = port;
    ProxyUserName = user;
    ProxyPassword = password;
}

void TOrvoHostConnection::SetTimeout(std::string_view text) {
    int64_t milliseconds = 0;
    if (!TryStrToInt(FromUtf8(text), milliseconds) || milliseconds < 0 || milliseconds > INT32_MAX)
        throw EArgumentError(Format(u"Invalid time-out \"%s\": expected milliseconds", FromUtf8(text)));
    Timeout = int32_t(milliseconds);
}

void TOrvoHostConnection::SetUserAgent(std::string_view text) {
    const std::u16string agent = FromUtf8(text);
    if (!TNuvWebSettings::IsValidUserAgent(agent))
        throw EArgumentError(u"Invalid user agent: it must be one line without control characters");
    UserAgent = agent;
}

TOrvoHostConnection TOrvoHostConnection::FromEnvironment() {
    TOrvoHostConnection settings;
    auto variable = [](const char* name) -> const char* {
        const char* value = std::getenv(name);
        return value && *value ? value : nullptr;
    };
    auto guarded = [](const char* name, auto&& apply) {
        try {
            apply();
        } catch (const EArgumentError& e) {
            throw EArgumentError(Format(u"%s: %s", FromUtf8(name), e.Message()));
        }
    };
    if (const char* proxy = variable("TUNEDEX_PROXY"))
        guarded("TUNEDEX_PROXY", [&] { settings.SetProxy(proxy); });
    if (const char* timeout = variable("TUNEDEX_TIMEOUT"))
        guarded("TUNEDEX_TIMEOUT", [&] { settings.SetTimeout(timeout); });
    if (const char* agent = variable("TUNEDEX_USER_AGENT"))
        guarded("TUNEDEX_USER_AGENT", [&] { settings.SetUserAgent(agent); });
    return settings;
}

ComPtr<TOrvoHostConnectionSettings> TOrvoHostConnectionSettings::Create(TOrvoHostConnection settings) {
    return MakeInterfaced<TOrvoHostConnectionSettings>(std::move(settings));
}

void* TOrvoHostConnectionSettings::GetInterface(const TGUID& iid) {
    // The service adds nothing to the list interface it answers as.
    if (iid == IOrvoServiceConnectionSettings::IID)
        return static_cast<IOrvoPropertyList*>(static_cast<IOrvoPropertyList2*>(this));
    return TOrvoPropertyList::GetInterface(iid);
}

void TOrvoHostConnectionSettings::DoGetValue(int32_t propId, TOrvoPropValue& value, HRESULT& result) {
    result = S_OK;
    switch (propId) {
    case ORVO_CONNECTION_PROXY_MODE:
        value = int64_t(FSettings.ProxyMode);
        break;
    case ORVO_CONNECTION_PROXY_SERVER:
        value = FSettings.ProxyServer;
        break;
    case ORVO_CONNECTION_PROXY_PORT:
        value = FSettings.ProxyPort;
        break;
    case ORVO_CONNECTION_PROXY_USER_NAME:
        value = FSettings.ProxyUserName;
        break;
    case ORVO_CONNECTION_PROXY_PASSWORD:
        value = FSettings.ProxyPassword;
        break;
    case ORVO_CONNECTION_TIMEOUT:
        value = int64_t(FSettings.Timeout);
        break;
    case ORVO_CONNECTION_USER_AGENT:
        value = FSettings.UserAgent;
        break;
    default:
        TOrvoPropertyList::DoGetValue(propId, value, result);
    }
}

ComPtr<IUnknown> TOrvoHostConnectionSettings::DoGetValueAsObject(int32_t propId) {
    TOrvoPropValue value;
    HRESULT result = S_OK;
    DoGetValue(propId, value, result);
    if (Failed(result))
        return nullptr;
    return TOrvoHostString::Create(PropValueToText(value));
}
