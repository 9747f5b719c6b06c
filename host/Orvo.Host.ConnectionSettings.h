#pragma once
// The connection-settings service ("IORVOSrvConnCfg"): the proxy, time-out and user agent the
// host wants downloads to use, taken from the command line and the environment.

#include "sdk/apiWrappers.h"

#include <cstdint>
#include <string>
#include <string_view>

// What the service answers. The defaults are what a player configured by nobody answers: the
// system's proxy settings, five seconds, and the plug-in's own user agent.
struct TOrvoHostConnection {
    // ORVO_PROXY_MODE_*.
    int32_t ProxyMode = ORVO_PROXY_MODE_SYSTEM;
    std::u16string ProxyServer;
    std::u16string ProxyPort;
    std::u16string ProxyUserName;
    std::u16string ProxyPassword;
    int32_t Timeout = 5000;
    // Empty: the plug-in's default user agent.
    std::u16string UserAgent;

    // Takes a proxy as a user writes it: "direct", "system", or
    // "[scheme://][user[:password]@]host[:port]" (an IPv6 host in brackets) for a named proxy,
    // the scheme staying with the server. Raises EArgumentError for a text that names nothing.
    void SetProxy(std::string_view text);
    // The proxy as SetProxy takes it: "direct", "system" or "[scheme://][user[:password]@]host[:port]".
    std::string ProxyText() const;
    // Takes a time-out in milliseconds (decimal, not negative); raises EArgumentError otherwise.
    void SetTimeout(std::string_view text);
    // Takes a user agent of one line; raises EArgumentError for one with a line break or another
    // control character, which would add header lines to every request.
    void SetUserAgent(std::string_view text);

    // The defaults, changed by TUNEDEX_PROXY, TUNEDEX_TIMEOUT and TUNEDEX_USER_AGENT where they
    // are set and not empty. Raises EArgumentError naming the variable whose value is unusable.
    static TOrvoHostConnection FromEnvironment();
};

// Thread-safety: read-only after creation; any thread.
class TOrvoHostConnectionSettings : public TOrvoPropertyList {
public:
    static ComPtr<TOrvoHostConnectionSettings> Create(TOrvoHostConnection settings);

    const TOrvoHostConnection& Settings() const { return FSettings; }

protected:
    explicit TOrvoHostConnectionSettings(TOrvoHostConnection settings) : FSettings(std::move(settings)) {}
    template <typename T, typename... Args> friend ComPtr<T> MakeInterfaced(Args&&... args);

    void* GetInterface(const TGUID& iid) override;
    void DoGetValue(int32_t propId, TOrvoPropValue& value, HRESULT& result) override;
    // Texts become the host's own strings: the service must not depend on a plug-in's core.
    ComPtr<IUnknown> DoGetValueAsObject(int32_t propId) override;

private:
    const TOrvoHostConnection FSettings;
};
