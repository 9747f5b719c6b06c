#include "host/Orvo.Host.Cli.h"
#include "host/Orvo.Host.Localization.h"
#include "host/Orvo.Host.String.h"
#include "tests/TestSupport.h"
#include "tests/host/Orvo.Host.Cli.TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// A profile folder of the test's own, removed afterwards.
class ScopedProfile {
public:
    ScopedProfile()
        : FPath(fs::temp_directory_path() / ("tunedex_host_test_" + std::to_string(::getpid()))) {}
    ~ScopedProfile() {
        std::error_code ignored;
        fs::remove_all(FPath, ignored);
    }
    const fs::path& Path() const { return FPath; }

private:
    fs::path FPath;
};

using testsupport::RunTunedex;

TEST(HostPluginLoading, LoadsInitialisesAndFinalisesTheRealPlugin) {
    ScopedProfile profile;
    TOrvoHostSettings settings;
    settings.PluginFile = TUNEDEX_PLUGIN_FILE;
    settings.ProfileFolder = profile.Path() / "nested";
    TOrvoHost host(settings);
    EXPECT_TRUE(fs::is_directory(profile.Path() / "nested"));
    EXPECT_EQ(host.Load().InfoText(0), u"Tunedex v1.04.42");
    EXPECT_EQ(host.Initialize(), S_OK);
    EXPECT_TRUE(host.Initialized());
    host.Unload();
    EXPECT_FALSE(host.Initialized());
    // A host can load the library again after unloading it.
    EXPECT_EQ(host.Initialize(), S_OK);
}

TEST(HostCli, InfoReportsTheTextsAndTheInitialisation) {
    ScopedProfile profile;
    const std::string plugin = std::string("--plugin=") + TUNEDEX_PLUGIN_FILE;
    const std::string folder = "--profile=" + profile.Path().string();

    testsupport::TCliRun ok = RunTunedex({plugin, folder, "info"});
    EXPECT_EQ(ok.Status, 0) << ok.Err;
    for (const char* text :
         {"Tunedex v1.04.42", "Internet Radio Catalog", "* requires Orvo v5.40.2655 or newer",
          "CategoryMask:  1", "Initialisation succeeded"})
        EXPECT_NE(ok.Out.find(text), std::string::npos) << text << "\n" << ok.Out;

    testsupport::TCliRun refused = RunTunedex({plugin, folder, "info", "--host-build", "2654"});
    EXPECT_EQ(refused.Status, 1);
    EXPECT_NE(refused.Err.find("0x80004001"), std::string::npos) << refused.Err;
    EXPECT_EQ(refused.Out.find("Initialisation succeeded"), std::string::npos);

    EXPECT_EQ(RunTunedex({plugin, folder, "--host-build=2655", "info"}).Status, 0);
}

TEST(HostCli, UsageErrorsAndFailuresHaveTheirStatus) {
    ScopedProfile profile;
    const std::string folder = "--profile=" + profile.Path().string();
    EXPECT_EQ(RunTunedex({}).Status, 2);
    EXPECT_EQ(RunTunedex({"nonsense"}).Status, 2);
    EXPECT_EQ(RunTunedex({"info", "--host-build", "many"}).Status, 2);
    EXPECT_EQ(RunTunedex({"info", "--host-build", "-1"}).Status, 2);
    EXPECT_EQ(RunTunedex({"--help"}).Status, 0);

    testsupport::TCliRun missing =
        RunTunedex({"--plugin", (profile.Path() / "absent.so").string(), folder, "info"});
    EXPECT_EQ(missing.Status, 1);
    EXPECT_NE(missing.Err.find("Cannot load plug-in"), std::string::npos) << missing.Err;

    // A library without the entry is refused, not called.
    testsupport::TCliRun wrong = RunTunedex({"--plugin", NUVPLATFORM_FILE, folder, "info"});
    EXPECT_EQ(wrong.Status, 1);
    EXPECT_NE(wrong.Err.find("no OrvoPluginGetHeader"), std::string::npos) << wrong.Err;
}

TEST(HostCli, NamesUnknownCommandsAndExplainsItself) {
    const testsupport::TCliRun typo = RunTunedex({"--profile", "/nonexistent", "statoins"});
    EXPECT_EQ(typo.Status, 2);
    EXPECT_EQ(typo.Err, "tunedex: unknown command 'statoins'; did you mean 'stations'?\n");
    const testsupport::TCliRun unknown = RunTunedex({"frobnicate"});
    EXPECT_EQ(unknown.Status, 2);
    EXPECT_NE(unknown.Err.find("unknown command 'frobnicate'; 'tunedex help' lists"), std::string::npos);

    const testsupport::TCliRun help = RunTunedex({"help"});
    EXPECT_EQ(help.Status, 0) << help.Err;
    EXPECT_NE(help.Out.find("stations"), std::string::npos) << help.Out;
    const testsupport::TCliRun one = RunTunedex({"help", "values"});
    EXPECT_EQ(one.Status, 0) << one.Err;
    EXPECT_NE(one.Out.find("--list"), std::string::npos) << one.Out;
    EXPECT_EQ(RunTunedex({"help", "valeus"}).Status, 2);
}

using ScopedEnv = testsupport::TScopedEnvironment;

TEST(HostProfile, ComesFromTheEnvironmentInOrder){
    {ScopedEnv profile("TUNEDEX_PROFILE", "/p/x"), data("XDG_DATA_HOME", "/d"), home("HOME", "/h");
EXPECT_EQ(TOrvoHost::DefaultProfileFolder(), fs::path("/p/x"));
} // namespace
{
    ScopedEnv profile("TUNEDEX_PROFILE", nullptr), data("XDG_DATA_HOME", "/d"), home("HOME", "/h");
    EXPECT_EQ(TOrvoHost::DefaultProfileFolder(), fs::path("/d/tunedex"));
}
{
    ScopedEnv profile("TUNEDEX_PROFILE", ""), data("XDG_DATA_HOME", "relative"), home("HOME", "/h"),
        appData("APPDATA", nullptr);
    EXPECT_EQ(TOrvoHost::DefaultProfileFolder(), fs::path("/h/.local/share/tunedex"));
}
{
    ScopedEnv profile("TUNEDEX_PROFILE", nullptr), data("XDG_DATA_HOME", nullptr), home("HOME", nullptr),
        appData("APPDATA", nullptr);
    EXPECT_THROW(TOrvoHost::DefaultProfileFolder(), Exception);
}
#ifdef _WIN32
{
    // Windows programs keep a user's data under the application data folder, before HOME.
    ScopedEnv profile("TUNEDEX_PROFILE", nullptr), data("XDG_DATA_HOME", nullptr), home("HOME", "/h"),
        appData("APPDATA", "C:\\a");
    EXPECT_EQ(TOrvoHost::DefaultProfileFolder(), fs::path("C:\\a") / "tunedex");
}
#endif
}

TEST(HostCore, AnswersObjectsFoldersAndExtensions) {
    auto core = TOrvoHostCore::Create(u"/profile");
    ComPtr<IOrvoString> folder;
    ASSERT_EQ(core->FolderPath(ORVO_FOLDER_PROFILE, folder.put()), S_OK);
    EXPECT_EQ(FromHostString(folder), u"/profile/");
    EXPECT_EQ(core->FolderPath(1, folder.put()), E_INVALIDARG);
    EXPECT_FALSE(folder);

    ComPtr<IOrvoString> made;
    EXPECT_EQ(core->MakeObject(IOrvoString::IID, made.put_void()), S_OK);
    EXPECT_EQ(made->CharCount(), 0);
    ComPtr<IUnknown> unknownKind;
    EXPECT_EQ(core->MakeObject(OrvoTag("ORVOMenuItem"), unknownKind.put_void()), E_NOINTERFACE);

    // Registrations are kept per service, and only at services the host has.
    auto extension = TOrvoHostString::Create(u"extension");
    EXPECT_EQ(core->AddExtension(IOrvoServiceMUI::IID, extension.get()), E_NOINTERFACE);
    core->RegisterService(IOrvoServiceMUI::IID, TOrvoHostLocalization::Create(""));
    EXPECT_EQ(core->AddExtension(IOrvoServiceMUI::IID, extension.get()), S_OK);
    EXPECT_EQ(core->AddExtension(IOrvoServiceMUI::IID, nullptr), E_INVALIDARG);
    EXPECT_EQ(core->Extensions(IOrvoServiceMUI::IID).size(), 1u);
    EXPECT_EQ(extension->RefCount(), 2);
    core->ClearExtensions();
    EXPECT_EQ(extension->RefCount(), 1);

    ComPtr<IOrvoServiceMUI> mui;
    EXPECT_EQ(core->QueryInterface(IOrvoServiceMUI::IID, mui.put_void()), S_OK);
    ComPtr<IOrvoServiceVersionInfo> version;
    EXPECT_EQ(core->QueryInterface(IOrvoServiceVersionInfo::IID, version.put_void()), E_NOINTERFACE);
}

TEST(HostLanguageFile, HoldsEveryTunedexText) {
    auto language = TOrvoHostLocalization::CreateDefault();
    for (const char16_t* key : {u"Tunedex\\Title", u"Tunedex\\L1", u"Tunedex\\S1", u"Tunedex\\S2",
                                u"Tunedex\\S3", u"Tunedex\\S4", u"Tunedex\\T1", u"Tunedex\\T2",
                                u"Tunedex\\T3", u"Tunedex\\CustomCatalog", u"Tunedex\\RemotePlaylist"})
        EXPECT_NE(language->Text(key), u"") << ToUtf8(key);
    EXPECT_NE(language->Text(u"Tunedex\\S4").find(u"%s"), std::u16string::npos);
}

TEST(HostLanguageFile, ParsesSectionsNamesAndComments) {
    auto language =
        TOrvoHostLocalization::Create("\xEF\xBB\xBF; comment\r\nOrphan=1\r\n[ Radio ]\r\n"
                                      " Name = Two\\nLines \r\n=empty\r\nbroken\r\n[Other]\r\nName=3");
    EXPECT_EQ(language->Text(u"Radio\\Name"), u"Two\nLines");
    EXPECT_EQ(language->Text(u"RADIO\\name"), u"Two\nLines");
    EXPECT_EQ(language->Text(u"Other\\Name"), u"3");
    EXPECT_EQ(language->Text(u"\\Orphan"), u"");
    EXPECT_EQ(language->Text(u"Radio\\broken"), u"");
    ComPtr<IOrvoString> text;
    EXPECT_EQ(language->LookupText(TOrvoHostString::Create(u"Radio\\Missing").get(), text.put()), E_FAIL);
    EXPECT_EQ(language->LookupText(nullptr, text.put()), E_INVALIDARG);
}

} // namespace
