#include "plugin/Orvo.Tunedex.Plugin.FileManager.h"

#include "host/Orvo.Host.Core.h"
#include "host/Orvo.Host.FileManager.h"
#include "platform/Platform.System.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Records what would have been handed to the desktop instead of starting a program.
class TRecordedShell {
public:
    TRecordedShell() {
        FPrevious =
            platform::SetShellOpenHandler([this](const std::string& target) { Opened.push_back(target); });
    }
    ~TRecordedShell() { platform::SetShellOpenHandler(std::move(FPrevious)); }
    std::vector<std::string> Opened;

private:
    platform::ShellOpenHandler FPrevious;
};

class StationFileManager : public ::testing::Test {
protected:
    void SetUp() override {
        FCore = TOrvoHostCore::Create(u"/nonexistent/profile");
        FService = TOrvoHostFileManager::Create(*FCore);
        FCore->RegisterService(IOrvoServiceFileManager::IID, FService);
        TOrvoAPIWrappers::Initialize(FCore.get());
        FCatalog = std::make_unique<TOrvoStationCatalog>(FFolder.File("Tunedex.db"));
        FManager = MakeInterfaced<TOrvoTunedexFileManager>(FCatalog->WeakRef());
        ASSERT_EQ(FCore->AddExtension(IOrvoServiceFileManager::IID,
                                      static_cast<IOrvoExtensionFileInfoProvider*>(FManager.get())),
                  S_OK);
    }
    void TearDown() override {
        FCore->ClearExtensions();
        FCatalog.reset();
        TOrvoAPIWrappers::Finalize();
    }

    void AddStation(std::u16string fileName, std::u16string homeUrl) {
        TOrvoRadioStationInfo info;
        info.Name = u"Jazz Ünë";
        info.Description = u"Smooth; all night";
        info.Genre = u"jazz;blues";
        info.Bitrate = 192;
        info.FileName = std::move(fileName);
        info.HomeURL = std::move(homeUrl);
        FCatalog->AddEntry(info, u"p1");
    }

    HRESULT Describe(std::u16string_view name, IOrvoPropertyList* info) {
        return FManager->DescribeFile(ToHostString(name).get(), info);
    }

    testsupport::TScopedFolder FFolder;
    ComPtr<TOrvoHostCore> FCore;
    ComPtr<TOrvoHostFileManager> FService;
    std::unique_ptr<TOrvoStationCatalog> FCatalog;
    ComPtr<TOrvoTunedexFileManager> FManager;
};

TEST_F(StationFileManager, AcceptsEveryNameInUrlForm) {
    struct Case {
        const char16_t* Name;
        HRESULT Result;
    };
    for (const Case& c :
         {Case{u"tunedex://settings", S_OK}, Case{u"http://radio.example/live", S_OK},
          Case{u"mms:\\\\radio.example\\live", S_OK}, Case{u"://x", S_OK}, Case{u"C:\\Music\\a.mp3", E_FAIL},
          Case{u"http:/x", E_FAIL}, Case{u"http:/\\x", E_FAIL}, Case{u"a://", S_OK}, Case{u"ab:/", E_FAIL},
          Case{u"ht-tp://x", E_FAIL}, Case{u"/home/radio", E_FAIL}, Case{u"", E_FAIL}}) {
        EXPECT_EQ(FManager->CanHandle(ToHostString(c.Name).get()), c.Result) << ToUtf8(c.Name);
    }
    EXPECT_EQ(FManager->CanHandle(nullptr), E_FAIL);
    // The settings address is in URL form, but no station has it.
    TRecordedShell shell;
    EXPECT_EQ(FManager->Handle(ToHostString(u"tunedex://settings").get()), E_FAIL);
    EXPECT_TRUE(shell.Opened.empty());
}

TEST_F(StationFileManager, DescribesAStationThroughTheHostsService) {
    AddStation(u"http://radio.example/jazz", u"http://jazz.example/");
    ComPtr<IOrvoPropertyList> info;
    ASSERT_EQ(FService->DescribeFile(u"http://radio.example/jazz", info), S_OK);
    EXPECT_EQ(ReadTextProp(info.get(), ORVO_FIP_DESCRIPTION), u"Smooth; all night");
    EXPECT_EQ(ReadTextProp(info.get(), ORVO_FIP_FILENAME), u"http://radio.example/jazz");
    EXPECT_EQ(ReadTextProp(info.get(), ORVO_FIP_GENRE), u"jazz;blues");
    EXPECT_EQ(ReadTextProp(info.get(), ORVO_FIP_TITLE), u"Jazz Ünë");
    EXPECT_EQ(ReadTextProp(info.get(), ORVO_FIP_URL), u"http://jazz.example/");
    EXPECT_EQ(ReadIntProp(info.get(), ORVO_FIP_BITRATE, -1), 192);
}

TEST_F(StationFileManager, UnknownNamesLeaveTheInfoUntouched) {
    // A station stored under a plain path is no address the file manager serves.
    AddStation(u"C:\\Radio\\jazz.pls", u"http://jazz.example/");
    for (const char16_t* name :
         {u"http://radio.example/unknown", u"C:\\Radio\\jazz.pls", u"tunedex://settings"}) {
        ComPtr<TOrvoHostFileInfo> info = TOrvoHostFileInfo::Create();
        WriteTextProp(info.get(), ORVO_FIP_TITLE, u"kept");
        EXPECT_EQ(Describe(name, info.get()), E_FAIL) << ToUtf8(name);
        EXPECT_EQ(ReadTextProp(info.get(), ORVO_FIP_TITLE), u"kept");
        for (int32_t id :
             {ORVO_FIP_DESCRIPTION, ORVO_FIP_FILENAME, ORVO_FIP_GENRE, ORVO_FIP_URL, ORVO_FIP_BITRATE})
            EXPECT_EQ(ReadIntProp(info.get(), id, -7), -7) << id;
    }
    EXPECT_EQ(Describe(u"http://radio.example/unknown", nullptr), E_FAIL);
}

TEST_F(StationFileManager, OpensTheHomePageWithASchemeWhereItHasNone) {
    AddStation(u"http://radio.example/a", u"http://a.example/home");
    AddStation(u"http://radio.example/b", u"b.example/about?x=1");
    AddStation(u"http://radio.example/none", u"");
    // Home pages that are no web pages count as none.
    AddStation(u"http://radio.example/file", u"file:///etc/passwd");
    AddStation(u"http://radio.example/script", u"javascript:alert(1)");
    TRecordedShell shell;
    EXPECT_EQ(FService->OpenFileFolder(u"http://radio.example/file"), E_FAIL);
    EXPECT_EQ(FService->OpenFileFolder(u"http://radio.example/script"), E_FAIL);
    EXPECT_EQ(FService->OpenFileFolder(u"http://radio.example/a"), S_OK);
    EXPECT_EQ(FService->OpenFileFolder(u"http://radio.example/b"), S_OK);
    EXPECT_EQ(FService->OpenFileFolder(u"http://radio.example/none"), E_FAIL);
    EXPECT_EQ(FService->OpenFileFolder(u"http://radio.example/unknown"), E_FAIL);
    EXPECT_EQ(FService->OpenFileFolder(u"C:\\x"), E_FAIL);
    EXPECT_EQ(shell.Opened,
              (std::vector<std::string>{"http://a.example/home", "https://b.example/about?x=1"}));
}

TEST_F(StationFileManager, AManagerWhoseCatalogueHasGoneKnowsNoStations) {
    AddStation(u"http://radio.example/a", u"http://a.example/home");
    FCatalog.reset();
    TRecordedShell shell;
    EXPECT_EQ(FManager->Handle(ToHostString(u"http://radio.example/a").get()), E_FAIL);
    ComPtr<IOrvoPropertyList> info;
    EXPECT_EQ(FService->DescribeFile(u"http://radio.example/a", info), E_FAIL);
    EXPECT_TRUE(shell.Opened.empty());
}

} // namespace
