// Where WinInet on its own would behave otherwise than the other transport: a read that blocks, a
// proxy that refuses or asks for credentials, a redirect to another host. (The shared suites show
// the rest, time-outs and cancellation of a stalled transfer among them.) Callers must see the
// same outcomes; only the transport's own codes are the system's.

#include "nuv/Nuv.Web.Http.h"

#include "nuv/Nuv.Strings.h"
#include "tests/nuv/Nuv.Web.TestServer.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

using testsupport::ClosedPort;
using testsupport::TLoopbackServer;
using testsupport::TStallingServer;

namespace {

std::string Text(const std::u16string& s) {
    return ToUtf8(s);
}

std::u16string Address(int port, std::string_view path) {
    return FromUtf8("http://127.0.0.1:" + std::to_string(port) + std::string(path));
}

// Proxy settings for one test, restored afterwards.
class TProxy {
public:
    TProxy(int port, std::u16string user, std::u16string password)
        : FMode(TNuvWebSettings::ProxyMode()), FSaved(TNuvWebSettings::Proxy()) {
        TNuvWebSettings::SetProxyMode(pmNamedProxy);
        TNuvWebSettings::SetProxy({u"127.0.0.1", IntToStr(port), std::move(user), std::move(password)});
    }
    ~TProxy() {
        TNuvWebSettings::SetProxyMode(FMode);
        TNuvWebSettings::SetProxy(FSaved);
    }

private:
    uint8_t FMode;
    TNuvWebProxyInfo FSaved;
};

struct TFetched {
    TNuvWebErrorInfo Info;
    std::string Body;
};

TFetched Fetch(const std::u16string& address) {
    TFetched result;
    result.Info = TNuvHttp::Get(address)
                      ->OnData([&](const void* data, int64_t count) {
                          result.Body.append(static_cast<const char*>(data), size_t(count));
                          return true;
                      })
                      .RunInCurrentThread();
    return result;
}

} // namespace

TEST(HttpWinInet, NoServerAndARefusingProxyGiveTheSystemsConnectFailure) {
    const TFetched direct = Fetch(Address(ClosedPort(), "/"));
    EXPECT_EQ(direct.Info.ErrorCode, ERROR_INTERNET_CANNOT_CONNECT) << Text(direct.Info.ErrorMessage);
    EXPECT_FALSE(direct.Info.ErrorMessage.empty());

    // The request fails as a whole: no way round the proxy to the server itself.
    TLoopbackServer origin;
    std::atomic<int> reached{0};
    origin->Get("/via", [&](const httplib::Request&, httplib::Response& res) {
        ++reached;
        res.set_content("origin", "text/plain");
    });
    origin.Start();
    TProxy proxy(ClosedPort(), u"", u"");
    const TFetched viaProxy = Fetch(origin.Url("/via"));
    EXPECT_EQ(viaProxy.Info.ErrorCode, ERROR_INTERNET_CANNOT_CONNECT) << Text(viaProxy.Info.ErrorMessage);
    EXPECT_EQ(reached.load(), 0);
}

TEST(HttpWinInet, ProxyCredentialsAreGivenWhenAskedAndAWrongOneEndsAs407) {
    TLoopbackServer origin;
    origin->Get("/via", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("origin", "text/plain");
    });
    origin.Start();
    TLoopbackServer proxy;
    proxy->Get(".*", [&](const httplib::Request& req, httplib::Response& res) {
        if (req.get_header_value("Proxy-Authorization") != "Basic dXNlcjpzZWNyZXQ=") { // user:secret
            res.status = 407;
            res.set_header("Proxy-Authenticate", "Basic realm=\"loopback\"");
            return;
        }
        httplib::Client client("127.0.0.1", origin.Port());
        auto answer = client.Get(req.path.substr(req.path.find('/', sizeof "http://")).c_str());
        res.status = answer ? answer->status : 502;
        if (answer)
            res.set_content(answer->body + " via proxy", "text/plain");
    });
    proxy.Start();

    {
        TProxy settings(proxy.Port(), u"user", u"secret");
        const TFetched got = Fetch(origin.Url("/via"));
        EXPECT_EQ(got.Info.ErrorCode, 0) << Text(got.Info.ErrorMessage);
        EXPECT_EQ(got.Body, "origin via proxy");
    }
    for (const std::u16string user : {u"", u"intruder"}) {
        TProxy settings(proxy.Port(), user, u"guess");
        const TFetched refused = Fetch(origin.Url("/via"));
        EXPECT_EQ(refused.Info.ErrorCode, 407) << Text(user);
        EXPECT_EQ(Text(refused.Info.ErrorMessage), "Proxy Authentication Required") << Text(user);
    }
}

// A blocked read is ended from the request's own thread, so the caller's check, which runs there
// and nowhere else, stops it as soon as a cancellation of the task would.
TEST(HttpWinInet, TheCallersCheckEndsABlockedRead) {
    TStallingServer server;
    const auto start = std::chrono::steady_clock::now();
    const TNuvWebErrorInfo stopped = TNuvHttp::Get(server.Url())
                                         ->OnData([](const void*, int64_t) { return true; })
                                         .RunInCurrentThread([&] { return server.Stalling(); });
    EXPECT_EQ(stopped.ErrorCode, woCanceled);
    EXPECT_EQ(Text(stopped.ErrorMessage), "The operation has been canceled by user.");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
}

TEST(HttpWinInet, RedirectsToAnotherHostAreFollowedWithTheirCookies) {
    TLoopbackServer target;
    target->Get("/landed", [](const httplib::Request& req, httplib::Response& res) {
        res.set_header("Set-Cookie", "tdx_session=abc; Path=/");
        res.set_content("landed " + req.get_header_value("Cookie"), "text/plain");
    });
    target.Start();
    TLoopbackServer origin;
    const std::u16string elsewhere = target.Url("/landed");
    origin->Get("/away", [&](const httplib::Request&, httplib::Response& res) {
        res.set_redirect(Text(elsewhere), 302);
    });
    const std::string away = "http://localhost:" + std::to_string(origin.Start()) + "/away";

    const TFetched first = Fetch(FromUtf8(away));
    EXPECT_EQ(first.Info.ErrorCode, 0) << Text(first.Info.ErrorMessage);
    EXPECT_TRUE(first.Body.starts_with("landed")) << first.Body;
    EXPECT_EQ(first.Body.find("tdx_session"), std::string::npos);
    // The cookie the server set reaches it again on the next request, as with any other transport.
    EXPECT_NE(Fetch(elsewhere).Body.find("tdx_session=abc"), std::string::npos);
}
