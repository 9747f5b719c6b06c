#pragma once
// What the SRV look-up shares with the resolvers behind it: one build links exactly one, which
// defines QuerySrvRecords.

#include <string>
#include <string_view>
#include <vector>

namespace nuv::detail {

// One try with a bound: the editor waits for this answer, and the caller's own retry is a click.
constexpr int kDnsTimeoutMs = 3000;
// How often a running query looks at the cancellation of the task it runs in.
constexpr int kDnsPollMs = 100;

// The target host names of the SRV records of `name` asked of `nameServer`, in answer order, as
// the answer gives them. Raises through RaiseDnsFailure.
std::vector<std::u16string> QuerySrvRecords(std::u16string_view name, const std::string& nameServer);

// "DNS query for <name> failed: <reason>".
[[noreturn]] void RaiseDnsFailure(std::u16string_view name, std::u16string_view reason);

// True inside a task of the dispatcher that has been cancelled.
bool CurrentTaskCanceled();

} // namespace nuv::detail
