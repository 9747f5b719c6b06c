#include "host/Orvo.Host.Cli.h"
#include "host/Orvo.Host.ConnectionSettings.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <sstream>

using testsupport::TScopedEnvironment;

namespace {

std::string Proxy(const TOrvoHostConnection& c) {
    return std::to_string(c.ProxyMode) + " " +
           ToUtf8(c.ProxyServer + u"|" + c.ProxyPort + u"|" + c.ProxyUserName + u"|" + c.ProxyPassword);
}

TEST(HostConnectionSettings, ProxiesAsUsersWriteThem) {
    struct Case {
        const char* Text;
        std::string Expected; // empty: refused
    };
    for (const Case& c : {
             Case{"direct", "0 |||"},
             Case{" System ", "1 |||"},
             Case{"proxy.example", "2 proxy.example|||"},
             Case{"proxy.example:3128", "2 proxy.example|3128||"},
             Case{"http://ann:se:cret@proxy.example:8080/", "2 http://proxy.example|8080|ann|se:cret"},
             Case{"socks5://10.0.0.1:1080", "2 socks5://10.0.0.1|1080||"},
             Case{"[::1]:3128", "2 [::1]|3128||"},
             Case{"[::1]", "2 [::1]|||"},
             Case{"", ""},
             Case{"proxy:0", ""},
             Case{"proxy:65536", ""},
             Case{"proxy:http", ""},
             Case{"ann@", ""},
             Case{"a proxy", ""},
         }) {
        TOrvoHostConnection settings;
        if (c.Expected.empty()) {
            EXPECT_THROW(settings.SetProxy(c.Text), EArgumentError) << c.Text;
            EXPECT_EQ(Proxy(settings), "1 |||") << c.Text;
        } else {
            settings.SetProxy(c.Text);
            EXPECT_EQ(Proxy(settings), c.Expected) << c.Text;
            // Written back as it is taken, for a program the host starts.
            TOrvoHostConnection again;
            again.SetProxy(settings.ProxyText());
            EXPECT_EQ(Proxy(again), c.Expected) << c.Text;
        }
    }
}

TEST(HostConnectionSettings, EnvironmentChangesOnlyWhatItSets) {
    {
        TScopedEnvironment proxy("TUNEDEX_PROXY", nullptr), timeout("TUNEDEX_TIMEOUT", ""),
            agent("TUNEDEX_USER_AGENT", nullptr);
        const TOrvoHostConnection settings = TOrvoHostConnection::FromEnvironment();
        EXPECT_EQ(Proxy(settings), "1 |||");
        EXPECT_EQ(settings.Timeout, 5000);
        EXPECT_TRUE(settings.UserAgent.empty());
    }
    {
        TScopedEnvironment proxy("TUNEDEX_PROXY", "cache.example:3128"), timeout("TUNEDEX_TIMEOUT", "12000"),
            agent("TUNEDEX_USER_AGENT", "Tester/1.0");
        const TOrvoHostConnection settings = TOrvoHostConnection::FromEnvironment();
        EXPECT_EQ(Proxy(settings), "2 cache.example|3128||");
        EXPECT_EQ(settings.Timeout, 12000);
        EXPECT_EQ(ToUtf8(settings.UserAgent), "Tester/1.0");
    }
    for (const char* bad : {"soon", "-1", "99999999999"}) {
        TScopedEnvironment timeout("TUNEDEX_TIMEOUT", bad);
        try {
            TOrvoHostConnection::FromEnvironment();
            ADD_FAILURE() << bad;
        } catch (const EArgumentError& e) {
            EXPECT_NE(std::string(e.what()).find("TUNEDEX_TIMEOUT"), std::string::npos) << e.what();
        }
    }
}

TEST(HostConnectionSettings, TheServiceAnswersEveryProperty) {
    TOrvoHostConnection settings;
    settings.SetProxy("ann:pw@proxy.example:3128");
    settings.Timeout = 7000;
    settings.UserAgent = u"Tester/1.0";
    auto core = TOrvoHostCore::Create(u"/unused/");
    core->RegisterService(IOrvoServiceConnectionSettings::IID, TOrvoHostConnectionSettings::Create(settings));

    ComPtr<IOrvoServiceConnectionSettings> service;
    ASSERT_EQ(core->QueryInterface(IOrvoServiceConnectionSettings::IID, service.put_void()), S_OK);
    EXPECT_EQ(ReadIntProp(service.get(), 1, -1), 2);
    EXPECT_EQ(ToUtf8(ReadTextProp(service.get(), 2)), "proxy.example");
    EXPECT_EQ(ToUtf8(ReadTextProp(service.get(), 3)), "3128");
    EXPECT_EQ(ToUtf8(ReadTextProp(service.get(), 4)), "ann");
    EXPECT_EQ(ToUtf8(ReadTextProp(service.get(), 5)), "pw");
    EXPECT_EQ(ReadIntProp(service.get(), 6, -1), 7000);
    EXPECT_EQ(ToUtf8(ReadTextProp(service.get(), 7)), "Tester/1.0");
    EXPECT_EQ(ReadIntProp(service.get(), 8, -1), -1);
    // Read-only.
    EXPECT_LT(service->SetValueAsInt32(6, 1), 0);
    EXPECT_EQ(ReadIntProp(service.get(), 6, -1), 7000);
}

TEST(HostConnectionSettings, UnusableOptionsAreUsageErrors) {
    TScopedEnvironment proxy("TUNEDEX_PROXY", nullptr), timeout("TUNEDEX_TIMEOUT", nullptr);
    struct Case {
        std::vector<std::string> Args;
        const char* Message;
    };
    for (const Case& c : {Case{{"--proxy", "proxy:none", "info"}, "Invalid proxy port"},
                          Case{{"--timeout", "soon", "info"}, "Invalid time-out"},
                          Case{{"--user-agent", "A\r\nX-Injected: 1", "info"}, "Invalid user agent"},
                          Case{{"--user-agent", "A\nB", "info"}, "Invalid user agent"}}) {
        std::vector<const char*> argv{"tunedex"};
        for (const auto& a : c.Args)
            argv.push_back(a.c_str());
        std::ostringstream out, err;
        EXPECT_EQ(TOrvoCli().Run(int(argv.size()), argv.data(), out, err), TUNEDEX_EXIT_USAGE) << c.Message;
        EXPECT_NE(err.str().find(c.Message), std::string::npos) << err.str();
    }
    // A bad environment value is one too, unless an option replaces it.
    TScopedEnvironment badProxy("TUNEDEX_PROXY", "proxy:none");
    std::ostringstream out, err;
    const char* argv[] = {"tunedex", "info"};
    EXPECT_EQ(TOrvoCli().Run(2, argv, out, err), TUNEDEX_EXIT_USAGE);
    EXPECT_NE(err.str().find("TUNEDEX_PROXY"), std::string::npos) << err.str();
    TScopedEnvironment proxyAgain("TUNEDEX_PROXY", nullptr), badAgent("TUNEDEX_USER_AGENT", "A\rB");
    std::ostringstream out2, err2;
    EXPECT_EQ(TOrvoCli().Run(2, argv, out2, err2), TUNEDEX_EXIT_USAGE);
    EXPECT_NE(err2.str().find("TUNEDEX_USER_AGENT: Invalid user agent"), std::string::npos) << err2.str();
}

} // namespace
