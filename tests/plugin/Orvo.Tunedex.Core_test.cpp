#include "plugin/Orvo.Tunedex.Core.h"

#include "nuv/Nuv.Strings.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <thread>

namespace {

using testsupport::TScopedFolder;

TOrvoRadioStationInfo Station(std::u16string fileName, std::u16string name) {
    TOrvoRadioStationInfo info;
    info.FileName = std::move(fileName);
    info.Name = std::move(name);
    info.Bitrate = 128;
    info.Country = u"Germany";
    info.Description = u"News and music";
    info.FileFormat = u"MP3";
    info.Genre = u"pop;rock";
    info.Tags = u"80s;hits";
    info.HomeURL = u"https://example.org/";
    info.Logo = u"https://example.org/logo.png";
    return info;
}

std::string FileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct TRecordingListener : IOrvoStationCatalogListener {
    std::vector<std::u16string> Calls;
    std::function<void()> OnCall;

    void Record(std::u16string call) {
        Calls.push_back(std::move(call));
        if (OnCall)
            OnCall();
    }
    void CatalogChanged() override { Record(u"CatalogChanged"); }
    void AsyncUpdateStarted() override { Record(u"AsyncUpdateStarted"); }
    void UpdateProgress(std::u16string_view title, int64_t received, int64_t total) override {
        Record(Format(u"UpdateProgress %s %d/%d", title, received, total));
    }
    void ProviderUpdateStarted(std::u16string_view id) override {
        Record(u"ProviderUpdateStarted " + std::u16string(id));
    }
    void AsyncUpdateFinished() override { Record(u"AsyncUpdateFinished"); }
};

struct TCatalogTest : ::testing::Test {
    TScopedFolder folder;
    std::u16string fileName = folder.File("Tunedex.db");
    TOrvoStationCatalog catalog{fileName};
};

} // namespace

// ---- statement texts ----

TEST(CatalogStatements, AreExactlyTheTextsTheCatalogRuns) {
    const std::vector<std::u16string> schema = TOrvoStationCatalog::SchemaStatements();
    ASSERT_EQ(schema.size(), 4u);
    EXPECT_EQ(
        schema[0],
        u"CREATE TABLE IF NOT EXISTS Entries (ID INTEGER PRIMARY KEY AUTOINCREMENT, FileName TEXT COLLATE "
        u"UNICODE "
        u"UNIQUE , CatUIID TEXT COLLATE UNICODE, Name TEXT COLLATE UNICODE, Description TEXT COLLATE "
        u"UNICODE, "
        u"Genre TEXT COLLATE UNICODE, FileFormat TEXT COLLATE UNICODE, Bitrate INTEGER, Tags TEXT COLLATE "
        u"UNICODE, Country TEXT COLLATE UNICODE, HomeURL TEXT COLLATE UNICODE, Logo TEXT COLLATE UNICODE);");
    EXPECT_EQ(schema[1],
              u"CREATE TABLE IF NOT EXISTS Logos (ID TEXT COLLATE UNICODE PRIMARY KEY, Data BLOB);");
    EXPECT_EQ(schema[2],
              u"CREATE TABLE IF NOT EXISTS Providers (UUID TEXT COLLATE UNICODE PRIMARY KEY, Class TEXT "
              u"COLLATE UNICODE, Date DOUBLE, Data TEXT COLLATE UNICODE, Title TEXT COLLATE UNICODE, "
              u"UserAgent TEXT COLLATE UNICODE, Count INTEGER);");
    EXPECT_EQ(schema[3], u"CREATE UNIQUE INDEX IF NOT EXISTS EntriesIndex ON Entries (FileName);");

    TOrvoRadioStationInfo info = Station(u"http://s.example/live'1", u"Rock'n'Roll FM");
    info.Description.clear();
    EXPECT_EQ(
        TOrvoStationCatalog::SqlAddEntry(info, u"a1b2"),
        u"REPLACE INTO Entries VALUES (NULL, 'http://s.example/live''1', 'a1b2', 'Rock''n''Roll FM', '', "
        u"'pop;rock', 'MP3', 128, '80s;hits', 'Germany', 'https://example.org/', "
        u"'https://example.org/logo.png');");
    EXPECT_EQ(TOrvoStationCatalog::SqlFindEntry(u"FileName", u"http://x/"),
              u"SELECT *  FROM Entries WHERE FileName = 'http://x/';");
    EXPECT_EQ(TOrvoStationCatalog::SqlEntriesCount(u"id"),
              u"SELECT Count(*) FROM Entries WHERE CatUIID = 'id';");
    EXPECT_EQ(TOrvoStationCatalog::SqlEntriesDelete(u"id"), u"DELETE  FROM Entries WHERE CatUIID = 'id';");
    EXPECT_EQ(TOrvoStationCatalog::SqlEntriesTotal(), u"SELECT Count(*) FROM Entries;");
    EXPECT_EQ(TOrvoStationCatalog::SqlLoadProvider(u"id"), u"SELECT *  FROM Providers WHERE UUID = 'id';");
    EXPECT_EQ(TOrvoStationCatalog::SqlEnumProviders(), u"SELECT *  FROM Providers;");
    EXPECT_EQ(TOrvoStationCatalog::SqlProvidersByTitle(u"My 'best'"),
              u"SELECT *  FROM Providers WHERE Title = 'My ''best''';");
    EXPECT_EQ(TOrvoStationCatalog::SqlProviderDelete(u"old"), u"DELETE  FROM Providers WHERE UUID = 'old';");
    EXPECT_EQ(
        TOrvoStationCatalog::SqlProviderStore(u"Xiph.Dir", u"TOrvoTunedexXiphDirectory", 45123.5, u"",
                                              u"Xiph", 1234),
        u"REPLACE INTO Providers VALUES ('Xiph.Dir', 'TOrvoTunedexXiphDirectory', 45123.5, '', 'Xiph', '', "
        u"1234);");
}

TEST(CatalogStatements, ProviderRowsStoreAndLoad) {
    TScopedFolder folder;
    TOrvoStationCatalog catalog(folder.File("Tunedex.db"));
    catalog.Exec(TOrvoStationCatalog::SqlProviderStore(
        u"id1", u"TOrvoTunedexCustomProvider", 45123.541666666664, u"http://x/list.json", u"Mine", 3));
    std::unique_ptr<TNuvSQLiteTable> table;
    ASSERT_TRUE(catalog.Query(TOrvoStationCatalog::SqlLoadProvider(u"id1"), table));
    EXPECT_EQ(table->ReadString(u"Class"), u"TOrvoTunedexCustomProvider");
    EXPECT_EQ(table->ReadDouble(table->ColumnIndex(u"Date")), 45123.541666666664);
    EXPECT_EQ(table->ReadString(u"UserAgent"), u"");
    EXPECT_EQ(table->ReadInt64(table->ColumnIndex(u"count")), 3);
    table.reset();
    catalog.Exec(TOrvoStationCatalog::SqlProviderDelete(u"id1"));
    EXPECT_FALSE(catalog.Query(TOrvoStationCatalog::SqlEnumProviders(), table));
}

// ---- the catalogue ----

using StationCatalog = TCatalogTest;

TEST_F(StationCatalog, StoresAndFindsStations) {
    EXPECT_TRUE(catalog.IsEmpty());
    EXPECT_EQ(catalog.EntriesCount(u"p1"), 0);
    TOrvoRadioStationInfo written = Station(u"http://a.example:8000/live", u"Rock'n'Roll \"Radio\"");
    written.Bitrate = -1;
    written.LogoWidth = 300;
    catalog.AddEntry(written, u"p1");
    catalog.AddEntry(Station(u"http://b.example/stream", u"B"), u"p1");
    catalog.AddEntry(Station(u"http://c.example/stream", u"C"), u"p2");
    EXPECT_FALSE(catalog.IsEmpty());
    EXPECT_EQ(catalog.EntriesCount(u"p1"), 2);
    EXPECT_EQ(catalog.EntriesCount(u"P1"), 2); // identifiers compare without case, as the column does

    TOrvoRadioStationInfo found;
    ASSERT_TRUE(catalog.FindEntryByFileName(u"http://a.example:8000/live", found));
    TOrvoRadioStationInfo expected = written;
    expected.LogoWidth = 0; // parse-time only, never stored
    EXPECT_EQ(found, expected);

    ASSERT_TRUE(catalog.FindEntry(u"Name", u"rock'n'roll \"radio\"", found));
    EXPECT_EQ(found.FileName, u"http://a.example:8000/live");

    // A miss leaves the record as it was.
    TOrvoRadioStationInfo untouched = Station(u"keep", u"keep");
    EXPECT_FALSE(catalog.FindEntryByFileName(u"http://nowhere/", untouched));
    EXPECT_EQ(untouched, Station(u"keep", u"keep"));

    catalog.EntriesDelete(u"p1");
    EXPECT_EQ(catalog.EntriesCount(u"p1"), 0);
    EXPECT_EQ(catalog.EntriesCount(u"p2"), 1);
}

TEST_F(StationCatalog, TextsOutsideTheBasicPlaneAreStoredWithASpaceAndStillFound) {
    const std::u16string name = u"Chill \U0001F3B5 Lounge \U0001F4FB";
    const std::u16string fileName = u"http://emoji.example/\U0001F3B5.mp3";
    catalog.AddEntry(Station(fileName, name), u"p");
    TOrvoRadioStationInfo found;
    ASSERT_TRUE(catalog.FindEntryByFileName(fileName, found));
    EXPECT_EQ(found.Name, u"Chill   Lounge  ");
    EXPECT_EQ(found.FileName, u"http://emoji.example/ .mp3");
    ASSERT_TRUE(catalog.FindEntry(u"Name", name, found));
}

TEST_F(StationCatalog, AStreamListedByTwoProvidersBelongsToTheOneWrittenLast) {
    catalog.AddEntry(Station(u"http://shared.example/live", u"First"), u"p1");
    catalog.AddEntry(Station(u"http://other.example/live", u"Other"), u"p1");
    catalog.AddEntry(Station(u"HTTP://SHARED.EXAMPLE/LIVE", u"Second"), u"p2");
    EXPECT_EQ(catalog.ExecInt(u"SELECT Count(*) FROM Entries;"), 2);
    EXPECT_EQ(catalog.EntriesCount(u"p1"), 1);
    EXPECT_EQ(catalog.EntriesCount(u"p2"), 1);
    TOrvoRadioStationInfo found;
    ASSERT_TRUE(catalog.FindEntryByFileName(u"http://shared.example/live", found));
    EXPECT_EQ(found.Name, u"Second");
}

TEST_F(StationCatalog, AnUnknownColumnRaisesWithTheQuery) {
    TOrvoRadioStationInfo found;
    try {
        catalog.FindEntry(u"NoSuchColumn", u"x", found);
        FAIL() << "no error";
    } catch (const ENuvSQLiteError& e) {
        EXPECT_EQ(e.Message(), u"Error: no such column: NoSuchColumn (1)\r\nLast query:\r\n"
                               u"SELECT *  FROM Entries WHERE NoSuchColumn = 'x';");
    }
}

TEST(StationCatalogFile, OpeningAnExistingCatalogueChangesNothing) {
    TScopedFolder folder;
    const std::u16string fileName = folder.File("Tunedex.db");
    {
        TOrvoStationCatalog catalog(fileName);
        catalog.AddEntry(Station(u"http://a.example/", u"A"), u"p1");
    }
    const std::string before = FileBytes(folder.Path() / "Tunedex.db");
    {
        TOrvoStationCatalog catalog(fileName);
        TOrvoRadioStationInfo found;
        EXPECT_TRUE(catalog.FindEntryByFileName(u"http://a.example/", found));
    }
    EXPECT_EQ(FileBytes(folder.Path() / "Tunedex.db"), before);
}

TEST_F(StationCatalog, ResetGivesAFreshFileAndTellsEveryListener) {
    catalog.AddEntry(Station(u"http://a.example/", u"A"), u"p1");
    catalog.Exec(
        TOrvoStationCatalog::SqlProviderStore(u"p1", u"TOrvoTunedexCustomProvider", 1, u"", u"T", 1));
    ASSERT_TRUE(std::filesystem::is_regular_file(folder.Path() / "Tunedex.db"));

    TRecordingListener first, second;
    catalog.Listeners().Add(&first);
    catalog.Listeners().Add(&second);
    catalog.Reset();

    EXPECT_EQ(first.Calls, std::vector<std::u16string>{u"CatalogChanged"});
    EXPECT_EQ(second.Calls, std::vector<std::u16string>{u"CatalogChanged"});
    EXPECT_TRUE(catalog.IsEmpty());
    std::unique_ptr<TNuvSQLiteTable> table;
    EXPECT_FALSE(catalog.Query(TOrvoStationCatalog::SqlEnumProviders(), table));
    EXPECT_EQ(catalog.ExecInt(u"SELECT Count(*) FROM sqlite_master WHERE type = 'table' AND name IN "
                              u"('Entries', 'Logos', 'Providers');"),
              3);
    // Still usable after the reset.
    catalog.AddEntry(Station(u"http://b.example/", u"B"), u"p2");
    EXPECT_EQ(catalog.EntriesCount(u"p2"), 1);
    catalog.Listeners().Remove(&first);
    catalog.Listeners().Remove(&second);
}

// ---- listeners ----

TEST(CatalogListeners, CallEveryListenerInOrderAndSurviveRemovalDuringAWalk) {
    TOrvoStationCatalogListeners listeners;
    TRecordingListener a, b, c;
    std::vector<char> order;
    a.OnCall = [&] {
        order.push_back('a');
        listeners.Remove(&a); // itself
        listeners.Remove(&b); // one not yet called
    };
    b.OnCall = [&] { order.push_back('b'); };
    c.OnCall = [&] { order.push_back('c'); };
    listeners.Add(&a);
    listeners.Add(&b);
    listeners.Add(&c);
    listeners.Add(&c); // listed once
    listeners.CatalogChanged();
    EXPECT_EQ(order, (std::vector<char>{'a', 'c'}));
    EXPECT_EQ(listeners.Count(), 1u);

    listeners.Add(&b);
    listeners.AsyncUpdateStarted();
    listeners.ProviderUpdateStarted(u"id1");
    listeners.UpdateProgress(u"Mine", 10, -1);
    listeners.AsyncUpdateFinished();
    EXPECT_EQ(b.Calls, (std::vector<std::u16string>{u"AsyncUpdateStarted", u"ProviderUpdateStarted id1",
                                                    u"UpdateProgress Mine 10/-1", u"AsyncUpdateFinished"}));
}

TEST(CatalogThreads, WritersAndReadersShareOneCatalogue) {
    TScopedFolder folder;
    TOrvoStationCatalog catalog(folder.File("Tunedex.db"));
    // Durability is not under test; without it the test is quick under the sanitizers too.
    catalog.Exec(u"PRAGMA synchronous = OFF;");
    std::atomic<bool> failed{false};
    std::atomic<int> partial{0};
    // One thread replaces a provider's 20 stations in a transaction, over and over; the other
    // reads and must always see a whole set.
    std::thread writer([&] {
        try {
            for (int round = 0; round < 15; ++round)
                catalog.Transaction([&] {
                    catalog.EntriesDelete(u"p1");
                    for (int i = 0; i < 20; ++i)
                        catalog.AddEntry(Station(u"http://w.example/" + IntToStr(i), IntToStr(round)), u"p1");
                });
        } catch (...) {
            failed = true;
        }
    });
    std::thread reader([&] {
        try {
            for (int round = 0; round < 30; ++round) {
                const int32_t count = catalog.EntriesCount(u"p1");
                if (count != 0 && count != 20)
                    ++partial;
                catalog.AddEntry(Station(u"http://r.example/" + IntToStr(round), u"R"), u"p2");
                TOrvoRadioStationInfo found;
                if (!catalog.FindEntryByFileName(u"http://r.example/" + IntToStr(round), found))
                    failed = true;
            }
        } catch (...) {
            failed = true;
        }
    });
    writer.join();
    reader.join();
    EXPECT_FALSE(failed);
    EXPECT_EQ(partial, 0);
    EXPECT_EQ(catalog.EntriesCount(u"p1"), 20);
    EXPECT_EQ(catalog.EntriesCount(u"p2"), 30);
}
