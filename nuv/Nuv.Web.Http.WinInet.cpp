// The WinInet transport of the HTTP client, used synchronously: one internet handle and one
// connection per request. A synchronous WinInet call cannot be told to give up, so every call that
// waits for the network runs on a helper thread of the connection while the request's thread waits
// in short steps; a cancellation or a stall closes the request handle, which ends the call, and the
// request ends at once whether or not the call has come back yet.

#include "nuv/Nuv.Web.Http.Transport.h"
#include "nuv/Nuv.Web.Windows.h"

#include "nuv/Nuv.Streams.h"
#include "nuv/Nuv.Strings.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>

namespace {

using namespace nuv::detail;
using TClock = std::chrono::steady_clock;

// Texts are UTF-16 already; Windows takes them as they are.
const wchar_t* Wide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

std::u16string FromWide(const wchar_t* text, size_t length) {
    return std::u16string(reinterpret_cast<const char16_t*>(text), length);
}

struct TInternetHandleDeleter {
    void operator()(HINTERNET handle) const { InternetCloseHandle(handle); }
};
using TInternetHandle = std::unique_ptr<void, TInternetHandleDeleter>;

// What a failed call left behind, read in the thread that made the call (the last error and the
// server's extended answer are kept per thread).
struct TFailure {
    DWORD Code = 0;
    std::u16string Text; // the platform's own words, empty when it has none

    static TFailure Capture() {
        TFailure failure;
        failure.Code = GetLastError();
        if (failure.Code == ERROR_INTERNET_EXTENDED_ERROR) {
            DWORD code = 0, length = 0;
            InternetGetLastResponseInfoW(&code, nullptr, &length);
            std::wstring text(length + 1, L'\0');
            if (code != 0 && InternetGetLastResponseInfoW(&code, text.data(), &length)) {
                failure.Code = code;
                failure.Text = Trim(FromWide(text.data(), length));
                return failure;
            }
        }
        if (failure.Code != 0) {
            wchar_t* message = nullptr;
            const DWORD length =
                FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE |
                                   FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                               GetModuleHandleW(L"wininet.dll"), failure.Code, 0,
                               reinterpret_cast<wchar_t*>(&message), 0, nullptr);
            if (message) {
                failure.Text = Trim(FromWide(message, length));
                LocalFree(message);
            }
        }
        return failure;
    }
};

// The platform's code and words when it has them, the given text when it has only a code, and an
// internal failure around the given text when it has neither.
[[noreturn]] void RaiseFailure(const TFailure& failure, std::u16string_view text) {
    if (failure.Code == 0)
        RaiseInternal(text);
    throw EHttpWin32Error(int32_t(failure.Code), failure.Text.empty() ? std::u16string(text) : failure.Text);
}

[[noreturn]] void RaiseLast(std::u16string_view text) {
    RaiseFailure(TFailure::Capture(), text);
}

const std::u16string kSendFailed =
    u"HttpSendRequest failed.\r\nMaybe a certificate issue. Ensure that TLS 1.2/1.3 are switched on";

// The thread that makes a connection's waiting calls, one at a time. Its state is shared with the
// thread, so that a call given up on may come back after the connection has gone.
class TCallThread {
public:
    struct TOutcome {
        bool Done = false;     // the call came back
        bool Ok = false;       // and succeeded
        bool TimedOut = false; // given up on after the bound
        TFailure Failure;      // when it failed
    };

    TCallThread() : FState(std::make_shared<TState>()) {
        FThread = StartPinnedThread([state = FState] { Serve(*state); });
        if (!FThread)
            RaiseInternal(u"CreateThread failed");
    }
    ~TCallThread() {
        {
            std::lock_guard lock(FState->Lock);
            FState->Quit = true;
        }
        FState->Changed.notify_all();
        // A call given up on may still wait for the network: the thread ends on its own once it
        // comes back, holding the state until then.
        if (!FAbandoned)
            WaitForSingleObject(FThread, INFINITE);
        CloseHandle(FThread);
    }
    TCallThread(const TCallThread&) = delete;
    TCallThread& operator=(const TCallThread&) = delete;

    // Runs call on the thread and waits for it, asking stop every poll interval. When stop answers
    // true or the call has taken longer than limitMs, interrupt is run (it closes the handle the
    // call waits on) and the call is given a moment to come back; after that it is given up on.
    // Everything the call uses must be owned by the call itself.
    TOutcome Run(std::function<bool()> call, uint32_t limitMs, const std::function<bool()>& stop,
                 const std::function<void()>& interrupt) {
        std::unique_lock lock(FState->Lock);
        FState->Call = std::move(call);
        FState->Finished = false;
        FState->Changed.notify_all();
        const auto start = TClock::now();
        const auto limit = std::chrono::milliseconds(limitMs);
        bool timedOut = false;
        for (;;) {
            if (FState->Changed.wait_for(lock, std::chrono::milliseconds(kHttpPollMs),
                                         [&] { return FState->Finished; }))
                return Outcome(timedOut);
            lock.unlock();
            const bool stopping = stop && stop();
            timedOut = !stopping && TClock::now() - start >= limit;
            lock.lock();
            if (FState->Finished)
                return Outcome(timedOut);
            if (stopping || timedOut)
                break;
        }
        lock.unlock();
        interrupt();
        lock.lock();
        if (FState->Changed.wait_for(lock, std::chrono::milliseconds(kGraceMs),
                                     [&] { return FState->Finished; }))
            return Outcome(timedOut);
        FAbandoned = true;
        TOutcome outcome;
        outcome.TimedOut = timedOut;
        return outcome;
    }

private:
    // How long an interrupted call may take to come back before it is given up on.
    static constexpr int kGraceMs = 100;

    struct TState {
        std::mutex Lock;
        std::condition_variable Changed;
        std::function<bool()> Call;
        bool Finished = true;
        bool Quit = false;
        bool Ok = false;
        TFailure Failure;
    };

    static void Serve(TState& state) {
        std::unique_lock lock(state.Lock);
        for (;;) {
            state.Changed.wait(lock, [&] { return state.Quit || state.Call; });
            if (!state.Call)
                return;
            std::function<bool()> call = std::move(state.Call);
            state.Call = nullptr;
            lock.unlock();
            const bool ok = call();
            TFailure failure = ok ? TFailure() : TFailure::Capture();
            call = nullptr; // what the call owned goes before the caller hears of it
            lock.lock();
            state.Ok = ok;
            state.Failure = std::move(failure);
            state.Finished = true;
            state.Changed.notify_all();
        }
    }

    // Lock held.
    TOutcome Outcome(bool timedOut) const {
        TOutcome outcome;
        outcome.Done = true;
        outcome.Ok = FState->Ok;
        outcome.Failure = FState->Failure;
        outcome.TimedOut = timedOut && !FState->Ok;
        return outcome;
    }

    std::shared_ptr<TState> FState;
    HANDLE FThread = nullptr;
    bool FAbandoned = false;
};

// ---- the WinInet connection

class THttpConnectionImpl final : public THttpConnection {
public:
    explicit THttpConnectionImpl(const TNuvWebURL& url) : THttpConnection(url) {
        const uint8_t mode = TNuvWebSettings::EffectiveProxyMode();
        const TNuvWebProxyInfo proxy = TNuvWebSettings::Proxy();
        if (mode == pmDirect) {
            FSession.reset(InternetOpenW(nullptr, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
        } else if (mode == pmNamedProxy) {
            std::u16string address = Trim(proxy.Server);
            if (const std::u16string port = Trim(proxy.Port); !port.empty())
                address += u":" + port;
            // No bypass list: every host goes through the proxy, loopback included.
            FSession.reset(InternetOpenW(nullptr, INTERNET_OPEN_TYPE_PROXY, Wide(address), nullptr, 0));
        } else {
            FSession.reset(InternetOpenW(nullptr, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
        }
        if (!FSession)
            RaiseLast(u"InternetOpen failed");

        // WinInet's own bounds; the helper thread's wait is the backstop (see WaitFor).
        for (const DWORD option :
             {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT,
              INTERNET_OPTION_DATA_SEND_TIMEOUT, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT}) {
            DWORD value = FTimeoutMs;
            InternetSetOptionW(FSession.get(), option, &value, sizeof value);
        }

        FConnection.reset(InternetConnectW(FSession.get(), Wide(FURL.Host), INTERNET_PORT(FURL.Port), nullptr,
                                           nullptr, INTERNET_SERVICE_HTTP, 0, 0));
        if (!FConnection)
            RaiseLast(u"InternetConnectW failed");
        if (mode == pmNamedProxy && !proxy.UserName.empty()) {
            FProxyCredentials = true;
            FProxyAuthorization = u"Proxy-Authorization: Basic " +
                                  FromAscii(EncodeBase64(ToUtf8(proxy.UserName + u":" + proxy.Password)));
            InternetSetOptionW(FConnection.get(), INTERNET_OPTION_PROXY_USERNAME,
                               const_cast<wchar_t*>(Wide(proxy.UserName)), DWORD(proxy.UserName.size()));
            InternetSetOptionW(FConnection.get(), INTERNET_OPTION_PROXY_PASSWORD,
                               const_cast<wchar_t*>(Wide(proxy.Password)), DWORD(proxy.Password.size()));
        }
    }

    ~THttpConnectionImpl() override {
        // The request first: a call given up on still holds it, and closing it is what ends that call.
        FRequest.reset();
        FCalls.reset();
        FConnection.reset();
        FSession.reset();
    }

protected:
    void RequestCore(THttpResponse& response, const std::u16string& method,
                     std::vector<std::u16string>& headers, TNuvStream* body, bool ignoreCertificateErrors,
                     const THttpAcceptStep& accept, const THttpProgressProc& progress,
                     const THttpDataProc& data) override {
        const std::u16string cookieAddress =
            std::u16string(FURL.Secured ? u"https" : u"http") + u"://" + FURL.Host;
        PrepareHeaderLines(headers, FURL.Host, [&](std::u16string_view value) {
            for (const auto& [name, text] : CookiePairs(value))
                InternetSetCookieW(Wide(cookieAddress), Wide(name), Wide(text));
        });

        // A plain request carries the proxy's credentials from the start, as the other transport
        // sends them, rather than only once the proxy asks; a secured one is tunnelled, and its
        // header lines reach the server itself, so it leaves them to WinInet's own exchange.
        if (FProxyCredentials && !FURL.Secured && !HasHeader(headers, u"Proxy-Authorization"))
            headers.push_back(FProxyAuthorization);

        // Redirects are followed whatever their scheme, as they are elsewhere; the certificate
        // flags of the request also hold for the hops a redirect adds.
        DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_TRANSFER_BINARY | INTERNET_FLAG_TRANSFER_ASCII |
                      INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP | INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS;
        if (FURL.Secured)
            flags |= INTERNET_FLAG_SECURE | INTERNET_FLAG_KEEP_CONNECTION;
        if (ignoreCertificateErrors)
            flags |= INTERNET_FLAG_IGNORE_CERT_CN_INVALID | INTERNET_FLAG_IGNORE_CERT_DATE_INVALID;
        const std::u16string verb = AsciiUpper(method);
        const std::u16string target = FromAscii(EncodePath(FURL.Path));
        FRequest.reset(HttpOpenRequestW(FConnection.get(), Wide(verb), Wide(target), nullptr, nullptr,
                                        nullptr, flags, 0));
        if (!FRequest)
            RaiseLast(u"HttpOpenRequest failed");
        if (ignoreCertificateErrors) {
            DWORD security = 0, size = sizeof security;
            InternetQueryOptionW(FRequest.get(), INTERNET_OPTION_SECURITY_FLAGS, &security, &size);
            security |= SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
                        SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
            InternetSetOptionW(FRequest.get(), INTERNET_OPTION_SECURITY_FLAGS, &security, sizeof security);
        }

        auto block = std::make_shared<std::u16string>();
        for (const std::u16string& line : headers) {
            if (!block->empty())
                *block += u"\n";
            *block += line;
        }

        // A proxy that asks for the credentials it was given gets the request once more.
        for (int attempt = 0;; ++attempt) {
            Send(block, body, progress);
            FillResponse(response);
            if (response.StatusCode != 407 || !FProxyCredentials || attempt >= 1)
                break;
        }
        accept(response);
        if (data)
            Receive(response, progress, data);
    }

private:
    // Runs one waiting call; a stop or a stall ends it and raises.
    void WaitFor(std::function<bool()> call, uint32_t limitMs, std::u16string_view failureText) {
        if (FCancelCheck && FCancelCheck())
            throw EHttpCancel();
        const TCallThread::TOutcome outcome = FCalls->Run(std::move(call), limitMs, FCancelCheck, [this] {
            FInterrupted = true;
            FRequest.reset();
        });
        if (outcome.TimedOut ||
            (outcome.Done && !outcome.Ok && outcome.Failure.Code == ERROR_INTERNET_TIMEOUT))
            throw TimeoutError(int32_t(ERROR_INTERNET_TIMEOUT), FTimeoutMs);
        // Closed while the call came back anyway: the request is gone all the same.
        if (FInterrupted)
            throw EHttpCancel();
        if (!outcome.Ok)
            RaiseFailure(outcome.Failure, failureText);
    }

    // Sends the request with its header block and body, if any, from the body's start.
    void Send(const std::shared_ptr<std::u16string>& block, TNuvStream* body,
              const THttpProgressProc& progress) {
        HINTERNET request = FRequest.get();
        // Connecting and waiting for the answer are each bounded by the time-out.
        const uint32_t limit = 2 * FTimeoutMs + kSlackMs;
        if (!body) {
            WaitFor(
                [request, block] {
                    return HttpSendRequestW(request, Wide(*block), DWORD(block->size()), nullptr, 0) != FALSE;
                },
                limit, kSendFailed);
            return;
        }
        body->SetPosition(0);
        const int64_t total = body->Size();
        if (total > int64_t(MAXDWORD))
            RaiseInternal(u"the body is too large");
        for (int attempt = 0;; ++attempt) {
            WaitFor(
                [request, block, total] {
                    INTERNET_BUFFERSW buffers{};
                    buffers.dwStructSize = sizeof buffers;
                    buffers.lpcszHeader = Wide(*block);
                    buffers.dwHeadersLength = DWORD(block->size());
                    buffers.dwBufferTotal = DWORD(total);
                    return HttpSendRequestExW(request, &buffers, nullptr, HSR_INITIATE, 0) != FALSE;
                },
                limit, kSendFailed);
            auto chunk = std::make_shared<std::string>();
            int64_t sent = 0;
            for (;;) {
                chunk->resize(size_t(kHttpChunkSize));
                int64_t n = 0;
                try {
                    n = body->Read(chunk->data(), kHttpChunkSize);
                } catch (const std::exception&) {
                    throw EHttpWin32Error(woInternalFailure, u"Cannot post data to the server.");
                }
                if (n <= 0)
                    break;
                chunk->resize(size_t(n));
                try {
                    WaitFor(
                        [request, chunk] {
                            DWORD written = 0;
                            return InternetWriteFile(request, chunk->data(), DWORD(chunk->size()),
                                                     &written) &&
                                   written == chunk->size();
                        },
                        FTimeoutMs + kSlackMs, u"");
                } catch (const EHttpCancel&) {
                    throw;
                } catch (const EHttpError& e) {
                    if (e.Info().ErrorCode == int32_t(ERROR_INTERNET_TIMEOUT))
                        throw;
                    throw EHttpWin32Error(woInternalFailure, u"Cannot post data to the server.");
                }
                sent += n;
                if (progress && !progress(sent, total))
                    throw EHttpCancel();
            }
            // A proxy or server asking for credentials it can be given makes WinInet ask for the
            // request again, body and all.
            auto retry = std::make_shared<bool>(false);
            WaitFor(
                [request, retry] {
                    if (HttpEndRequestW(request, nullptr, 0, 0))
                        return true;
                    *retry = GetLastError() == ERROR_INTERNET_FORCE_RETRY;
                    return *retry;
                },
                limit, kSendFailed);
            if (!*retry || attempt >= 1)
                return;
            body->SetPosition(0);
        }
    }

    std::u16string QueryText(DWORD query) {
        DWORD size = 0;
        HttpQueryInfoW(FRequest.get(), query, nullptr, &size, nullptr);
        if (size == 0)
            return {};
        std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
        if (!HttpQueryInfoW(FRequest.get(), query, text.data(), &size, nullptr))
            return {};
        return FromWide(text.data(), size / sizeof(wchar_t));
    }

    void FillResponse(THttpResponse& response) {
        response = THttpResponse();
        response.ContentRange = QueryText(HTTP_QUERY_CONTENT_RANGE);
        response.ContentLength = ParseLength(QueryText(HTTP_QUERY_CONTENT_LENGTH));
        response.ContentType = QueryText(HTTP_QUERY_CONTENT_TYPE);
        int64_t status = 0;
        if (TryStrToInt(QueryText(HTTP_QUERY_STATUS_CODE), status) && status >= 0 && status <= 999)
            response.StatusCode = int32_t(status);
        response.StatusText = Trim(QueryText(HTTP_QUERY_STATUS_TEXT));
        // The same record as elsewhere: status line and header lines, each ended by CR LF.
        response.RawHeaders = QueryText(HTTP_QUERY_RAW_HEADERS_CRLF);
        while (response.RawHeaders.ends_with(u"\r\n\r\n"))
            response.RawHeaders.resize(response.RawHeaders.size() - 2);
    }

    // Reads the body chunk by chunk as it arrives, so that a trickle is handed on as it comes.
    void Receive(const THttpResponse& response, const THttpProgressProc& progress,
                 const THttpDataProc& data) {
        HINTERNET request = FRequest.get();
        auto chunk = std::make_shared<std::string>();
        int64_t received = 0;
        for (;;) {
            chunk->resize(size_t(kHttpChunkSize));
            WaitFor(
                [request, chunk] {
                    DWORD available = 0;
                    if (!InternetQueryDataAvailable(request, &available, 0, 0))
                        return false;
                    DWORD read = 0;
                    const DWORD wanted =
                        available == 0 ? 1 : std::min<DWORD>(available, DWORD(chunk->size()));
                    if (!InternetReadFile(request, chunk->data(), wanted, &read))
                        return false;
                    chunk->resize(read);
                    return true;
                },
                FTimeoutMs + kSlackMs, u"InternetReadFile failed");
            if (chunk->empty())
                return;
            if (!data(chunk->data(), int64_t(chunk->size())))
                throw EHttpWriteError();
            received += int64_t(chunk->size());
            if (progress && !progress(received, response.ContentLength))
                throw EHttpCancel();
        }
    }

    // What WinInet's own time-out may overrun it by before the helper thread's wait steps in.
    static constexpr uint32_t kSlackMs = 250;

    const uint32_t FTimeoutMs = TNuvWebSettings::Timeout();
    bool FProxyCredentials = false;
    std::u16string FProxyAuthorization; // the header line, for plain requests
    bool FInterrupted = false;
    TInternetHandle FSession, FConnection, FRequest;
    std::unique_ptr<TCallThread> FCalls = std::make_unique<TCallThread>();
};

} // namespace

std::unique_ptr<THttpConnection> THttpConnection::Create(const TNuvWebURL& url) {
    return std::make_unique<THttpConnectionImpl>(url);
}
