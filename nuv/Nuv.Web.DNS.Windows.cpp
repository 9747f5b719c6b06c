// The SRV look-up through the system's DNS client. The name server goes to DnsQuery_W as the
// IP4_ARRAY of its extra parameter: that is the form every Windows version and Wine honour (the
// request form with a server list, DnsQueryEx, is missing from older systems and from the
// toolchain's headers), at the price of IPv4 servers asked on the DNS port only. The call waits
// for as long as the system's own retries last, so it runs on a thread of its own: the caller
// stops waiting at the look-up's bound or at a cancellation, and the thread ends by itself when
// the system gives up (keeping the plug-in loaded until then).

#include "nuv/Nuv.Web.DNS.Transport.h"
#include "nuv/Nuv.Web.Windows.h"

#include "nuv/Nuv.Strings.h"

#include <windns.h>
#include <ws2tcpip.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace {

using namespace nuv::detail;

constexpr uint16_t kDnsPort = 53;

// One look-up, shared by the caller and the thread that asks the system.
struct TLookup {
    std::mutex Lock;
    std::condition_variable Done;
    bool Finished = false;
    DNS_STATUS Status = 0;
    bool HasSrv = false;
    std::vector<std::u16string> Targets;
};

std::u16string StatusText(DNS_STATUS status) {
    wchar_t* message = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        DWORD(status), 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    std::u16string text;
    if (message) {
        text = Trim(std::u16string(reinterpret_cast<const char16_t*>(message), length));
        LocalFree(message);
    }
    return text.empty() ? Format(u"error %d", int64_t(status)) : text;
}

// The IPv4 address of "address" or "address:port"; raises for anything the system cannot ask.
IP4_ADDRESS ServerAddress(std::u16string_view name, const std::string& nameServer) {
    std::string address = nameServer;
    if (const size_t colon = address.find(':');
        colon != address.npos && address.find(':', colon + 1) == address.npos) {
        int64_t port = 0;
        if (!TryStrToInt(FromUtf8(address.substr(colon + 1)), port) || port != kDnsPort)
            RaiseDnsFailure(name, u"the system's resolver asks name servers on port 53 only");
        address.resize(colon);
    }
    in_addr parsed{};
    if (InetPtonA(AF_INET, address.c_str(), &parsed) != 1)
        RaiseDnsFailure(name, u"the system's resolver takes an IPv4 name server only");
    return parsed.s_addr;
}

void Ask(const std::shared_ptr<TLookup>& lookup, std::u16string name, IP4_ADDRESS server) {
    IP4_ARRAY servers{};
    servers.AddrCount = 1;
    servers.AddrArray[0] = server;
    // The wide query answers wide records, whatever the build's default character set.
    DNS_RECORDW* records = nullptr;
    const DNS_STATUS status =
        DnsQuery_W(reinterpret_cast<const wchar_t*>(name.c_str()), DNS_TYPE_SRV,
                   DNS_QUERY_BYPASS_CACHE | DNS_QUERY_NO_HOSTS_FILE | DNS_QUERY_NO_NETBT, &servers,
                   reinterpret_cast<PDNS_RECORD*>(&records), nullptr);
    std::vector<std::u16string> targets;
    bool hasSrv = false;
    for (const DNS_RECORDW* r = records; status == 0 && r; r = r->pNext) {
        if (r->wType != DNS_TYPE_SRV || r->Flags.S.Section != DnsSectionAnswer)
            continue;
        hasSrv = true;
        const wchar_t* target = r->Data.SRV.pNameTarget;
        targets.emplace_back(reinterpret_cast<const char16_t*>(target ? target : L""));
    }
    if (records)
        DnsRecordListFree(reinterpret_cast<PDNS_RECORD>(records), DnsFreeRecordList);
    std::lock_guard lock(lookup->Lock);
    lookup->Status = status;
    lookup->HasSrv = hasSrv;
    lookup->Targets = std::move(targets);
    lookup->Finished = true;
    lookup->Done.notify_all();
}

} // namespace

std::vector<std::u16string> nuv::detail::QuerySrvRecords(std::u16string_view name,
                                                         const std::string& nameServer) {
    const IP4_ADDRESS server = ServerAddress(name, nameServer);
    auto lookup = std::make_shared<TLookup>();
    const HANDLE thread =
        StartPinnedThread([lookup, name = std::u16string(name), server] { Ask(lookup, name, server); });
    if (!thread)
        RaiseDnsFailure(name, u"no thread for the query");
    CloseHandle(thread);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kDnsTimeoutMs);
    std::unique_lock lock(lookup->Lock);
    while (!lookup->Finished) {
        if (CurrentTaskCanceled())
            RaiseDnsFailure(name, u"DNS query cancelled");
        if (std::chrono::steady_clock::now() >= deadline)
            RaiseDnsFailure(name, u"Timeout while contacting DNS servers");
        lookup->Done.wait_for(lock, std::chrono::milliseconds(kDnsPollMs));
    }
    if (lookup->Status != 0)
        RaiseDnsFailure(name, StatusText(lookup->Status));
    if (!lookup->HasSrv)
        RaiseDnsFailure(name, u"No SRV record in the answer");
    return std::move(lookup->Targets);
}
