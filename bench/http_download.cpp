// Download throughput of the HTTP client against the curl program, both fetching the same 64 MiB
// body from a loopback server in the same run. The client writes into a memory stream; curl
// discards what it gets. The stream is emptied between rounds but keeps its memory, so the figure
// measures the transfer and the copy into the stream, not the kernel handing out fresh pages
// (which costs about as much again as the whole loopback transfer).

#include "nuv/Nuv.Streams.h"
#include "nuv/Nuv.Strings.h"
#include "nuv/Nuv.Web.Http.h"

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr size_t BodySize = 64u << 20;
constexpr int Rounds = 5;

double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

} // namespace

int main() {
    std::vector<char> body(BodySize);
    for (size_t i = 0; i < body.size(); ++i)
        body[i] = char(i * 131 + (i >> 12));

    httplib::Server server;
    server.Get("/blob", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(body.size(), "application/octet-stream",
                                 [&](size_t offset, size_t length, httplib::DataSink& sink) {
                                     return sink.write(body.data() + offset,
                                                       std::min<size_t>(length, 1u << 20));
                                 });
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread serving([&] { server.listen_after_bind(); });
    while (!server.is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));

    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/blob";
    const std::string curl = "curl -s -o /dev/null '" + url + "'";
    double best = 1e9, bestCurl = 1e9;
    bool ok = true;
    // Alternate the two so that both see the same machine load; keep each one's best round.
    TNuvMemoryStream stream;
    for (int round = 0; round < Rounds && ok; ++round) {
        stream.SetSize(0);
        auto start = std::chrono::steady_clock::now();
        const TNuvWebErrorInfo info = TNuvHttp::Get(FromUtf8(url))->OnData(stream).RunInCurrentThread();
        best = std::min(best, Seconds(std::chrono::steady_clock::now() - start));
        if (info.ErrorCode != 0 || stream.Size() != int64_t(BodySize)) {
            std::fprintf(stderr, "download failed: %d %s\n", info.ErrorCode,
                         ToUtf8(info.ErrorMessage).c_str());
            ok = false;
        }
        start = std::chrono::steady_clock::now();
        if (std::system(curl.c_str()) != 0) {
            std::fprintf(stderr, "curl failed\n");
            ok = false;
        }
        bestCurl = std::min(bestCurl, Seconds(std::chrono::steady_clock::now() - start));
    }
    server.stop();
    serving.join();
    if (!ok)
        return 1;

    const double mib = double(BodySize) / (1 << 20);
    const double value = mib / best, baseline = mib / bestCurl;
    std::printf("BENCH http_download value=%.0fMiB/s baseline=%.0fMiB/s ratio=%.2f target>=0.8\n", value,
                baseline, value / baseline);
    return 0;
}
