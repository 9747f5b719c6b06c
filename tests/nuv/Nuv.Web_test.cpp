#include "nuv/Nuv.Web.h"

#include "nuv/Nuv.Strings.h"
#include "platform/Platform.System.h"

#include <gtest/gtest.h>

namespace {

// The default user agent is composed once per process, on first need; the token must be there
// before any test makes a request.
const bool TokenSet = (TNuvWebSettings::SetProductToken(u"Orvo-Tunedex/1.0"), true);

struct TUrlCase {
    std::u16string Text;
    std::u16string Protocol, Host, Path, Headers;
    int32_t Port;
    bool Secured;
};

void PrintTo(const TUrlCase& c, std::ostream* os) {
    *os << ToUtf8(c.Text);
}

class WebURLParseHttp : public testing::TestWithParam<TUrlCase> {};

} // namespace

TEST_P(WebURLParseHttp, SplitsTheAddress) {
    const TUrlCase& c = GetParam();
    const TNuvWebURL url = TNuvWebURL::ParseHttp(c.Text);
    EXPECT_EQ(ToUtf8(url.Protocol), ToUtf8(c.Protocol));
    EXPECT_EQ(ToUtf8(url.Host), ToUtf8(c.Host));
    EXPECT_EQ(ToUtf8(url.Path), ToUtf8(c.Path));
    EXPECT_EQ(ToUtf8(url.CustomHeaders), ToUtf8(c.Headers));
    EXPECT_EQ(url.Port, c.Port);
    EXPECT_EQ(url.Secured, c.Secured);
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, WebURLParseHttp,
    testing::Values(TUrlCase{u"host:8080/a?b=c", u"http", u"host", u"/a?b=c", u"", 8080, false},
                    TUrlCase{u"HTTPS://host", u"HTTPS", u"host", u"", u"", 443, true},
                    TUrlCase{u"http://host/x/y", u"http", u"host", u"/x/y", u"", 80, false},
                    TUrlCase{u"https://host:8443/", u"https", u"host", u"/", u"", 8443, true},
                    // Only the default scheme plus "s" counts as secured.
                    TUrlCase{u"ftps://host/f", u"ftps", u"host", u"/f", u"", 80, false},
                    // A port that is no number reads as 0 and gets the scheme's.
                    TUrlCase{u"host:abc/p", u"http", u"host", u"/p", u"", 80, false},
                    // Extra header lines after the first CR LF stay with the address.
                    TUrlCase{u"http://host/p\r\nUser-Agent: x\r\nCookie: a=1", u"http", u"host", u"/p",
                             u"User-Agent: x\r\nCookie: a=1", 80, false},
                    // The path starts at the first "/" after the scheme, so a colon later on is left alone.
                    TUrlCase{u"http://host/a:b", u"http", u"host", u"/a:b", u"", 80, false},
                    TUrlCase{u"http://[::1]:8080/v6", u"http", u"[::1]", u"/v6", u"", 8080, false},
                    // File-system paths are parsed without a scheme and keep port 0.
                    TUrlCase{u"C:\\music\\list.m3u", u"", u"C", u"", u"", 0, false},
                    TUrlCase{u"d:/music/list.m3u", u"", u"d", u"/music/list.m3u", u"", 0, false},
                    TUrlCase{u"\\\\server\\share\\list.pls", u"", u"\\\\server\\share\\list.pls", u"", u"", 0,
                             false},
                    TUrlCase{u"\\\\?\\C:\\long\\list.pls", u"", u"\\\\?\\C", u"", u"", 0, false},
                    TUrlCase{u"", u"http", u"", u"", u"", 80, false}));

TEST(WebURL, ParseKeepsThePortOfTheTextOnly) {
    const TNuvWebURL url = TNuvWebURL::Parse(u"ftp://host/file", u"ftp");
    EXPECT_EQ(url.Port, 0);
    EXPECT_FALSE(url.Secured);
    EXPECT_TRUE(TNuvWebURL::Parse(u"FtpS://h", u"ftp").Secured);
    // Without "://" the default scheme is taken and nothing is secured.
    const TNuvWebURL plain = TNuvWebURL::Parse(u"h/p", u"gopher");
    EXPECT_EQ(ToUtf8(plain.Protocol), "gopher");
    EXPECT_EQ(ToUtf8(plain.Host), "h");
}

TEST(WebURL, ToStringWritesTheAddressBack) {
    EXPECT_EQ(ToUtf8(TNuvWebURL::ParseHttp(u"host:8080/a?b=c").ToString()), "http://host:8080/a?b=c");
    EXPECT_EQ(ToUtf8(TNuvWebURL::ParseHttp(u"https://h/p\r\nX-A: 1").ToString()),
              "https://h:443/p\r\nX-A: 1");
    TNuvWebURL bare;
    bare.Host = u"h";
    EXPECT_EQ(ToUtf8(bare.ToString()), "h");
    bare.Host.clear();
    bare.Protocol = u"http";
    EXPECT_EQ(ToUtf8(bare.ToString()), "");
}

TEST(WebSettings, TimeoutIsClamped) {
    const uint32_t saved = TNuvWebSettings::Timeout();
    for (const auto& [given, kept] : std::vector<std::pair<int64_t, uint32_t>>{{0, 1000},
                                                                               {-5, 1000},
                                                                               {999, 1000},
                                                                               {1000, 1000},
                                                                               {7000, 7000},
                                                                               {30000, 30000},
                                                                               {30001, 30000},
                                                                               {int64_t(1) << 40, 30000}}) {
        TNuvWebSettings::SetTimeout(given);
        EXPECT_EQ(TNuvWebSettings::Timeout(), kept) << given;
    }
    TNuvWebSettings::SetTimeout(saved);
}

TEST(WebSettings, NamedProxyWithBlankServerMeansDirect) {
    const uint8_t mode = TNuvWebSettings::ProxyMode();
    const TNuvWebProxyInfo proxy = TNuvWebSettings::Proxy();
    TNuvWebSettings::SetProxyMode(2);
    TNuvWebSettings::SetProxy({u" \t ", u"8080", u"", u""});
    EXPECT_EQ(TNuvWebSettings::EffectiveProxyMode(), 0);
    TNuvWebSettings::SetProxy({u"proxy", u"8080", u"", u""});
    EXPECT_EQ(TNuvWebSettings::EffectiveProxyMode(), 2);
    TNuvWebSettings::SetProxyMode(1);
    EXPECT_EQ(TNuvWebSettings::EffectiveProxyMode(), 1);
    TNuvWebSettings::SetProxyMode(mode);
    TNuvWebSettings::SetProxy(proxy);
}

TEST(WebSettings, UserAgentComposition) {
    ASSERT_TRUE(TokenSet);
    const std::string agent = ToUtf8(TNuvWebSettings::DefaultUserAgent());
    const std::string system = platform::OperatingSystemVersion();
    EXPECT_EQ(agent, "Mozilla/5.0 (Orvo-Tunedex/1.0; " + system + ") AppleWebKit/537.36 (KHTML, like Gecko)");
    // Once composed the default never changes.
    TNuvWebSettings::SetProductToken(u"Other/2.0");
    EXPECT_EQ(ToUtf8(TNuvWebSettings::DefaultUserAgent()), agent);

    TNuvWebSettings::SetUserAgent(u"Custom/1");
    EXPECT_EQ(ToUtf8(TNuvWebSettings::UserAgent()), "Custom/1");
    TNuvWebSettings::SetUserAgent(TNuvWebSettings::DefaultUserAgent());
    EXPECT_EQ(ToUtf8(TNuvWebSettings::UserAgent()), agent);
    TNuvWebSettings::SetUserAgent(u"Custom/2");
    TNuvWebSettings::SetUserAgent(u"");
    EXPECT_EQ(ToUtf8(TNuvWebSettings::UserAgent()), agent);

    // A line break would add header lines to every request: refused, the default stays.
    EXPECT_TRUE(TNuvWebSettings::SetUserAgent(u"Custom/3 (tab\tok)"));
    using namespace std::string_view_literals;
    for (const std::u16string_view bad : {u"A\r\nX-Injected: 1"sv, u"A\nB"sv, u"A\rB"sv, u"A\0B"sv}) {
        EXPECT_FALSE(TNuvWebSettings::SetUserAgent(bad));
        EXPECT_EQ(ToUtf8(TNuvWebSettings::UserAgent()), agent);
    }
}

TEST(WebErrors, MessageCarriesCodeAndText) {
    const ENuvWebError error(404, u"Not Found");
    EXPECT_STREQ(error.what(), "Error: 404. Not Found");
    EXPECT_EQ(error.Info().ErrorCode, 404);
    const EHttpCancel cancel;
    EXPECT_EQ(cancel.Info().ErrorCode, -2);
    EXPECT_EQ(ToUtf8(cancel.Info().ErrorMessage), "The operation has been canceled by user.");
    const EHttpWriteError write;
    EXPECT_EQ(write.Info().ErrorCode, -1);
    EXPECT_EQ(ToUtf8(write.Info().ErrorMessage), "Cannot write data to the stream.");
}

TEST(WebURLEncode, KeepsOnlyUnreservedCharacters) {
    struct Case {
        std::u16string Text;
        std::u16string Encoded;
    };
    for (const Case& c :
         {Case{u"", u""}, Case{u"Rock-n_Roll.1~", u"Rock-n_Roll.1~"},
          Case{u"drum & bass", u"drum%20%26%20bass"},
          Case{u"a/b?c#d;e=f+g%h", u"a%2Fb%3Fc%23d%3Be%3Df%2Bg%25h"},
          Case{u"Côte d’Ivoire", u"C%C3%B4te%20d%E2%80%99Ivoire"}, Case{u"\U0001F3B5", u"%F0%9F%8E%B5"},
          // Line breaks would otherwise start header lines of their own.
          Case{u"x\r\nHost: y", u"x%0D%0AHost%3A%20y"}})
        EXPECT_EQ(ToUtf8(EncodeURLComponent(c.Text)), ToUtf8(c.Encoded)) << ToUtf8(c.Text);
}
