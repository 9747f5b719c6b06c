// Refreshing a catalogue end to end: a 50,000-station document served from loopback, refreshed
// through EntriesUpdate until the run reports AsyncUpdateFinished (download into a temporary
// file, parse, one transaction of literal statements, the provider's row). The floor is the same
// bytes fetched by the curl program plus the bound-parameter bulk insert of the same stations.
//
// The server runs in a process of its own and each measurement in a child process, so that the
// memory figure (the rise of the peak resident size) is the refresh's alone.

#include "bench/BenchCatalog.h"
#include "platform/Platform.System.h"
#include "platform/Platform.Threads.h"
#include "tests/plugin/Orvo.Tunedex.TestProvider.h"

#include <httplib.h>

#include <csignal>
#include <filesystem>

namespace {

using namespace bench;
using testsupport::TTestLineProvider;

constexpr int kStations = 50000;
constexpr int kRepeats = 3;
constexpr double kMemoryBudgetMiB = 200;

TRun RefreshThroughCatalog(const std::filesystem::path& file, const std::u16string& url) {
    platform::SetMainThread(); // this child's only thread
    TOrvoTunedexProviderRepository::RegisterProvider(TTestLineProvider::Class());
    TFinished finished;
    TOrvoStationCatalog catalog(FromUtf8(file.string()));
    catalog.Listeners().Add(&finished);
    TTestLineProvider provider;
    provider.Title = u"Bench";
    provider.Data = url;
    catalog.ProviderUpdate(&provider, u"");

    TRun run;
    const auto start = std::chrono::steady_clock::now();
    catalog.EntriesUpdate(provider.ID());
    if (finished.Done.Wait(600000) != platform::WaitResult::Signalled)
        throw std::runtime_error("refresh did not finish");
    run.Seconds = Seconds(start);
    run.Stations = catalog.EntriesCount(provider.ID());
    return run;
}

TRun Floor(const std::filesystem::path& file, const std::string& url,
           const std::vector<TOrvoRadioStationInfo>& stations) {
    TOrvoStationCatalog catalog(FromUtf8(file.string()));
    TRun run;
    const std::string curl = "curl -s -o /dev/null '" + url + "'";
    const auto start = std::chrono::steady_clock::now();
    if (std::system(curl.c_str()) != 0)
        throw std::runtime_error("curl failed");
    run.Seconds = Seconds(start) + WriteBound(catalog, stations, u"5d41402abc4b2a76b9719d911017c592");
    run.Stations = int32_t(stations.size());
    return run;
}

} // namespace

int main() {
    pid_t server = -1;
    try {
        const std::vector<TOrvoRadioStationInfo> stations = TStationMaker().Make(kStations);
        std::string document;
        for (const TOrvoRadioStationInfo& station : stations)
            document += TTestLineProvider::Line(station);
        std::fprintf(stderr, "refresh: document of %d stations, %.1f MiB\n", kStations,
                     double(document.size()) / (1 << 20));

        // Bound here, served by a child: the measurements below fork from a process without threads.
        httplib::Server http;
        http.Get("/stations.txt", [&](const httplib::Request&, httplib::Response& res) {
            res.set_content(document, "text/plain; charset=utf-8");
        });
        const int port = http.bind_to_any_port("127.0.0.1");
        if (port <= 0)
            throw std::runtime_error("cannot bind");
        server = ::fork();
        if (server == 0) {
            http.listen_after_bind();
            ::_exit(0);
        }
        const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/stations.txt";

        const std::filesystem::path folder = std::filesystem::path(platform::TemporaryFolder()) /
                                             ("tunedex-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
        int count = 0;
        auto next = [&] { return folder / ("catalog-" + std::to_string(count++) + ".db"); };

        std::vector<double> ours, floor, oursPeak, floorPeak;
        for (int i = 0; i < kRepeats; ++i) {
            const TRun f = InChild<TRun>([&] { return Floor(next(), url, stations); });
            const TRun o = InChild<TRun>([&] { return RefreshThroughCatalog(next(), FromUtf8(url)); });
            if (o.Stations != kStations)
                throw std::runtime_error("refresh stored " + std::to_string(o.Stations) + " stations");
            floor.push_back(f.Seconds);
            ours.push_back(o.Seconds);
            floorPeak.push_back(f.PeakMiB);
            oursPeak.push_back(o.PeakMiB);
        }
        std::filesystem::remove_all(folder);
        ::kill(server, SIGTERM);
        ::waitpid(server, nullptr, 0);

        const double time = Median(ours), timeFloor = Median(floor);
        const double peak = Median(oursPeak);
        std::fprintf(stderr, "refresh: peak memory %.1f MiB, floor's insert %.1f MiB\n", peak,
                     Median(floorPeak));
        std::printf("BENCH refresh value=%.3fs baseline=%.3fs ratio=%.2f target<=2\n", time, timeFloor,
                    time / timeFloor);
        // Memory is held against its budget rather than against the floor's insert, which keeps
        // no document and no station list.
        std::printf("BENCH refresh_memory value=%.1fMiB baseline=%.1fMiB ratio=%.2f target<=1\n", peak,
                    kMemoryBudgetMiB, peak / kMemoryBudgetMiB);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "refresh: %s\n", e.what());
        if (server > 0) {
            ::kill(server, SIGTERM);
            ::waitpid(server, nullptr, 0);
        }
        return 1;
    }
}
