// The SRV look-up through the system's DNS client: the name server it is given is the one asked,
// forms the system cannot ask are refused in words, and a silent server or a cancellation ends the
// look-up as promptly as elsewhere.

#include "nuv/Nuv.Web.DNS.h"

#include "nuv/Nuv.Exceptions.h"
#include "nuv/Nuv.Strings.h"
#include "nuv/Nuv.Threading.Pool.h"
#include "tests/Orvo.Tunedex.Providers.RadioBrowser.TestServers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>

namespace {

using testsupport::TSrvNameServer;

// The text of the failure the look-up raised, empty when it answered.
std::string Failure(const std::string& nameServer, std::vector<std::u16string>* targets = nullptr) {
    try {
        const auto answer = TNuvDNS::QuerySrvTargets(u"_api._tcp.example", nameServer);
        if (targets)
            *targets = answer;
        return {};
    } catch (const Exception& e) {
        return e.what();
    }
}

} // namespace

TEST(DnsWindows, ServerFormsTheSystemCannotAskAreRefusedInWords) {
    struct TCase {
        const char* Server;
        const char* Reason;
    };
    for (const TCase& c :
         {TCase{"127.0.0.1:5353", "port 53 only"}, TCase{"[::1]:53", "IPv4 name server only"},
          TCase{"::1", "IPv4 name server only"}, TCase{"resolver.example", "IPv4 name server only"}}) {
        const std::string failure = Failure(c.Server);
        EXPECT_TRUE(failure.starts_with("DNS query for _api._tcp.example failed: ")) << failure;
        EXPECT_NE(failure.find(c.Reason), std::string::npos) << c.Server << ": " << failure;
    }
}

// Wine's resolver asks the server given but reads no SRV answer (see AnswersAreRead), so only
// Windows itself shows the answers read.
TEST(DnsWindows, TheGivenServerIsAskedAndItsAnswerRead) {
    struct TCase {
        TSrvNameServer::TMode Mode;
        std::vector<std::u16string> Targets; // empty: a failure
    };
    for (const TCase& c : {TCase{TSrvNameServer::Answer, {u"de1.api.example", u"nl1.api.example"}},
                           TCase{TSrvNameServer::Refuse, {}}}) {
        TSrvNameServer dns({"de1.api.example", "a b.example", "nl1.api.example"}, c.Mode);
        if (!dns.Bound())
            GTEST_SKIP() << "the DNS port of " << dns.Address() << " is taken";
        std::vector<std::u16string> targets;
        const std::string failure = Failure(dns.Address(), &targets);
        EXPECT_GE(dns.Queries(), 1);
        EXPECT_EQ(dns.LastName(), "_api._tcp.example");
        if (!TSrvNameServer::AnswersAreRead())
            GTEST_SKIP() << "this system's DNS client reads no SRV answer from a loopback stand-in";
        EXPECT_EQ(targets, c.Targets);
        if (c.Targets.empty()) {
            EXPECT_TRUE(failure.starts_with("DNS query for _api._tcp.example failed: ")) << failure;
        }
        EXPECT_EQ(failure.find("Timeout"), std::string::npos) << failure;
    }
}

TEST(DnsWindows, ASilentServerEndsAtTheBoundAndACancellationAtOnce) {
    TSrvNameServer dns({}, TSrvNameServer::Silent);
    if (!dns.Bound())
        GTEST_SKIP() << "the DNS port of " << dns.Address() << " is taken";
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Failure(dns.Address()),
              "DNS query for _api._tcp.example failed: Timeout while contacting DNS servers");
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(2900));
    EXPECT_LT(took, std::chrono::milliseconds(4000));

    std::promise<std::string> outcome;
    const TaskHandle handle =
        TaskDispatcher().Run([&](const TNuvCancelQuery&) { outcome.set_value(Failure(dns.Address())); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    start = std::chrono::steady_clock::now();
    EXPECT_TRUE(TaskDispatcher().Cancel(handle, true));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(outcome.get_future().get(), "DNS query for _api._tcp.example failed: DNS query cancelled");
}
