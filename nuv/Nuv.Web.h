#pragma once
// What every web request shares: the process-wide connection settings, request addresses, the
// outcome record, the response record and the error family.

#include "nuv/Nuv.Exceptions.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// A named proxy: server, port, user name and password, as the user typed them.
struct TNuvWebProxyInfo {
    std::u16string Server;
    std::u16string Port;
    std::u16string UserName;
    std::u16string Password;
};

// How requests reach the network.
enum TNuvProxyMode : uint8_t { pmDirect = 0, pmSystem = 1, pmNamedProxy = 2 };

// Process-wide connection settings; they apply to connections opened after a change.
//
// Thread-safety: every member may be called from any thread. They are meant to be set once at
// start-up, before requests are made.
class TNuvWebSettings {
public:
    TNuvWebSettings() = delete;

    // A TNuvProxyMode; any value other than those named means the system's settings. Kept as the
    // byte the host gave.
    static uint8_t ProxyMode();
    static void SetProxyMode(uint8_t mode);
    // The mode requests use: pmNamedProxy with an empty (blank) proxy server counts as pmDirect.
    static uint8_t EffectiveProxyMode();
    static TNuvWebProxyInfo Proxy();
    static void SetProxy(const TNuvWebProxyInfo& proxy);

    // Milliseconds allowed for connecting and for any stretch without data; 1000 to 30000.
    static uint32_t Timeout();
    // Clamps to 1000..30000.
    static void SetTimeout(int64_t milliseconds);

    // Product token that leads the default user agent; must be set before its first use.
    static std::u16string ProductToken();
    static void SetProductToken(std::u16string_view token);

    // The custom user agent when set, else DefaultUserAgent.
    static std::u16string UserAgent();
    // Empty text, or the default user agent itself, clears the custom user agent. A text that is
    // no valid user agent (IsValidUserAgent) is refused: the default is used and the answer is
    // false.
    static bool SetUserAgent(std::u16string_view agent);
    // False for a text with a line break or another control character but tab: sent as a header
    // value, it would end the header and add lines of its own.
    static bool IsValidUserAgent(std::u16string_view agent);
    // Composed on first need from the product token and the system's name and version, then
    // kept for the life of the process.
    static std::u16string DefaultUserAgent();
};

// A request address: scheme, host, port, path and extra request header lines that followed
// the first CR LF of the address text.
struct TNuvWebURL {
    std::u16string CustomHeaders; // one header line per line, CR LF separated
    std::u16string Host;
    std::u16string Path; // from the first "/" after the host, query included; may be empty
    int32_t Port = 0;    // 0 when the text names none
    std::u16string Protocol;
    bool Secured = false;

    // Splits the text; a scheme equal to defaultProtocol + "s" (any case) marks it secured.
    static TNuvWebURL Parse(std::u16string_view text, std::u16string_view defaultProtocol);
    // Parse with "http" and the scheme's port filled in (443 secured, else 80); a file-system
    // path (drive letter and colon, or a "\\" share) is parsed without a default scheme.
    static TNuvWebURL ParseHttp(std::u16string_view text);
    // The address written out again, header lines included; empty without a host.
    std::u16string ToString() const;
};

// The text's UTF-8 bytes, each byte `keep` refuses written as "%XX" with upper-case hexadecimal
// digits.
std::string PercentEncode(std::u16string_view text, bool (*keep)(unsigned char byte));

// The text's UTF-8 bytes percent-encoded for use as one path segment or query value: every byte
// but ASCII letters, digits and "-._~" becomes "%XX" with upper-case hexadecimal digits, so
// spaces, "&", "/", "?", "#", line breaks and non-ASCII letters cannot change what the address
// means.
std::u16string EncodeURLComponent(std::u16string_view text);

// A request's own outcome codes, beside 0 (success), HTTP statuses and transport codes.
enum TNuvWebOutcome : int32_t { woInternalFailure = -1, woCanceled = -2, woRefused = -3 };

// Outcome of a request: 0 success, an HTTP status, a transport code, or a TNuvWebOutcome (internal
// failure, canceled, range or content refused).
struct TNuvWebErrorInfo {
    int32_t ErrorCode = 0;
    std::u16string ErrorMessage;
};

// The final response's status line and headers.
struct THttpResponse {
    int64_t ContentLength = 0; // Content-Length, 0 when absent or unreadable
    std::u16string ContentRange;
    std::u16string ContentType;
    std::u16string RawHeaders; // status line and header lines, CR LF terminated
    int32_t StatusCode = 0;
    std::u16string StatusText;

    bool IsSuccess() const { return StatusCode >= 200 && StatusCode <= 299; }
};

// A byte range to ask for.
class INuvWebRequestRange {
public:
    virtual ~INuvWebRequestRange() = default;
    // The first byte asked for, from 0.
    virtual int64_t Offset() const = 0;
    // Negative means up to the end.
    virtual int64_t Size() const = 0;
};

// A fixed range.
class TNuvWebRequestRange : public INuvWebRequestRange {
public:
    TNuvWebRequestRange(int64_t offset, int64_t size) : FOffset(offset), FSize(size) {}
    int64_t Offset() const override { return FOffset; }
    int64_t Size() const override { return FSize; }

private:
    int64_t FOffset;
    int64_t FSize;
};

// Base of the web errors; carries the outcome record. Message: "Error: <code>. <message>".
class ENuvWebError : public Exception {
public:
    explicit ENuvWebError(TNuvWebErrorInfo info);
    ENuvWebError(int32_t code, std::u16string message)
        : ENuvWebError(TNuvWebErrorInfo{code, std::move(message)}) {}
    const TNuvWebErrorInfo& Info() const noexcept { return FInfo; }

private:
    TNuvWebErrorInfo FInfo;
};

// A request that failed or was refused.
class EHttpError : public ENuvWebError {
public:
    using ENuvWebError::ENuvWebError;
};

// The progress receiver or the task asked to stop.
class EHttpCancel : public EHttpError {
public:
    EHttpCancel() : EHttpError(woCanceled, u"The operation has been canceled by user.") {}
};

// The data receiver did not take every byte.
class EHttpWriteError : public EHttpError {
public:
    EHttpWriteError() : EHttpError(woInternalFailure, u"Cannot write data to the stream.") {}
};

// The transport failed; the code and message are the transport's own.
class EHttpWin32Error : public EHttpError {
public:
    using EHttpError::EHttpError;
};
