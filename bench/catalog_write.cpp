// Writing a refreshed catalogue: 50,000 stations through EntriesDelete + AddEntry in one
// transaction (statements as SQL text with literals), against the floor for the same work: the
// same schema and collations, one prepared statement with bound parameters, one transaction.
// Also station look-ups by stream address, against a prepared, bound SELECT.
//
// Each measurement runs in a child process of its own; its memory figure is how far the peak
// resident size rose above what the child started with (the generated stations are shared).

#include "bench/BenchSupport.h"
#include "nuv/Nuv.Strings.h"
#include "platform/Platform.System.h"
#include "plugin/Orvo.Tunedex.Core.h"

#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr int kStations = 50000;
constexpr int kLookups = 20000;
constexpr int kRepeats = 3;
const std::u16string kProvider = u"5d41402abc4b2a76b9719d911017c592";

// ---- the two ways of writing and of looking up ----

double Seconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double WriteThroughCatalog(TOrvoStationCatalog& catalog, const std::vector<TOrvoRadioStationInfo>& stations) {
    const auto start = std::chrono::steady_clock::now();
    catalog.Transaction([&] {
        catalog.EntriesDelete(kProvider);
        for (const TOrvoRadioStationInfo& station : stations)
            catalog.AddEntry(station, kProvider);
    });
    return Seconds(start);
}

void Check(int code, sqlite3* db) {
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

double WriteBound(TOrvoStationCatalog& catalog, const std::vector<TOrvoRadioStationInfo>& stations) {
    sqlite3* db = catalog.Handle();
    const auto start = std::chrono::steady_clock::now();
    Check(sqlite3_exec(db, "BEGIN;", nullptr, nullptr, nullptr), db);
    {
        TStatement remove(db, u"DELETE FROM Entries WHERE CatUIID = ?;");
        remove.Text(1, kProvider);
        Check(sqlite3_step(remove.Handle), db);
        TStatement insert(db, u"REPLACE INTO Entries VALUES (NULL, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?);");
        for (const TOrvoRadioStationInfo& s : stations) {
            insert.Text(1, s.FileName);
            insert.Text(2, kProvider);
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

double LookUpThroughCatalog(TOrvoStationCatalog& catalog, const std::vector<const std::u16string*>& keys) {
    TOrvoRadioStationInfo found;
    size_t hits = 0;
    const auto start = std::chrono::steady_clock::now();
    for (const std::u16string* key : keys)
        hits += catalog.FindEntryByFileName(*key, found);
    const double seconds = Seconds(start);
    if (hits != keys.size())
        throw std::runtime_error("catalog look-up missed");
    return double(keys.size()) / seconds;
}

std::u16string ColumnText(sqlite3_stmt* statement, int column) {
    const auto* text = static_cast<const char16_t*>(sqlite3_column_text16(statement, column));
    const int bytes = sqlite3_column_bytes16(statement, column);
    return text && bytes > 0 ? std::u16string(text, size_t(bytes) / 2) : std::u16string();
}

double LookUpBound(TOrvoStationCatalog& catalog, const std::vector<const std::u16string*>& keys) {
    sqlite3* db = catalog.Handle();
    TStatement select(db, u"SELECT * FROM Entries WHERE FileName = ?;");
    TOrvoRadioStationInfo found;
    size_t hits = 0;
    const auto start = std::chrono::steady_clock::now();
    for (const std::u16string* key : keys) {
        select.Text(1, *key);
        if (sqlite3_step(select.Handle) == SQLITE_ROW) {
            found.FileName = ColumnText(select.Handle, 1);
            found.Name = ColumnText(select.Handle, 3);
            found.Description = ColumnText(select.Handle, 4);
            found.Genre = ColumnText(select.Handle, 5);
            found.FileFormat = ColumnText(select.Handle, 6);
            found.Bitrate = int32_t(sqlite3_column_int64(select.Handle, 7));
            found.Tags = ColumnText(select.Handle, 8);
            found.Country = ColumnText(select.Handle, 9);
            found.HomeURL = ColumnText(select.Handle, 10);
            found.Logo = ColumnText(select.Handle, 11);
            ++hits;
        }
        sqlite3_reset(select.Handle);
    }
    const double seconds = Seconds(start);
    if (hits != keys.size())
        throw std::runtime_error("bound look-up missed");
    return double(keys.size()) / seconds;
}

// ---- one measurement per child process ----

struct TResult {
    double WriteSeconds = 0;
    double LookupsPerSecond = 0;
    double PeakMiB = 0;
};

// A field of /proc/self/status in MiB, for example "VmHWM" (peak resident size).
double StatusMiB(const char* field) {
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
void ResetPeak() {
    if (FILE* file = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", file);
        std::fclose(file);
    }
}

template <typename F> TResult InChild(F&& body) {
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
            std::fprintf(stderr, "catalog_write: %s\n", e.what());
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

} // namespace

int main() {
    try {
        const std::vector<TOrvoRadioStationInfo> stations = TStationMaker().Make(kStations);
        std::vector<const std::u16string*> keys;
        std::mt19937 pick(7);
        for (int i = 0; i < kLookups; ++i)
            keys.push_back(&stations[pick() % stations.size()].FileName);

        const std::filesystem::path folder = std::filesystem::path(platform::TemporaryFolder()) /
                                             ("tunedex-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
        int run = 0;
        auto measure = [&](bool bound) {
            const std::filesystem::path file = folder / ("catalog-" + std::to_string(run++) + ".db");
            return InChild([&] {
                TOrvoStationCatalog catalog(FromUtf8(file.string()));
                TResult result;
                result.WriteSeconds =
                    bound ? WriteBound(catalog, stations) : WriteThroughCatalog(catalog, stations);
                result.LookupsPerSecond =
                    bound ? LookUpBound(catalog, keys) : LookUpThroughCatalog(catalog, keys);
                return result;
            });
        };

        std::vector<double> ours, floor, oursLookups, floorLookups, oursPeak, floorPeak;
        for (int i = 0; i < kRepeats; ++i) {
            const TResult f = measure(true);
            const TResult o = measure(false);
            floor.push_back(f.WriteSeconds);
            ours.push_back(o.WriteSeconds);
            floorLookups.push_back(f.LookupsPerSecond);
            oursLookups.push_back(o.LookupsPerSecond);
            floorPeak.push_back(f.PeakMiB);
            oursPeak.push_back(o.PeakMiB);
        }
        std::filesystem::remove_all(folder);

        const double write = Median(ours), writeFloor = Median(floor);
        const double lookups = Median(oursLookups), lookupsFloor = Median(floorLookups);
        const double peak = Median(oursPeak), peakFloor = Median(floorPeak);
        std::printf("BENCH catalog_write value=%.3fs baseline=%.3fs ratio=%.2f target<=1.6\n", write,
                    writeFloor, write / writeFloor);
        std::printf("BENCH catalog_write_memory value=%.1fMiB baseline=%.1fMiB ratio=%.2f target<=1.2\n",
                    peak, peakFloor, peak / peakFloor);
        std::printf("BENCH catalog_lookup value=%.0f/s baseline=%.0f/s ratio=%.2f target>=0.5\n", lookups,
                    lookupsFloor, lookups / lookupsFloor);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "catalog_write: %s\n", e.what());
        return 1;
    }
}
