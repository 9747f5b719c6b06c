#pragma once
// HTTP(S) requests: one connection per request, configured through a fluent request object and
// run either as a task of the dispatcher or in the calling thread.

#include "nuv/Nuv.Threading.Pool.h"
#include "nuv/Nuv.Web.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TNuvStream;

// Decides from the response's status and headers whether to read the body.
using THttpAcceptProc = std::function<bool(const THttpResponse& response)>;
// Receives one chunk of the body; false stops the request.
using THttpDataProc = std::function<bool(const void* buffer, int64_t count)>;
// Bytes done and bytes expected (0 when unknown); false stops the request.
using THttpProgressProc = std::function<bool(int64_t done, int64_t expected)>;
// Receives the outcome of a request run with Run.
using THttpCompleteProc = std::function<void(const TNuvWebErrorInfo& info)>;
// True when the request is to stop.
using THttpCheckCanceled = std::function<bool()>;
// The acceptance step a connection runs once the response headers are in; raises to refuse.
using THttpAcceptStep = std::function<void(const THttpResponse& response)>;

// One connection to one server, for a single request.
//
// Thread-safety: a connection is used by one thread. Connections in different threads are
// independent, apart from the process-wide cookie store, which has its own lock.
class THttpConnection {
public:
    virtual ~THttpConnection() = default;
    THttpConnection(const THttpConnection&) = delete;
    THttpConnection& operator=(const THttpConnection&) = delete;

    // A connection for the address, with the present proxy and time-out settings. Raises
    // EHttpWin32Error when the transport cannot be set up.
    static std::unique_ptr<THttpConnection> Create(const TNuvWebURL& url);

    // Sends the request (address header lines first, then the default lines that are missing,
    // and Range) and fills the response. A stretch of the time-out without a byte in either
    // direction ends it (code 28). The body, when given, is sent from its start. accept
    // may refuse the response, data receives the body (not read at all without it), progress is
    // called after every chunk sent or received. Raises EHttpError and its descendants; an
    // exception raised by a callback passes through unchanged.
    void Request(THttpResponse& response, const std::u16string& method, const INuvWebRequestRange* range,
                 TNuvStream* body, bool ignoreCertificateErrors, const THttpAcceptProc& accept,
                 const THttpProgressProc& progress, const THttpDataProc& data);

    const TNuvWebURL& URL() const { return FURL; }
    // Polled while the request waits for the network, several times a second, so that a
    // transfer that stalls still ends soon after it answers true (EHttpCancel).
    void SetCancelCheck(THttpCheckCanceled check) { FCancelCheck = std::move(check); }

protected:
    explicit THttpConnection(TNuvWebURL url) : FURL(std::move(url)) {}

    // Performs the request with the header lines as given ("Name: value" each).
    virtual void RequestCore(THttpResponse& response, const std::u16string& method,
                             std::vector<std::u16string>& headers, TNuvStream* body,
                             bool ignoreCertificateErrors, const THttpAcceptStep& accept,
                             const THttpProgressProc& progress, const THttpDataProc& data) = 0;

    TNuvWebURL FURL;
    THttpCheckCanceled FCancelCheck;
};

// A stream guarded by its own lock, for data that one thread downloads while another reads them.
//
// Thread-safety: hold the lock (Lock/Unlock, or std::lock_guard) around any use of Stream.
class TNuvDataContainer {
public:
    // Owns the stream.
    explicit TNuvDataContainer(std::unique_ptr<TNuvStream> stream);
    ~TNuvDataContainer();
    TNuvDataContainer(const TNuvDataContainer&) = delete;
    TNuvDataContainer& operator=(const TNuvDataContainer&) = delete;

    void Lock() { FLock.Enter(); }
    void Unlock() { FLock.Leave(); }
    void lock() { Lock(); }
    void unlock() { Unlock(); }
    TNuvStream& Stream() { return *FStream; }

private:
    TNuvCriticalSection FLock{u"DataContainer"};
    std::unique_ptr<TNuvStream> FStream;
};

// A request being configured; every setter returns the same request so that calls chain:
//   TNuvHttp::Get(address)->OnAccept(1 << 20).OnData(stream).RunInCurrentThread();
// Streams and containers given to OnData are not owned and must outlive the run.
//
// Thread-safety: configure a request in one thread, then run it once at a time. Callbacks
// flagged for the main thread run there while the request's thread waits; the others run in the
// request's thread.
class INuvHttpRequest {
public:
    virtual ~INuvHttpRequest() = default;

    // Refuses a response whose Content-Length exceeds maxSize (an absent length counts as 0);
    // no effect when maxSize is 0 or less.
    virtual INuvHttpRequest& OnAccept(int64_t maxSize) = 0;
    virtual INuvHttpRequest& OnAccept(THttpAcceptProc callback, bool inMainThread = false) = 0;
    // Receives the outcome of a run (with Run and with RunInCurrentThread alike).
    virtual INuvHttpRequest& OnComplete(THttpCompleteProc callback, bool inMainThread = false) = 0;
    // Writes each chunk to the container's stream under its lock.
    virtual INuvHttpRequest& OnData(TNuvDataContainer& container) = 0;
    virtual INuvHttpRequest& OnData(THttpDataProc callback) = 0;
    // Writes each chunk to the stream.
    virtual INuvHttpRequest& OnData(TNuvStream& stream) = 0;
    // Sends the stream as the body (from its start); an owned stream is destroyed with the
    // request. A request made with Get becomes a POST.
    virtual INuvHttpRequest& SetPostData(TNuvStream* stream, bool owned) = 0;
    // Sends the bytes as the body; a request made with Get becomes a POST.
    virtual INuvHttpRequest& SetPostData(std::string_view bytes) = 0;
    virtual INuvHttpRequest& OnProgress(THttpProgressProc callback, bool inMainThread = false) = 0;
    // Accepts unknown authorities, names that do not match and expired certificates.
    virtual INuvHttpRequest& IgnoreCertificateErrors() = 0;
    // The priority of the task Run submits (low unless set).
    virtual INuvHttpRequest& SetPriority(TNuvTaskPriority priority) = 0;
    virtual INuvHttpRequest& SetRange(std::shared_ptr<INuvWebRequestRange> range) = 0;
    // Submits the request as a task of the dispatcher; the outcome goes to OnComplete.
    virtual TaskHandle Run() = 0;
    // Performs the request in the calling thread; inside a task, cancelling that task cancels
    // the request. Returns the outcome (code 0 for success).
    virtual TNuvWebErrorInfo RunInCurrentThread() = 0;
    // The same, also stopping once checkCanceled answers true.
    virtual TNuvWebErrorInfo RunInCurrentThread(THttpCheckCanceled checkCanceled) = 0;
};

class TNuvHttpRequestTask;

// The request object behind INuvHttpRequest.
class TNuvHttp final : public INuvHttpRequest, public std::enable_shared_from_this<TNuvHttp> {
public:
    // A GET request for the address (parsed with TNuvWebURL::ParseHttp).
    static std::shared_ptr<INuvHttpRequest> Get(std::u16string_view address);
    // Raises ENuvWebError for a non-zero outcome.
    static void RaiseOnError(const TNuvWebErrorInfo& info);

    ~TNuvHttp() override;

    INuvHttpRequest& OnAccept(int64_t maxSize) override;
    INuvHttpRequest& OnAccept(THttpAcceptProc callback, bool inMainThread = false) override;
    INuvHttpRequest& OnComplete(THttpCompleteProc callback, bool inMainThread = false) override;
    INuvHttpRequest& OnData(TNuvDataContainer& container) override;
    INuvHttpRequest& OnData(THttpDataProc callback) override;
    INuvHttpRequest& OnData(TNuvStream& stream) override;
    INuvHttpRequest& SetPostData(TNuvStream* stream, bool owned) override;
    INuvHttpRequest& SetPostData(std::string_view bytes) override;
    INuvHttpRequest& OnProgress(THttpProgressProc callback, bool inMainThread = false) override;
    INuvHttpRequest& IgnoreCertificateErrors() override;
    INuvHttpRequest& SetPriority(TNuvTaskPriority priority) override;
    INuvHttpRequest& SetRange(std::shared_ptr<INuvWebRequestRange> range) override;
    TaskHandle Run() override;
    TNuvWebErrorInfo RunInCurrentThread() override;
    TNuvWebErrorInfo RunInCurrentThread(THttpCheckCanceled checkCanceled) override;

private:
    friend class TNuvHttpRequestTask;
    TNuvHttp() = default;
    void SetBody(TNuvStream* stream, bool owned);

    bool FIgnoreCertificateErrors = false;
    std::u16string FMethod;
    THttpAcceptProc FAccept;
    bool FAcceptInMainThread = false;
    THttpCheckCanceled FCheckCanceled;
    THttpCompleteProc FComplete;
    bool FCompleteInMainThread = false;
    THttpDataProc FData;
    THttpProgressProc FProgress;
    bool FProgressInMainThread = false;
    TNuvStream* FBody = nullptr;
    std::unique_ptr<TNuvStream> FOwnedBody;
    TNuvTaskPriority FPriority = TNuvTaskPriority::Low;
    std::shared_ptr<INuvWebRequestRange> FRange;
    TNuvWebErrorInfo FErrorInfo;
    TNuvWebURL FURL;
};

// Runs one request; keeps the request alive while it exists.
class TNuvHttpRequestTask final : public TNuvTask {
public:
    explicit TNuvHttpRequestTask(std::shared_ptr<TNuvHttp> request);

    // Performs the request; a refusal or failure becomes the request's outcome.
    void Execute() override;
    // Turns a cancelled run into woCanceled and hands the outcome to the completion callback.
    void Complete() override;
    TNuvTaskPriority Priority() const override { return FRequest->FPriority; }

private:
    // Whether the request is to stop: the caller's check or the task's cancellation.
    bool Stopping();
    bool DoAccept(const THttpResponse& response);
    bool DoProgress(int64_t done, int64_t expected);

    std::shared_ptr<TNuvHttp> FRequest;
    bool FStoppedByCaller = false; // the caller's check asked to stop
};
