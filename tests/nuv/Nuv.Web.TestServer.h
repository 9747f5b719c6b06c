#pragma once
// A real HTTP(S) server on 127.0.0.1 and an ephemeral port, running in the test process.

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include <unistd.h>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#endif

namespace testsupport {

class TLoopbackServer {
public:
    // Plain HTTP.
    TLoopbackServer() : FServer(std::make_unique<httplib::Server>()) {}
#ifdef CPPHTTPLIB_OPENSSL_SUPPORT
    // HTTPS with the given certificate and key files.
    TLoopbackServer(const std::string& certFile, const std::string& keyFile)
        : FServer(std::make_unique<httplib::SSLServer>(certFile.c_str(), keyFile.c_str())) {}
#endif
    ~TLoopbackServer() {
        Stop();
    }

    httplib::Server& operator*() {
        return *FServer;
    }
    httplib::Server* operator->() {
        return FServer.get();
    }

    // Binds and serves in a thread of its own; returns the port.
    int Start() {
        // One request per connection: a client that keeps its connection for the next request
        // would hold Stop for the whole keep-alive time.
        FServer->set_keep_alive_max_count(1);
        FPort = FServer->bind_to_any_port("127.0.0.1");
        FThread = std::thread([this] { FServer->listen_after_bind(); });
        // Stopping before the loop runs would leave the thread listening for ever.
        while (!FServer->is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return FPort;
    }
    void Stop() {
        if (FThread.joinable()) {
            FServer->stop();
            FThread.join();
        }
    }
    int Port() const {
        return FPort;
    }
    std::u16string Url(std::string_view path) const {
        const std::string text = "http://127.0.0.1:" + std::to_string(FPort) + std::string(path);
        return std::u16string(text.begin(), text.end());
    }

private:
    std::unique_ptr<httplib::Server> FServer;
    std::thread FThread;
    int FPort = 0;
};

// A TCP socket on 127.0.0.1 and a free port, listening or only holding the port.
class TLoopbackSocket {
public:
#ifdef _WIN32
    using THandle = SOCKET;
    static constexpr THandle kNone = INVALID_SOCKET;
#else
    using THandle = int;
    static constexpr THandle kNone = -1;
#endif

    explicit TLoopbackSocket(bool listening) {
#ifdef _WIN32
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
#endif
        FHandle = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(FHandle, reinterpret_cast<sockaddr*>(&address), sizeof address);
#ifdef _WIN32
        int length = sizeof address;
#else
        socklen_t length = sizeof address;
#endif
        ::getsockname(FHandle, reinterpret_cast<sockaddr*>(&address), &length);
        FPort = ntohs(address.sin_port);
        if (listening)
            ::listen(FHandle, 4);
    }
    ~TLoopbackSocket() {
        Close(FHandle);
#ifdef _WIN32
        WSACleanup();
#endif
    }
    TLoopbackSocket(const TLoopbackSocket&) = delete;
    TLoopbackSocket& operator=(const TLoopbackSocket&) = delete;

    THandle Handle() const {
        return FHandle;
    }
    int Port() const {
        return FPort;
    }

    // Waits up to milliseconds for the socket to have something to read.
    static bool Readable(THandle handle, int milliseconds) {
#ifdef _WIN32
        WSAPOLLFD ready{handle, POLLRDNORM, 0};
        return WSAPoll(&ready, 1, milliseconds) > 0;
#else
        pollfd ready{handle, POLLIN, 0};
        return ::poll(&ready, 1, milliseconds) > 0;
#endif
    }
    static void Close(THandle handle) {
#ifdef _WIN32
        if (handle != kNone)
            ::closesocket(handle);
#else
        if (handle != kNone)
            ::close(handle);
#endif
    }

private:
    THandle FHandle = kNone;
    int FPort = 0;
};

// A port nobody listens on: bound a moment ago, then closed.
inline int ClosedPort() {
    const TLoopbackSocket socket(false);
    return socket.Port();
}

// A server that answers one request with its headers and part of the body, and then sends nothing
// until it stops.
class TStallingServer {
public:
    TStallingServer() : FListener(true) {
        FThread = std::thread([this] { Serve(); });
    }
    ~TStallingServer() {
        FStop = true;
        FThread.join();
    }
    std::u16string Url() const {
        const std::string text = "http://127.0.0.1:" + std::to_string(FListener.Port()) + "/stall";
        return std::u16string(text.begin(), text.end());
    }
    bool Stalling() const { return FStalling; }

private:
    void Serve() {
        TLoopbackSocket::THandle client = TLoopbackSocket::kNone;
        while (!FStop) {
            const bool accepting = client == TLoopbackSocket::kNone;
            if (!TLoopbackSocket::Readable(accepting ? FListener.Handle() : client, 20))
                continue;
            if (accepting) {
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
        TLoopbackSocket::Close(client);
    }

    TLoopbackSocket FListener;
    std::thread FThread;
    std::atomic<bool> FStop{false}, FStalling{false};
};

#ifdef CPPHTTPLIB_OPENSSL_SUPPORT
// A self-signed certificate for 127.0.0.1, made once per process in a scratch folder that is
// removed at exit.
class TTestCertificate {
public:
    static const TTestCertificate& Get() {
        static const TTestCertificate cert;
        return cert;
    }
    TTestCertificate(const TTestCertificate&) = delete;
    ~TTestCertificate() {
        std::error_code ignored;
        std::filesystem::remove_all(FDir, ignored);
    }

    std::string CertFile, KeyFile;
    bool Made = false;

private:
    TTestCertificate() {
        FDir = std::filesystem::temp_directory_path() / ("tunedex-cert-" + std::to_string(::getpid()));
        std::filesystem::create_directories(FDir);
        CertFile = (FDir / "cert.pem").string();
        KeyFile = (FDir / "key.pem").string();
        const std::string command =
            "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
            "-days 2 -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout '" +
            KeyFile + "' -out '" + CertFile + "' >/dev/null 2>&1";
        Made = std::system(command.c_str()) == 0;
    }
    std::filesystem::path FDir;
};
#endif

} // namespace testsupport
