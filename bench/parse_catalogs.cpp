// Catalogue documents to station records: (a) Xiph directory listings (the larger dump of the
// public corpus and a generated 50 MB listing) through the generic XML parser, against a libxml2
// xmlTextReader pass that extracts the same fields into the same records; (b) a generated 40 MB
// JSON station list through the JSON parser, against a RapidJSON DOM parse that reads the same
// members into the same records. Then the peak memory growth while the XML parser reads the 50 MB
// listing from a file, against libxml2 doing the same, each in a process of its own.

#include "bench/BenchCatalog.h"
#include "nuv/Nuv.Streams.h"
#include "nuv/Nuv.Strings.h"
#include "plugin/Orvo.Tunedex.Providers.Custom.h"

#include <libxml/xmlreader.h>
#include <rapidjson/document.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;
constexpr int kRepeats = 5;
const char* const kWords[] = {"radio",  "jazz", "café",      "rock &amp; roll", "news",
                              "música", "live", "&#039;80s", "chill out",       "talk"};

std::string MakeListing(size_t bytes) {
    std::mt19937 random(20261209);
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<directory>\n";
    for (int i = 0; out.size() < bytes; ++i) {
        const std::string a = kWords[random() % 10], b = kWords[random() % 10];
        out +=
            "    <entry>\n        <server_name>" + a + " " + b + " " + std::to_string(i) + "</server_name>\n";
        out += "        <listen_url>http://stream" + std::to_string(i % 997) + ".example:8000/m" +
               std::to_string(i % 7) + "-" + std::to_string(i) + ".mp3</listen_url>\n";
        out += std::string("        <server_type>") + (i % 3 ? "audio/mpeg" : "application/ogg") +
               "</server_type>\n";
        out += "        <bitrate>" + std::to_string(32 * (1 + random() % 10)) + "</bitrate>\n";
        out += "        <channels>2</channels>\n        <samplerate>44100</samplerate>\n";
        out += "        <genre>" + b + " " + a + "</genre>\n";
        out += "        <current_song>" + a + " - " + b + "</current_song>\n    </entry>\n";
    }
    return out + "</directory>\n";
}

std::string MakeJsonList(size_t bytes) {
    std::mt19937 random(20261210);
    std::string out = "[";
    for (int i = 0; out.size() < bytes; ++i) {
        const std::string a = kWords[random() % 10], b = kWords[random() % 10];
        if (i > 0)
            out += ",";
        out += "{\"name\":\"" + a + " " + b + " " + std::to_string(i) + "\",\"url\":\"http://stream" +
               std::to_string(i % 997) + ".example:8000/live" + std::to_string(i) +
               "\",\"bitrate\":" + std::to_string(32 * (1 + random() % 10)) + ",\"genre\":\"" + b +
               "\",\"site\":\"https://s" + std::to_string(i % 97) + ".example/\",\"logo\":\"/logos/" +
               std::to_string(i) + ".png\",\"votes\":" + std::to_string(random() % 1000) + ",\"tags\":[\"" +
               a + "\",\"" + b + "\"],\"location\":\"Paris, France\"}";
    }
    return out + "]";
}

// What both sides make of every station: a checksum over the records, so no work is skipped.
struct TSink {
    size_t Stations = 0;
    size_t Sum = 0;
    void operator()(const TOrvoRadioStationInfo& s) {
        ++Stations;
        Sum += s.Name.size() + s.FileName.size() + s.FileFormat.size() + s.Genre.size() + size_t(s.Bitrate);
    }
};

size_t ParseOurs(const TOrvoTunedexParserClass& cls, TNuvStream& stream) {
    TSink sink;
    TOrvoTunedexParser::ParseDocument(cls, stream, TNuvWebURL::ParseHttp(u"http://dir.example/yp.xml"),
                                      nullptr, [&](const TOrvoRadioStationInfo& s) { sink(s); });
    return sink.Stations + sink.Sum;
}

// libxml2: the entry's fields by element name, a record per entry with a stream address.
size_t ParseLibxml(xmlTextReaderPtr reader) {
    TSink sink;
    TOrvoRadioStationInfo station;
    std::string field;
    while (xmlTextReaderRead(reader) == 1) {
        const int type = xmlTextReaderNodeType(reader);
        if (type == XML_READER_TYPE_ELEMENT) {
            field = reinterpret_cast<const char*>(xmlTextReaderConstLocalName(reader));
            if (field == "entry")
                station.Reset();
        } else if (type == XML_READER_TYPE_TEXT || type == XML_READER_TYPE_CDATA) {
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
                sink(station);
            field.clear();
        }
    }
    xmlFreeTextReader(reader);
    return sink.Stations + sink.Sum;
}

// RapidJSON: the DOM, then the same members of every object into a record.
size_t ParseRapidJson(const std::string& text) {
    TSink sink;
    rapidjson::Document document;
    document.Parse(text.data(), text.size());
    if (document.HasParseError() || !document.IsArray())
        std::exit(1);
    TOrvoRadioStationInfo station;
    const auto member = [](const rapidjson::Value& object, const char* name) -> std::u16string {
        const auto it = object.FindMember(name);
        return it != object.MemberEnd() && it->value.IsString()
                   ? FromUtf8(std::string_view(it->value.GetString(), it->value.GetStringLength()))
                   : std::u16string();
    };
    for (const auto& object : document.GetArray()) {
        station.Reset();
        station.Name = member(object, "name");
        station.FileName = member(object, "url");
        station.Genre = member(object, "genre");
        station.HomeURL = member(object, "site");
        station.Logo = member(object, "logo");
        station.Country = member(object, "location");
        if (const auto it = object.FindMember("bitrate"); it != object.MemberEnd() && it->value.IsInt())
            station.Bitrate = it->value.GetInt();
        if (!station.FileName.empty())
            sink(station);
    }
    return sink.Stations + sink.Sum;
}

// Processor time of this thread: on a shared machine, wall time would also count the time other
// programs held the processor, which differs between the two sides of a comparison.
double ThreadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

template <typename F> double Seconds(F&& work) {
    const double start = ThreadSeconds();
    work();
    return ThreadSeconds() - start;
}

// Best of alternating runs: seconds of ours and of the baseline.
template <typename Ours, typename Theirs> std::pair<double, double> Best(Ours&& ours, Theirs&& theirs) {
    double a = 1e9, b = 1e9;
    size_t sumA = 0, sumB = 0;
    for (int r = 0; r < kRepeats; ++r) {
        a = std::min(a, Seconds([&] { sumA += ours(); }));
        b = std::min(b, Seconds([&] { sumB += theirs(); }));
    }
    if (sumA == 0 || sumB == 0)
        std::exit(1);
    return {a, b};
}

void Report(const char* name, size_t bytes, std::pair<double, double> seconds) {
    const double ours = double(bytes) / 1e6 / seconds.first, theirs = double(bytes) / 1e6 / seconds.second;
    std::printf("BENCH %s value=%.3fs baseline=%.3fs ratio=%.2f target<=2\n", name, seconds.first,
                seconds.second, seconds.first / seconds.second);
    std::fprintf(stderr, "%s: %.1f MB, ours %.0f MB/s, baseline %.0f MB/s\n", name, double(bytes) / 1e6, ours,
                 theirs);
}

// The document as our parsers take it, filled before any clock runs (the baselines read the same
// memory in place); each use starts from its beginning.
struct TPrepared {
    explicit TPrepared(const std::string& text) : Text(text), Stream(text.data(), text.size()) {}
    TNuvStream& Rewound() {
        Stream.SetPosition(0);
        return Stream;
    }
    const std::string& Text;
    TNuvMemoryStream Stream;
};

size_t XmlPair(TPrepared& document, bool ours) {
    if (ours)
        return ParseOurs(TOrvoTunedexParserXML::Class(), document.Rewound());
    return ParseLibxml(
        xmlReaderForMemory(document.Text.data(), int(document.Text.size()), nullptr, nullptr, 0));
}

// Peak growth in MiB while `work` runs, measured in a child process so nothing else counts.
template <typename F> double PeakGrowth(F&& work) {
    struct TPeak {
        double PeakMiB = 0;
    };
    return bench::InChild<TPeak>([&] {
               work();
               return TPeak{};
           })
        .PeakMiB;
}

} // namespace

int main() {
    xmlInitParser();
    const fs::path dump = fs::path(TUNEDEX_CORPUS_DIR) / "icecast" / "yp-xml" / "yp-2019-orpheus.xml";
    if (fs::exists(dump)) {
        std::ifstream in(dump, std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        const std::string text = bytes.str();
        TPrepared document(text);
        Report("parse_catalogs_xml_yp", text.size(),
               Best([&] { return XmlPair(document, true); }, [&] { return XmlPair(document, false); }));
    } else
        std::fprintf(stderr, "public corpus not found at %s: the Xiph dump is left out\n", dump.c_str());

    const std::string listing = MakeListing(50u * 1000 * 1000);
    {
        TPrepared document(listing);
        Report("parse_catalogs_xml", listing.size(),
               Best([&] { return XmlPair(document, true); }, [&] { return XmlPair(document, false); }));
    }

    {
        const std::string list = MakeJsonList(40u * 1000 * 1000);
        TPrepared document(list);
        Report("parse_catalogs_json", list.size(),
               Best([&] { return ParseOurs(TOrvoTunedexParserJSON::Class(), document.Rewound()); },
                    [&] { return ParseRapidJson(list); }));
    }

    // Memory: the listing is read from a file, as a refresh reads its download.
    const fs::path file =
        fs::temp_directory_path() / ("tunedex-parse-catalogs-" + std::to_string(getpid()) + ".xml");
    {
        std::ofstream out(file, std::ios::binary);
        out << listing;
    }
    const double ours = PeakGrowth([&] {
        TNuvBufferedFileStream stream(file.string(), TNuvFileMode::OpenRead);
        ParseOurs(TOrvoTunedexParserXML::Class(), stream);
    });
    const double theirs =
        PeakGrowth([&] { ParseLibxml(xmlReaderForFile(file.string().c_str(), nullptr, 0)); });
    fs::remove(file);
    std::printf("BENCH parse_catalogs_memory value=%.2fMiB baseline=%.2fMiB ratio=%.2f target<=16\n", ours,
                theirs, theirs > 0 ? ours / theirs : 0.0);
    xmlCleanupParser();
    return 0;
}
