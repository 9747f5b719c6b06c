#pragma once
// What the catalogue benchmarks share: stations shaped like a community directory's, the floor
// for writing them (one prepared statement with bound parameters in one transaction), and
// measurements in child processes of their own.

#include "nuv/Nuv.Strings.h"
#include "platform/Platform.Threads.h"
#include "plugin/Orvo.Tunedex.Core.h"

#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace bench {

// Stations shaped like a community directory's: lengths and alphabets as found there.

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

inline double Seconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

inline void Check(int code, sqlite3* db) {
    if (code != SQLITE_OK && code != SQLITE_ROW && code != SQLITE_DONE)
        throw std::runtime_error(sqlite3_errmsg(db));
}

struct TStatement {
    sqlite3_stmt* Handle = nullptr;
    TStatement(sqlite3* db, const char16_t* sql) {
        Check(sqlite3_prepare16_v2(db, sql, -1, &Handle, nullptr), db);
    }
    ~TStatement() { sqlite3_finalize(Handle); }
    void Text(int index, std::u16string_view text) {
        sqlite3_bind_text16(Handle, index, text.data(), int(text.size() * 2), SQLITE_STATIC);
    }
};

// The floor for writing a refreshed catalogue: the provider's rows deleted and the stations
// inserted with one prepared statement and bound parameters, in one transaction.
inline double WriteBound(TOrvoStationCatalog& catalog, const std::vector<TOrvoRadioStationInfo>& stations,
                         std::u16string_view provider) {
    sqlite3* db = catalog.Handle();
    const auto start = std::chrono::steady_clock::now();
    Check(sqlite3_exec(db, "BEGIN;", nullptr, nullptr, nullptr), db);
    {
        TStatement remove(db, u"DELETE FROM Entries WHERE CatUIID = ?;");
        remove.Text(1, provider);
        Check(sqlite3_step(remove.Handle), db);
        TStatement insert(db, u"REPLACE INTO Entries VALUES (NULL, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?);");
        for (const TOrvoRadioStationInfo& s : stations) {
            insert.Text(1, s.FileName);
            insert.Text(2, provider);
            insert.Text(3, s.Name);
            insert.Text(4, s.Description);
            insert.Text(5, s.Genre);
            insert.Text(6, s.FileFormat);
            sqlite3_bind_int64(insert.Handle, 7, s.Bitrate);
            insert.Text(8, s.Tags);
            insert.Text(9, s.Country);
            insert.Text(10, s.HomeURL);
            insert.Text(11, s.Logo);
            Check(sqlite3_step(insert.Handle), db);
            sqlite3_reset(insert.Handle);
        }
    }
    Check(sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr), db);
    return Seconds(start);
}

// A field of /proc/self/status in MiB, for example "VmHWM" (peak resident size).
inline double StatusMiB(const char* field) {
    FILE* file = std::fopen("/proc/self/status", "r");
    if (!file)
        return 0;
    char line[256];
    double kib = 0;
    const size_t length = std::strlen(field);
    while (std::fgets(line, sizeof line, file))
        if (std::strncmp(line, field, length) == 0 && line[length] == ':')
            kib = std::atof(line + length + 1);
    std::fclose(file);
    return kib / 1024.0;
}

// Starts the peak resident size afresh at the current size.
inline void ResetPeak() {
    if (FILE* file = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", file);
        std::fclose(file);
    }
}

// Runs `body` in a child process and hands back its result, with PeakMiB set to how far the
// child's peak resident size rose above what it started with.
template <typename TResult, typename F> TResult InChild(F&& body) {
    static_assert(std::is_trivially_copyable_v<TResult>);
    int fds[2];
    if (::pipe(fds) != 0)
        throw std::runtime_error("pipe");
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        int status = 0;
        TResult result;
        try {
            ResetPeak();
            const double start = StatusMiB("VmRSS");
            result = body();
            result.PeakMiB = StatusMiB("VmHWM") - start;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "benchmark: %s\n", e.what());
            status = 1;
        }
        if (::write(fds[1], &result, sizeof result) != ssize_t(sizeof result))
            status = 1;
        ::_exit(status);
    }
    ::close(fds[1]);
    TResult result;
    const bool read = ::read(fds[0], &result, sizeof result) == ssize_t(sizeof result);
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!read || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("measurement failed");
    return result;
}

inline double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// One refresh measured in a child process: its time, peak growth and the stations it stored.
struct TRun {
    double Seconds = 0;
    double PeakMiB = 0;
    int32_t Stations = 0;
};

// Signals when the catalogue's background refresh has finished.
class TFinished : public IOrvoStationCatalogListener {
public:
    void CatalogChanged() override {}
    void AsyncUpdateStarted() override {}
    void UpdateProgress(std::u16string_view, int64_t, int64_t) override {}
    void ProviderUpdateStarted(std::u16string_view) override {}
    void AsyncUpdateFinished() override { Done.Set(); }
    platform::Event Done;
};

} // namespace bench
