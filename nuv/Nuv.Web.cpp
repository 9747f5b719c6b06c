#include "nuv/Nuv.Web.h"

#include "nuv/Nuv.Strings.h"
#include "platform/Platform.System.h"

#include <algorithm>
#include <climits>
#include <mutex>

namespace {

// Settings are set once at start-up, but requests on pool threads read them, so one lock keeps
// every read consistent at no measurable cost.
struct TSettingsState {
    std::mutex Lock;
    uint8_t ProxyMode = pmSystem;
    TNuvWebProxyInfo Proxy;
    uint32_t Timeout = 5000;
    std::u16string ProductToken;
    std::u16string CustomUserAgent;
    std::u16string DefaultUserAgent; // composed on first need, then fixed
    bool DefaultComposed = false;
};

TSettingsState& State() {
    static TSettingsState state;
    return state;
}

// Lock held.
const std::u16string& DefaultUserAgentLocked(TSettingsState& s) {
    if (!s.DefaultComposed) {
        std::u16string token = s.ProductToken.empty() ? std::u16string() : s.ProductToken + u"; ";
        std::u16string system = FromUtf8(platform::OperatingSystemVersion());
        if (system.empty() && !token.empty())
            token.resize(token.size() - 2); // no dangling separator
        s.DefaultUserAgent =
            Format(u"Mozilla/5.0 (%s%s%s) AppleWebKit/537.36 (KHTML, like Gecko)", token, system, u"");
        s.DefaultComposed = true;
    }
    return s.DefaultUserAgent;
}

// A drive letter and colon, or a "\\" share, possibly behind the "\\?\" long-path prefix.
bool StartsWithDrive(std::u16string_view text) {
    if (text.starts_with(u"\\\\?\\"))
        text.remove_prefix(4);
    if (text.size() >= 2 && IsAsciiLetter(text[0]) && text[1] == u':')
        return true;
    return text.starts_with(u"\\\\");
}

} // namespace

uint8_t TNuvWebSettings::ProxyMode() {
    std::lock_guard lock(State().Lock);
    return State().ProxyMode;
}

void TNuvWebSettings::SetProxyMode(uint8_t mode) {
    std::lock_guard lock(State().Lock);
    State().ProxyMode = mode;
}

uint8_t TNuvWebSettings::EffectiveProxyMode() {
    std::lock_guard lock(State().Lock);
    auto& s = State();
    if (s.ProxyMode == pmNamedProxy && Trim(s.Proxy.Server).empty())
        return pmDirect;
    return s.ProxyMode;
}

TNuvWebProxyInfo TNuvWebSettings::Proxy() {
    std::lock_guard lock(State().Lock);
    return State().Proxy;
}

void TNuvWebSettings::SetProxy(const TNuvWebProxyInfo& proxy) {
    std::lock_guard lock(State().Lock);
    State().Proxy = proxy;
}

uint32_t TNuvWebSettings::Timeout() {
    std::lock_guard lock(State().Lock);
    return State().Timeout;
}

void TNuvWebSettings::SetTimeout(int64_t milliseconds) {
    std::lock_guard lock(State().Lock);
    State().Timeout = uint32_t(std::clamp<int64_t>(milliseconds, 1000, 30000));
}

std::u16string TNuvWebSettings::ProductToken() {
    std::lock_guard lock(State().Lock);
    return State().ProductToken;
}

void TNuvWebSettings::SetProductToken(std::u16string_view token) {
    std::lock_guard lock(State().Lock);
    State().ProductToken = token;
}

std::u16string TNuvWebSettings::UserAgent() {
    std::lock_guard lock(State().Lock);
    auto& s = State();
    return s.CustomUserAgent.empty() ? DefaultUserAgentLocked(s) : s.CustomUserAgent;
}

bool TNuvWebSettings::SetUserAgent(std::u16string_view agent) {
    std::lock_guard lock(State().Lock);
    auto& s = State();
    const bool valid = IsValidUserAgent(agent);
    if (!valid || agent.empty() || agent == DefaultUserAgentLocked(s))
        s.CustomUserAgent.clear();
    else
        s.CustomUserAgent = agent;
    return valid;
}

bool TNuvWebSettings::IsValidUserAgent(std::u16string_view agent) {
    return std::none_of(agent.begin(), agent.end(),
                        [](char16_t c) { return (c < u' ' && c != u'\t') || c == u'\x7F'; });
}

std::u16string TNuvWebSettings::DefaultUserAgent() {
    std::lock_guard lock(State().Lock);
    return DefaultUserAgentLocked(State());
}

// ---- addresses

TNuvWebURL TNuvWebURL::Parse(std::u16string_view text, std::u16string_view defaultProtocol) {
    TNuvWebURL url;
    if (const size_t crlf = text.find(u"\r\n"); crlf != text.npos) {
        url.CustomHeaders = text.substr(crlf + 2);
        text = text.substr(0, crlf);
    }
    if (const size_t scheme = text.find(u"://"); scheme != text.npos) {
        url.Protocol = text.substr(0, scheme);
        url.Secured = SameTextAscii(url.Protocol, std::u16string(defaultProtocol) + u"s");
        text.remove_prefix(scheme + 3);
    } else {
        url.Protocol = defaultProtocol;
    }
    if (const size_t slash = text.find(u'/'); slash != text.npos) {
        url.Host = text.substr(0, slash);
        url.Path = text.substr(slash);
    } else {
        url.Host = text;
    }
    // A bracketed IPv6 literal keeps its colons; the port follows the closing bracket.
    size_t searchFrom = 0;
    if (url.Host.starts_with(u'['))
        if (const size_t close = url.Host.find(u']'); close != url.Host.npos)
            searchFrom = close;
    if (const size_t colon = url.Host.find(u':', searchFrom); colon != url.Host.npos) {
        int64_t port = 0;
        if (TryStrToInt(std::u16string_view(url.Host).substr(colon + 1), port) && port >= INT32_MIN &&
            port <= INT32_MAX)
            url.Port = int32_t(port);
        url.Host.resize(colon);
    }
    return url;
}

TNuvWebURL TNuvWebURL::ParseHttp(std::u16string_view text) {
    if (StartsWithDrive(text))
        return Parse(text, u"");
    TNuvWebURL url = Parse(text, u"http");
    if (url.Port == 0)
        url.Port = url.Secured ? 443 : 80;
    return url;
}

std::u16string TNuvWebURL::ToString() const {
    if (Host.empty())
        return {};
    std::u16string text;
    if (!Protocol.empty())
        text += Protocol + u"://";
    text += Host;
    if (Port > 0)
        text += u":" + IntToStr(Port);
    text += Path;
    if (!CustomHeaders.empty())
        text += u"\r\n" + CustomHeaders;
    return text;
}

std::string PercentEncode(std::u16string_view text, bool (*keep)(unsigned char byte)) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(text.size());
    for (const unsigned char b : ToUtf8(text)) {
        if (keep(b)) {
            encoded += char(b);
        } else {
            encoded += '%';
            encoded += hex[b >> 4];
            encoded += hex[b & 15];
        }
    }
    return encoded;
}

std::u16string EncodeURLComponent(std::u16string_view text) {
    return FromAscii(PercentEncode(text, [](unsigned char b) {
        return IsAsciiAlphaNumeric(b) || b == '-' || b == '.' || b == '_' || b == '~';
    }));
}

// ---- errors

ENuvWebError::ENuvWebError(TNuvWebErrorInfo info)
    : Exception(Format(u"Error: %d. %s", info.ErrorCode, info.ErrorMessage)), FInfo(std::move(info)) {}
