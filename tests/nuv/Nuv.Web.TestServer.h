#pragma once
// A real HTTP(S) server on 127.0.0.1 and an ephemeral port, running in the test process.

#include <httplib.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include <unistd.h>

namespace testsupport {

class TLoopbackServer {
public:
    // Plain HTTP.
    TLoopbackServer() : FServer(std::make_unique<httplib::Server>()) {}
    // HTTPS with the given certificate and key files.
    TLoopbackServer(const std::string& certFile, const std::string& keyFile)
        : FServer(std::make_unique<httplib::SSLServer>(certFile.c_str(), keyFile.c_str())) {}
    ~TLoopbackServer() { Stop(); }

    httplib::Server& operator*() { return *FServer; }
    httplib::Server* operator->() { return FServer.get(); }

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
    int Port() const { return FPort; }
    std::u16string Url(std::string_view path) const {
        const std::string text = "http://127.0.0.1:" + std::to_string(FPort) + std::string(path);
        return std::u16string(text.begin(), text.end());
    }

private:
    std::unique_ptr<httplib::Server> FServer;
    std::thread FThread;
    int FPort = 0;
};

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

} // namespace testsupport
