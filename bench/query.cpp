// Row requests of the music library on a 50,000-station catalogue: the storage's QueryRows
// (composing the statement from the host's objects and running it) and walking 100 rows, for a search over
// seven fields, a key-list filter on Genre and a sort by name from the middle of the catalogue. The floor is
// the same SQL through the plain SQLite API on a copy of the tables without our collations and functions
// (SQLite's own UPPER and BINARY order; for the key list, SQLite's instr on the same items), with
// the same index on Name that the storage keeps, so that the ratio measures our layers.

#include "bench/BenchCatalog.h"
#include "host/Orvo.Host.MusicLibrary.Query.h"
#include "platform/Platform.System.h"
#include "plugin/Orvo.Tunedex.Plugin.ML.h"

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace bench;

constexpr int kStations = 50000;
constexpr int kProviders = 5;
constexpr int kRowsWalked = 100;
constexpr int kRepeats = 7;
constexpr double kTargetRatio = 2.0;
constexpr double kTargetMs = 150.0;

std::u16string ProviderId(int index) {
    return u"provider-" + IntToStr(index);
}

void Check(int code, sqlite3* db) {
    if (code != SQLITE_OK && code != SQLITE_ROW && code != SQLITE_DONE)
        throw std::runtime_error(sqlite3_errmsg(db));
}

void FillCatalog(TOrvoStationCatalog& catalog, const std::vector<TOrvoRadioStationInfo>& stations) {
    catalog.Transaction([&] {
        for (int p = 0; p < kProviders; ++p)
            catalog.Exec(TOrvoStationCatalog::SqlProviderStore(ProviderId(p), u"TOrvoTunedexCustom", 45000,
                                                               u"", u"Catalogue " + IntToStr(p), 0));
        for (size_t i = 0; i < stations.size(); ++i)
            catalog.AddEntry(stations[i], ProviderId(int(i % kProviders)));
    });
}

// The same tables and rows on a connection of SQLite's own, without collations or functions.
sqlite3* OpenFloor(const std::string& file, TOrvoStationCatalog& catalog) {
    sqlite3* db = nullptr;
    // UTF-16 storage, as the catalogue's, so both read the same bytes.
    Check(sqlite3_open16(FromUtf8(file).c_str(), &db), db);
    Check(sqlite3_exec(
              db,
              "CREATE TABLE Entries (ID INTEGER PRIMARY KEY AUTOINCREMENT, FileName TEXT UNIQUE , CatUIID "
              "TEXT, Name TEXT, Description TEXT, Genre TEXT, FileFormat TEXT, Bitrate INTEGER, Tags TEXT, "
              "Country TEXT, HomeURL TEXT, Logo TEXT);"
              "CREATE TABLE Providers (UUID TEXT PRIMARY KEY, Class TEXT, Date DOUBLE, Data TEXT, Title "
              "TEXT, UserAgent TEXT, Count INTEGER);"
              "CREATE UNIQUE INDEX EntriesIndex ON Entries (FileName);"
              "CREATE INDEX EntriesName ON Entries (Name);",
              nullptr, nullptr, nullptr),
          db);
    // Rows copied as SQLite stores them, through the catalogue's own connection.
    const std::string attach = "ATTACH DATABASE '" + file + "' AS floor;";
    catalog.Exec(FromUtf8(attach));
    catalog.Exec(u"INSERT INTO floor.Entries SELECT * FROM main.Entries;");
    catalog.Exec(u"INSERT INTO floor.Providers SELECT * FROM main.Providers;");
    catalog.Exec(u"DETACH DATABASE floor;");
    return db;
}

struct TCase {
    const char* Name;
    TOrvoHostMLRequest Request;
    // The floor's form of the statement where it needs one of SQLite's own functions.
    std::function<std::u16string(std::u16string)> FloorSql;
};

// The calling thread's processor time in milliseconds. The machine is shared, so wall time would
// measure the neighbours as well; the tables are in memory by the time anything is timed.
double ThreadMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// Ask the storage and walk the rows as the host would, reading every column as text.
double ThroughLibrary(IOrvoMLDataProvider& storage, const TOrvoHostMLQuery& query, size_t& checksum) {
    const double start = ThreadMilliseconds();
    ComPtr<IUnknown> data;
    if (Failed(storage.QueryRows(query.Fields.get(), query.Filter.get(), data.put())) ||
        data.As<IOrvoString>())
        throw std::runtime_error("the storage answered no rows");
    if (auto selection = data.As<IOrvoMLDataProviderSelection>()) {
        const int32_t columns = query.Fields->Count();
        int rows = 0;
        do {
            for (int32_t c = 0; c < columns; ++c) {
                int32_t length = 0;
                selection->GetValueAsString(c, &length);
                checksum += size_t(length);
            }
        } while (++rows < kRowsWalked && selection->NextRow());
    }
    return ThreadMilliseconds() - start;
}

double ThroughSQLite(sqlite3* db, const std::u16string& sql, int columns, size_t& checksum) {
    const double start = ThreadMilliseconds();
    sqlite3_stmt* statement = nullptr;
    Check(sqlite3_prepare16_v2(db, sql.data(), int(sql.size() * 2), &statement, nullptr), db);
    for (int rows = 0; rows < kRowsWalked && sqlite3_step(statement) == SQLITE_ROW; ++rows)
        for (int c = 0; c < columns; ++c) {
            sqlite3_column_text16(statement, c);
            checksum += size_t(sqlite3_column_bytes16(statement, c) / 2);
        }
    sqlite3_finalize(statement);
    return ThreadMilliseconds() - start;
}

} // namespace

int main() {
    try {
        const std::filesystem::path folder = std::filesystem::path(platform::TemporaryFolder()) /
                                             ("tunedex-bench-query-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
        {
            TOrvoStationCatalog catalog(FromUtf8((folder / "Tunedex.db").string()));
            FillCatalog(catalog, TStationMaker().Make(kStations));
            sqlite3* floor = OpenFloor((folder / "floor.db").string(), catalog);
            auto storage = MakeInterfaced<TOrvoTunedexMusicLibraryExtension>(catalog.WeakRef());
            // The storage's index on Name is made by its first request, once per catalogue: not timed.
            TOrvoHostMLRequest warmUp;
            warmUp.Fields = {u"Name"};
            warmUp.Limit = 1;
            size_t warmUpSum = 0;
            ThroughLibrary(*storage, BuildMLQuery(warmUp), warmUpSum);

            const std::vector<std::u16string> fields = {u"Name",    u"Bitrate",  u"FileFormat", u"Genre",
                                                        u"Country", u"Provider", u"FileName"};
            std::vector<TCase> cases(3);
            // A text found in a handful of stream addresses only: every row is searched.
            cases[0].Name = "query_search";
            cases[0].Request.Fields = fields;
            cases[0].Request.Search = u"?id=4999";
            cases[1].Name = "query_keylist";
            cases[1].Request.Fields = fields;
            cases[1].Request.Conditions = {{u"Genre", u"eq", u"community radio"}};
            cases[1].FloorSql = [](std::u16string sql) {
                return ReplaceAll(sql, u"KeyContains(Genre, 'community radio')",
                                  u"instr(';' || Genre || ';', ';community radio;') > 0");
            };
            cases[2].Name = "query_sort";
            cases[2].Request.Fields = fields;
            cases[2].Request.Sort = {{u"Name", false}};
            cases[2].Request.Offset = kStations / 2;
            cases[2].Request.Limit = kRowsWalked;

            for (TCase& c : cases) {
                const TOrvoHostMLQuery query = BuildMLQuery(c.Request);
                std::u16string floorSql =
                    TOrvoTunedexQueryBuilder::Build(query.Fields.get(), query.Filter.get());
                if (c.FloorSql)
                    floorSql = c.FloorSql(floorSql);
                std::vector<double> ours, base;
                size_t oursSum = 0, baseSum = 0;
                for (int i = 0; i < kRepeats; ++i) {
                    base.push_back(ThroughSQLite(floor, floorSql, int(fields.size()), baseSum));
                    ours.push_back(ThroughLibrary(*storage, query, oursSum));
                }
                const double value = Median(ours), baseline = Median(base);
                std::fprintf(stderr, "%s: %.2f ms (budget %.0f ms: %s); floor SQL: %s\n", c.Name, value,
                             kTargetMs, value < kTargetMs ? "met" : "MISSED", ToUtf8(floorSql).c_str());
                std::printf("BENCH %s value=%.2fms baseline=%.2fms ratio=%.2f target<=%.1f\n", c.Name, value,
                            baseline, value / baseline, kTargetRatio);
            }
            sqlite3_close(floor);
        }
        std::filesystem::remove_all(folder);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "query: %s\n", e.what());
        return 1;
    }
}
