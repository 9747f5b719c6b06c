// Refreshing the two catalogue kinds whose documents are largest: a 50,000-entry directory
// listing read by the Xiph directory provider and a 50,000-entry M3U read by the remote playlist
// provider, each served from loopback and refreshed through EntriesUpdate until the run reports
// AsyncUpdateFinished. The floor for each is the same bytes fetched by the curl program into a
// file, read with libxml2's reader (the listing) or split into lines (the playlist), and the
// bound-parameter bulk insert of the stations read.
//
// The server runs in a process of its own and each measurement in a child process, so that the
// memory figure (the rise of the peak resident size) is the refresh's alone.

#include "bench/BenchCatalog.h"
#include "nuv/Nuv.Strings.h"
#include "platform/Platform.System.h"
#include "platform/Platform.Threads.h"
#include "plugin/Orvo.Tunedex.Providers.Playlist.h"
#include "plugin/Orvo.Tunedex.Providers.XiphDir.h"

#include <httplib.h>
#include <libxml/xmlreader.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

using namespace bench;

constexpr int kStations = 50000;
constexpr int kRepeats = 3;
constexpr double kMemoryBudgetMiB = 200;

std::string Escaped(const std::u16string& text) {
    std::string out;
    for (const char c : ToUtf8(text)) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string Listing(const std::vector<TOrvoRadioStationInfo>& stations) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<directory>\n";
    for (const TOrvoRadioStationInfo& s : stations)
        xml += "<entry><server_name>" + Escaped(s.Name) + "</server_name><listen_url>" + Escaped(s.FileName) +
               "</listen_url><server_type>audio/mpeg</server_type><bitrate>" + std::to_string(s.Bitrate) +
               "</bitrate><genre>" + Escaped(s.Genre) + "</genre></entry>\n";
    return xml + "</directory>\n";
}

std::string Playlist(const std::vector<TOrvoRadioStationInfo>& stations) {
    std::string m3u = "#EXTM3U\n";
    for (const TOrvoRadioStationInfo& s : stations)
        m3u += "#EXTINF:-1," + ToUtf8(s.Name) + "\n" + ToUtf8(s.FileName) + "\n";
    return m3u;
}

TRun RefreshThroughCatalog(const std::filesystem::path& file, const TOrvoTunedexProviderClass& cls,
                           const std::u16string& data) {
    platform::SetMainThread(); // this child's only thread
    TOrvoTunedexProviderRepository::RegisterProvider(cls);
    TFinished finished;
    TOrvoStationCatalog catalog(FromUtf8(file.string()));
    catalog.Listeners().Add(&finished);
    const std::unique_ptr<TOrvoTunedexProvider> provider = cls.Create(u"Bench", data, 0);
    catalog.ProviderUpdate(provider.get(), u"");

    TRun run;
    const auto start = std::chrono::steady_clock::now();
    catalog.EntriesUpdate(provider->ID());
    if (finished.Done.Wait(600000) != platform::WaitResult::Signalled)
        throw std::runtime_error("refresh did not finish");
    run.Seconds = Seconds(start);
    run.Stations = catalog.EntriesCount(provider->ID());
    return run;
}

std::vector<TOrvoRadioStationInfo> ReadListing(const std::string& path) {
    std::vector<TOrvoRadioStationInfo> stations;
    xmlTextReaderPtr reader = xmlReaderForFile(path.c_str(), nullptr, 0);
    if (!reader)
        throw std::runtime_error("libxml2 cannot open the listing");
    TOrvoRadioStationInfo station;
    std::string field;
    while (xmlTextReaderRead(reader) == 1) {
        const int type = xmlTextReaderNodeType(reader);
        if (type == XML_READER_TYPE_ELEMENT) {
            field = reinterpret_cast<const char*>(xmlTextReaderConstLocalName(reader));
            if (field == "entry")
                station.Reset();
        } else if (type == XML_READER_TYPE_TEXT) {
            const std::u16string text =
                FromUtf8(reinterpret_cast<const char*>(xmlTextReaderConstValue(reader)));
            if (field == "server_name")
                station.Name = text;
            else if (field == "listen_url")
                station.FileName = text;
            else if (field == "server_type")
                station.FileFormat = text;
            else if (field == "genre")
                station.Genre = text;
            else if (field == "bitrate")
                station.Bitrate = int32_t(StrToIntDef(text, 0));
        } else if (type == XML_READER_TYPE_END_ELEMENT) {
            if (std::strcmp(reinterpret_cast<const char*>(xmlTextReaderConstLocalName(reader)), "entry") ==
                    0 &&
                !station.FileName.empty())
                stations.push_back(station);
            field.clear();
        }
    }
    xmlFreeTextReader(reader);
    return stations;
}

std::vector<TOrvoRadioStationInfo> ReadPlaylist(const std::string& path) {
    std::vector<TOrvoRadioStationInfo> stations;
    std::ifstream in(path, std::ios::binary);
    TOrvoRadioStationInfo station;
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("#EXTINF:")) {
            station.Reset();
            if (const size_t comma = line.find(','); comma != std::string::npos)
                station.Name = FromUtf8(std::string_view(line).substr(comma + 1));
        } else if (!line.empty() && line[0] != '#') {
            station.FileName = FromUtf8(line);
            stations.push_back(station);
        }
    }
    return stations;
}

TRun Floor(const std::filesystem::path& file, const std::string& url, bool listing) {
    TOrvoStationCatalog catalog(FromUtf8(file.string()));
    const std::string document = file.string() + ".document";
    TRun run;
    const std::string curl = "curl -s -o '" + document + "' '" + url + "'";
    const auto start = std::chrono::steady_clock::now();
    if (std::system(curl.c_str()) != 0)
        throw std::runtime_error("curl failed");
    const std::vector<TOrvoRadioStationInfo> stations =
        listing ? ReadListing(document) : ReadPlaylist(document);
    run.Seconds = Seconds(start) + WriteBound(catalog, stations, u"5d41402abc4b2a76b9719d911017c592");
    run.Stations = int32_t(stations.size());
    std::filesystem::remove(document);
    return run;
}

} // namespace

int main() {
    pid_t server = -1;
    try {
        const std::vector<TOrvoRadioStationInfo> stations = TStationMaker().Make(kStations);
        const std::string listing = Listing(stations), playlist = Playlist(stations);
        std::fprintf(stderr, "refresh_catalogs: listing %.1f MiB, playlist %.1f MiB\n",
                     double(listing.size()) / (1 << 20), double(playlist.size()) / (1 << 20));

        // Bound here, served by a child: the measurements below fork from a process without threads.
        httplib::Server http;
        http.Get("/yp.xml", [&](const httplib::Request&, httplib::Response& res) {
            res.set_content(listing, "text/xml");
        });
        http.Get("/list.m3u", [&](const httplib::Request&, httplib::Response& res) {
            res.set_content(playlist, "audio/x-mpegurl");
        });
        const int port = http.bind_to_any_port("127.0.0.1");
        if (port <= 0)
            throw std::runtime_error("cannot bind");
        server = ::fork();
        if (server == 0) {
            http.listen_after_bind();
            ::_exit(0);
        }
        const std::string root = "http://127.0.0.1:" + std::to_string(port);
        ::setenv(TOrvoTunedexXiphDirectory::ListingVariable, (root + "/yp.xml").c_str(), 1);

        const std::filesystem::path folder = std::filesystem::path(platform::TemporaryFolder()) /
                                             ("tunedex-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
        int count = 0;
        auto next = [&] { return folder / ("catalog-" + std::to_string(count++) + ".db"); };

        struct TKind {
            const char* Name;
            const TOrvoTunedexProviderClass& Class;
            std::string Path;
            bool Listing;
        };
        const TKind kinds[] = {{"xiph", TOrvoTunedexXiphDirectory::Class(), "/yp.xml", true},
                               {"m3u", TOrvoTunedexPlaylistBasedProvider::Class(), "/list.m3u", false}};
        for (const TKind& kind : kinds) {
            const std::string url = root + kind.Path;
            std::vector<double> ours, floor, oursPeak;
            for (int i = 0; i < kRepeats; ++i) {
                const TRun f = InChild<TRun>([&] { return Floor(next(), url, kind.Listing); });
                const TRun o =
                    InChild<TRun>([&] { return RefreshThroughCatalog(next(), kind.Class, FromUtf8(url)); });
                if (o.Stations != kStations || f.Stations != kStations)
                    throw std::runtime_error(std::string(kind.Name) + ": stored " +
                                             std::to_string(o.Stations) + ", floor " +
                                             std::to_string(f.Stations) + " stations");
                floor.push_back(f.Seconds);
                ours.push_back(o.Seconds);
                oursPeak.push_back(o.PeakMiB);
            }
            const double time = Median(ours), timeFloor = Median(floor), peak = Median(oursPeak);
            std::printf("BENCH refresh_catalogs_%s value=%.3fs baseline=%.3fs ratio=%.2f target<=2\n",
                        kind.Name, time, timeFloor, time / timeFloor);
            std::printf(
                "BENCH refresh_catalogs_%s_memory value=%.1fMiB baseline=%.1fMiB ratio=%.2f target<=1\n",
                kind.Name, peak, kMemoryBudgetMiB, peak / kMemoryBudgetMiB);
        }
        std::filesystem::remove_all(folder);
        ::kill(server, SIGTERM);
        ::waitpid(server, nullptr, 0);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "refresh_catalogs: %s\n", e.what());
        if (server > 0) {
            ::kill(server, SIGTERM);
            ::waitpid(server, nullptr, 0);
        }
        return 1;
    }
}
