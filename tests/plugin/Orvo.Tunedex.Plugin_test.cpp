#include "plugin/Orvo.Tunedex.Plugin.h"

#include "host/Orvo.Host.Core.h"
#include "host/Orvo.Host.MusicLibrary.h"
#include "host/Orvo.Host.String.h"
#include "host/Orvo.Host.VersionInfo.h"
#include "nuv/Nuv.Log.h"
#include "nuv/Nuv.Streams.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>

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
        FCore = TOrvoHostCore::Create(u"/tmp/profile/");
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

} // namespace
