#include "nuv/Nuv.Web.DNS.h"

#include "nuv/Nuv.Strings.h"
#include "tests/Orvo.Tunedex.Providers.RadioBrowser.TestServers.h"

#include <gtest/gtest.h>

TEST(DnsHostNames, OnlyLettersDigitsAndInnerHyphensInDottedLabels) {
    for (const char* good : {"de1.api.radio-browser.info", "localhost", "a.b", "xn--bcher-kva.example",
                             "1.2.3.4", "A-1.Example"})
        EXPECT_TRUE(TNuvDNS::IsValidHostName(FromUtf8(good))) << good;
    const std::string longLabel(64, 'a');
    for (const std::string& bad :
         {std::string(), std::string("."), std::string("a b.example"), std::string("a..b"), std::string(".a"),
          std::string("a."), std::string("-a.example"), std::string("a-.example"), std::string("a_b.example"),
          std::string("$(reboot).example"), std::string("a;b.example"), std::string("a`id`.example"),
          std::string("a\\046b"), longLabel + ".example", std::string(254, 'a'),
          std::string("caf\xC3\xA9.example")})
        EXPECT_FALSE(TNuvDNS::IsValidHostName(FromUtf8(bad))) << bad;
}

TEST(DnsSrv, TargetsThatAreNoHostNamesAreLeftOut) {
    if (!testsupport::TSrvNameServer::AnswersAreRead())
        GTEST_SKIP() << "this system's DNS client reads no SRV answer from a loopback stand-in";
    testsupport::TSrvNameServer dns(
        {"", "a b.example", "de1.api.example", "x;reboot.example", "$(id).example", "nl1.api.example"});
    const std::vector<std::u16string> targets = TNuvDNS::QuerySrvTargets(u"_api._tcp.example", dns.Address());
    EXPECT_EQ(targets, (std::vector<std::u16string>{u"de1.api.example", u"nl1.api.example"}));
    EXPECT_EQ(dns.LastName(), "_api._tcp.example");
}
