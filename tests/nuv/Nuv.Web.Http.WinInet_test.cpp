// Where WinInet on its own would behave otherwise than the other transport: a read that blocks, a
// proxy that refuses or asks for credentials, a redirect to another host. Callers must see the
// same outcomes; only the transport's own codes are the system's.

#include "nuv/Nuv.Web.Http.h"

#include "nuv/Nuv.Strings.h"
#include "tests/nuv/Nuv.Web.TestServer.h"

#include <gtest/gtest.h>

#include <winsock2.h>

#include <wininet.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

using testsupport::TLoopbackServer;

namespace {

std::string Text(const std::u16string& s) {
    return ToUtf8(s);
}

std::u16string Address(int port, std::string_view path) {
    return FromUtf8("http://127.0.0.1:" + std::to_string(port) + std::string(path));
}

// A TCP socket on 127.0.0.1 and a free port; listening when asked, else just holding the port.
class TLoopbackSocket {
public:
    explicit TLoopbackSocket(bool listening) {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        FSocket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(FSocket, reinterpret_cast<sockaddr*>(&address), sizeof address);
        int length = sizeof address;
        ::getsockname(FSocket, reinterpret_cast<sockaddr*>(&address), &length);
        FPort = ntohs(address.sin_port);
        if (listening)
            ::listen(FSocket, 4);
    }
    ~TLoopbackSocket() {
        Close();
        WSACleanup();
    }
    void Close() {
        if (FSocket != INVALID_SOCKET)
            ::closesocket(FSocket);
        FSocket = INVALID_SOCKET;
    }
    SOCKET Handle() const { return FSocket; }
    int Port() const { return FPort; }

private:
    SOCKET FSocket = INVALID_SOCKET;
    int FPort = 0;
};

// A port nobody listens on: bound a moment ago, then closed.
int ClosedPort() {
    TLoopbackSocket socket(false);
    return socket.Port();
}

// Answers one request with its headers and part of the body, then sends nothing until it stops.
class TStallingServer {
public:
    TStallingServer() : FListener(true) {
        FThread = std::thread([this] { Serve(); });
    }
    ~TStallingServer() {
        FStop = true;
        FThread.join();
    }
    std::u16string Url() const { return Address(FListener.Port(), "/stall"); }
    bool Stalling() const { return FStalling; }

private:
    void Serve() {
        SOCKET client = INVALID_SOCKET;
        while (!FStop) {
            WSAPOLLFD ready{client == INVALID_SOCKET ? FListener.Handle() : client, POLLRDNORM, 0};
            if (WSAPoll(&ready, 1, 20) <= 0)
                continue;
            if (client == INVALID_SOCKET) {
                client = ::accept(FListener.Handle(), nullptr, nullptr);
                continue;
            }
            char buffer[4096];
            if (::recv(client, buffer, sizeof buffer, 0) <= 0 || FStalling)
                break;
            const char head[] = "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\npartial";
            FStalling = ::send(client, head, sizeof head - 1, 0) > 0;
        }
        while (!FStop)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (client != INVALID_SOCKET)
            ::closesocket(client);
    }

    TLoopbackSocket FListener;
    std::thread FThread;
    std::atomic<bool> FStop{false}, FStalling{false};
};

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

TEST(HttpWinInet, AStalledReadEndsAtTheTimeOutWithTheCommonText) {
    const uint32_t saved = TNuvWebSettings::Timeout();
    TNuvWebSettings::SetTimeout(1000);
    TStallingServer server;
    const auto start = std::chrono::steady_clock::now();
    const TFetched got = Fetch(server.Url());
    const auto took = std::chrono::steady_clock::now() - start;
    TNuvWebSettings::SetTimeout(saved);
    EXPECT_EQ(got.Info.ErrorCode, ERROR_INTERNET_TIMEOUT) << Text(got.Info.ErrorMessage);
    EXPECT_EQ(Text(got.Info.ErrorMessage), "Operation timed out: no data for 1000 milliseconds");
    EXPECT_EQ(got.Body, "partial");
    EXPECT_GE(took, std::chrono::milliseconds(950));
    EXPECT_LT(took, std::chrono::milliseconds(2500));
}

TEST(HttpWinInet, CancellingABlockedReadEndsTheRequestAtOnce) {
    TStallingServer server;
    std::promise<TNuvWebErrorInfo> outcome;
    const TaskHandle handle = TNuvHttp::Get(server.Url())
                                  ->OnData([](const void*, int64_t) { return true; })
                                  .OnComplete([&](const TNuvWebErrorInfo& info) { outcome.set_value(info); })
                                  .Run();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!server.Stalling() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(server.Stalling());
    std::this_thread::sleep_for(std::chrono::milliseconds(100)); // well into the blocked read
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(TaskDispatcher().Cancel(handle, true));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(outcome.get_future().get().ErrorCode, woCanceled);

    // The caller's own check ends a blocked read as soon.
    const auto checkStart = std::chrono::steady_clock::now();
    const TNuvWebErrorInfo stopped = TNuvHttp::Get(server.Url())->RunInCurrentThread([&] {
        return std::chrono::steady_clock::now() - checkStart > std::chrono::milliseconds(300);
    });
    EXPECT_EQ(stopped.ErrorCode, woCanceled);
    EXPECT_LT(std::chrono::steady_clock::now() - checkStart, std::chrono::milliseconds(1000));
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
