#include "host/Orvo.Host.Web.Server.h"

#include "host/Orvo.Host.Web.Files.h"
#include "platform/Platform.System.h"
#include "platform/Platform.Threads.h"

#include <httplib.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <atomic>
#include <iostream>
#include <regex>
#include <thread>

namespace {

// Scripts, styles and images come from the served address only; streams may come from anywhere,
// since a station's stream is what the page plays.
constexpr const char* kContentPolicy = "default-src 'self'; media-src * blob: data:; img-src 'self' data:; "
                                       "object-src 'none'; base-uri 'none'; frame-ancestors 'none'";
constexpr const char* kCookie = "tunedex_token";
constexpr const char* kTokenHeader = "X-Tunedex-Token";
constexpr const char* kNeedsToken = "This page needs the address tunedex serve printed.";
constexpr const char* kForeignPage = "This server answers only the page it serves itself, at the address "
                                     "tunedex serve printed.";

// Equal texts, compared in a time that does not tell how much of a guess was right.
bool SameSecret(std::string_view given, std::string_view secret) {
    if (given.size() != secret.size() || secret.empty())
        return false;
    unsigned char difference = 0;
    for (size_t i = 0; i < secret.size(); ++i)
        difference |= static_cast<unsigned char>(given[i] ^ secret[i]);
    return difference == 0;
}

std::string CookieValue(const httplib::Request& request, std::string_view name) {
    const std::string header = request.get_header_value("Cookie");
    size_t at = 0;
    while (at < header.size()) {
        size_t end = header.find(';', at);
        if (end == std::string::npos)
            end = header.size();
        std::string_view pair = std::string_view(header).substr(at, end - at);
        while (!pair.empty() && pair.front() == ' ')
            pair.remove_prefix(1);
        if (const size_t equals = pair.find('='); equals != pair.npos && pair.substr(0, equals) == name)
            return std::string(pair.substr(equals + 1));
        at = end + 1;
    }
    return {};
}

// The page with the token in its <meta name="tunedex-token"> element, where its script reads it.
std::string WithToken(std::string_view page, const std::string& token) {
    std::string text(page);
    const size_t meta = text.find("<meta name=\"tunedex-token\"");
    if (meta == std::string::npos)
        return text;
    const size_t end = text.find('>', meta);
    if (end == std::string::npos)
        return text;
    const size_t content = text.find("content=\"", meta);
    if (content != std::string::npos && content < end) {
        const size_t value = content + 9;
        const size_t close = text.find('"', value);
        if (close != std::string::npos && close < end)
            text.replace(value, close - value, token);
        return text;
    }
    const size_t at = end > meta && text[end - 1] == '/' ? end - 1 : end;
    text.insert(at, " content=\"" + token + "\"");
    return text;
}

void SetCommonHeaders(httplib::Response& response, bool api) {
    response.set_header("Content-Security-Policy", kContentPolicy);
    response.set_header("X-Content-Type-Options", "nosniff");
    response.set_header("Referrer-Policy", "no-referrer");
    if (api)
        response.set_header("Cache-Control", "no-store");
}

void SetError(httplib::Response& response, int status, std::string_view words) {
    response.status = status;
    response.set_content(WebErrorJson(words), "application/json; charset=utf-8");
}

struct TRoute {
    std::string Method;
    std::regex Pattern;
    TOrvoHostWebServer::THandler Handler;
    bool OnMainThread;
};

struct TStream {
    std::string Path;
    TOrvoHostWebEvents* Events;
    std::chrono::milliseconds KeepAlive;
};

} // namespace

std::string WebErrorJson(std::string_view utf8Words) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.StartObject();
    writer.Key("error");
    writer.String(utf8Words.data(), rapidjson::SizeType(utf8Words.size()));
    writer.EndObject();
    return buffer.GetString();
}

// ---- the request

std::string TOrvoHostWebRequest::Param(std::string_view name, std::string fallback) const {
    for (const auto& [key, value] : Params)
        if (key == name)
            return value;
    return fallback;
}

std::vector<std::string> TOrvoHostWebRequest::ParamValues(std::string_view name) const {
    std::vector<std::string> values;
    for (const auto& [key, value] : Params)
        if (key == name)
            values.push_back(value);
    return values;
}

bool TOrvoHostWebRequest::HasParam(std::string_view name) const {
    for (const auto& param : Params)
        if (param.first == name)
            return true;
    return false;
}

// ---- the events

void TOrvoHostWebEvents::Publish(std::string name, std::string data) {
    {
        std::lock_guard lock(FLock);
        FEvents.push_back({FNext++, std::move(name), std::move(data)});
        // A listener that fell this far behind has gone; the page reloads what it shows anyway.
        while (FEvents.size() > 1000)
            FEvents.pop_front();
    }
    FChanged.notify_all();
}

uint64_t TOrvoHostWebEvents::Next() const {
    std::lock_guard lock(FLock);
    return FNext;
}

std::vector<TOrvoHostWebEvents::TEvent>
TOrvoHostWebEvents::Wait(uint64_t& next, std::chrono::milliseconds timeout, bool& closed) {
    std::unique_lock lock(FLock);
    FChanged.wait_for(lock, timeout, [&] { return FClosed || FNext > next; });
    closed = FClosed;
    std::vector<TEvent> events;
    for (const TEvent& event : FEvents)
        if (event.Sequence >= next)
            events.push_back(event);
    next = FNext;
    return events;
}

void TOrvoHostWebEvents::Close() {
    {
        std::lock_guard lock(FLock);
        FClosed = true;
    }
    FChanged.notify_all();
}

// ---- the server

struct TOrvoHostWebServer::TImpl {
    httplib::Server Http;
    int Port = 0;
    std::vector<TRoute> Routes;
    std::vector<TStream> Streams;
    std::thread Listener;
    std::atomic<bool> Listening{false};
    // Event streams still sending.
    std::atomic<int> Streaming{0};

    // Whether the request came to the served address from a page of it (or from no page at all).
    bool SameOrigin(const httplib::Request& request) const {
        const std::string port = std::to_string(Port);
        const std::string host = request.get_header_value("Host");
        if (host != "127.0.0.1:" + port && host != "localhost:" + port)
            return false;
        if (!request.has_header("Origin"))
            return true;
        const std::string origin = request.get_header_value("Origin");
        return origin == "http://127.0.0.1:" + port || origin == "http://localhost:" + port;
    }
};

TOrvoHostWebServer::TOrvoHostWebServer(int port)
    : FToken(platform::RandomHex(16)), FImpl(std::make_unique<TImpl>()) {
    httplib::Server& http = FImpl->Http;
    // The page keeps an event stream open besides its requests.
    http.new_task_queue = [] { return new httplib::ThreadPool(16); };
    // Short, so that stopping does not wait long for idle connections.
    http.set_keep_alive_timeout(1);
    http.set_payload_max_length(1 << 20);
    if (port == 0) {
        FImpl->Port = http.bind_to_any_port("127.0.0.1");
    } else if (http.bind_to_port("127.0.0.1", port)) {
        FImpl->Port = port;
    }
    if (FImpl->Port <= 0)
        throw Exception(port == 0 ? std::u16string(u"No free port on 127.0.0.1 could be had")
                                  : Format(u"The port %d on 127.0.0.1 could not be had; it may be in use",
                                           int64_t(port)));

    const auto dispatch = [this](const httplib::Request& request, httplib::Response& response) {
        TImpl& impl = *FImpl;
        const bool api = request.path.starts_with("/api/");
        SetCommonHeaders(response, api || request.path == "/" || request.path == "/index.html");
        if (!impl.SameOrigin(request))
            return SetError(response, 403, kForeignPage);
        const std::string header = request.get_header_value(kTokenHeader);
        const std::string query = request.get_param_value("token");
        const bool byHeader = SameSecret(header, FToken);
        if (!byHeader && !SameSecret(query, FToken) && !SameSecret(CookieValue(request, kCookie), FToken))
            return SetError(response, 403, kNeedsToken);
        const bool get = request.method == "GET" || request.method == "HEAD";
        // The first visit: the token becomes the cookie and leaves the address bar.
        if (get && request.path == "/" && !query.empty()) {
            response.set_header("Set-Cookie",
                                std::string(kCookie) + "=" + FToken + "; HttpOnly; SameSite=Strict; Path=/");
            response.set_redirect("/", 303);
            return;
        }
        for (const TStream& stream : impl.Streams)
            if (stream.Path == request.path) {
                if (!get)
                    return SetError(response, 405, "This address is only read, with GET.");
                response.set_header("Cache-Control", "no-store");
                TOrvoHostWebEvents* events = stream.Events;
                const auto keepAlive = stream.KeepAlive;
                auto next = std::make_shared<uint64_t>(events->Next());
                ++impl.Streaming;
                response.set_chunked_content_provider(
                    "text/event-stream",
                    [events, keepAlive, next](size_t offset, httplib::DataSink& sink) {
                        // A greeting at once, so that a listener knows from when on it hears.
                        if (offset == 0)
                            return sink.write(": listening\n\n", 13);
                        bool closed = false;
                        std::string text;
                        for (const auto& event : events->Wait(*next, keepAlive, closed))
                            text += "event: " + event.Name + "\ndata: " + event.Data + "\n\n";
                        if (text.empty() && !closed)
                            text = ": keep-alive\n\n";
                        if (!text.empty() && !sink.write(text.data(), text.size()))
                            return false;
                        if (closed)
                            sink.done();
                        return true;
                    },
                    [&impl](bool) {
                        --impl.Streaming;
                        platform::WakeMainThread();
                    });
                return;
            }

        TOrvoHostWebRequest call{
            request.method == "HEAD" ? "GET" : request.method, request.path, {}, request.body, {}};
        for (const auto& param : request.params)
            call.Params.push_back(param);
        const TRoute* route = nullptr;
        bool otherMethod = false;
        for (const TRoute& candidate : impl.Routes) {
            std::smatch match;
            if (!std::regex_match(request.path, match, candidate.Pattern))
                continue;
            if (candidate.Method != call.Method) {
                otherMethod = true;
                continue;
            }
            route = &candidate;
            for (size_t i = 1; i < match.size(); ++i)
                call.Captures.push_back(match[i].str());
            break;
        }
        if (!route && !api && get) {
            const std::string path = request.path == "/" ? "index.html" : request.path.substr(1);
            if (const TOrvoHostWebFile* file = FindWebFile(path)) {
                response.set_content(path == "index.html" ? WithToken(file->Bytes, FToken)
                                                          : std::string(file->Bytes),
                                     std::string(file->ContentType));
                return;
            }
        }
        if (!route)
            return otherMethod ? SetError(response, 405,
                                          call.Method == "POST" ? "This address is only read, with GET."
                                                                : "This address changes things: use POST.")
                               : SetError(response, 404, "Nothing is served at this address.");
        // A page of another site cannot set this header, and the cookie alone would let it.
        if (call.Method == "POST" && !byHeader)
            return SetError(response, 403, kNeedsToken);

        TOrvoHostWebResponse answer;
        const auto run = [&] {
            try {
                answer = route->Handler(call);
            } catch (const EOrvoHostWebError& e) {
                answer = {e.Status, "application/json; charset=utf-8", WebErrorJson(e.what()), {}};
            } catch (const std::exception& e) {
                // The reason stays with the person who started the server; the page gets none of
                // the host's inner workings.
                std::cerr << "tunedex serve: " << request.method << ' ' << request.path << ": " << e.what()
                          << '\n';
                answer = {500,
                          "application/json; charset=utf-8",
                          WebErrorJson("The host could not carry out the request."),
                          {}};
            }
        };
        if (route->OnMainThread)
            platform::SendToMainThread(run);
        else
            run();
        response.status = answer.Status;
        for (const auto& [name, value] : answer.Headers)
            response.set_header(name, value);
        response.set_content(std::move(answer.Body), answer.ContentType);
    };
    http.Get(".*", dispatch);
    http.Post(".*", dispatch);
    http.Put(".*", dispatch);
    http.Delete(".*", dispatch);
    http.Patch(".*", dispatch);
    http.Options(".*", dispatch);
}

TOrvoHostWebServer::~TOrvoHostWebServer() {
    try {
        Stop();
    } catch (...) {
        // A destructor stops as far as it can.
    }
}

int TOrvoHostWebServer::Port() const {
    return FImpl->Port;
}

std::string TOrvoHostWebServer::Address() const {
    return "http://127.0.0.1:" + std::to_string(FImpl->Port) + "/?token=" + FToken;
}

void TOrvoHostWebServer::Route(std::string method, std::string pattern, THandler handler, bool onMainThread) {
    FImpl->Routes.push_back({std::move(method), std::regex(pattern), std::move(handler), onMainThread});
}

void TOrvoHostWebServer::EventStream(std::string path, TOrvoHostWebEvents& events,
                                     std::chrono::milliseconds keepAlive) {
    FImpl->Streams.push_back({std::move(path), &events, keepAlive});
}

void TOrvoHostWebServer::Start() {
    if (FImpl->Listener.joinable())
        return;
    FImpl->Listening = true;
    FImpl->Listener = std::thread([impl = FImpl.get()] {
        impl->Http.listen_after_bind();
        impl->Listening = false;
        platform::WakeMainThread();
    });
    while (!FImpl->Http.is_running() && FImpl->Listening)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void TOrvoHostWebServer::Stop() {
    if (!FImpl->Listener.joinable())
        return;
    for (const TStream& stream : FImpl->Streams)
        stream.Events->Close();
    // The streams send what was published before they were closed, such as the end of a refresh
    // that stopping cancelled; a listener that reads nothing more is not waited for long.
    platform::PumpMainThreadUntil([this] { return FImpl->Streaming.load() == 0; }, 2000);
    FImpl->Http.stop();
    // Requests under way wait for the main thread; it serves them until the server's threads end.
    platform::PumpMainThreadUntil([this] { return !FImpl->Listening.load(); });
    FImpl->Listener.join();
}
