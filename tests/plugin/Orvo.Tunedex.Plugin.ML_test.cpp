#include "plugin/Orvo.Tunedex.Plugin.ML.h"

#include "host/Orvo.Host.MusicLibrary.Query.h"
#include "nuv/Nuv.Strings.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

namespace {

using testsupport::TScopedFolder;

std::u16string Build(const TOrvoHostMLRequest& request) {
    const TOrvoHostMLQuery query = BuildMLQuery(request);
    return TOrvoTunedexQueryBuilder::Build(query.Fields.get(), query.Filter.get());
}

TOrvoHostMLRequest Request(std::vector<std::u16string> fields,
                           std::vector<TOrvoHostMLCondition> conditions = {}) {
    TOrvoHostMLRequest request;
    request.Fields = std::move(fields);
    request.Conditions = std::move(conditions);
    return request;
}

TOrvoRadioStationInfo Station(std::u16string name, std::u16string genre, int32_t bitrate) {
    TOrvoRadioStationInfo info;
    info.FileName = u"http://stream.example/" + name;
    info.Name = std::move(name);
    info.Genre = std::move(genre);
    info.Bitrate = bitrate;
    info.Country = u"Germany";
    info.FileFormat = u"MP3";
    return info;
}

// Two providers with three stations each.
struct TCatalogQueryTest : ::testing::Test {
    TScopedFolder folder;
    TOrvoStationCatalog catalog{folder.File("Tunedex.db")};

    void SetUp() override {
        catalog.Exec(
            TOrvoStationCatalog::SqlProviderStore(u"p1", u"TOrvoTunedexCustom", 0, u"", u"First", 3));
        catalog.Exec(
            TOrvoStationCatalog::SqlProviderStore(u"p2", u"TOrvoTunedexCustom", 0, u"", u"Second", 3));
        catalog.AddEntry(Station(u"Alpha", u"rock;pop", 128), u"p1");
        catalog.AddEntry(Station(u"Bravo", u"jazz", 64), u"p1");
        catalog.AddEntry(Station(u"Charlie", u"news", 320), u"p1");
        catalog.AddEntry(Station(u"Delta", u"rock", 192), u"p2");
        catalog.AddEntry(Station(u"Echo", u"classical;jazz", 96), u"p2");
        catalog.AddEntry(Station(u"Foxtrot", u"talk", 128), u"p2");
    }

    // The first column of every row of the request.
    std::vector<std::u16string> Rows(const TOrvoHostMLRequest& request) {
        auto data = TOrvoMLSQLTableDataProvider::Create(catalog, Build(request));
        std::vector<std::u16string> rows;
        auto selection = data.As<IOrvoMLDataProviderSelection>();
        if (!selection)
            return rows;
        do {
            int32_t length = 0;
            const char16_t* text = selection->GetValueAsString(0, &length);
            rows.emplace_back(text, size_t(length));
        } while (selection->NextRow());
        return rows;
    }
};

using CatalogQuery = TCatalogQueryTest;

} // namespace

TEST(TunedexQueryBuilder, ComposesTheWholeStatement) {
    TOrvoHostMLRequest request = Request({u"Name", u"Bitrate", u"Provider"},
                                         {{u"Genre", u"eq", u"Rock"}, {u"Bitrate", u"ge", u"128"}});
    request.Search = u"jazz";
    request.Sort = {{u"Name", false}};
    request.Offset = 0;
    request.Limit = 100;
    EXPECT_EQ(
        Build(request),
        u"SELECT Name, Bitrate, Providers.Title FROM Entries, Providers WHERE (CatUIID = Providers.UUID) "
        u"AND (KeyContains(Genre, 'Rock')) AND (Bitrate >= '128') AND ((UPPER(Name) LIKE '%JAZZ%') OR "
        u"(UPPER(Bitrate) LIKE '%JAZZ%') OR (UPPER(Providers.Title) LIKE '%JAZZ%')) ORDER BY Name LIMIT 0, "
        u"100;");
}

TEST(TunedexQueryBuilder, KeyListsAreGenreCountryAndTagsSpelledExactly) {
    const std::u16string head = u"SELECT Name FROM Entries, Providers WHERE (CatUIID = Providers.UUID) AND ";
    EXPECT_EQ(Build(Request({u"Name"}, {{u"Genre", u"eq", u"Rock"}})),
              head + u"(KeyContains(Genre, 'Rock'));");
    EXPECT_EQ(Build(Request({u"Name"}, {{u"Tags", u"ne", u"80s"}})),
              head + u"( NOT KeyContains(Tags, '80s'));");
    EXPECT_EQ(Build(Request({u"Name"}, {{u"Country", u"in", u"Germany, France"}})),
              head + u"(KeyContainsOneFrom(Country, 'Germany', 'France'));");
    EXPECT_EQ(Build(Request({u"Name"}, {{u"Name", u"eq", u"Rock"}})),
              head + u"(Name = 'Rock' COLLATE NOCASE );");
    EXPECT_EQ(Build(Request({u"Name"}, {{u"genre", u"eq", u"Rock"}})),
              head + u"(genre = 'Rock' COLLATE NOCASE );");
}

TEST(TunedexQueryBuilder, WithoutConditionsOnlyTheJoinRestricts) {
    EXPECT_EQ(Build(Request({u"Name", u"Provider"})),
              u"SELECT Name, Providers.Title FROM Entries, Providers WHERE (CatUIID = Providers.UUID);");
    EXPECT_EQ(TOrvoTunedexQueryBuilder::Build(nullptr, nullptr),
              u"SELECT  FROM Entries, Providers WHERE (CatUIID = Providers.UUID);");
}

TEST(TunedexQueryBuilder, AnyOfSeveralConditionsIsBracketedInsideTheJoin) {
    TOrvoHostMLRequest request = Request({u"Name"}, {{u"Genre", u"eq", u"rock"}, {u"Genre", u"eq", u"jazz"}});
    request.Any = true;
    EXPECT_EQ(Build(request), u"SELECT Name FROM Entries, Providers WHERE (CatUIID = Providers.UUID) AND "
                              u"((KeyContains(Genre, 'rock')) OR (KeyContains(Genre, 'jazz')));");
    // One condition needs no extra brackets.
    request.Conditions.pop_back();
    EXPECT_EQ(Build(request), u"SELECT Name FROM Entries, Providers WHERE (CatUIID = Providers.UUID) AND "
                              u"(KeyContains(Genre, 'rock'));");
}

TEST_F(CatalogQuery, AnyOfSeveralConditionsKeepsEachStationWithItsOwnProvider) {
    TOrvoHostMLRequest request =
        Request({u"Name", u"Provider"}, {{u"Genre", u"eq", u"rock"}, {u"Genre", u"eq", u"jazz"}});
    request.Any = true;
    request.Search = u"a"; // every name here but Echo holds an "a"
    request.Sort = {{u"Name", false}};
    EXPECT_EQ(Rows(request), (std::vector<std::u16string>{u"Alpha", u"Bravo", u"Delta"}));

    auto data = TOrvoMLSQLTableDataProvider::Create(catalog, Build(request));
    auto selection = data.As<IOrvoMLDataProviderSelection>();
    ASSERT_TRUE(selection);
    std::vector<std::u16string> providers;
    do {
        int32_t length = 0;
        const char16_t* text = selection->GetValueAsString(1, &length);
        providers.emplace_back(text, size_t(length));
    } while (selection->NextRow());
    EXPECT_EQ(providers, (std::vector<std::u16string>{u"First", u"First", u"Second"}));
}

TEST_F(CatalogQuery, HostileFieldNamesNeverReachTheDatabase) {
    TOrvoHostMLRequest request = Request({u"Name"}, {{u"Name) OR (1 = 1) --", u"eq", u"x"}});
    try {
        Build(request);
        FAIL() << "no error";
    } catch (const EArgumentError& e) {
        EXPECT_EQ(e.Message(), u"Field name \"Name) OR (1 = 1) --\" is not a plain identifier");
    }
    request = Request({u"Name FROM Entries; DELETE FROM Entries; SELECT Name"});
    EXPECT_THROW(Build(request), EArgumentError);
    EXPECT_EQ(catalog.ExecInt(u"SELECT Count(*) FROM Entries;"), 6);
}

TEST_F(CatalogQuery, FilteredSearchedSortedAndWindowed) {
    TOrvoHostMLRequest request =
        Request({u"Name", u"Bitrate", u"Genre", u"Provider"},
                {{u"Genre", u"in", u"rock,jazz,talk"}, {u"Bitrate", u"between", u"64,192"}});
    // An "r" is in every name, genre or provider title of these but Echo's.
    request.Search = u"r";
    request.Sort = {{u"Bitrate", true}, {u"Name", false}};
    request.Offset = 1;
    request.Limit = 3;
    // Delta 192, Alpha 128, Foxtrot 128, Bravo 64: the window skips Delta.
    EXPECT_EQ(Rows(request), (std::vector<std::u16string>{u"Alpha", u"Foxtrot", u"Bravo"}));

    request.Conditions = {
        {u"Name", u"starts", u"b"}, {u"Name", u"ends", u"O"}, {u"Genre", u"notcontains", u"pop"}};
    request.Search.clear();
    request.Offset = 0;
    request.Limit = 0;
    EXPECT_EQ(Rows(request), (std::vector<std::u16string>{u"Bravo"}));
}

TEST_F(CatalogQuery, TheCursorWalksTheRowsAndStopsForGood) {
    auto data = TOrvoMLSQLTableDataProvider::Create(
        catalog, u"SELECT Name, Bitrate, Bitrate * 1.5 FROM Entries WHERE Bitrate >= 192 ORDER BY Name;");
    auto selection = data.As<IOrvoMLDataProviderSelection>();
    ASSERT_TRUE(selection);
    int32_t length = -1;
    EXPECT_EQ(std::u16string(selection->GetValueAsString(0, &length)), u"Charlie");
    EXPECT_EQ(length, 7);
    EXPECT_EQ(selection->GetValueAsInt32(1), 320);
    EXPECT_EQ(selection->GetValueAsInt64(1), 320);
    EXPECT_DOUBLE_EQ(selection->GetValueAsFloat(2), 480.0);
    // Outside the row: nothing, never a read past the columns.
    EXPECT_EQ(selection->GetValueAsInt64(3), 0);
    EXPECT_EQ(selection->GetValueAsString(-1, &length)[0], u'\0');
    EXPECT_EQ(length, 0);
    ASSERT_TRUE(selection->NextRow());
    EXPECT_EQ(selection->GetValueAsInt32(1), 192);
    EXPECT_FALSE(selection->NextRow());
    // Stepping on after the end must not start the statement again.
    EXPECT_FALSE(selection->NextRow());
    EXPECT_EQ(selection->GetValueAsInt64(1), 0);
}

TEST_F(CatalogQuery, NoRowsMeansNoSelection) {
    auto data =
        TOrvoMLSQLTableDataProvider::Create(catalog, Build(Request({u"Name"}, {{u"Name", u"eq", u"Zulu"}})));
    EXPECT_FALSE(data->HasRows());
    void* selection = reinterpret_cast<void*>(1);
    EXPECT_EQ(data->QueryInterface(IOrvoMLDataProviderSelection::IID, &selection), E_NOINTERFACE);
    EXPECT_EQ(selection, nullptr);
    EXPECT_TRUE(data.As<IUnknown>());

    catalog.Reset();
    data = TOrvoMLSQLTableDataProvider::Create(catalog, Build(Request({u"Name"})));
    EXPECT_FALSE(data.As<IOrvoMLDataProviderSelection>());
}

TEST_F(CatalogQuery, AStatementThatDoesNotCompileRaises) {
    EXPECT_THROW(TOrvoMLSQLTableDataProvider::Create(catalog, Build(Request({u"Nonexistent"}))),
                 ENuvSQLiteError);
}
