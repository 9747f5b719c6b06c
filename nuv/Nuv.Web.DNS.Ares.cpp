// The c-ares resolver behind the SRV look-up.

#include "nuv/Nuv.Web.DNS.Transport.h"

#include "nuv/Nuv.Strings.h"

#include <ares.h>
#include <arpa/nameser.h>
#include <poll.h>

#include <array>
#include <memory>
#include <mutex>
#include <type_traits>

namespace {

using namespace nuv::detail;

struct TAresChannelDeleter {
    void operator()(ares_channel channel) const { ares_destroy(channel); }
};
using TAresChannel = std::unique_ptr<std::remove_pointer_t<ares_channel>, TAresChannelDeleter>;

struct TSrvQuery {
    bool Done = false;
    int Status = ARES_SUCCESS;
    std::vector<std::u16string> Targets;
};

void SrvAnswered(void* arg, int status, int /*timeouts*/, unsigned char* answer, int length) {
    auto& query = *static_cast<TSrvQuery*>(arg);
    query.Done = true;
    query.Status = status;
    if (status != ARES_SUCCESS)
        return;
    ares_srv_reply* replies = nullptr;
    query.Status = ares_parse_srv_reply(answer, length, &replies);
    for (const ares_srv_reply* r = replies; r; r = r->next)
        query.Targets.push_back(FromUtf8(r->host ? r->host : ""));
    if (replies)
        ares_free_data(replies);
}

[[noreturn]] void RaiseDns(std::u16string_view name, int status) {
    RaiseDnsFailure(name, FromUtf8(ares_strerror(status)));
}

} // namespace

std::vector<std::u16string> nuv::detail::QuerySrvRecords(std::u16string_view name,
                                                         const std::string& nameServer) {
    static std::once_flag initialised;
    std::call_once(initialised, [] { ares_library_init(ARES_LIB_INIT_ALL); });

    ares_options options{};
    options.timeout = kDnsTimeoutMs;
    options.tries = 1;
    options.flags = ARES_FLAG_NOSEARCH;
    ares_channel raw = nullptr;
    if (int status = ares_init_options(&raw, &options, ARES_OPT_TIMEOUTMS | ARES_OPT_TRIES | ARES_OPT_FLAGS);
        status != ARES_SUCCESS)
        RaiseDns(name, status);
    TAresChannel channel(raw);
    if (int status = ares_set_servers_ports_csv(channel.get(), nameServer.c_str()); status != ARES_SUCCESS)
        RaiseDns(name, status);

    TSrvQuery query;
    ares_query(channel.get(), ToUtf8(name).c_str(), ns_c_in, ns_t_srv, SrvAnswered, &query);
    while (!query.Done) {
        if (CurrentTaskCanceled()) {
            ares_cancel(channel.get()); // answers the query with ARES_ECANCELLED
            break;
        }
        std::array<ares_socket_t, ARES_GETSOCK_MAXNUM> sockets{};
        const int mask = ares_getsock(channel.get(), sockets.data(), int(sockets.size()));
        std::array<pollfd, ARES_GETSOCK_MAXNUM> fds{};
        nfds_t count = 0;
        for (int i = 0; i < ARES_GETSOCK_MAXNUM; ++i) {
            const short events = short((ARES_GETSOCK_READABLE(mask, i) ? POLLIN : 0) |
                                       (ARES_GETSOCK_WRITABLE(mask, i) ? POLLOUT : 0));
            if (events)
                fds[count++] = pollfd{sockets[size_t(i)], events, 0};
        }
        timeval limit{0, kDnsPollMs * 1000};
        timeval wait{};
        ares_timeout(channel.get(), &limit, &wait);
        const int waitMs = int(wait.tv_sec * 1000 + wait.tv_usec / 1000);
        if (::poll(fds.data(), count, waitMs) <= 0) {
            ares_process_fd(channel.get(), ARES_SOCKET_BAD, ARES_SOCKET_BAD); // lets time-outs expire
            continue;
        }
        for (nfds_t i = 0; i < count && !query.Done; ++i)
            ares_process_fd(channel.get(),
                            fds[i].revents & (POLLIN | POLLERR | POLLHUP) ? fds[i].fd : ARES_SOCKET_BAD,
                            fds[i].revents & POLLOUT ? fds[i].fd : ARES_SOCKET_BAD);
    }
    if (query.Status != ARES_SUCCESS)
        RaiseDns(name, query.Status);
    return std::move(query.Targets);
}
