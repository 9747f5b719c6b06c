#include "nuv/Nuv.Web.Http.h"

#include "nuv/Nuv.Streams.h"
#include "nuv/Nuv.Strings.h"
#include "tests/nuv/Nuv.Web.TestServer.h"

#include <gtest/gtest.h>

#include "platform/Platform.Threads.h"

#include <atomic>
#include <future>
#include <map>
#include <thread>

using testsupport::TLoopbackServer;
using testsupport::TStallingServer;

// The transport's own codes for a server that cannot be reached and for a stall.
#ifdef _WIN32
constexpr int32_t kCannotConnect = 12029; // ERROR_INTERNET_CANNOT_CONNECT
constexpr int32_t kTimedOut = 12002;      // ERROR_INTERNET_TIMEOUT
#else
constexpr int32_t kCannotConnect = 7; // CURLE_COULDNT_CONNECT
constexpr int32_t kTimedOut = 28;     // CURLE_OPERATION_TIMEDOUT
#endif

// The test body is the main thread; waits on it serve the calls workers send there.

namespace {

std::string Text(const std::u16string& s) {
    return ToUtf8(s);
}

// What one request gave: the outcome, the response record and the body.
struct TFetched {
    TNuvWebErrorInfo Info;
    THttpResponse Response;
    std::string Body;
    std::vector<std::pair<int64_t, int64_t>> Progress;
    size_t LargestChunk = 0;
};

struct TFetchOptions {
    std::shared_ptr<INuvWebRequestRange> Range;
    THttpAcceptProc Accept;
    std::string PostData;
    bool HasPostData = false;
    bool IgnoreCertificateErrors = false;
    THttpDataProc Data; // replaces the collecting receiver when set
};

TFetched Fetch(const std::u16string& address, const TFetchOptions& options = {}) {
    TFetched result;
    auto request = TNuvHttp::Get(address);
    request->OnAccept([&](const THttpResponse& response) {
        result.Response = response;
        return !options.Accept || options.Accept(response);
    });
    request->OnData(options.Data ? options.Data : [&](const void* data, int64_t count) {
        result.Body.append(static_cast<const char*>(data), size_t(count));
        result.LargestChunk = std::max(result.LargestChunk, size_t(count));
        return true;
    });
    request->OnProgress([&](int64_t done, int64_t expected) {
        result.Progress.emplace_back(done, expected);
        return true;
    });
    if (options.HasPostData)
        request->SetPostData(options.PostData);
    if (options.Range)
        request->SetRange(options.Range);
    if (options.IgnoreCertificateErrors)
        request->IgnoreCertificateErrors();
    result.Info = request->RunInCurrentThread();
    return result;
}

// Serves the fixed routes every test here uses.
class HttpTest : public testing::Test {
protected:
    void SetUp() override {
        auto& s = *FServer;
        s.Get("/text", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("hello world", "text/plain; charset=utf-8");
        });
        s.Get("/big", [this](const httplib::Request&, httplib::Response& res) {
            res.set_content(BigBody(), "application/octet-stream");
        });
        s.Get(R"(/status/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
            res.status = std::stoi(req.matches[1]);
            if (req.has_param("body"))
                res.set_content(req.get_param_value("body"), "text/plain");
        });
        s.Get("/headers", [](const httplib::Request& req, httplib::Response& res) {
            std::string out;
            for (const auto& [name, value] : req.headers)
                out += name + ": " + value + "\n";
            res.set_content(out, "text/plain");
        });
        s.Get(R"(/bytes/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
            res.set_content(std::string(std::stoul(req.matches[1]), 'b'), "application/octet-stream");
        });
        // A trickle: a small chunk every 20 ms, for at most a few seconds, until the client leaves.
        s.Get("/slow", [](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider("audio/mpeg", [](size_t offset, httplib::DataSink& sink) {
                if (offset > 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                if (offset >= 200 * 1024 || !sink.write(std::string(1024, 's').data(), 1024))
                    sink.done();
                return true;
            });
        });
        s.Get(R"(/chunked/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
            const size_t size = std::stoul(req.matches[1]);
            res.set_chunked_content_provider("text/plain", [size](size_t, httplib::DataSink& sink) {
                sink.write(std::string(size, 'c').data(), size);
                sink.done();
                return true;
            });
        });
        s.Get("/range", [](const httplib::Request& req, httplib::Response& res) {
            res.set_content("0123456789abcdef", "text/plain"); // cpp-httplib answers ranges itself
            (void)req;
        });
        s.Get("/norange", [](const httplib::Request& req, httplib::Response& res) {
            // A server that knows no ranges: cpp-httplib would otherwise cut the answer itself.
            const_cast<httplib::Request&>(req).ranges.clear();
            res.set_content("0123456789abcdef", "text/plain");
        });
        s.Get("/redirect", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/hop"); });
        s.Get("/hop",
              [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/text", 301); });
        s.Post("/echo", [](const httplib::Request& req, httplib::Response& res) {
            res.set_content(req.method + " " + req.get_header_value("Content-Type") + " " + req.body,
                            "text/plain");
        });
        FServer.Start();
    }

    const std::string& BigBody() {
        static const std::string body = [] {
            std::string b(1024 * 1024 + 17, '\0');
            for (size_t i = 0; i < b.size(); ++i)
                b[i] = char(i * 31 + (i >> 9));
            return b;
        }();
        return body;
    }

    std::u16string Url(std::string_view path) const { return FServer.Url(path); }

    TLoopbackServer FServer;
};

// The request headers the server echoed, by lower-case name.
std::map<std::string, std::vector<std::string>> HeaderLines(const std::string& body) {
    std::map<std::string, std::vector<std::string>> lines;
    for (const std::u16string& line : Split(FromUtf8(body), u"\n")) {
        const size_t colon = line.find(u':');
        if (colon != line.npos)
            lines[Text(AsciiLower(line.substr(0, colon)))].push_back(Text(Trim(line.substr(colon + 1))));
    }
    return lines;
}

} // namespace

TEST_F(HttpTest, DownloadsTheBodyAndFillsTheResponse) {
    const TFetched got = Fetch(Url("/text"));
    EXPECT_EQ(got.Info.ErrorCode, 0) << Text(got.Info.ErrorMessage);
    EXPECT_EQ(got.Body, "hello world");
    EXPECT_EQ(got.Response.StatusCode, 200);
    EXPECT_EQ(Text(got.Response.StatusText), "OK");
    EXPECT_EQ(got.Response.ContentLength, 11);
    EXPECT_EQ(Text(got.Response.ContentType), "text/plain; charset=utf-8");
    EXPECT_TRUE(Text(got.Response.RawHeaders).starts_with("HTTP/1.1 200 OK\r\n"));
    ASSERT_FALSE(got.Progress.empty());
    EXPECT_EQ(got.Progress.back(), std::make_pair(int64_t(11), int64_t(11)));
}

TEST_F(HttpTest, LargeBodyArrivesInBoundedChunksWithProgress) {
    const TFetched got = Fetch(Url("/big"));
    ASSERT_EQ(got.Info.ErrorCode, 0) << Text(got.Info.ErrorMessage);
    EXPECT_TRUE(got.Body == BigBody());
    EXPECT_LE(got.LargestChunk, size_t(256 * 1024));
    ASSERT_FALSE(got.Progress.empty());
    int64_t last = 0;
    for (const auto& [done, expected] : got.Progress) {
        EXPECT_GT(done, last);
        EXPECT_EQ(expected, int64_t(BigBody().size()));
        last = done;
    }
    EXPECT_EQ(last, int64_t(BigBody().size()));
}

TEST_F(HttpTest, StatusOutsideSuccessGivesCodeAndText) {
    struct TCase {
        std::string Path;
        int Code;
        std::string Message;
    };
    for (const TCase& c : {TCase{"/status/404?body=gone", 404, "Not Found"},
                           TCase{"/status/500", 500, "Internal Server Error"},
                           TCase{"/status/304", 304, "Not Modified"}, TCase{"/missing", 404, "Not Found"}}) {
        const TFetched got = Fetch(Url(c.Path));
        EXPECT_EQ(got.Info.ErrorCode, c.Code) << c.Path;
        EXPECT_EQ(Text(got.Info.ErrorMessage), c.Message) << c.Path;
        EXPECT_EQ(got.Body, "") << c.Path;
    }
    const TFetched empty = Fetch(Url("/status/204"));
    EXPECT_EQ(empty.Info.ErrorCode, 0);
    EXPECT_EQ(empty.Response.StatusCode, 204);
}

TEST_F(HttpTest, RefusedContentIsReportedAndNotRead) {
    TFetchOptions options;
    options.Accept = [](const THttpResponse& r) { return Text(r.ContentType).starts_with("audio/"); };
    const TFetched got = Fetch(Url("/text"), options);
    EXPECT_EQ(got.Info.ErrorCode, -3);
    EXPECT_EQ(Text(got.Info.ErrorMessage), "Content type is not accepted");
    EXPECT_EQ(got.Body, "");
}

TEST_F(HttpTest, RangesAreAskedForAndChecked) {
    TFetchOptions options;
    options.Range = std::make_shared<TNuvWebRequestRange>(5, 4);
    const TFetched partial = Fetch(Url("/range"), options);
    EXPECT_EQ(partial.Info.ErrorCode, 0) << Text(partial.Info.ErrorMessage);
    EXPECT_EQ(partial.Response.StatusCode, 206);
    EXPECT_EQ(Text(partial.Response.ContentRange), "bytes 5-8/16");
    EXPECT_EQ(partial.Body, "5678");

    options.Range = std::make_shared<TNuvWebRequestRange>(5, -1);
    EXPECT_EQ(Fetch(Url("/range"), options).Body, "56789abcdef");

    const TFetched ignored = Fetch(Url("/norange"), options);
    EXPECT_EQ(ignored.Info.ErrorCode, -3);
    EXPECT_EQ(Text(ignored.Info.ErrorMessage), "Range is not supported by Server");

    // From the start, a whole answer serves as well.
    options.Range = std::make_shared<TNuvWebRequestRange>(0, 100);
    EXPECT_EQ(Fetch(Url("/norange"), options).Info.ErrorCode, 0);
}

TEST_F(HttpTest, AddressHeaderLinesWinOverDefaults) {
    const auto defaults = HeaderLines(Fetch(Url("/headers")).Body);
    ASSERT_EQ(defaults.count("user-agent"), 1u);
    EXPECT_EQ(defaults.at("user-agent").at(0), Text(TNuvWebSettings::UserAgent()));
    EXPECT_EQ(defaults.at("connection").at(0), "keep-alive");
    EXPECT_EQ(defaults.at("keep-alive").at(0), "300");
    EXPECT_EQ(defaults.at("host").at(0), "127.0.0.1");
    EXPECT_EQ(defaults.count("range"), 0u);

    const auto custom =
        HeaderLines(Fetch(Url("/headers") + u"\r\nuser-agent: TestAgent/3\r\nX-Extra:  two words ").Body);
    ASSERT_EQ(custom.at("user-agent").size(), 1u);
    EXPECT_EQ(custom.at("user-agent").at(0), "TestAgent/3");
    EXPECT_EQ(custom.at("x-extra").at(0), "two words");
}

TEST_F(HttpTest, CookieLineGoesToTheStoreForTheHost) {
    const auto first = HeaderLines(Fetch(Url("/headers") + u"\r\nCookie: tdx_first=1; tdx_second=two").Body);
    // Sent once, from the store, not also as the line given.
    ASSERT_EQ(first.count("cookie"), 1u);
    EXPECT_EQ(first.at("cookie").size(), 1u);

    const auto later = HeaderLines(Fetch(Url("/headers")).Body);
    ASSERT_EQ(later.count("cookie"), 1u);
    EXPECT_NE(later.at("cookie").at(0).find("tdx_first=1"), std::string::npos);
    EXPECT_NE(later.at("cookie").at(0).find("tdx_second=two"), std::string::npos);

    // Another host name does not get them.
    const std::string other = "http://localhost:" + std::to_string(FServer.Port()) + "/headers";
    const auto elsewhere = HeaderLines(Fetch(FromUtf8(other)).Body);
    EXPECT_EQ(elsewhere.count("cookie"), 0u);
}

TEST_F(HttpTest, RedirectsAreFollowed) {
    const TFetched got = Fetch(Url("/redirect"));
    EXPECT_EQ(got.Info.ErrorCode, 0) << Text(got.Info.ErrorMessage);
    EXPECT_EQ(got.Body, "hello world");
    EXPECT_EQ(got.Response.StatusCode, 200);
    EXPECT_TRUE(Text(got.Response.RawHeaders).starts_with("HTTP/1.1 200"));
}

TEST_F(HttpTest, PostSendsTheBody) {
    TFetchOptions options;
    options.PostData = "a=1&b=two";
    options.HasPostData = true;
    const TFetched form = Fetch(Url("/echo"), options);
    EXPECT_EQ(form.Info.ErrorCode, 0) << Text(form.Info.ErrorMessage);
    EXPECT_EQ(form.Body, "POST application/x-www-form-urlencoded a=1&b=two");

    // A body larger than one chunk, with the address's own content type.
    options.PostData = std::string(600 * 1024, 'x');
    const TFetched large = Fetch(Url("/echo") + u"\r\nContent-Type: application/octet-stream", options);
    EXPECT_EQ(large.Info.ErrorCode, 0) << Text(large.Info.ErrorMessage);
    EXPECT_TRUE(large.Body == "POST application/octet-stream " + options.PostData) << large.Body.size();
    // Upload progress comes first, per chunk, against the body size.
    ASSERT_GE(large.Progress.size(), 3u);
    EXPECT_EQ(large.Progress.front().second, int64_t(options.PostData.size()));
    EXPECT_LE(large.Progress.front().first, 256 * 1024);
}

TEST_F(HttpTest, RefusingDataStopsWithWriteError) {
    TFetchOptions options;
    options.Data = [](const void*, int64_t) { return false; };
    const TFetched got = Fetch(Url("/big"), options);
    EXPECT_EQ(got.Info.ErrorCode, -1);
    EXPECT_EQ(Text(got.Info.ErrorMessage), "Cannot write data to the stream.");
}

TEST(HttpTransport, ClosedPortGivesTransportError) {
    const std::string url = "http://127.0.0.1:" + std::to_string(testsupport::ClosedPort()) + "/";

    THttpResponse response;
    auto connection = THttpConnection::Create(TNuvWebURL::ParseHttp(FromUtf8(url)));
    try {
        connection->Request(response, u"GET", nullptr, nullptr, false, nullptr, nullptr, nullptr);
        FAIL() << "no error";
    } catch (const EHttpWin32Error& e) {
        EXPECT_EQ(e.Info().ErrorCode, kCannotConnect);
        EXPECT_FALSE(e.Info().ErrorMessage.empty()) << e.what();
    }
    // A request reports the same as its outcome.
    EXPECT_EQ(TNuvHttp::Get(FromUtf8(url))->RunInCurrentThread().ErrorCode, kCannotConnect);
}

namespace {

// The shortest time-out, restored afterwards.
class TShortTimeout {
public:
    TShortTimeout() : FPrevious(TNuvWebSettings::Timeout()) { TNuvWebSettings::SetTimeout(1000); }
    ~TShortTimeout() { TNuvWebSettings::SetTimeout(FPrevious); }

private:
    uint32_t FPrevious;
};

} // namespace

TEST(HttpTransport, AStallAfterTheHeadersEndsAtTheTimeOut) {
    TShortTimeout timeout;
    TStallingServer server;
    const auto start = std::chrono::steady_clock::now();
    const TNuvWebErrorInfo info =
        TNuvHttp::Get(server.Url())->OnData([](const void*, int64_t) { return true; }).RunInCurrentThread();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(info.ErrorCode, kTimedOut) << Text(info.ErrorMessage);
    EXPECT_EQ(Text(info.ErrorMessage), "Operation timed out: no data for 1000 milliseconds");
    EXPECT_GE(took, std::chrono::milliseconds(950));
    EXPECT_LT(took, std::chrono::milliseconds(2000));
}

TEST(HttpTransport, CancellingAStalledTransferEndsItAtOnce) {
    TStallingServer server;
    std::promise<TNuvWebErrorInfo> outcome;
    const TaskHandle handle = TNuvHttp::Get(server.Url())
                                  ->OnData([](const void*, int64_t) { return true; })
                                  .OnComplete([&](const TNuvWebErrorInfo& info) { outcome.set_value(info); })
                                  .Run();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!server.Stalling() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(server.Stalling());
    std::this_thread::sleep_for(std::chrono::milliseconds(100)); // well into the stall
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(TaskDispatcher().Cancel(handle, true));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(outcome.get_future().get().ErrorCode, -2);
}

TEST(HttpTransport, NamedProxyCarriesTheRequest) {
    TLoopbackServer origin;
    origin->Get("/via", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("origin", "text/plain");
    });
    origin.Start();

    // A forward proxy: the request line carries the whole address.
    TLoopbackServer proxy;
    std::atomic<int> relayed{0};
    std::string authorization;
    proxy->Get(".*", [&](const httplib::Request& req, httplib::Response& res) {
        ++relayed;
        authorization = req.get_header_value("Proxy-Authorization");
        httplib::Client client("127.0.0.1", origin.Port());
        auto answer = client.Get(req.path.substr(req.path.find('/', sizeof "http://")).c_str());
        res.status = answer ? answer->status : 502;
        if (answer)
            res.set_content(answer->body + " via proxy", "text/plain");
    });
    proxy.Start();

    const uint8_t mode = TNuvWebSettings::ProxyMode();
    const TNuvWebProxyInfo saved = TNuvWebSettings::Proxy();
    TNuvWebSettings::SetProxyMode(2);
    TNuvWebSettings::SetProxy({u"127.0.0.1", FromUtf8(std::to_string(proxy.Port())), u"user", u"secret"});
    const TFetched got = Fetch(origin.Url("/via"));
    TNuvWebSettings::SetProxyMode(0);
    const TFetched direct = Fetch(origin.Url("/via"));
    TNuvWebSettings::SetProxyMode(mode);
    TNuvWebSettings::SetProxy(saved);

    EXPECT_EQ(got.Info.ErrorCode, 0) << Text(got.Info.ErrorMessage);
    EXPECT_EQ(got.Body, "origin via proxy");
    EXPECT_EQ(authorization, "Basic dXNlcjpzZWNyZXQ="); // user:secret
    EXPECT_EQ(direct.Body, "origin");
    EXPECT_EQ(relayed.load(), 1);
}

TEST(HttpTransport, SelfSignedCertificateNeedsIgnoring) {
#ifndef CPPHTTPLIB_OPENSSL_SUPPORT
    GTEST_SKIP() << "the loopback server has no TLS in this build";
#else
    const auto& cert = testsupport::TTestCertificate::Get();
    if (!cert.Made)
        GTEST_SKIP() << "openssl could not make a certificate";
    TLoopbackServer server(cert.CertFile, cert.KeyFile);
    ASSERT_TRUE(server->is_valid());
    server->Get("/secret", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("tls", "text/plain");
    });
    const std::u16string url = FromUtf8("https://127.0.0.1:" + std::to_string(server.Start()) + "/secret");

    const TFetched strict = Fetch(url);
    EXPECT_GT(strict.Info.ErrorCode, 0);
    EXPECT_FALSE(strict.Info.ErrorMessage.empty());
    EXPECT_EQ(strict.Body, "");

    TFetchOptions options;
    options.IgnoreCertificateErrors = true;
    const TFetched relaxed = Fetch(url, options);
    EXPECT_EQ(relaxed.Info.ErrorCode, 0) << Text(relaxed.Info.ErrorMessage);
    EXPECT_EQ(relaxed.Body, "tls");
#endif
}

namespace {

// Waits (bounded) until the predicate holds.
template <typename F> bool Eventually(F predicate) {
    for (int i = 0; i < 5000 && !predicate(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return predicate();
}

} // namespace

TEST_F(HttpTest, AcceptBySizeTreatsAnAbsentLengthAsZero) {
    struct TCase {
        std::string Path;
        int64_t Max;
        int Code;
    };
    for (const TCase& c : {TCase{"/chunked/1500", 1000, 0}, TCase{"/bytes/2000", 1000, -3},
                           TCase{"/bytes/1000", 1000, 0}, TCase{"/bytes/2000", 0, 0}}) {
        TNuvMemoryStream body;
        const TNuvWebErrorInfo info =
            TNuvHttp::Get(Url(c.Path))->OnAccept(c.Max).OnData(body).RunInCurrentThread();
        EXPECT_EQ(info.ErrorCode, c.Code) << c.Path << " " << c.Max;
        if (c.Code == -3)
            EXPECT_EQ(Text(info.ErrorMessage), "Content type is not accepted");
        else
            EXPECT_GE(body.Size(), 1000) << c.Path;
    }
}

TEST_F(HttpTest, CancellingTheTaskEndsTheDownloadAtTheNextChunk) {
    std::atomic<int> chunks{0};
    std::promise<TNuvWebErrorInfo> outcome;
    const TaskHandle handle = TNuvHttp::Get(Url("/slow"))
                                  ->OnData([&](const void*, int64_t) { return ++chunks, true; })
                                  .OnComplete([&](const TNuvWebErrorInfo& info) { outcome.set_value(info); })
                                  .Run();
    ASSERT_TRUE(Eventually([&] { return chunks >= 2; }));
    const int atCancel = chunks;
    EXPECT_TRUE(TaskDispatcher().Cancel(handle, true));
    const TNuvWebErrorInfo info = outcome.get_future().get();
    EXPECT_EQ(info.ErrorCode, -2);
    EXPECT_EQ(Text(info.ErrorMessage), "The operation has been canceled by user.");
    EXPECT_LE(chunks - atCancel, 1);
}

TEST_F(HttpTest, RequestInsideACancelledTaskIsCancelled) {
    std::atomic<int> chunks{0};
    TNuvWebErrorInfo inner;
    const TaskHandle handle = TaskDispatcher().Run([&](const TNuvCancelQuery&) {
        inner = TNuvHttp::Get(Url("/slow"))
                    ->OnData([&](const void*, int64_t) { return ++chunks, true; })
                    .RunInCurrentThread();
    });
    ASSERT_TRUE(Eventually([&] { return chunks >= 1; }));
    EXPECT_TRUE(TaskDispatcher().Cancel(handle, true));
    EXPECT_EQ(inner.ErrorCode, -2);
    EXPECT_LT(chunks.load(), 100);
}

TEST_F(HttpTest, CallersCheckStopsTheRequest) {
    int chunks = 0;
    auto request = TNuvHttp::Get(Url("/slow"));
    request->OnData([&](const void*, int64_t) { return ++chunks, true; });
    const TNuvWebErrorInfo info = request->RunInCurrentThread([&] { return chunks >= 3; });
    EXPECT_EQ(info.ErrorCode, -2);
    EXPECT_EQ(chunks, 3);
    // Stopped before the response is taken: still a cancellation, not a refused response.
    EXPECT_EQ(TNuvHttp::Get(Url("/text"))->RunInCurrentThread([] { return true; }).ErrorCode, -2);
}

TEST_F(HttpTest, MainThreadCallbacksRunThereWhileTheWorkerWaits) {
    std::atomic<bool> acceptOnMain{false}, progressOnMain{true}, completeOnMain{false};
    TNuvMemoryStream body;
    platform::Event done;
    TNuvWebErrorInfo outcome{-100, u""};
    TNuvHttp::Get(Url("/big"))
        ->OnAccept([&](const THttpResponse&) { return acceptOnMain = TNuvMainThread::IsMainThread(), true; },
                   true)
        .OnProgress(
            [&](int64_t, int64_t) {
                progressOnMain = progressOnMain && TNuvMainThread::IsMainThread();
                return true;
            },
            true)
        .OnData(body)
        .OnComplete(
            [&](const TNuvWebErrorInfo& info) {
                completeOnMain = TNuvMainThread::IsMainThread();
                outcome = info;
                done.Set();
            },
            true)
        .SetPriority(TNuvTaskPriority::Normal)
        .Run();
    ASSERT_EQ(platform::WaitServingMainThread(done, 10000), platform::WaitResult::Signalled);
    EXPECT_EQ(outcome.ErrorCode, 0) << Text(outcome.ErrorMessage);
    EXPECT_TRUE(acceptOnMain);
    EXPECT_TRUE(progressOnMain);
    EXPECT_TRUE(completeOnMain);
    EXPECT_EQ(body.Size(), int64_t(BigBody().size()));
}

TEST_F(HttpTest, DataContainerAndRaiseOnError) {
    TNuvDataContainer container(std::make_unique<TNuvMemoryStream>());
    EXPECT_EQ(TNuvHttp::Get(Url("/text"))->OnData(container).RunInCurrentThread().ErrorCode, 0);
    {
        std::lock_guard lock(container);
        EXPECT_EQ(container.Stream().Size(), 11);
    }
    const TNuvWebErrorInfo missing = TNuvHttp::Get(Url("/missing"))->RunInCurrentThread();
    EXPECT_NO_THROW(TNuvHttp::RaiseOnError({}));
    try {
        TNuvHttp::RaiseOnError(missing);
        FAIL() << "no error";
    } catch (const ENuvWebError& e) {
        EXPECT_STREQ(e.what(), "Error: 404. Not Found");
    }
}
