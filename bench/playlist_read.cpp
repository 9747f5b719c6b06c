// Reading playlists as the catalogue does (detection, decoding, one entry per line): a generated
// M3U list of 1,000,000 lines against the floor for the same bytes (decoding them to UTF-16 as the
// readers do and finding the line ends), and the memory a playlist of one 100 MB line takes against its size.

#include "zan/Zan.Playlists.h"

#include "nuv/Nuv.Streams.h"
#include "nuv/Nuv.Strings.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kRepeats = 5;

double PeakMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0; // kilobytes on Linux
}

template <typename F> double BestSeconds(F&& run) {
    double best = 1e9;
    for (int i = 0; i < kRepeats; ++i) {
        const auto start = std::chrono::steady_clock::now();
        run();
        best =
            std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

size_t ReadAll(const std::string& bytes) {
    TNuvMemoryStream stream(bytes.data(), bytes.size());
    size_t entries = 0;
    TZanPlaylistItemsCallback receiver(
        [&](const std::u16string&, std::shared_ptr<IZanFileInfo>, int32_t) { ++entries; });
    ZanReadPlaylist(stream, u"http://lists.example/radio/all.m3u", receiver);
    return entries;
}

} // namespace

int main() {
    // Memory first: the peak only grows.
    {
        std::string line = "#EXTM3U\n#EXTINF:-1,Long\nhttp://h/";
        line.append(size_t(100) << 20, 'a');
        line += "\nhttp://h/after\n";
        const double before = PeakMiB();
        const size_t entries = ReadAll(line);
        const double grown = PeakMiB() - before;
        const double input = double(line.size()) / (1 << 20);
        std::fprintf(stderr, "long line: %zu entries, peak grew %.0f MiB for %.0f MiB\n", entries, grown,
                     input);
        std::printf("BENCH playlist_long_line_memory value=%.0fMiB baseline=%.0fMiB ratio=%.2f target<=4\n",
                    grown, input, grown / input);
    }

    std::string list = "#EXTM3U\n";
    for (int i = 0; i < 500000; ++i)
        list += "#EXTINF:" + std::to_string(i % 400) + " tvg-logo=\"http://img.example/" + std::to_string(i) +
                ".png\" group-title=\"News\",Station " + std::to_string(i) + "\nhttp://stream" +
                std::to_string(i) + ".example:8000/live\n";
    size_t entries = 0;
    const double read = BestSeconds([&] { entries = ReadAll(list); });
    size_t lines = 0;
    const double floor = BestSeconds([&] {
        const std::u16string text = ZanDecodeText(list, TZanTextEncoding::Utf8);
        lines = size_t(std::count(text.begin(), text.end(), u'\n'));
    });
    std::fprintf(stderr, "%zu entries of %zu lines (%.1f MB)\n", entries, lines, list.size() / 1e6);
    std::printf("BENCH playlist_m3u_read value=%.3fs baseline=%.3fs ratio=%.2f target<=5\n", read, floor,
                read / floor);
    return entries == 500000 ? 0 : 1;
}
