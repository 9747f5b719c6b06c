#include "plugin/Orvo.Tunedex.Core.h"

#include "nuv/Nuv.Strings.h"
#include "platform/Platform.Locale.h"
#include "tests/TestSupport.h"
#include "tests/nuv/Nuv.Web.TestServer.h"
#include "tests/plugin/Orvo.Tunedex.TestProvider.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using testsupport::TRegisteredProviders;
using testsupport::TScopedFolder;
using testsupport::TTestLineProvider;

namespace {

// A provider with the class operations' defaults and an identifier of its own, like a directory
// that exists only once.
class TFixedProvider : public TOrvoTunedexProvider {
public:
    static const TOrvoTunedexProviderClass& Class() {
        static const TOrvoTunedexProviderClassOf<TFixedProvider> cls(u"TFixedProvider");
        return cls;
    }
    static std::u16string DisplayName() { return u"Fixed"; }
    static std::u16string HomePageURL() { return u"https://fixed.example/"; }
    const TOrvoTunedexProviderClass& ClassType() const override { return Class(); }
    std::u16string DocumentURL() const override { return u"http://127.0.0.1:1/none"; }
    void AsyncFetch(TNuvStream&, std::u16string_view, const TOrvoStationReceiver&) override {}
    std::u16string ID() const override { return u"Fixed.Id"; }
};

template <int N> class TNumberedProvider : public TFixedProvider {
public:
    static const TOrvoTunedexProviderClass& Class() {
        static const TOrvoTunedexProviderClassOf<TNumberedProvider> cls(u"TNumberedProvider" + IntToStr(N));
        return cls;
    }
    static std::u16string DisplayName() { return u"Numbered " + IntToStr(N); }
    const TOrvoTunedexProviderClass& ClassType() const override { return Class(); }
};

std::vector<TOrvoRadioStationInfo> Fetch(TOrvoTunedexProvider& provider,
                                         std::vector<std::pair<int64_t, int64_t>>* progress = nullptr) {
    std::vector<TOrvoRadioStationInfo> stations;
    provider.AsyncFetch(
        [&](int64_t done, int64_t expected) {
            if (progress)
                progress->emplace_back(done, expected);
            return true;
        },
        [&](const TOrvoRadioStationInfo& station) { stations.push_back(station); });
    return stations;
}

} // namespace

// ---- the provider base ----

TEST(ProviderClasses, IdentifierFollowsTheSettingsAlone) {
    TTestLineProvider provider;
    EXPECT_EQ(provider.ID(), u"d41d8cd98f00b204e9800998ecf8427e");
    provider.Data = u"http://127.0.0.1/list";
    provider.Title = u"One";
    const std::u16string id = provider.ID();
    EXPECT_EQ(id, u"01ba956e4202898d598e51960992e9d6");
    provider.Title = u"Another title";
    provider.Date = 45000;
    provider.Count = 12;
    EXPECT_EQ(provider.ID(), id);
    provider.Data = u"Caf\u00e9 FM"; // digested as UTF-8
    EXPECT_EQ(provider.ID(), u"f99889528547a7ef90e47330607f2c0d");
    TFixedProvider fixed;
    fixed.Data = u"anything";
    EXPECT_EQ(fixed.ID(), u"Fixed.Id");
}

TEST(ProviderClasses, DateAsTextUsesTheUsersTimeSeparator) {
    TTestLineProvider provider;
    EXPECT_EQ(provider.DateAsText(), u"-");
    provider.Date = -3;
    EXPECT_EQ(provider.DateAsText(), u"-");
    provider.Date = EncodeDateTime({2024, 6, 1, 21, 5, 7, 0});
    const std::u16string separator = platform::TimeSeparator();
    EXPECT_EQ(provider.DateAsText(), u"2024.06.01 21" + separator + u"05" + separator + u"07");
}

TEST(ProviderClasses, RemoteAddressesAndLocalContentTypes) {
    const struct {
        std::u16string_view Address;
        bool Remote;
    } addresses[] = {
        {u"http://127.0.0.1/list", true},
        {u"HTTPS://host/x", true},
        {u"ftp:\\\\host\\share", true},
        {u"://host", true},
        {u"a://", true},
        {u"://", false},
        {u"C:\\Music\\list.m3u8", false},
        {u"C:/Music/list", false},
        {u"/home/me/list.m3u8", false},
        {u"http:/\\host", false},
        {u"my-scheme://x", false},
        {u"http//host", false},
        {u"", false},
    };
    for (const auto& c : addresses)
        EXPECT_EQ(TOrvoTunedexProvider::IsRemoteAddress(c.Address), c.Remote) << ToUtf8(c.Address);

    EXPECT_EQ(TOrvoTunedexProvider::LocalContentType(u"C:\\Music\\list.m3u8"), u"application/M3U8");
    EXPECT_EQ(TOrvoTunedexProvider::LocalContentType(u"/srv/lists/Stations.Json"), u"application/JSON");
    EXPECT_EQ(TOrvoTunedexProvider::LocalContentType(u"/srv/lists.d/stations"), u"application/");
}

TEST(ProviderClasses, RepositoryKeepsRegistrationOrderAndBounds) {
    const TRegisteredProviders registered{&TTestLineProvider::Class(), &TFixedProvider::Class(),
                                          &TNumberedProvider<1>::Class(), &TNumberedProvider<2>::Class()};
    EXPECT_EQ(TOrvoTunedexProviderRepository::Count(), 4);
    std::vector<std::u16string> names;
    TOrvoTunedexProviderRepository::EnumClasses(
        [&](const TOrvoTunedexProviderClass& cls) { names.push_back(cls.ClassName()); });
    EXPECT_EQ(names, (std::vector<std::u16string>{u"TTestLineProvider", u"TFixedProvider",
                                                  u"TNumberedProvider1", u"TNumberedProvider2"}));
    EXPECT_EQ(&TOrvoTunedexProviderRepository::GetClass(2), &TNumberedProvider<1>::Class());
    EXPECT_EQ(TOrvoTunedexProviderRepository::IndexOf(TFixedProvider::Class()), 1);
    EXPECT_EQ(TOrvoTunedexProviderRepository::IndexOf(TNumberedProvider<3>::Class()), -1);
    for (const int32_t index : {4, -1}) {
        try {
            TOrvoTunedexProviderRepository::GetClass(index);
            ADD_FAILURE() << "no error for " << index;
        } catch (const EArgumentError& e) {
            EXPECT_EQ(e.Message(), u"Tunedex: catalog index out of bounds");
        }
    }

    // The class operations answer without a provider; undeclared ones fall back to the defaults.
    const TOrvoTunedexProviderClass& lines = TOrvoTunedexProviderRepository::GetClass(0);
    EXPECT_EQ(lines.DisplayName(), u"@Tunedex\\TestLines");
    EXPECT_TRUE(lines.HasAddress());
    EXPECT_EQ(lines.HomePageURL(), u"");
    const TOrvoTunedexProviderClass& fixed = TOrvoTunedexProviderRepository::GetClass(1);
    EXPECT_FALSE(fixed.HasAddress());
    EXPECT_EQ(fixed.SupportedFormats(), u"");
    EXPECT_EQ(fixed.HomePageURL(), u"https://fixed.example/");

    // Registration also names the class for loading, and the factory builds the right class.
    EXPECT_EQ(TNuvClasses::Get(u"TNumberedProvider2"), &TNumberedProvider<2>::Class());
    EXPECT_EQ(TNuvClasses::Get(u"TFixedProvider"), &fixed);
    const std::unique_ptr<TOrvoTunedexProvider> provider = fixed.Create(u"Title", u"data", 45000.5);
    EXPECT_EQ(&provider->ClassType(), &fixed);
    EXPECT_EQ(provider->Title, u"Title");
    EXPECT_EQ(provider->Data, u"data");
    EXPECT_EQ(provider->Date, 45000.5);
    EXPECT_EQ(provider->Count, 0);
}

TEST(ProviderClasses, EmptyRepositoryAndUnknownNames) {
    const TRegisteredProviders none{};
    int calls = 0;
    TOrvoTunedexProviderRepository::EnumClasses([&](const TOrvoTunedexProviderClass&) { ++calls; });
    EXPECT_EQ(calls, 0);
    EXPECT_THROW(TOrvoTunedexProviderRepository::GetClass(0), EArgumentError);
    EXPECT_EQ(TNuvClasses::Get(u"TTestLineProvider"), nullptr);
    try {
        TNuvClasses::Find(u"TNoSuchProvider");
        FAIL() << "no error";
    } catch (const EClassNotFound& e) {
        EXPECT_EQ(e.Message(), u"Class TNoSuchProvider not found");
    }
}

// ---- fetching ----

TEST(ProviderFetch, LocalFileIsParsedInPlaceWithItsExtensionAsType) {
    TScopedFolder folder;
    const std::filesystem::path file = folder.Path() / "Local list.m3u8";
    std::ofstream(file, std::ios::binary)
        << "# stations\nOne|http://one.example/live\r\n\nTwo|http://two.example/|jazz|France\n";
    TTestLineProvider provider;
    provider.Data = FromUtf8(file.string());
    const std::vector<TOrvoRadioStationInfo> stations = Fetch(provider);
    ASSERT_EQ(stations.size(), 2u);
    EXPECT_EQ(stations[0].FileName, u"http://one.example/live");
    EXPECT_EQ(stations[1].Name, u"Two");
    EXPECT_EQ(stations[1].Genre, u"jazz");
    EXPECT_EQ(stations[1].Country, u"France");
    EXPECT_EQ(provider.LastContentType, u"application/M3U8");
    EXPECT_TRUE(std::filesystem::exists(file)); // read, never removed

    provider.Data = FromUtf8((folder.Path() / "missing.txt").string());
    EXPECT_THROW(Fetch(provider), EStreamError);
}

class ProviderFetchRemote : public testing::Test {
protected:
    void SetUp() override {
        FServer->Get("/list", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("A|http://a.example/\nB|http://b.example/|rock\n", "text/plain; charset=utf-8");
        });
        FServer->Get("/broken", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("A|http://a.example/\nno bar here\n", "text/plain");
        });
        FServer->Get("/missing", [](const httplib::Request&, httplib::Response& res) {
            res.status = 404;
            res.set_content("A|http://a.example/\n", "text/plain");
        });
        FServer.Start();
    }
    testsupport::TLoopbackServer FServer;
};

TEST_F(ProviderFetchRemote, DownloadsIntoATemporaryFileAndParsesWithTheResponsesType) {
    TTestLineProvider provider;
    provider.Data = FServer.Url("/list");
    std::vector<std::pair<int64_t, int64_t>> progress;
    const std::vector<TOrvoRadioStationInfo> stations = Fetch(provider, &progress);
    ASSERT_EQ(stations.size(), 2u);
    EXPECT_EQ(stations[1].Genre, u"rock");
    EXPECT_EQ(provider.LastContentType, u"text/plain; charset=utf-8");
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), (std::pair<int64_t, int64_t>(45, 45)));
    // The document went through a temporary file that is gone once parsed.
    EXPECT_EQ(std::filesystem::path(provider.LastFileName).filename().string().rfind("Tunedex", 0), 0u);
    EXPECT_FALSE(std::filesystem::exists(provider.LastFileName));
}

TEST_F(ProviderFetchRemote, FailuresRaiseAndLeaveNoFileBehind) {
    TTestLineProvider provider;
    provider.Data = FServer.Url("/broken");
    EXPECT_THROW(Fetch(provider), EStreamError);
    ASSERT_FALSE(provider.LastFileName.empty());
    EXPECT_FALSE(std::filesystem::exists(provider.LastFileName));

    provider.Data = FServer.Url("/missing");
    provider.LastContentType = u"untouched";
    try {
        Fetch(provider);
        FAIL() << "no error";
    } catch (const ENuvWebError& e) {
        EXPECT_EQ(e.Info().ErrorCode, 404);
    }
    EXPECT_EQ(provider.LastContentType, u"untouched"); // nothing reached the parser

    // A progress callback that answers false cancels the download.
    provider.Data = FServer.Url("/list");
    try {
        provider.AsyncFetch([](int64_t, int64_t) { return false; }, [](const TOrvoRadioStationInfo&) {});
        FAIL() << "no error";
    } catch (const ENuvWebError& e) {
        EXPECT_EQ(e.Info().ErrorCode, -2);
    }
}
