#pragma once
// Loopback stand-ins for the Radio Browser service: an API server answering from the recorded
// responses of the public corpus, and a name server answering the SRV query with chosen targets.

#include "tests/TestSupport.h"
#include "tests/nuv/Nuv.Web.TestServer.h"

#ifdef _WIN32
#include <winsock2.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cstdint>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// An API server. Every route answers from a corpus file; a route without one, or a value it has
// no recording for, answers "[]" as the real service does. Tests may replace any answer.
class TRadioBrowserStandIn {
public:
    // `corpus` is the radiobrowser folder of the corpora.
    explicit TRadioBrowserStandIn(const std::filesystem::path& corpus) {
        const auto recorded = corpus / "pyradios" / "responses";
        const auto fixtures = corpus / "python-radios";
        FBodies["/json/stations"] =
            Read(recorded / "test_facet_narrow_broaden__00__json_stations_search_countrycode_be.json");
        FBodies["/json/stations/bycountryexact/Belgium"] = FBodies["/json/stations"];
        FBodies["/json/stations/bylanguageexact/dutch"] =
            Read(recorded /
                 "test_facet_narrow_broaden__01__json_stations_search_countrycode_be_language_dutch.json");
        FBodies["/json/stations/bytagexact/classical"] =
            Read(recorded / "test_facet_narrow_broaden__06__json_stations_search_limit_10_name_klara_"
                            "nameExact_false_tag_classical.json");
        FBodies["/json/countries"] = Read(fixtures / "countries.json");
        FBodies["/json/languages"] = Read(fixtures / "languages.json");
        FBodies["/json/tags"] = Read(fixtures / "tags.json");

        FServer->Get(R"(/json/.*)", [this](const httplib::Request& request, httplib::Response& response) {
            std::string body = "[]";
            THook hook;
            {
                std::lock_guard lock(FLock);
                FRequests.push_back(request.path);
                FTargets.push_back(request.target);
                if (auto it = FBodies.find(request.path); it != FBodies.end())
                    body = it->second;
                hook = FHook;
            }
            if (hook)
                hook(request.path, response, body);
            // A hook that streams the answer itself keeps it.
            if (!response.content_provider_)
                response.set_content(body, "application/json");
        });
        FServer.Start();
    }

    // The server as a catalogue names it: "127.0.0.1:port".
    std::u16string Server() const {
        const std::string text = "127.0.0.1:" + std::to_string(FServer.Port());
        return std::u16string(text.begin(), text.end());
    }
    // Answers `path` (as decoded from the request) with `body` from now on.
    void Serve(const std::string& path, std::string body) {
        std::lock_guard lock(FLock);
        FBodies[path] = std::move(body);
    }
    // Called for every request before it is answered; it may hold the answer back, change the
    // status or the body.
    using THook =
        std::function<void(const std::string& path, httplib::Response& response, std::string& body)>;
    void SetHook(THook hook) {
        std::lock_guard lock(FLock);
        FHook = std::move(hook);
    }
    const std::string& Body(const std::string& path) { return FBodies.at(path); }
    // Paths asked for, decoded, and the request targets exactly as they arrived.
    std::vector<std::string> Requests() {
        std::lock_guard lock(FLock);
        return FRequests;
    }
    std::vector<std::string> Targets() {
        std::lock_guard lock(FLock);
        return FTargets;
    }
    httplib::Server& Http() { return *FServer; }

private:
    static std::string Read(const std::filesystem::path& file) {
        std::ifstream in(file, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::mutex FLock;
    std::map<std::string, std::string> FBodies;
    std::vector<std::string> FRequests;
    std::vector<std::string> FTargets;
    THook FHook;
    // Last, so that it stops before the tables its handler reads go.
    TLoopbackServer FServer;
};

// A name server on a loopback address that answers every query with the given SRV targets, in the
// given order; or refuses; or stays silent. On a free UDP port of 127.0.0.1, except on Windows,
// whose DNS client asks name servers on the DNS port only: there it takes that port on a loopback
// address of its own (the process's), so that test processes running side by side do not meet.
class TSrvNameServer {
public:
    enum TMode { Answer, Refuse, Silent };

    explicit TSrvNameServer(std::vector<std::string> targets, TMode mode = Answer)
        : FTargets(std::move(targets)), FMode(mode) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
#ifdef _WIN32
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        const unsigned process = unsigned(GetCurrentProcessId());
        address.sin_addr.s_addr = htonl(0x7F000001u | ((process & 0xFFFFu) << 8));
        address.sin_port = htons(53);
#endif
        FSocket = ::socket(AF_INET, SOCK_DGRAM, 0);
        FBound = ::bind(FSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        TLength length = sizeof address;
        ::getsockname(FSocket, reinterpret_cast<sockaddr*>(&address), &length);
        FHost = FormatAddress(address.sin_addr);
        FPort = ntohs(address.sin_port);
        FThread = std::thread([this] { Serve(); });
    }
    ~TSrvNameServer() {
        FStop = true;
        FThread.join();
#ifdef _WIN32
        ::closesocket(FSocket);
        WSACleanup();
#else
        ::close(FSocket);
#endif
    }
    TSrvNameServer(const TSrvNameServer&) = delete;
    TSrvNameServer& operator=(const TSrvNameServer&) = delete;

    // "address:port", as TUNEDEX_DNS_SERVER takes it.
    std::string Address() const {
        return FHost + ":" + std::to_string(FPort);
    }
    // False when the address could not be taken (on Windows: another program holds the DNS port).
    bool Bound() const {
        return FBound;
    }
    // False where the system's DNS client reads no SRV answer from this server: Wine's takes no
    // answer from a server in the asking process and calls every SRV answer a bad packet. Tests
    // that need the answer skip there; refusals and silence still end as failures.
    static bool AnswersAreRead() {
#ifdef _WIN32
        return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") == nullptr;
#else
        return true;
#endif
    }
    int Queries() const {
        return FQueries;
    }
    // The name asked for last, dotted.
    std::string LastName() {
        std::lock_guard lock(FLock);
        return FLastName;
    }

private:
#ifdef _WIN32
    using TSocket = SOCKET;
    using TLength = int;
    static int Poll(TSocket socket) {
        WSAPOLLFD fd{socket, POLLRDNORM, 0};
        return WSAPoll(&fd, 1, 20);
    }
#else
    using TSocket = int;
    using TLength = socklen_t;
    static int Poll(TSocket socket) {
        pollfd fd{socket, POLLIN, 0};
        return ::poll(&fd, 1, 20);
    }
#endif
    static std::string FormatAddress(in_addr address) {
        const uint32_t host = ntohl(address.s_addr);
        return std::to_string(host >> 24) + "." + std::to_string((host >> 16) & 0xFF) + "." +
               std::to_string((host >> 8) & 0xFF) + "." + std::to_string(host & 0xFF);
    }

    void Serve() {
        while (!FStop) {
            if (Poll(FSocket) <= 0)
                continue;
            char query[512];
            sockaddr_in from{};
            TLength fromLength = sizeof from;
            const auto n =
                ::recvfrom(FSocket, query, sizeof query, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (n < 12)
                continue;
            ++FQueries;
            // The question: labels up to the root, then type and class.
            size_t end = 12;
            std::string name;
            while (end < size_t(n) && query[end] != 0) {
                const size_t label = uint8_t(query[end]);
                if (!name.empty())
                    name += '.';
                name.append(reinterpret_cast<const char*>(query + end + 1), label);
                end += label + 1;
            }
            end += 1 + 4;
            {
                std::lock_guard lock(FLock);
                FLastName = name;
            }
            if (FMode == Silent || end > size_t(n))
                continue;
            std::vector<uint8_t> reply(query, query + end);
            reply[2] = 0x81; // response, recursion desired
            reply[3] = FMode == Refuse ? 0x85 : 0x80;
            const size_t answers = FMode == Refuse ? 0 : FTargets.size();
            reply[4] = 0, reply[5] = 1;
            reply[6] = uint8_t(answers >> 8), reply[7] = uint8_t(answers);
            std::fill(reply.begin() + 8, reply.begin() + 12, 0);
            for (size_t i = 0; i < answers; ++i) {
                std::vector<uint8_t> data = {0, 10, 0, 1, 0x01, 0xBB}; // priority, weight, port 443
                std::string target = FTargets[i];
                // Labels as written, spaces and all; an empty target is the root.
                for (size_t start = 0; start < target.size();) {
                    size_t dot = target.find('.', start);
                    if (dot == std::string::npos)
                        dot = target.size();
                    data.push_back(uint8_t(dot - start));
                    data.insert(data.end(), target.begin() + long(start), target.begin() + long(dot));
                    start = dot + 1;
                }
                data.push_back(0);
                const uint8_t head[] = {
                    0xC0, 0x0C, 0, 33, 0, 1, 0, 0, 1, 0x2C, uint8_t(data.size() >> 8), uint8_t(data.size())};
                reply.insert(reply.end(), std::begin(head), std::end(head));
                reply.insert(reply.end(), data.begin(), data.end());
            }
            ::sendto(FSocket, reinterpret_cast<const char*>(reply.data()), int(reply.size()), 0,
                     reinterpret_cast<sockaddr*>(&from), fromLength);
        }
    }

    std::vector<std::string> FTargets;
    TMode FMode;
    TSocket FSocket{};
    bool FBound = false;
    std::string FHost;
    int FPort = 0;
    std::atomic<bool> FStop{false};
    std::atomic<int> FQueries{0};
    std::mutex FLock;
    std::string FLastName;
    std::thread FThread;
};

} // namespace testsupport
