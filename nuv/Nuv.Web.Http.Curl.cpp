// The libcurl transport of the HTTP client: one easy handle per request, driven through a multi
// handle so that a stall or a cancellation ends the transfer within a poll interval.

#include "nuv/Nuv.Web.Http.Transport.h"

#include "nuv/Nuv.Streams.h"
#include "nuv/Nuv.Strings.h"

#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <exception>
#include <mutex>

namespace {

using namespace nuv::detail;

// ---- RAII owners for libcurl handles

struct TCurlEasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using TCurlEasy = std::unique_ptr<CURL, TCurlEasyDeleter>;

struct TCurlMultiDeleter {
    void operator()(CURLM* handle) const { curl_multi_cleanup(handle); }
};
using TCurlMulti = std::unique_ptr<CURLM, TCurlMultiDeleter>;

struct TCurlListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using TCurlList = std::unique_ptr<curl_slist, TCurlListDeleter>;

// Appends one line; raises on allocation failure instead of losing the list.
void Append(TCurlList& list, const std::string& line) {
    curl_slist* grown = curl_slist_append(list.get(), line.c_str());
    if (!grown)
        throw std::bad_alloc();
    (void)list.release();
    list.reset(grown);
}

void InitCurl() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// ---- the process-wide cookie store: cookies given with requests and cookies set by servers

class TCookieStore {
public:
    static TCookieStore& Instance() {
        // Destroyed with the module: a plug-in that unloads must not leave its cookies behind,
        // and its finalisation has waited for every request by then.
        static TCookieStore store;
        return store;
    }
    ~TCookieStore() { curl_share_cleanup(FShare); }
    TCookieStore(const TCookieStore&) = delete;
    TCookieStore& operator=(const TCookieStore&) = delete;
    CURLSH* Share() const { return FShare; }

private:
    TCookieStore() {
        InitCurl();
        FShare = curl_share_init();
        if (!FShare)
            throw std::bad_alloc();
        curl_share_setopt(FShare, CURLSHOPT_LOCKFUNC, &TCookieStore::Lock);
        curl_share_setopt(FShare, CURLSHOPT_UNLOCKFUNC, &TCookieStore::Unlock);
        curl_share_setopt(FShare, CURLSHOPT_USERDATA, this);
        curl_share_setopt(FShare, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
    }
    static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* user) {
        static_cast<TCookieStore*>(user)->FLocks[size_t(data) % CURL_LOCK_DATA_LAST].lock();
    }
    static void Unlock(CURL*, curl_lock_data data, void* user) {
        static_cast<TCookieStore*>(user)->FLocks[size_t(data) % CURL_LOCK_DATA_LAST].unlock();
    }

    CURLSH* FShare = nullptr;
    std::array<std::mutex, CURL_LOCK_DATA_LAST> FLocks;
};

// ---- helpers

[[noreturn]] void RaiseCurl(CURLcode code, const char* detail) {
    std::u16string message = FromUtf8(detail && *detail ? detail : curl_easy_strerror(code));
    throw EHttpWin32Error(int32_t(code), std::move(message));
}

template <typename T> void SetOption(CURL* handle, CURLoption option, T value) {
    if (const CURLcode code = curl_easy_setopt(handle, option, value); code != CURLE_OK)
        RaiseCurl(code, nullptr);
}

// ---- one request's transfer state, shared with libcurl's callbacks

struct TTransfer {
    TTransfer(THttpResponse& response, const THttpAcceptStep& accept, const THttpProgressProc& progress,
              const THttpDataProc& data)
        : Response(response), Accept(accept), Progress(progress), Data(data) {}

    THttpResponse& Response;
    const THttpAcceptStep& Accept;
    const THttpProgressProc& Progress;
    const THttpDataProc& Data;
    TNuvStream* Body = nullptr;
    int64_t BodySize = 0;
    int64_t Sent = 0;
    int64_t Received = 0;
    std::string Headers; // the latest response's status line and header lines
    bool Accepted = false;
    bool BodySkipped = false; // accepted without a data receiver: the transfer was ended on purpose
    std::exception_ptr Failure;
    uint64_t Activity = 0; // bytes that went either way, headers included

    void FillResponse() {
        const std::u16string raw = FromUtf8(Headers);
        Response = THttpResponse();
        Response.RawHeaders = raw;
        bool haveLength = false, haveRange = false, haveType = false;
        bool first = true;
        for (std::u16string line : Split(raw, u"\n")) {
            if (!line.empty() && line.back() == u'\r')
                line.pop_back();
            if (first) {
                // "HTTP/1.1 206 Partial Content"
                first = false;
                const size_t code = line.find(u' ');
                if (code == line.npos)
                    continue;
                const size_t text = line.find(u' ', code + 1);
                int64_t status = 0;
                if (TryStrToInt(std::u16string_view(line).substr(code + 1, text - code - 1), status) &&
                    status >= 0 && status <= 999)
                    Response.StatusCode = int32_t(status);
                if (text != line.npos)
                    Response.StatusText = Trim(std::u16string_view(line).substr(text + 1));
                continue;
            }
            const size_t colon = line.find(u':');
            if (colon == line.npos)
                continue;
            const std::u16string_view name = HeaderName(line);
            const std::u16string value = Trim(std::u16string_view(line).substr(colon + 1));
            // The first occurrence counts, as a header query of the response would give it.
            if (!haveLength && SameTextAscii(name, u"Content-Length")) {
                Response.ContentLength = ParseLength(value);
                haveLength = true;
            } else if (!haveRange && SameTextAscii(name, u"Content-Range")) {
                Response.ContentRange = value;
                haveRange = true;
            } else if (!haveType && SameTextAscii(name, u"Content-Type")) {
                Response.ContentType = value;
                haveType = true;
            }
        }
    }

    void RunAccept() {
        Accepted = true;
        FillResponse();
        if (Accept)
            Accept(Response);
    }

    static size_t OnHeader(char* buffer, size_t size, size_t count, void* user) {
        auto& t = *static_cast<TTransfer*>(user);
        const size_t bytes = size * count;
        // Every response of the exchange (interim answers, redirects, a proxy's tunnel answer)
        // starts with its status line; only the last one is kept.
        if (bytes >= 5 && std::equal(buffer, buffer + 5, "HTTP/"))
            t.Headers.clear();
        t.Headers.append(buffer, bytes);
        t.Activity += bytes;
        return bytes;
    }

    static size_t OnWrite(char* buffer, size_t size, size_t count, void* user) {
        auto& t = *static_cast<TTransfer*>(user);
        const size_t bytes = size * count;
        t.Activity += bytes;
        try {
            if (!t.Accepted) {
                t.RunAccept();
                if (!t.Data) {
                    t.BodySkipped = true;
                    return CURL_WRITEFUNC_ERROR;
                }
            }
            if (!t.Data(buffer, int64_t(bytes)))
                throw EHttpWriteError();
            t.Received += int64_t(bytes);
            if (t.Progress && !t.Progress(t.Received, t.Response.ContentLength))
                throw EHttpCancel();
            return bytes;
        } catch (...) {
            t.Failure = std::current_exception();
            return CURL_WRITEFUNC_ERROR;
        }
    }

    static size_t OnRead(char* buffer, size_t size, size_t count, void* user) {
        auto& t = *static_cast<TTransfer*>(user);
        try {
            int64_t n = 0;
            try {
                n = t.Body->Read(buffer, int64_t(size * count));
            } catch (const std::exception&) {
                throw EHttpWin32Error(woInternalFailure, u"Cannot post data to the server.");
            }
            if (n <= 0)
                return 0;
            t.Sent += n;
            t.Activity += uint64_t(n);
            if (t.Progress && !t.Progress(t.Sent, t.BodySize))
                throw EHttpCancel();
            return size_t(n);
        } catch (...) {
            t.Failure = std::current_exception();
            return CURL_READFUNC_ABORT;
        }
    }

    // A redirect that keeps the method sends the body again from its start.
    static int OnSeek(void* user, curl_off_t offset, int origin) {
        auto& t = *static_cast<TTransfer*>(user);
        try {
            t.Sent = t.Body->Seek(offset, TNuvSeekOrigin(origin));
            return CURL_SEEKFUNC_OK;
        } catch (...) {
            return CURL_SEEKFUNC_CANTSEEK;
        }
    }
};

// Stores each pair as a session cookie of the host, whatever the scheme: a cookie given for an
// https address is still sent over http, as stored.
void StoreCookies(CURL* handle, const std::u16string& host, std::u16string_view value) {
    const std::string domain = ToUtf8(host);
    if (domain.find_first_of("\t\r\n") != std::string::npos)
        return;
    for (const auto& [name, text] : CookiePairs(value)) {
        // Netscape line: domain, include subdomains, path, secure only, expiry (0: session), name, value.
        const std::string line = domain + "\tFALSE\t/\tFALSE\t0\t" + ToUtf8(name) + "\t" + ToUtf8(text);
        curl_easy_setopt(handle, CURLOPT_COOKIELIST, line.c_str());
    }
}

// ---- the libcurl connection

class THttpConnectionImpl final : public THttpConnection {
public:
    explicit THttpConnectionImpl(const TNuvWebURL& url) : THttpConnection(url) {
        InitCurl();
        FHandle.reset(curl_easy_init());
        if (!FHandle)
            RaiseInternal(u"InternetOpen failed");
        CURL* h = FHandle.get();
        SetOption(h, CURLOPT_ERRORBUFFER, FError.data());
        SetOption(h, CURLOPT_NOSIGNAL, 1L);
        SetOption(h, CURLOPT_PROTOCOLS_STR, "http,https");
        SetOption(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        SetOption(h, CURLOPT_FOLLOWLOCATION, 1L);
        SetOption(h, CURLOPT_MAXREDIRS, 10L);
        SetOption(h, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
        SetOption(h, CURLOPT_FORBID_REUSE, 1L);
        SetOption(h, CURLOPT_FRESH_CONNECT, 1L);
        SetOption(h, CURLOPT_PATH_AS_IS, 1L);
        SetOption(h, CURLOPT_BUFFERSIZE, long(kHttpChunkSize));
        SetOption(h, CURLOPT_UPLOAD_BUFFERSIZE, long(kHttpChunkSize));

        // The time-out bounds connecting and any stretch without data in either direction (the
        // latter measured by Perform).
        SetOption(h, CURLOPT_CONNECTTIMEOUT_MS, long(FTimeoutMs));

        switch (TNuvWebSettings::EffectiveProxyMode()) {
        case pmDirect: // whatever the environment says
            SetOption(h, CURLOPT_PROXY, "");
            break;
        case pmNamedProxy: {
            const TNuvWebProxyInfo proxy = TNuvWebSettings::Proxy();
            std::u16string address = Trim(proxy.Server);
            if (const std::u16string port = Trim(proxy.Port); !port.empty())
                address += u":" + port;
            SetOption(h, CURLOPT_PROXY, ToUtf8(address).c_str());
            SetOption(h, CURLOPT_NOPROXY, ""); // every host goes through it
            if (!proxy.UserName.empty()) {
                SetOption(h, CURLOPT_PROXYUSERNAME, ToUtf8(proxy.UserName).c_str());
                SetOption(h, CURLOPT_PROXYPASSWORD, ToUtf8(proxy.Password).c_str());
            }
            break;
        }
        default: // the system's settings: libcurl reads the usual proxy environment variables
            break;
        }

        // Cookies live in the one process-wide store, shared with every other request.
        SetOption(h, CURLOPT_SHARE, TCookieStore::Instance().Share());
        SetOption(h, CURLOPT_COOKIEFILE, "");
    }

protected:
    void RequestCore(THttpResponse& response, const std::u16string& method,
                     std::vector<std::u16string>& headers, TNuvStream* body, bool ignoreCertificateErrors,
                     const THttpAcceptStep& accept, const THttpProgressProc& progress,
                     const THttpDataProc& data) override {
        CURL* h = FHandle.get();

        PrepareHeaderLines(headers, FURL.Host,
                           [&](std::u16string_view value) { StoreCookies(h, FURL.Host, value); });

        TCurlList list;
        for (const std::u16string& line : headers) {
            const size_t colon = line.find(u':');
            std::string text = ToUtf8(line);
            // libcurl drops a line with nothing after the colon; "Name;" sends it empty.
            if (colon != line.npos && Trim(std::u16string_view(line).substr(colon + 1)).empty())
                text = ToUtf8(HeaderName(line)) + ";";
            Append(list, text);
        }
        // A large body is sent at once, not after an interim answer many servers never give.
        if (body && !HasHeader(headers, u"Expect"))
            Append(list, "Expect:");
        SetOption(h, CURLOPT_HTTPHEADER, list.get());

        std::string url = FURL.Secured ? "https://" : "http://";
        url += ToUtf8(FURL.Host);
        if (FURL.Port > 0) {
            url += ':';
            url += std::to_string(FURL.Port);
        }
        url += EncodePath(FURL.Path);
        SetOption(h, CURLOPT_URL, url.c_str());

        if (ignoreCertificateErrors) {
            SetOption(h, CURLOPT_SSL_VERIFYPEER, 0L);
            SetOption(h, CURLOPT_SSL_VERIFYHOST, 0L);
        }

        TTransfer transfer{response, accept, progress, data};
        SetOption(h, CURLOPT_HEADERFUNCTION, &TTransfer::OnHeader);
        SetOption(h, CURLOPT_HEADERDATA, &transfer);
        SetOption(h, CURLOPT_WRITEFUNCTION, &TTransfer::OnWrite);
        SetOption(h, CURLOPT_WRITEDATA, &transfer);

        const std::string verb = ToUtf8(AsciiUpper(method));
        if (body) {
            body->SetPosition(0);
            transfer.Body = body;
            transfer.BodySize = body->Size();
            SetOption(h, CURLOPT_POST, 1L);
            SetOption(h, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(transfer.BodySize));
            SetOption(h, CURLOPT_READFUNCTION, &TTransfer::OnRead);
            SetOption(h, CURLOPT_READDATA, &transfer);
            SetOption(h, CURLOPT_SEEKFUNCTION, &TTransfer::OnSeek);
            SetOption(h, CURLOPT_SEEKDATA, &transfer);
            if (verb != "POST")
                SetOption(h, CURLOPT_CUSTOMREQUEST, verb.c_str());
        } else if (verb == "HEAD") {
            SetOption(h, CURLOPT_NOBODY, 1L);
        } else if (verb != "GET") {
            SetOption(h, CURLOPT_CUSTOMREQUEST, verb.c_str());
        }

        FError[0] = 0;
        const CURLcode code = Perform(transfer);
        if (transfer.Failure)
            std::rethrow_exception(transfer.Failure);
        if (code != CURLE_OK && !(code == CURLE_WRITE_ERROR && transfer.BodySkipped))
            RaiseCurl(code, FError.data());
        if (!transfer.Accepted) // a response without a body
            transfer.RunAccept();
    }

private:
    // Runs the transfer, waking at least every kHttpPollMs: libcurl's own low-speed check averages
    // over several seconds and its waits last up to a second, so neither a stall nor a
    // cancellation would end the transfer soon enough.
    CURLcode Perform(TTransfer& transfer) {
        CURL* h = FHandle.get();
        TCurlMulti multi(curl_multi_init());
        if (!multi || curl_multi_add_handle(multi.get(), h) != CURLM_OK)
            RaiseInternal(u"InternetOpen failed");
        struct TDetach {
            CURLM* Multi;
            CURL* Easy;
            ~TDetach() { curl_multi_remove_handle(Multi, Easy); }
        } detach{multi.get(), h};

        using TClock = std::chrono::steady_clock;
        const auto timeout = std::chrono::milliseconds(FTimeoutMs);
        auto lastActivity = TClock::now();
        uint64_t seen = transfer.Activity;
        for (;;) {
            int running = 0;
            if (const CURLMcode code = curl_multi_perform(multi.get(), &running); code != CURLM_OK)
                RaiseInternal(FromUtf8(curl_multi_strerror(code)));
            if (running == 0)
                break;
            if (FCancelCheck && FCancelCheck()) {
                transfer.Failure = std::make_exception_ptr(EHttpCancel());
                return CURLE_ABORTED_BY_CALLBACK;
            }
            const auto now = TClock::now();
            if (transfer.Activity != seen) {
                seen = transfer.Activity;
                lastActivity = now;
            } else if (now - lastActivity >= timeout) {
                transfer.Failure =
                    std::make_exception_ptr(TimeoutError(int32_t(CURLE_OPERATION_TIMEDOUT), FTimeoutMs));
                return CURLE_OPERATION_TIMEDOUT;
            }
            if (const CURLMcode code = curl_multi_poll(multi.get(), nullptr, 0, kHttpPollMs, nullptr);
                code != CURLM_OK)
                RaiseInternal(FromUtf8(curl_multi_strerror(code)));
        }
        int left = 0;
        while (const CURLMsg* message = curl_multi_info_read(multi.get(), &left))
            if (message->msg == CURLMSG_DONE)
                return message->data.result;
        return CURLE_OK;
    }

    const uint32_t FTimeoutMs = TNuvWebSettings::Timeout();
    TCurlEasy FHandle;
    std::array<char, CURL_ERROR_SIZE> FError{};
};

} // namespace

std::unique_ptr<THttpConnection> THttpConnection::Create(const TNuvWebURL& url) {
    return std::make_unique<THttpConnectionImpl>(url);
}
