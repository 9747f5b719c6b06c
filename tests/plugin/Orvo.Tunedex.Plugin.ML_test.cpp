#include "plugin/Orvo.Tunedex.Plugin.ML.h"

#include "host/Orvo.Host.Core.h"
#include "host/Orvo.Host.Localization.h"
#include "host/Orvo.Host.MusicLibrary.Query.h"
#include "nuv/Nuv.Strings.h"
#include "platform/Platform.Threads.h"
#include "sdk/api/OrvoAPI.UI.h"
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

// ---- the storage extension

namespace {

constexpr std::string_view kLanguage = "[Tunedex]\nTitle=Radio\nL1=Add catalogs\nS1=Loading\nS2=Waiting\n"
                                       "S3=Refreshing\n";

// The host's side of an attached storage: records its calls in order.
class TRecordingManager : public TOrvoInterfaces<TInterfacedObjectEx, IOrvoMLDataStorageManager> {
public:
    HRESULT ORVO_CALL ShowBackgroundTask(int32_t taskId, IOrvoString* caption,
                                         IUnknown* cancelEvent) override {
        Calls.push_back(u"Show " + IntToStr(taskId));
        Caption = caption;
        CancelEvent = cancelEvent;
        return S_OK;
    }
    HRESULT ORVO_CALL HideBackgroundTask(int32_t taskId) override {
        Calls.push_back(u"Hide " + IntToStr(taskId));
        return S_OK;
    }
    HRESULT ORVO_CALL ReloadData() override {
        Calls.push_back(u"Reload");
        return S_OK;
    }

    std::vector<std::u16string> Calls;
    ComPtr<IOrvoString> Caption;
    ComPtr<IUnknown> CancelEvent;
};

// An album-art request that records the address and answers a fixed result.
class TRecordingRequest : public TOrvoHostPropertyBag<IOrvoMLAlbumArtRequest> {
public:
    HRESULT ORVO_CALL FetchImage(IOrvoString* address, IUnknown** image) override {
        Addresses.push_back(FromHostString(address));
        if (Succeeded(Result))
            *image = TOrvoHostString::Create(u"image").Detach();
        return Result;
    }
    HRESULT Result = S_OK;
    std::vector<std::u16string> Addresses;
};

class MLExtension : public TCatalogQueryTest {
protected:
    void SetUp() override {
        platform::SetMainThread();
        FCore = TOrvoHostCore::Create(u"/nonexistent/profile");
        RegisterMusicLibraryObjects(*FCore);
        FCore->RegisterService(IOrvoServiceMUI::IID, TOrvoHostLocalization::Create(kLanguage));
        TOrvoAPIWrappers::Initialize(FCore.get());
        TCatalogQueryTest::SetUp();
        FExtension = MakeInterfaced<TOrvoTunedexMusicLibraryExtension>(catalog.WeakRef());
        FManager = MakeInterfaced<TRecordingManager>();
    }
    void TearDown() override {
        FExtension->Detach();
        // Calls the test queued but did not wait for hold references to the extension.
        platform::PumpMainThreadUntil([] { return false; }, 0);
        FExtension = nullptr;
        TOrvoAPIWrappers::Finalize();
    }

    void Pump() {
        platform::PumpMainThreadUntil([] { return false; }, 0);
    }

    // The data QueryRows hands over: the text, or the first column of every row.
    std::vector<std::u16string> Query(const TOrvoHostMLRequest& request, std::u16string* text = nullptr) {
        const TOrvoHostMLQuery query = BuildMLQuery(request);
        ComPtr<IUnknown> data;
        EXPECT_EQ(FExtension->QueryRows(query.Fields.get(), query.Filter.get(), data.put()), S_OK);
        std::vector<std::u16string> rows;
        if (auto string = data.As<IOrvoString>()) {
            if (text)
                *text = FromHostString(string);
            return rows;
        }
        if (auto selection = data.As<IOrvoMLDataProviderSelection>())
            do {
                int32_t length = 0;
                const char16_t* chars = selection->GetValueAsString(0, &length);
                rows.emplace_back(chars, size_t(length));
            } while (selection->NextRow());
        return rows;
    }

    std::vector<std::u16string> Names(IOrvoObjectList* list) {
        std::vector<std::u16string> names;
        for (int32_t i = 0; i < list->Count(); ++i) {
            ComPtr<IOrvoString> name;
            EXPECT_EQ(list->Get(i, IOrvoString::IID, name.put_void()), S_OK);
            names.push_back(FromHostString(name));
        }
        return names;
    }

    ComPtr<TOrvoHostCore> FCore;
    ComPtr<TOrvoTunedexMusicLibraryExtension> FExtension;
    ComPtr<TRecordingManager> FManager;
};

} // namespace

TEST_F(MLExtension, DescribesItselfByProperty) {
    auto storage = FExtension.As<IOrvoMLExtensionDataStorage>();
    ASSERT_TRUE(storage);
    EXPECT_EQ(ReadTextProp(storage.get(), 0), u"Orvo.Tunedex.ML.Storage");
    EXPECT_EQ(ReadTextProp(storage.get(), 1), u"Radio");
    EXPECT_EQ(ReadIntProp(storage.get(), 2), 13);
    int32_t value = 0;
    EXPECT_EQ(storage->GetValueAsInt32(3, &value), E_INVALIDARG);
    // The way back to the catalogue, as the menu items take it.
    auto own = FExtension.As<IOrvoMLStationCatalog>();
    ASSERT_TRUE(own);
    EXPECT_EQ(own->GetCatalog().Lock().get(), &catalog);
    for (const TGUID& iid : {IOrvoMLDataStorageCommandAddFilesDialog::IID, IOrvoMLDataProvider::IID,
                             IOrvoMLAlbumArtProvider2::IID, IOrvoPropertyList2::IID}) {
        ComPtr<IUnknown> found;
        EXPECT_EQ(FExtension->QueryInterface(iid, found.put_void()), S_OK);
    }
}

TEST_F(MLExtension, ListsItsFieldsBySchema) {
    ComPtr<IOrvoObjectList> list;
    ASSERT_EQ(FExtension->ListFields(0, list.put()), S_OK);
    ASSERT_EQ(list->Count(), 10);
    std::vector<std::tuple<std::u16string, int32_t, int32_t>> fields;
    for (int32_t i = 0; i < list->Count(); ++i) {
        ComPtr<IOrvoMLDataField> field;
        ASSERT_EQ(list->Get(i, IOrvoMLDataField::IID, field.put_void()), S_OK);
        fields.emplace_back(ReadTextProp(field.get(), ORVO_ML_FIELD_NAME),
                            ReadIntProp(field.get(), ORVO_ML_FIELD_TYPE),
                            ReadIntProp(field.get(), ORVO_ML_FIELD_FLAGS));
    }
    EXPECT_EQ(fields, (std::vector<std::tuple<std::u16string, int32_t, int32_t>>{
                          {u"ID", 4, 4},
                          {u"FileName", 4, 4},
                          {u"Name", 4, 3},
                          {u"Bitrate", 1, 3},
                          {u"Description", 4, 0},
                          {u"Genre", 5, 3},
                          {u"FileFormat", 4, 3},
                          {u"Country", 5, 3},
                          {u"Tags", 5, 3},
                          {u"Provider", 4, 3},
                      }));

    const std::vector<std::u16string> grouping = {u"Provider", u"Name"};
    const std::vector<std::u16string> columns = {u"Name", u"Bitrate", u"FileFormat", u"Genre"};
    const std::vector<std::pair<int32_t, std::vector<std::u16string>>> cases = {
        {2, grouping}, {3, grouping}, {10, columns}, {11, columns}, {12, columns}, {1, {}},  {4, {}}, {5, {}},
        {6, {}},       {7, {}},       {8, {}},       {9, {}},       {13, {}},      {99, {}}, {-1, {}}};
    for (const auto& [schema, names] : cases) {
        ComPtr<IOrvoObjectList> items;
        ASSERT_EQ(FExtension->ListFields(schema, items.put()), S_OK) << schema;
        ASSERT_TRUE(items) << schema;
        EXPECT_EQ(Names(items.get()), names) << schema;
    }
}

TEST_F(MLExtension, OffersGroupingByProviderForSchemaTwoOnly) {
    class TPresets : public TOrvoInterfaces<TInterfacedObjectEx, IOrvoMLGroupingPresets> {
    public:
        int32_t ORVO_CALL Count() override { return int32_t(Added.size()); }
        HRESULT ORVO_CALL Get(int32_t, const TGUID&, void**) override { return E_NOTIMPL; }
        HRESULT ORVO_CALL Delete(int32_t) override { return E_NOTIMPL; }
        HRESULT ORVO_CALL Add(IOrvoString* id, IOrvoString* caption, int32_t flags, IOrvoObjectList* fields,
                              IUnknown** preset) override {
            std::u16string entry =
                FromHostString(id) + u"|" + FromHostString(caption) + u"|" + IntToStr(flags);
            for (int32_t i = 0; i < fields->Count(); ++i) {
                ComPtr<IOrvoString> name;
                fields->Get(i, IOrvoString::IID, name.put_void());
                entry += u"|" + FromHostString(name);
            }
            Added.push_back(entry);
            *preset = TOrvoHostString::Create(u"preset").Detach();
            return S_OK;
        }
        std::vector<std::u16string> Added;
    };
    auto presets = MakeInterfaced<TPresets>();
    for (int32_t schema : {0, 1, 3, 10})
        EXPECT_EQ(FExtension->ListGroupingPresets(schema, presets.get()), S_OK);
    EXPECT_TRUE(presets->Added.empty());
    EXPECT_EQ(FExtension->ListGroupingPresets(2, presets.get()), S_OK);
    EXPECT_EQ(presets->Added, (std::vector<std::u16string>{u"||0|Provider"}));
    EXPECT_EQ(FExtension->ListGroupingPresets(2, nullptr), S_OK);
}

TEST_F(MLExtension, AnEmptyCatalogueGivesTheLinkToTheSettingsWhateverTheFilter) {
    catalog.Reset();
    TOrvoHostMLRequest plain = Request({u"Name"});
    TOrvoHostMLRequest filtered = Request({u"Name", u"Provider"}, {{u"Genre", u"in", u"rock,jazz"}});
    filtered.Search = u"x";
    filtered.Sort = {{u"Name", true}};
    filtered.Limit = 5;
    // Not even a request that could not be composed gets that far.
    TOrvoHostMLRequest broken = Request({u"Name"}, {{u"Name; DROP", u"eq", u"x"}});
    for (const TOrvoHostMLRequest& request : {plain, filtered, broken}) {
        std::u16string text;
        EXPECT_TRUE(Query(request, &text).empty());
        EXPECT_EQ(text, u"[url=tunedex://settings]Add catalogs[/url]");
    }
    ComPtr<IUnknown> data;
    EXPECT_EQ(FExtension->QueryRows(nullptr, nullptr, data.put()), S_OK);
    EXPECT_TRUE(data.As<IOrvoString>());
}

TEST_F(MLExtension, RowsComeFromTheCatalogueAndFailuresBecomeTheText) {
    TOrvoHostMLRequest request = Request({u"Name"}, {{u"Genre", u"eq", u"jazz"}});
    request.Sort = {{u"Name", true}};
    EXPECT_EQ(Query(request), (std::vector<std::u16string>{u"Echo", u"Bravo"}));

    std::u16string text;
    EXPECT_TRUE(Query(Request({u"Name"}, {{u"Name) OR (1", u"eq", u"x"}}), &text).empty());
    EXPECT_EQ(text, u"Field name \"Name) OR (1\" is not a plain identifier");
    EXPECT_TRUE(Query(Request({u"NoSuchColumn"}), &text).empty());
    EXPECT_NE(text.find(u"NoSuchColumn"), std::u16string::npos) << ToUtf8(text);

    ComPtr<IUnknown> data;
    EXPECT_EQ(FExtension->QueryRows(nullptr, nullptr, nullptr), E_INVALIDARG);
    FExtension->Detach();
    EXPECT_EQ(FExtension->QueryRows(nullptr, nullptr, data.put()), E_FAIL);
}

TEST_F(MLExtension, AlbumArtIsTheStationsLogo) {
    TOrvoRadioStationInfo station = Station(u"Logo", u"pop", 128);
    station.Logo = u"http://logo.example/logo.png";
    catalog.AddEntry(station, u"p1");

    auto names = TOrvoHostObjectList::Create();
    names->Add(TOrvoHostString::Create(u"Name").get());
    names->Add(TOrvoHostString::Create(u"FileName").get());
    auto fileName = TOrvoHostString::Create(station.FileName);
    TOrvoVariant values[2] = {};
    values[0].Kind = TOrvoVariant::Int32;
    values[1].Kind = TOrvoVariant::Text;
    values[1].AsText = fileName.get();
    TOrvoVariantArray array{values, 2};
    auto request = MakeInterfaced<TRecordingRequest>();

    ComPtr<IUnknown> image;
    EXPECT_EQ(FExtension->FetchAlbumArt(names.get(), &array, request.get(), image.put()), S_OK);
    EXPECT_TRUE(image);
    EXPECT_EQ(request->Addresses, std::vector<std::u16string>{station.Logo});

    request->Result = E_FAIL;
    EXPECT_EQ(FExtension->FetchAlbumArt(names.get(), &array, request.get(), image.put()), E_NOTIMPL);
    // A station without a logo, and one that is not in the catalogue.
    request->Result = S_OK;
    auto other = TOrvoHostString::Create(u"http://stream.example/Alpha");
    values[1].AsText = other.get();
    EXPECT_EQ(FExtension->FetchAlbumArt(names.get(), &array, request.get(), image.put()), E_NOTIMPL);
    auto unknown = TOrvoHostString::Create(u"http://nowhere.example/");
    values[1].AsText = unknown.get();
    EXPECT_EQ(FExtension->FetchAlbumArt(names.get(), &array, request.get(), image.put()), E_NOTIMPL);
    EXPECT_EQ(request->Addresses.size(), 2u);

    // The name is matched exactly; a value list shorter than the names is refused.
    auto lower = TOrvoHostObjectList::Create();
    lower->Add(TOrvoHostString::Create(u"filename").get());
    EXPECT_EQ(FExtension->FetchAlbumArt(lower.get(), &array, request.get(), image.put()), E_FAIL);
    EXPECT_EQ(FExtension->FetchAlbumArt(nullptr, &array, request.get(), image.put()), E_FAIL);
    TOrvoVariantArray shortArray{values, 1};
    EXPECT_EQ(FExtension->FetchAlbumArt(names.get(), &shortArray, request.get(), image.put()), E_INVALIDARG);
}

TEST(MLDataSize, WritesBytesAndBinaryMultiples) {
    const std::vector<std::pair<int64_t, std::u16string>> cases = {
        {0, u"0 B"},
        {1023, u"1023 B"},
        {1024, u"1.00 KB"},
        {1536, u"1.50 KB"},
        {3145728, u"3.00 MB"},
        {1073741823, u"1024.00 MB"},
        {1073741824, u"1.00 GB"},
        {-1536, u"-1.50 KB"},
        {-5, u"-5 B"},
        {INT64_MIN, u"-8589934592.00 GB"},
    };
    for (const auto& [size, text] : cases)
        EXPECT_EQ(FormatDataSize(size), text) << size;
}

TEST_F(MLExtension, ARefreshShowsOneTaskWhoseCaptionFollowsTheProgress) {
    FExtension->Initialize(FManager.get());
    // Progress before the task is shown has nowhere to go.
    FExtension->UpdateProgress(u"First", 10, 20);
    catalog.Listeners().AsyncUpdateStarted();
    Pump();
    ASSERT_EQ(FManager->Calls, std::vector<std::u16string>{u"Show 42"});
    ASSERT_TRUE(FManager->Caption);
    EXPECT_EQ(FManager->Caption.get(), FExtension->TaskCaption().get());
    EXPECT_EQ(FromHostString(FManager->Caption), u"Refreshing");
    EXPECT_TRUE(FManager->CancelEvent.As<IOrvoActionEvent>());

    const std::vector<std::tuple<int64_t, int64_t, std::u16string>> steps = {
        {0, 3145728, u"First: Waiting"},
        {-1, 0, u"First: Waiting"},
        {1536, 3145728, u"First: Loading 1.50 KB/3.00 MB"},
        {1536, 0, u"First: Loading 1.50 KB"},
        {1536, -1, u"First: Loading 1.50 KB"},
    };
    for (const auto& [received, total, caption] : steps) {
        catalog.Listeners().UpdateProgress(u"First", received, total);
        Pump();
        EXPECT_EQ(FromHostString(FManager->Caption), caption) << received << "/" << total;
    }

    // Steps faster than the main thread are drawn once, with the latest text.
    catalog.Listeners().UpdateProgress(u"First", 1024, 0);
    catalog.Listeners().UpdateProgress(u"Second", 0, 0);
    EXPECT_EQ(FromHostString(FManager->Caption), u"First: Loading 1.50 KB");
    Pump();
    EXPECT_EQ(FromHostString(FManager->Caption), u"Second: Waiting");

    // A change during the task waits for its end, which reloads once.
    catalog.Listeners().CatalogChanged();
    Pump();
    EXPECT_EQ(FManager->Calls, std::vector<std::u16string>{u"Show 42"});
    catalog.Listeners().AsyncUpdateFinished();
    catalog.Listeners().CatalogChanged();
    Pump();
    EXPECT_EQ(FManager->Calls, (std::vector<std::u16string>{u"Show 42", u"Hide 42", u"Reload"}));
    EXPECT_FALSE(FExtension->TaskCaption());
}

TEST_F(MLExtension, ListensOnlyWhileAttached) {
    catalog.Listeners().CatalogChanged();
    catalog.Listeners().AsyncUpdateStarted();
    Pump();
    EXPECT_TRUE(FManager->Calls.empty());

    FExtension->Initialize(FManager.get());
    FExtension->Initialize(FManager.get()); // once listed is enough
    catalog.Listeners().CatalogChanged();
    Pump();
    EXPECT_EQ(FManager->Calls, std::vector<std::u16string>{u"Reload"});

    // A change queued before the storage goes reaches no manager.
    catalog.Listeners().CatalogChanged();
    FExtension->Finalize();
    catalog.Listeners().CatalogChanged();
    catalog.Listeners().AsyncUpdateStarted();
    Pump();
    EXPECT_EQ(FManager->Calls, std::vector<std::u16string>{u"Reload"});
}

TEST_F(MLExtension, KeepsAnIndexSoThatSortingByNameNeedsNoSort) {
    const std::u16string indexed = u"SELECT Count(*) FROM sqlite_master WHERE name = 'EntriesName';";
    EXPECT_EQ(catalog.ExecInt(indexed), 0);
    TOrvoHostMLRequest request = Request({u"Name", u"Provider"});
    request.Sort = {{u"Name", false}};
    request.Offset = 2;
    request.Limit = 2;
    EXPECT_EQ(Query(request), (std::vector<std::u16string>{u"Charlie", u"Delta"}));
    EXPECT_EQ(catalog.ExecInt(indexed), 1);
    // SQLite walks the index instead of sorting the stations.
    const TOrvoHostMLQuery query = BuildMLQuery(request);
    std::unique_ptr<TNuvSQLiteTable> rows;
    ASSERT_TRUE(catalog.Query(u"EXPLAIN QUERY PLAN " +
                                  TOrvoTunedexQueryBuilder::Build(query.Fields.get(), query.Filter.get()),
                              rows));
    std::u16string plan;
    do
        plan += rows->ReadString(u"detail") + u"\n";
    while (rows->NextRow());
    EXPECT_EQ(plan.find(u"TEMP B-TREE"), std::u16string::npos) << ToUtf8(plan);
    rows.reset(); // an open statement keeps the file open, and Windows deletes no open file

    // A reset replaces the file; the next request makes the index again.
    catalog.Reset();
    catalog.AddEntry(Station(u"Zulu", u"pop", 128), u"p1");
    Query(request);
    EXPECT_EQ(catalog.ExecInt(indexed), 1);
}
