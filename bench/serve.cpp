// The local web page's row request on a 50,000-station catalogue, against `tunedex stations` asking
// for the same window in the same run: the first page, a page from the middle sorted by name, and
// a search. The page's figure is the server's own time for the request (what the answer reports as
// serverMs: the row request, the count of all matching stations and the JSON); the command's is the
// `tunedex stations` program's run (starting, loading the plug-in, the row request and its output),
// which is what a script asking for the same window waits for. The two take turns, so that both
// meet the same load of a shared machine. The first page must also answer within 100 ms of server
// time.

#include "bench/BenchCatalog.h"
#include "host/Orvo.Host.Web.Api.h"
#include "platform/Platform.System.h"

#include <httplib.h>
#include <rapidjson/document.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <thread>

namespace {

using namespace bench;

constexpr int kStations = 50000;
constexpr int kProviders = 5;
constexpr int kRepeats = 7;
constexpr double kFirstPageMs = 100.0;

struct TCase {
    const char* Name;
    // The page's query and the command's options for the same window.
    std::string Query;
    std::vector<std::string> Options;
};

void FillCatalog(const std::filesystem::path& file) {
    TOrvoStationCatalog catalog(FromUtf8(file.string()));
    const std::vector<TOrvoRadioStationInfo> stations = TStationMaker().Make(kStations);
    catalog.Transaction([&] {
        for (int p = 0; p < kProviders; ++p)
            catalog.Exec(TOrvoStationCatalog::SqlProviderStore(u"provider-" + IntToStr(p),
                                                               u"TOrvoTunedexCustom", 45000, u"",
                                                               u"Catalogue " + IntToStr(p), 0));
        for (size_t i = 0; i < stations.size(); ++i)
            catalog.AddEntry(stations[i], u"provider-" + IntToStr(int64_t(i % kProviders)));
    });
}

double Milliseconds(std::chrono::steady_clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

// The text with "{}" replaced by the repetition's number.
std::string Numbered(std::string text, int repetition) {
    if (const size_t at = text.find("{}"); at != std::string::npos)
        text.replace(at, 2, std::to_string(repetition + 1));
    return text;
}

// The `tunedex stations` program's run for the window, as a script runs it.
double CommandMs(const std::filesystem::path& profile, const std::vector<std::string>& options) {
    std::vector<std::string> args = {std::string("--plugin=") + TUNEDEX_PLUGIN_FILE,
                                     "--profile=" + profile.string(), "stations", "--format", "json"};
    args.insert(args.end(), options.begin(), options.end());
    const auto start = std::chrono::steady_clock::now();
    const platform::ProgramRun run = platform::RunProgram(TUNEDEX_CLI_FILE, args, 60000);
    if (run.Status != 0)
        throw std::runtime_error("tunedex stations failed: " + run.Err);
    return Milliseconds(std::chrono::steady_clock::now() - start);
}

} // namespace

int main() {
    try {
        const std::filesystem::path profile = std::filesystem::path(platform::TemporaryFolder()) /
                                              ("tunedex-bench-serve-" + std::to_string(::getpid()));
        std::filesystem::create_directories(profile);
        FillCatalog(profile / "Tunedex.db");

        const std::vector<TCase> cases = {
            // A new selection each time: its count is never one kept from before.
            {"serve_first_page",
             "where=Bitrate%20ge%20-{}&limit=50",
             {"--where", "Bitrate", "ge", "-{}", "--limit", "50"}},
            {"serve_sorted_page",
             "sort=Name&offset=25000&limit=50",
             {"--sort", "Name", "--offset", "25000", "--limit", "50"}},
            {"serve_search", "search=%3Fid%3D4999&limit=50", {"--search", "?id=4999", "--limit", "50"}},
        };
        // The storage makes its index on Name at its first request: not timed.
        CommandMs(profile, {"--limit", "1"});
        std::vector<std::vector<double>> command(cases.size());
        std::vector<std::vector<double>> page(cases.size());
        {
            std::ostringstream out, err;
            TOrvoCliContext context{{}, out, err};
            context.Settings.PluginFile = TUNEDEX_PLUGIN_FILE;
            context.Settings.ProfileFolder = profile;
            const TOrvoCliPluginLog log;
            TOrvoHost host(context.Settings);
            if (Failed(host.Initialize()))
                throw std::runtime_error("the plug-in did not initialise");
            TOrvoHostWebServer server(0);
            TOrvoHostWebApi api(context, host, log, server, TUNEDEX_CLI_FILE);
            std::atomic<bool> done{false};
            std::string failure;
            std::thread client([&] {
                httplib::Client http("127.0.0.1", server.Port());
                http.set_read_timeout(60);
                const httplib::Headers token = {{"X-Tunedex-Token", server.Token()}};
                // Turn about, so that both see the same load of the machine.
                for (int i = 0; i < kRepeats && failure.empty(); ++i)
                    for (size_t c = 0; c < cases.size(); ++c) {
                        std::vector<std::string> options = cases[c].Options;
                        for (std::string& option : options)
                            option = Numbered(option, i);
                        try {
                            command[c].push_back(CommandMs(profile, options));
                        } catch (const std::exception& e) {
                            failure = e.what();
                            break;
                        }
                        const auto answer = http.Get("/api/stations?" + Numbered(cases[c].Query, i), token);
                        rapidjson::Document json;
                        if (answer)
                            json.Parse(answer->body.c_str());
                        if (!answer || answer->status != 200 || !json.IsObject() ||
                            !json.HasMember("serverMs")) {
                            failure = "the page's row request failed";
                            break;
                        }
                        page[c].push_back(json["serverMs"].GetDouble());
                    }
                done = true;
                platform::WakeMainThread();
            });
            ServeUntil(host, server, api, [&] { return done.load(); });
            client.join();
            if (!failure.empty())
                throw std::runtime_error(failure);
        }
        for (size_t c = 0; c < cases.size(); ++c) {
            const double value = Median(page[c]), baseline = Median(command[c]);
            if (c == 0)
                std::fprintf(stderr, "%s: %.2f ms of server time (budget %.0f ms: %s)\n", cases[c].Name,
                             value, kFirstPageMs, value < kFirstPageMs ? "met" : "MISSED");
            std::printf("BENCH %s value=%.2fms baseline=%.2fms ratio=%.2f target<=1.0\n", cases[c].Name,
                        value, baseline, value / baseline);
        }
        std::filesystem::remove_all(profile);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "serve: %s\n", e.what());
        return 1;
    }
}
