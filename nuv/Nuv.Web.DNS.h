#pragma once
// DNS look-ups asked of one given name server, for services found through SRV records.
//
// Thread-safety: every function may be called from any thread; each query has its own channel.

#include <string>
#include <string_view>
#include <vector>

class TNuvDNS {
public:
    TNuvDNS() = delete;

    // The target host names of the SRV records of `name`, in answer order, asked of `nameServer`
    // ("address" or "address:port", an IPv6 address in brackets when it has a port) with one try
    // of a few seconds. Targets that are no valid host name (IsValidHostName) are left out: they
    // come from the network and end up in addresses. Raises Exception when the query fails or
    // times out, when the answer holds no SRV record, or when the task it runs in is cancelled
    // (noticed within a tenth of a second).
    static std::vector<std::u16string> QuerySrvTargets(std::u16string_view name,
                                                       const std::string& nameServer);

    // True for a host name: labels of 1 to 63 ASCII letters, digits and hyphens, no label
    // beginning or ending with a hyphen, separated by single dots, at most 253 characters.
    static bool IsValidHostName(std::u16string_view name);
};
