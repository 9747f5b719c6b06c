// Reading XML node by node: every node's name and value and every attribute's name and value,
// with our reader and with libxml2's xmlTextReader doing the same walk in the same run, over (a)
// the Xiph directory dumps of the public corpus and (b) a generated 50 MB catalogue document with
// attributes, references, namespaces and CDATA. Then the peak memory growth while our reader walks
// the 50 MB document from a file, against libxml2 doing the same, each in a process of its own.

#include "nuv/Nuv.FileFormats.XML.Reader.h"
#include "nuv/Nuv.Streams.h"

#include <libxml/xmlreader.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
constexpr int kRepeats = 5;

std::string MakeCatalogue(size_t bytes) {
    std::mt19937 random(20261209);
    static const char* words[] = {"radio",  "jazz",    "café", "rock &amp; roll", "news",
                                  "música", "κλασική", "live", "&#x263A; smile",  "talk"};
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<catalog xmlns=\"urn:tunedex:catalog\" xmlns:geo=\"urn:tunedex:geo\" version=\"2\">\n";
    for (int i = 0; out.size() < bytes; ++i) {
        const char* a = words[random() % 10];
        const char* b = words[random() % 10];
        out += "  <station id=\"s" + std::to_string(i) + "\" bitrate=\"" +
               std::to_string(32 * (1 + random() % 10)) + "\" geo:country=\"DE\" codec='MP3'>\n";
        out += "    <name>" + std::string(a) + " " + b + " " + std::to_string(i) + "</name>\n";
        out += "    <url>http://stream" + std::to_string(i) + ".example:8000/live?x=1&amp;y=2</url>\n";
        out += "    <genre>" + std::string(b) + "</genre>\n";
        out += "    <description><![CDATA[The <best> " + std::string(a) + " & more]]></description>\n";
        out += "    <geo:location lat=\"50.85\" lon=\"4.35\"/>\n";
        out += "    <!-- checked " + std::to_string(i % 28) + " days ago -->\n";
        out += "  </station>\n";
    }
    out += "</catalog>\n";
    return out;
}

// Our walk; returns a checksum of everything seen so no work is skipped.
size_t WalkOurs(TNuvStream& stream) {
    TNuvXMLTextReader reader({}, &stream);
    size_t sum = 0;
    while (reader.Read()) {
        sum += reader.QualifiedName().size() + reader.ValueView().size();
        while (reader.MoveToNextAttribute())
            sum += reader.QualifiedName().size() + reader.ValueView().size();
    }
    return sum;
}

size_t WalkLibxml(xmlTextReaderPtr reader) {
    size_t sum = 0;
    while (xmlTextReaderRead(reader) == 1) {
        const xmlChar* name = xmlTextReaderConstName(reader);
        const xmlChar* value = xmlTextReaderConstValue(reader);
        sum += (name ? xmlStrlen(name) : 0) + (value ? xmlStrlen(value) : 0);
        while (xmlTextReaderMoveToNextAttribute(reader) == 1) {
            name = xmlTextReaderConstName(reader);
            value = xmlTextReaderConstValue(reader);
            sum += (name ? xmlStrlen(name) : 0) + (value ? xmlStrlen(value) : 0);
        }
    }
    xmlFreeTextReader(reader);
    return sum;
}

template <typename F> double Seconds(F&& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Best of alternating runs over the documents; MB/s of ours and of libxml2.
std::pair<double, double> Throughput(const std::vector<std::string>& documents) {
    double bytes = 0;
    for (const auto& d : documents)
        bytes += double(d.size());
    // The streams are filled before the clock runs, as libxml2 reads the same memory in place.
    std::vector<std::unique_ptr<TNuvMemoryStream>> streams;
    for (const auto& d : documents)
        streams.push_back(std::make_unique<TNuvMemoryStream>(d.data(), d.size()));
    double ours = 1e9, theirs = 1e9;
    size_t sumOurs = 0, sumTheirs = 0;
    for (int r = 0; r < kRepeats; ++r) {
        ours = std::min(ours, Seconds([&] {
                            for (auto& stream : streams) {
                                stream->SetPosition(0);
                                sumOurs += WalkOurs(*stream);
                            }
                        }));
        theirs = std::min(theirs, Seconds([&] {
                              for (const auto& d : documents)
                                  sumTheirs += WalkLibxml(
                                      xmlReaderForMemory(d.data(), int(d.size()), nullptr, nullptr, 0));
                          }));
    }
    if (sumOurs == 0 || sumTheirs == 0)
        std::exit(1);
    return {bytes / 1e6 / ours, bytes / 1e6 / theirs};
}

// The process's resident high-water mark in KiB.
long PeakKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return 0;
}

// Peak growth in MiB while `walk` runs, measured in a child process so nothing else counts.
template <typename F> double PeakGrowth(F&& walk) {
    int pipe_[2];
    if (pipe(pipe_) != 0)
        std::exit(1);
    const pid_t child = fork();
    if (child == 0) {
        close(pipe_[0]);
        // Start the high-water mark at what the child holds now, so an earlier peak hides nothing.
        std::ofstream("/proc/self/clear_refs") << "5";
        const long before = PeakKiB();
        walk();
        const double growth = double(PeakKiB() - before) / 1024.0;
        (void)!write(pipe_[1], &growth, sizeof growth);
        _exit(0);
    }
    close(pipe_[1]);
    double growth = -1;
    (void)!read(pipe_[0], &growth, sizeof growth);
    close(pipe_[0]);
    waitpid(child, nullptr, 0);
    return growth;
}

} // namespace

int main() {
    xmlInitParser();
    const fs::path corpus = fs::path(TUNEDEX_CORPUS_DIR) / "icecast" / "yp-xml";
    std::vector<std::string> dumps;
    if (fs::exists(corpus))
        for (const auto& entry : fs::directory_iterator(corpus))
            if (entry.path().extension() == ".xml") {
                std::ifstream in(entry.path(), std::ios::binary);
                std::stringstream text;
                text << in.rdbuf();
                dumps.push_back(text.str());
            }
    const std::string catalogue = MakeCatalogue(50u * 1000 * 1000);
    std::fprintf(stderr, "yp dumps: %zu, generated catalogue: %.1f MB\n", dumps.size(),
                 catalogue.size() / 1e6);

    if (!dumps.empty()) {
        const auto [ours, theirs] = Throughput(dumps);
        std::printf("BENCH xml_read_yp value=%.0fMB/s baseline=%.0fMB/s ratio=%.2f target>=1.0\n", ours,
                    theirs, ours / theirs);
    }
    const auto [ours, theirs] = Throughput({catalogue});
    std::printf("BENCH xml_read value=%.0fMB/s baseline=%.0fMB/s ratio=%.2f target>=1.0\n", ours, theirs,
                ours / theirs);

    // Memory: the document is read from a file, as a refresh reads its download.
    const fs::path file =
        fs::temp_directory_path() / ("tunedex-xml-read-" + std::to_string(getpid()) + ".xml");
    {
        std::ofstream out(file, std::ios::binary);
        out << catalogue;
    }
    const double oursGrowth = PeakGrowth([&] {
        TNuvBufferedFileStream stream(file.string(), TNuvFileMode::OpenRead);
        WalkOurs(stream);
    });
    const double theirsGrowth =
        PeakGrowth([&] { WalkLibxml(xmlReaderForFile(file.string().c_str(), nullptr, 0)); });
    fs::remove(file);
    std::printf("BENCH xml_read_memory value=%.2fMiB baseline=%.2fMiB ratio=%.2f target<=8\n", oursGrowth,
                theirsGrowth, theirsGrowth > 0 ? oursGrowth / theirsGrowth : 0.0);
    xmlCleanupParser();
    return 0;
}
