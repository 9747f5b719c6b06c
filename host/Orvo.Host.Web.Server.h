#pragma once
// The host's local web server: HTTP on 127.0.0.1 only, for one person's browser and scripts.
// Everything a station server sent may be in what it serves, so every request must carry the
// run's token, come to the served address (no other Host, no other Origin) and change state only
// by POST with the token in a header; every answer carries a content policy that keeps the page
// to its own files. Handlers run on the host's main thread, where the plug-in and the in-memory
// dialogs live; the server's own threads only carry requests there and answers back.
//
// Thread-safety: construct, start and stop on the main thread, which must keep pumping its queue
// while the server runs (a request waits for the main thread to serve it). Publish may be called
// from any thread.

#include "nuv/Nuv.Exceptions.h"
#include "nuv/Nuv.Strings.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// A request as a handler sees it.
struct TOrvoHostWebRequest {
    std::string Method;
    std::string Path;
    // Query parameters in their order (decoded); a name may come more than once.
    std::vector<std::pair<std::string, std::string>> Params;
    std::string Body;
    // Parts of the path a route pattern captured ("/api/catalogs/ID" gives ID).
    std::vector<std::string> Captures;

    // The parameter's first value, or `fallback`.
    std::string Param(std::string_view name, std::string fallback = {}) const;
    std::vector<std::string> ParamValues(std::string_view name) const;
    bool HasParam(std::string_view name) const;
};

struct TOrvoHostWebResponse {
    int Status = 200;
    std::string ContentType = "application/json; charset=utf-8";
    std::string Body;
    std::vector<std::pair<std::string, std::string>> Headers;
};

// What a handler answers when it refuses a request: the status and words for a person, which the
// answer carries as {"error": words}.
class EOrvoHostWebError : public Exception {
public:
    EOrvoHostWebError(int status, std::string_view utf8Words)
        : Exception(FromUtf8(utf8Words)), Status(status) {}
    int Status;
};

// {"error": words}.
std::string WebErrorJson(std::string_view utf8Words);

// Events for the page, fanned out to every listener: each listener gets those published after it
// started listening, in order.
//
// Thread-safety: every member, any thread.
class TOrvoHostWebEvents {
public:
    struct TEvent {
        uint64_t Sequence;
        std::string Name;
        std::string Data;
    };
    void Publish(std::string name, std::string data);
    // The sequence number the next event will get.
    uint64_t Next() const;
    // Waits up to `timeout` for events from `next` on and answers them, moving `next` past them;
    // empty on time-out. `closed` becomes true once Close was called.
    std::vector<TEvent> Wait(uint64_t& next, std::chrono::milliseconds timeout, bool& closed);
    // Wakes every listener for the last time.
    void Close();

private:
    mutable std::mutex FLock;
    std::condition_variable FChanged;
    std::deque<TEvent> FEvents;
    uint64_t FNext = 0;
    bool FClosed = false;
};

class TOrvoHostWebServer {
public:
    using THandler = std::function<TOrvoHostWebResponse(const TOrvoHostWebRequest& request)>;

    // Binds 127.0.0.1 and the port (0: a free one) with a new random token; raises Exception when
    // the port cannot be had.
    explicit TOrvoHostWebServer(int port);
    // Stops the server when it still runs.
    ~TOrvoHostWebServer();
    TOrvoHostWebServer(const TOrvoHostWebServer&) = delete;
    TOrvoHostWebServer& operator=(const TOrvoHostWebServer&) = delete;

    int Port() const;
    const std::string& Token() const { return FToken; }
    // "http://127.0.0.1:PORT/?token=TOKEN": what a person opens.
    std::string Address() const;

    // A route: the method, a pattern of the whole path (ECMAScript; groups are captured), and a
    // handler run on the main thread, or with `onMainThread` false on the server's thread that
    // took the request (for handlers that wait on the network and send to the main thread only
    // what belongs there). POST routes change state and need the token's header.
    void Route(std::string method, std::string pattern, THandler handler, bool onMainThread = true);
    // A stream of `events` as server-sent events at `path`; a comment line every `keepAlive`.
    void EventStream(std::string path, TOrvoHostWebEvents& events,
                     std::chrono::milliseconds keepAlive = std::chrono::seconds(15));

    // Serves on a thread of its own.
    void Start();
    // Stops taking requests, lets those under way finish (pumping the main thread for them),
    // ends the event streams and waits for the server's threads. Main thread.
    void Stop();

    struct TImpl;

private:
    std::string FToken;
    std::unique_ptr<TImpl> FImpl;
};
