#include "plugin/Orvo.Tunedex.Plugin.ML.h"
#include "plugin/Orvo.Tunedex.Plugin.h"

#include "host/Orvo.Host.Core.h"
#include "host/Orvo.Host.FileManager.h"
#include "host/Orvo.Host.FileSystem.h"
#include "host/Orvo.Host.Menus.h"
#include "host/Orvo.Host.MusicLibrary.Query.h"
#include "host/Orvo.Host.MusicLibrary.h"
#include "host/Orvo.Host.String.h"
#include "host/Orvo.Host.VersionInfo.h"
#include "nuv/Nuv.Log.h"
#include "nuv/Nuv.Streams.h"
#include "nuv/Nuv.Web.h"
#include "plugin/Orvo.Tunedex.Core.h"
#include "sdk/api/OrvoAPI.FileSystem.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <thread>
#include <vector>

namespace {

// A version service that counts how often the plug-in asks it.
class TCountingVersionInfo : public TOrvoInterfaces<TInterfacedObjectEx, IOrvoServiceVersionInfo> {
public:
    explicit TCountingVersionInfo(int32_t build) : FBuild(build) {}
    HRESULT ORVO_CALL FormatInfo(IOrvoString**) override { return E_NOTIMPL; }
    int32_t ORVO_CALL VersionMajor() override { return 5; }
    int32_t ORVO_CALL VersionMinor() override { return 40; }
    int32_t ORVO_CALL BuildNumber() override {
        ++FAsked;
        return FBuild;
    }
    int FAsked = 0;

private:
    int32_t FBuild;
};

class TunedexPlugin : public ::testing::Test {
protected:
    void SetUp() override {
        FCore = TOrvoHostCore::Create(FromUtf8(FProfile.Path().string()));
        FCore->RegisterService(IOrvoServiceMusicLibrary::IID, TOrvoHostMusicLibrary::Create(*FCore));
        SetBuild(2700);
        ASSERT_EQ(OrvoPluginGetHeader(FPlugin.put()), S_OK);
        ASSERT_TRUE(FPlugin);
    }
    void TearDown() override {
        FPlugin.Reset();
        EXPECT_FALSE(TOrvoAPIWrappers::Core()) << "the plug-in kept the core";
    }
    void SetBuild(int32_t build) {
        FVersion = MakeInterfaced<TCountingVersionInfo>(build);
        FCore->RegisterService(IOrvoServiceVersionInfo::IID, FVersion);
    }

    testsupport::TScopedFolder FProfile;
    ComPtr<TOrvoHostCore> FCore;
    ComPtr<TCountingVersionInfo> FVersion;
    ComPtr<IOrvoPlugin> FPlugin;
};

TEST_F(TunedexPlugin, TextsAndMaskAreFixed) {
    EXPECT_EQ(std::u16string(FPlugin->InfoText(0)), u"Tunedex v1.04.42");
    EXPECT_NE(std::u16string(FPlugin->InfoText(1)), u"");
    EXPECT_EQ(std::u16string(FPlugin->InfoText(2)), u"Internet Radio Catalog");
    EXPECT_EQ(std::u16string(FPlugin->InfoText(3)), u"* requires Orvo v5.40.2655 or newer");
    for (int32_t index : {4, -1, 1000, INT32_MIN}) {
        ASSERT_NE(FPlugin->InfoText(index), nullptr) << index;
        EXPECT_EQ(FPlugin->InfoText(index)[0], u'\0') << index;
    }
    EXPECT_EQ(FPlugin->CategoryMask(), 1u);
    ASSERT_EQ(FPlugin->Initialize(FCore.get()), S_OK);
    EXPECT_EQ(FPlugin->CategoryMask(), 1u);
    FPlugin->Finalize();
    EXPECT_EQ(FPlugin->CategoryMask(), 1u);
}

TEST_F(TunedexPlugin, AcceptsBuildsFromTheMinimumOn) {
    struct Case {
        int32_t Build;
        HRESULT Result;
    };
    for (const Case c : {Case{2654, E_NOTIMPL}, Case{0, E_NOTIMPL}, Case{2655, S_OK}, Case{9999, S_OK}}) {
        SetBuild(c.Build);
        EXPECT_EQ(FPlugin->Initialize(FCore.get()), c.Result) << c.Build;
        EXPECT_EQ(bool(TOrvoAPIWrappers::Core()), c.Result == S_OK) << c.Build;
        if (c.Result == S_OK)
            FPlugin->Finalize();
        EXPECT_FALSE(TOrvoAPIWrappers::Core()) << c.Build;
    }
}

TEST_F(TunedexPlugin, RefusesAHostWithoutTheMusicLibraryBeforeAskingItsVersion) {
    FCore->UnregisterService(IOrvoServiceMusicLibrary::IID);
    EXPECT_EQ(FPlugin->Initialize(FCore.get()), E_NOTIMPL);
    EXPECT_EQ(FVersion->FAsked, 0);
    EXPECT_FALSE(TOrvoAPIWrappers::Core());
}

TEST_F(TunedexPlugin, RefusesAHostWithoutVersionInformation) {
    FCore->UnregisterService(IOrvoServiceVersionInfo::IID);
    EXPECT_EQ(FPlugin->Initialize(FCore.get()), E_NOTIMPL);
    EXPECT_FALSE(TOrvoAPIWrappers::Core());
}

TEST_F(TunedexPlugin, KeepsTheCoreUntilFinalized) {
    ASSERT_EQ(FPlugin->Initialize(FCore.get()), S_OK);
    EXPECT_EQ(TOrvoAPIWrappers::Core().get(), static_cast<IOrvoCore*>(FCore.get()));
    EXPECT_EQ(FromHostString(ToHostString(u"reachable")), u"reachable");
    FPlugin->Finalize();
    EXPECT_FALSE(TOrvoAPIWrappers::Core());
    EXPECT_THROW(HostCore(), EInvalidOperation);
}

// A core whose profile folder cannot be had.
class TNoProfileCore : public TOrvoHostCore {
public:
    TNoProfileCore() : TOrvoHostCore(u"/x/") {}
    HRESULT ORVO_CALL FolderPath(int32_t, IOrvoString** path) override {
        *path = nullptr;
        return E_FAIL;
    }
};

TEST_F(TunedexPlugin, AFailedProfileRequestRaisesItsCodeAndKeepsNothing) {
    const auto log = std::filesystem::temp_directory_path() / "tunedex_plugin_test.log";
    std::filesystem::remove(log);
    NuvLogSetFile(log.string());
    auto core = MakeInterfaced<TNoProfileCore>();
    core->RegisterService(IOrvoServiceMusicLibrary::IID, TOrvoHostMusicLibrary::Create(*core));
    core->RegisterService(IOrvoServiceVersionInfo::IID, TOrvoHostVersionInfo::Create(2700));

    EXPECT_EQ(FPlugin->Initialize(core.get()), E_UNEXPECTED);
    EXPECT_FALSE(TOrvoAPIWrappers::Core());
    NuvLogSetFile("");
    TNuvFileStream file(log.string(), TNuvFileMode::OpenRead);
    EXPECT_NE(file.ReadAll().find("[App] -2147467259"), std::string::npos);
    std::filesystem::remove(log);
}

TEST(TunedexPluginEntry, RejectsANullOutParameter) {
    EXPECT_EQ(OrvoPluginGetHeader(nullptr), E_INVALIDARG);
}

TEST(PluginModule, ExportsOnlyTheEntry) {
#ifdef _WIN32
    GTEST_SKIP() << "checked on the build machine with the toolchain's objdump (the PluginExports test)";
#endif
    const std::string command = std::string("nm -D --defined-only '") + TUNEDEX_PLUGIN_FILE + "'";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    ASSERT_TRUE(pipe);
    std::vector<std::string> symbols;
    char line[1024];
    while (std::fgets(line, sizeof line, pipe.get())) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        symbols.push_back(text.substr(text.rfind(' ') + 1));
    }
    EXPECT_EQ(::pclose(pipe.release()), 0) << command;
    EXPECT_EQ(symbols, std::vector<std::string>{"OrvoPluginGetHeader"});
}

// ---- start-up

TEST_F(TunedexPlugin, OpensTheCatalogueInTheProfileFolder) {
    const auto file = FProfile.Path() / "Tunedex.db";
    ASSERT_EQ(FPlugin->Initialize(FCore.get()), S_OK);
    EXPECT_TRUE(std::filesystem::exists(file));
    FPlugin->Finalize();
    // Closed: the file can go, and a second start creates it again.
    ASSERT_TRUE(std::filesystem::remove(file));
    ASSERT_EQ(FPlugin->Initialize(FCore.get()), S_OK);
    EXPECT_TRUE(std::filesystem::exists(file));
    FPlugin->Finalize();
}

TEST_F(TunedexPlugin, RegistersTheProviderClassesWhileRunning) {
    ASSERT_EQ(FPlugin->Initialize(FCore.get()), S_OK);
    std::vector<std::u16string> names;
    TOrvoTunedexProviderRepository::EnumClasses(
        [&](const TOrvoTunedexProviderClass& cls) { names.push_back(cls.ClassName()); });
    EXPECT_EQ(names, (std::vector<std::u16string>{u"TOrvoTunedexRadioBrowser", u"TOrvoTunedexXiphDirectory",
                                                  u"TOrvoTunedexPlaylistBasedProvider",
                                                  u"TOrvoTunedexCustomProvider"}));
    FPlugin->Finalize();
    // A second start registers them once, not twice.
    ASSERT_EQ(FPlugin->Initialize(FCore.get()), S_OK);
    EXPECT_EQ(TOrvoTunedexProviderRepository::Count(), 4);
    FPlugin->Finalize();
    EXPECT_EQ(TOrvoTunedexProviderRepository::Count(), 0);
}

TEST_F(TunedexPlugin, RegistersTheSettingsAddressWhichOpensNothingOnceFinalised) {
    // Without the host's file-system service there is nothing to register with.
    ASSERT_EQ(FPlugin->Initialize(FCore.get()), S_OK);
    EXPECT_TRUE(FCore->Extensions(IOrvoServiceFileSystem::IID).empty());
    FPlugin->Finalize();
    FCore->RegisterService(IOrvoServiceFileSystem::IID, TOrvoHostFileSystems::Create(*FCore));
    ASSERT_EQ(FPlugin->Initialize(FCore.get()), S_OK);
    const auto extensions = FCore->Extensions(IOrvoServiceFileSystem::IID);
    ASSERT_EQ(extensions.size(), 1u);
    ComPtr<IOrvoPropertyList> properties;
    ASSERT_EQ(extensions[0]->QueryInterface(IOrvoExtensionFileSystem::IID, properties.put_void()), S_OK);
    ComPtr<IOrvoString> scheme;
    ASSERT_EQ(properties->GetValueAsObject(ORVO_FSP_SCHEME, IOrvoString::IID, scheme.put_void()), S_OK);
    EXPECT_EQ(FromHostString(scheme), u"tunedex");
    ComPtr<IOrvoFileSystemCommandOpenFileFolder> command =
        QueryAs<IOrvoFileSystemCommandOpenFileFolder>(extensions[0].get());
    ASSERT_TRUE(command);
    FPlugin->Finalize();
    // The host still holds the file system; the catalogue it served is gone.
    const auto address = TOrvoHostString::Create(u"tunedex://settings");
    EXPECT_EQ(command->CanHandle(address.get()), S_OK);
    EXPECT_EQ(command->Handle(address.get()), E_FAIL);
}

TEST_F(TunedexPlugin, RegistersTheStorageWhichHasNoRowsOnceFinalised) {
    ASSERT_EQ(FPlugin->Initialize(FCore.get()), S_OK);
    const auto extensions = FCore->Extensions(IOrvoServiceMusicLibrary::IID);
    ASSERT_EQ(extensions.size(), 1u);
    auto storage = QueryAs<IOrvoMLExtensionDataStorage>(extensions[0].get());
    ASSERT_TRUE(storage);
    ComPtr<IOrvoString> id;
    ASSERT_EQ(storage->GetValueAsObject(0, IOrvoString::IID, id.put_void()), S_OK);
    EXPECT_EQ(FromHostString(id), u"Orvo.Tunedex.ML.Storage");
    auto own = QueryAs<IOrvoMLStationCatalog>(extensions[0].get());
    ASSERT_TRUE(own);
    EXPECT_TRUE(own->GetCatalog().Lock());
    FPlugin->Finalize();
    // The host still holds the storage; the catalogue it showed is gone.
    EXPECT_FALSE(own->GetCatalog().Lock());
    ComPtr<IUnknown> data;
    EXPECT_EQ(QueryAs<IOrvoMLDataProvider>(extensions[0].get())->QueryRows(nullptr, nullptr, data.put()),
              E_FAIL);
}

TEST_F(TunedexPlugin, RegistersTheFileManagerAndTheMenuCommandsInTheLibraryMenu) {
    ComPtr<TOrvoHostFileManager> files = TOrvoHostFileManager::Create(*FCore);
    FCore->RegisterService(IOrvoServiceFileManager::IID, files);
    ComPtr<TOrvoHostMenus> menus = TOrvoHostMenus::Create(*FCore);
    FCore->RegisterService(IOrvoServiceMenuManager::IID, menus);
    ASSERT_EQ(FPlugin->Initialize(FCore.get()), S_OK);
    ASSERT_EQ(FCore->Extensions(IOrvoServiceFileManager::IID).size(), 1u);
    EXPECT_TRUE(
        QueryAs<IOrvoExtensionFileInfoProvider>(FCore->Extensions(IOrvoServiceFileManager::IID)[0].get()));
    std::vector<std::u16string> ids;
    std::vector<bool> visible;
    for (const TOrvoHostMenuEntry& entry : menus->Show(ORVO_MENU_MUSIC_LIBRARY)) {
        ids.push_back(entry.ID);
        visible.push_back(entry.Visible);
    }
    EXPECT_EQ(ids, (std::vector<std::u16string>{u"Orvo.Tunedex.Actions.RefreshCatalogs",
                                                u"Orvo.Tunedex.Actions.RefreshCatalog",
                                                u"Orvo.Tunedex.Actions.Edit"}));
    // The library shows the plug-in's storage; no catalogue is selected in its tree.
    EXPECT_EQ(visible, (std::vector<bool>{true, false, true}));
    FPlugin->Finalize();
    // The host still holds the file manager; the catalogue it served is gone.
    ComPtr<IOrvoPropertyList> info;
    EXPECT_EQ(files->DescribeFile(u"http://radio.example/a", info), E_FAIL);
    FCore->ClearExtensions();
}

TEST_F(TunedexPlugin, ACatalogueThatCannotOpenFailsTheStart) {
    // A folder where the database file should be.
    std::filesystem::create_directory(FProfile.Path() / "Tunedex.db");
    EXPECT_EQ(FPlugin->Initialize(FCore.get()), E_UNEXPECTED);
    EXPECT_FALSE(TOrvoAPIWrappers::Core());
}

// A connection-settings service answering the properties it is given and no others.
class TTestConnectionSettings : public TOrvoPropertyList {
public:
    explicit TTestConnectionSettings(std::map<int32_t, TOrvoPropValue> values) : FValues(std::move(values)) {}

protected:
    void* GetInterface(const TGUID& iid) override {
        if (iid == IOrvoServiceConnectionSettings::IID)
            return static_cast<IOrvoPropertyList*>(static_cast<IOrvoPropertyList2*>(this));
        return TOrvoPropertyList::GetInterface(iid);
    }
    void DoGetValue(int32_t propId, TOrvoPropValue& value, HRESULT& result) override {
        if (auto it = FValues.find(propId); it != FValues.end()) {
            value = it->second;
            result = S_OK;
        } else {
            TOrvoPropertyList::DoGetValue(propId, value, result);
        }
    }

private:
    std::map<int32_t, TOrvoPropValue> FValues;
};

TEST_F(TunedexPlugin, CopiesTheHostsConnectionSettings) {
    struct Case {
        const char* Name;
        std::map<int32_t, TOrvoPropValue> Properties;
        uint8_t Mode;
        uint32_t Timeout;
        TNuvWebProxyInfo Proxy;
        std::u16string UserAgent; // empty: the default one
    };
    const std::vector<Case> cases = {
        {"all absent", {}, 0, 1000, {}, u""},
        {"named proxy",
         {{1, int64_t(2)},
          {2, u"proxy.example"},
          {3, u"3128"},
          {4, u"ann"},
          {5, u"secret"},
          {6, int64_t(12000)},
          {7, u"Custom/2.0"}},
         2,
         12000,
         {u"proxy.example", u"3128", u"ann", u"secret"},
         u"Custom/2.0"},
        {"clamped, any other mode", {{1, int64_t(7)}, {6, int64_t(45000)}}, 7, 30000, {}, u""},
        {"mode kept as one byte", {{1, int64_t(258)}, {6, int64_t(-5)}}, 2, 1000, {}, u""},
        // The comparison composes the default before the token is set, so the host's own text
        // wins only when it differs.
        {"default user agent", {{7, TNuvWebSettings::DefaultUserAgent()}}, 0, 1000, {}, u""},
    };
    for (const Case& c : cases) {
        FCore->RegisterService(IOrvoServiceConnectionSettings::IID,
                               MakeInterfaced<TTestConnectionSettings>(c.Properties));
        TNuvWebSettings::SetUserAgent(u"left over");
        TNuvWebSettings::SetProductToken(u"");
        ASSERT_EQ(FPlugin->Initialize(FCore.get()), S_OK) << c.Name;
        EXPECT_EQ(TNuvWebSettings::ProxyMode(), c.Mode) << c.Name;
        EXPECT_EQ(TNuvWebSettings::Timeout(), c.Timeout) << c.Name;
        const TNuvWebProxyInfo proxy = TNuvWebSettings::Proxy();
        EXPECT_EQ(
            ToUtf8(proxy.Server + u"|" + proxy.Port + u"|" + proxy.UserName + u"|" + proxy.Password),
            ToUtf8(c.Proxy.Server + u"|" + c.Proxy.Port + u"|" + c.Proxy.UserName + u"|" + c.Proxy.Password))
            << c.Name;
        EXPECT_EQ(ToUtf8(TNuvWebSettings::UserAgent()),
                  ToUtf8(c.UserAgent.empty() ? TNuvWebSettings::DefaultUserAgent() : c.UserAgent))
            << c.Name;
        EXPECT_EQ(ToUtf8(TNuvWebSettings::ProductToken()), "Orvo-Tunedex/1.0") << c.Name;
        FPlugin->Finalize();
    }

    // Without the service the settings stay as they were; the token is set all the same.
    FCore->UnregisterService(IOrvoServiceConnectionSettings::IID);
    TNuvWebSettings::SetProxyMode(1);
    TNuvWebSettings::SetTimeout(5000);
    TNuvWebSettings::SetProductToken(u"");
    ASSERT_EQ(FPlugin->Initialize(FCore.get()), S_OK);
    EXPECT_EQ(TNuvWebSettings::ProxyMode(), 1);
    EXPECT_EQ(TNuvWebSettings::Timeout(), 5000u);
    EXPECT_EQ(ToUtf8(TNuvWebSettings::ProductToken()), "Orvo-Tunedex/1.0");
    FPlugin->Finalize();
    TNuvWebSettings::SetProxyMode(0);
}

} // namespace

// ---- the catalogue's lifetime across threads

// Host threads keep asking for rows and reading cursors while the main thread finalises the
// plug-in: every call either sees the whole catalogue or is refused, and none reads freed memory.
class CatalogLifetime : public TunedexPlugin {};

TEST_F(CatalogLifetime, RowRequestsAndCursorsOnOtherThreadsOutlastFinalize) {
    {
        TOrvoStationCatalog catalog(FromUtf8((FProfile.Path() / "Tunedex.db").string()));
        catalog.Exec(TOrvoStationCatalog::SqlProviderStore(u"p", u"TOrvoTunedexCustom", 0, u"", u"P", 0));
        catalog.Transaction([&] {
            for (int i = 0; i < 400; ++i) {
                TOrvoRadioStationInfo station;
                station.Name = Format(u"Station %d", i);
                station.FileName = Format(u"http://stream.example/%d", i);
                catalog.AddEntry(station, u"p");
            }
        });
    }
    ASSERT_EQ(FPlugin->Initialize(FCore.get()), S_OK);
    const auto extensions = FCore->Extensions(IOrvoServiceMusicLibrary::IID);
    ASSERT_EQ(extensions.size(), 1u);
    const ComPtr<IOrvoMLDataProvider> storage = QueryAs<IOrvoMLDataProvider>(extensions[0].get());
    ASSERT_TRUE(storage);
    TOrvoHostMLRequest request;
    request.Fields = {u"Name", u"FileName"};
    const TOrvoHostMLQuery query = BuildMLQuery(request);

    // A cursor the host keeps past the end, read to its last row afterwards.
    ComPtr<IUnknown> kept;
    ASSERT_EQ(storage->QueryRows(query.Fields.get(), nullptr, kept.put()), S_OK);
    const auto keptRows = kept.As<IOrvoMLDataProviderSelection>();
    ASSERT_TRUE(keptRows);

    std::atomic<bool> stop{false};
    std::atomic<int> started{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t)
        readers.emplace_back([&] {
            bool counted = false;
            while (!stop.load()) {
                ComPtr<IUnknown> data;
                const HRESULT result = storage->QueryRows(query.Fields.get(), nullptr, data.put());
                if (result != S_OK) {
                    EXPECT_EQ(result, E_FAIL);
                    continue;
                }
                auto rows = data.As<IOrvoMLDataProviderSelection>();
                if (!rows)
                    continue;
                int32_t length = 0;
                do
                    rows->GetValueAsString(1, &length);
                while (rows->NextRow());
                if (!counted)
                    ++started;
                counted = true;
            }
        });
    while (started.load() < 3)
        std::this_thread::yield();
    FPlugin->Finalize();
    int32_t length = 0;
    while (keptRows->NextRow())
        keptRows->GetValueAsString(0, &length);
    ComPtr<IUnknown> late;
    EXPECT_EQ(storage->QueryRows(query.Fields.get(), nullptr, late.put()), E_FAIL);
    stop = true;
    for (std::thread& reader : readers)
        reader.join();
}
