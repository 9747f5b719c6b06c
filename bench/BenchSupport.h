#pragma once
// What the benchmarks share: stations shaped like a community directory's (lengths, alphabets and
// key lists as found there; the same seed gives the same stations in every run), and the median
// of repeated measurements.

#include "nuv/Nuv.Strings.h"
#include "plugin/Orvo.Tunedex.Core.h"

#include <algorithm>
#include <array>
#include <random>
#include <string>
#include <vector>

class TStationMaker {
public:
    std::vector<TOrvoRadioStationInfo> Make(int count) {
        std::vector<TOrvoRadioStationInfo> stations;
        stations.reserve(size_t(count));
        for (int i = 0; i < count; ++i)
            stations.push_back(Station(i));
        return stations;
    }

private:
    template <size_t N> const char* Pick(const std::array<const char*, N>& items) {
        return items[FRandom() % N];
    }
    std::string Token(size_t length) {
        static constexpr char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
        std::string token;
        for (size_t i = 0; i < length; ++i)
            token += alphabet[FRandom() % 36];
        return token;
    }
    std::string List(size_t minimum, size_t maximum) {
        static constexpr std::array<const char*, 24> tags = {
            "pop",   "rock",    "news",       "talk",   "jazz",  "classical", "80s",    "90s",
            "dance", "hits",    "electronic", "house",  "chill", "lounge",    "oldies", "country",
            "folk",  "hip hop", "top 40",     "sports", "metal", "ambient",   "latin",  "community radio"};
        std::string list;
        const size_t n = minimum + FRandom() % (maximum - minimum + 1);
        for (size_t i = 0; i < n; ++i) {
            if (i)
                list += ';';
            list += Pick(tags);
        }
        return list;
    }

    TOrvoRadioStationInfo Station(int index) {
        static constexpr std::array<const char*, 12> words = {"Radio", "FM",     "Classic", "Hits",
                                                              "Jazz",  "Sound",  "City",    "Live",
                                                              "Nova",  "Energy", "Café",    "Sonido"};
        static constexpr std::array<const char*, 10> countries = {
            "Germany",
            "The United States Of America",
            "France",
            "Brazil",
            "Spain",
            "Greece",
            "United Kingdom Of Great Britain And Northern Ireland",
            "Japan",
            "Russian Federation",
            "Poland"};
        static constexpr std::array<const char*, 6> hosts = {"stream", "icecast", "live",
                                                             "s3",     "radio",   "cast"};
        static constexpr std::array<const char*, 5> domains = {".com", ".net", ".fm", ".de", ".org"};
        static constexpr std::array<const char*, 4> codecs = {"MP3", "AAC", "AAC+", "OGG"};
        static constexpr std::array<int, 6> bitrates = {0, 64, 96, 128, 192, 320};

        TOrvoRadioStationInfo info;
        const std::string site = Token(6 + FRandom() % 8) + Pick(domains);
        info.FileName = FromUtf8(std::string(FRandom() % 3 ? "https://" : "http://") + Pick(hosts) + "." +
                                 site + (FRandom() % 2 ? ":8000/" : "/") + Token(4 + FRandom() % 20) +
                                 (FRandom() % 2 ? ".mp3" : "") + "?id=" + std::to_string(index));
        std::string name = Pick(words);
        for (size_t n = 1 + FRandom() % 4; n > 0; --n)
            name += std::string(" ") + Pick(words);
        if (FRandom() % 5 == 0)
            name += " 101." + std::to_string(FRandom() % 10);
        info.Name = FromUtf8(name);
        info.Genre = FromUtf8(List(0, 3));
        info.Tags = FromUtf8(List(1, 6));
        info.Country = FromUtf8(Pick(countries));
        info.FileFormat = FromUtf8(Pick(codecs));
        info.Bitrate = bitrates[FRandom() % bitrates.size()];
        info.HomeURL = FromUtf8("https://www." + site + "/");
        if (FRandom() % 4)
            info.Logo = FromUtf8("https://www." + site + "/wp-content/uploads/" + Token(10) + "/logo-" +
                                 Token(6) + ".png");
        if (FRandom() % 8 == 0)
            info.Description =
                FromUtf8("The best " + List(1, 2) + " from " + Pick(countries) + ", all day long");
        return info;
    }

    std::mt19937 FRandom{20240611};
};

// The middle of the measurements, which one disturbed run does not move.
inline double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}
