#pragma once
// What the request front and the transports behind THttpConnection share: one build links exactly
// one transport, which defines THttpConnection::Create. Callers see no difference between them:
// the same header lines reach the server, the same response record comes back, and failures
// carry the same outcome codes and texts apart from the transport's own codes.

#include "nuv/Nuv.Web.Http.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace nuv::detail {

// Body transfer buffer, both directions.
constexpr int64_t kHttpChunkSize = 256 * 1024;
// How long a transfer waits for the network before it looks at cancellation and the time-out.
constexpr int kHttpPollMs = 50;

// The name of a header line, without surrounding blanks.
std::u16string_view HeaderName(std::u16string_view line);
bool HasHeader(const std::vector<std::u16string>& headers, std::u16string_view name);

// The path as a request target: bytes that may not appear in one are percent-encoded, the rest
// (an existing "%xx" included) is sent as given; "/" for an empty path.
std::string EncodePath(std::u16string_view path);

// Content-Length as a 64-bit count; 0 when absent or not a plain number.
int64_t ParseLength(std::u16string_view text);

// The name and value pairs of a Cookie line's value ("a=1; b=2"), trimmed; pairs without a name
// and pairs holding a tab or line break (which would corrupt a cookie store) are left out.
std::vector<std::pair<std::u16string, std::u16string>> CookiePairs(std::u16string_view value);

// Takes the Cookie lines out of the header list (each goes to the cookie store instead, so that
// it also reaches later requests to the host) and puts "Host: <host>" first.
void PrepareHeaderLines(std::vector<std::u16string>& headers, const std::u16string& host,
                        const std::function<void(std::u16string_view cookieValue)>& storeCookies);

// A setup step of the transport that failed without a code of its own.
[[noreturn]] void RaiseInternal(std::u16string_view what);

// The failure of a transfer that went a whole time-out without a byte either way.
EHttpWin32Error TimeoutError(int32_t code, uint32_t timeoutMs);

} // namespace nuv::detail
