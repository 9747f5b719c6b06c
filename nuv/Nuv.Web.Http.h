#pragma once
// HTTP(S) requests: one connection per request, configured through a fluent request object and
// run either as a task of the dispatcher or in the calling thread.

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
    // and Range) and fills the response. The body, when given, is sent from its start. accept
    // may refuse the response, data receives the body (not read at all without it), progress is
    // called after every chunk sent or received. Raises EHttpError and its descendants; an
    // exception raised by a callback passes through unchanged.
    void Request(THttpResponse& response, const std::u16string& method, const INuvWebRequestRange* range,
                 TNuvStream* body, bool ignoreCertificateErrors, const THttpAcceptProc& accept,
                 const THttpProgressProc& progress, const THttpDataProc& data);

    const TNuvWebURL& URL() const { return FURL; }

protected:
    explicit THttpConnection(TNuvWebURL url) : FURL(std::move(url)) {}

    // Performs the request with the header lines as given ("Name: value" each).
    virtual void RequestCore(THttpResponse& response, const std::u16string& method,
                             std::vector<std::u16string>& headers, TNuvStream* body,
                             bool ignoreCertificateErrors, const THttpAcceptStep& accept,
                             const THttpProgressProc& progress, const THttpDataProc& data) = 0;

    TNuvWebURL FURL;
};
