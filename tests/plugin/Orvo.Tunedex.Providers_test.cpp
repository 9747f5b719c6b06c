// The Xiph directory, remote playlist and custom catalogue providers fetching real documents from
// a loopback server that answers with the content types servers send.

#include "nuv/Nuv.Strings.h"
#include "plugin/Orvo.Tunedex.Providers.Custom.h"
#include "plugin/Orvo.Tunedex.Providers.Playlist.h"
#include "plugin/Orvo.Tunedex.Providers.XiphDir.h"
#include "tests/TestSupport.h"
#include "tests/nuv/Nuv.Web.TestServer.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace {

// Answers each path with a status, a content type and a body; unknown paths get 404.
class TDocumentServer {
public:
    struct TAnswer {
        int Status = 200;
        std::string ContentType;
        std::string Body;
        std::string Location;
    };
    TDocumentServer() {
        FServer->Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
            TAnswer answer{404, "text/plain", "not here", ""};
            {
                std::lock_guard lock(FLock);
                if (auto it = FAnswers.find(request.path); it != FAnswers.end())
                    answer = it->second;
            }
            response.status = answer.Status;
            if (!answer.Location.empty())
                response.set_header("Location", answer.Location);
            response.set_content(answer.Body, answer.ContentType);
        });
        FServer.Start();
    }
    void Serve(const std::string& path, TAnswer answer) {
        std::lock_guard lock(FLock);
        FAnswers[path] = std::move(answer);
    }
    std::u16string Url(std::string_view path) const { return FServer.Url(path); }
    std::string Root() const { return "http://127.0.0.1:" + std::to_string(FServer.Port()); }

private:
    std::mutex FLock;
    std::map<std::string, TAnswer> FAnswers;
    testsupport::TLoopbackServer FServer;
};

struct TFetched {
    std::vector<TOrvoRadioStationInfo> Stations;
    std::string Error;
    std::string Names() const {
        std::string names;
        for (const auto& s : Stations) {
            if (!names.empty())
                names += '|';
            names += ToUtf8(s.Name);
        }
        return names;
    }
};

TFetched Fetch(TOrvoTunedexProvider& provider, std::u16string data) {
    provider.Data = std::move(data);
    TFetched fetched;
    try {
        provider.AsyncFetch({}, [&](const TOrvoRadioStationInfo& s) { fetched.Stations.push_back(s); });
    } catch (const std::exception& e) {
        fetched.Error = e.what();
    }
    return fetched;
}

std::string IcecastPage(const std::string& name, const std::string& mount) {
    return "<html><body><h1>Icecast Status</h1><section class=\"mount\"><h3>Mount</h3><a href=\"" + mount +
           ".m3u\">M3U</a><table><tr><td>Stream Name:</td><td class=\"streamstats\">" + name +
           "</td></tr></table></section>\n</body></html>";
}

} // namespace

TEST(CustomProvider, ChoosesTheParserFromContentTypeAndHead) {
    const std::string json = R"([{"name":"A","url":"http://s/a.mp3"},{"name":"B","url":"http://s/b"}])";
    const std::string statusJson =
        R"({"icestats":{"source":[{"server_name":"J1","listenurl":"http://s/j1"},{"server_name":"J2","listenurl":"http://s/j2"}]}})";
    const std::string spi = R"(<?xml version="1.0"?>
<serviceInformation xmlns="http://www.worlddab.org/schemas/spi/31"><services>
  <service><bearer id="http://s/x" mimeValue="audio/mpeg"/><mediumName>Spi</mediumName></service>
</services></serviceInformation>)";
    const std::string xhtml = "<?xml version=\"1.0\"?>\n<html xmlns=\"http://www.w3.org/1999/xhtml\"><body>" +
                              IcecastPage("Page", "/live").substr(12);
    using A = TDocumentServer::TAnswer;
    struct Case {
        const char* What;
        A Document;
        A Status; // what /status-json.xsl answers
        std::string Names;
        bool Fails = false;
    };
    const A none{404, "text/plain", "", ""};
    const Case cases[] = {
        {"json", {200, "application/json", json, ""}, none, "A|B"},
        {"json with charset", {200, "application/json; charset=utf-8", json, ""}, none, "A|B"},
        {"plain text list", {200, "text/plain", " \r\n\t" + json, ""}, none, "A|B"},
        {"plain text playlist", {200, "text/plain", "#EXTM3U\nhttp://s/a.mp3\n", ""}, none, ""},
        {"spi", {200, "text/xml", spi, ""}, none, "Spi"},
        {"xhtml status page", {200, "text/xml", xhtml, ""}, none, "Page"},
        {"status json first",
         {200, "text/html", IcecastPage("Page", "/live"), ""},
         {200, "application/json", statusJson, ""},
         "J1|J2"},
        {"status json fails",
         {200, "text/html", IcecastPage("Page", "/live"), ""},
         {500, "text/plain", "down", ""},
         "Page"},
        {"status json empty",
         {200, "text/html", IcecastPage("Page", "/live"), ""},
         {200, "application/json", R"({"icestats":{}})", ""},
         "Page"},
        {"status json not json",
         {200, "text/html", IcecastPage("Page", "/live"), ""},
         {200, "text/html", "<html>no</html>", ""},
         "Page"},
        {"status json redirects forever",
         {200, "text/html", IcecastPage("Page", "/live"), ""},
         {302, "text/plain", "", "/status-json.xsl"},
         "Page"},
        {"html of no server", {200, "text/html", "<html><body>Hello</body></html>", ""}, none, ""},
        {"wrong content type", {200, "image/png", json, ""}, none, ""},
        {"empty body", {200, "application/json", "", ""}, none, "", true},
        {"body stops halfway", {200, "application/json", json.substr(0, 45), ""}, none, "", true},
        {"server error", {500, "application/json", json, ""}, none, "", true},
    };
    for (const Case& c : cases) {
        TDocumentServer server;
        server.Serve("/status.xsl", c.Document);
        server.Serve("/status-json.xsl", c.Status);
        TOrvoTunedexCustomProvider provider;
        const TFetched fetched = Fetch(provider, server.Url("/status.xsl"));
        EXPECT_EQ(fetched.Names(), c.Names) << c.What;
        EXPECT_EQ(!fetched.Error.empty(), c.Fails) << c.What << ": " << fetched.Error;
    }
}

TEST(CustomProvider, StatusAddress) {
    const std::pair<std::u16string, std::u16string> cases[] = {
        {u"http://h:8000/status.xsl", u"/status-json.xsl"},
        {u"http://h:8000/", u"/json.xsl"},
        {u"http://h/a.b/status", u"/a.b/status-json.xsl"},
    };
    for (const auto& [page, status] : cases)
        EXPECT_EQ(TOrvoTunedexCustomProvider::StatusAddress(TNuvWebURL::ParseHttp(page)).Path, status)
            << ToUtf8(page);
}

TEST(PlaylistProvider, EveryFormatWithRelativeAndAbsoluteEntries) {
    struct Case {
        const char* Path;
        const char* ContentType;
        std::string Body;
    };
    const Case cases[] = {
        {"/lists/a.m3u", "audio/x-mpegurl",
         "#EXTM3U\n#EXTINF:-1,Abs\nhttp://abs/a.mp3\n#EXTINF:-1,Rel\nb/s.mp3\n#EXTINF:-1,Root\n/x.ogg\n"},
        {"/lists/a.m3u8", "application/vnd.apple.mpegurl",
         "#EXTM3U\n#EXTINF:-1,Abs\nhttp://abs/a.mp3\n#EXTINF:-1,Rel\nb/s.mp3\n#EXTINF:-1,Root\n/x.ogg\n"},
        {"/lists/a.pls", "audio/x-scpls",
         "[playlist]\nFile1=http://abs/a.mp3\nTitle1=Abs\nFile2=b/s.mp3\nTitle2=Rel\nFile3=/x.ogg\n"
         "Title3=Root\nNumberOfEntries=3\nVersion=2\n"},
        {"/lists/a.xspf", "application/xspf+xml",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<playlist version=\"1\" "
         "xmlns=\"http://xspf.org/ns/0/\">"
         "<trackList><track><location>http://abs/a.mp3</location><title>Abs</title></track>"
         "<track><location>b/s.mp3</location><title>Rel</title></track>"
         "<track><location>/x.ogg</location><title>Root</title></track></trackList></playlist>"},
    };
    for (const Case& c : cases) {
        TDocumentServer server;
        server.Serve(c.Path, {200, c.ContentType, c.Body, ""});
        TOrvoTunedexPlaylistBasedProvider provider;
        const TFetched fetched = Fetch(provider, server.Url(c.Path));
        EXPECT_EQ(fetched.Error, "") << c.Path;
        EXPECT_EQ(fetched.Names(), "Abs|Rel|Root") << c.Path;
        ASSERT_EQ(fetched.Stations.size(), 3u) << c.Path;
        EXPECT_EQ(fetched.Stations[0].FileName, u"http://abs/a.mp3") << c.Path;
        EXPECT_EQ(ToUtf8(fetched.Stations[1].FileName), server.Root() + "/lists/b/s.mp3") << c.Path;
        EXPECT_EQ(ToUtf8(fetched.Stations[2].FileName), server.Root() + "/x.ogg") << c.Path;
        EXPECT_EQ(fetched.Stations[2].FileFormat, u"OGG") << c.Path;
    }
}

TEST(PlaylistProvider, LocalPlaylistsResolveAgainstTheirFolder) {
    testsupport::TScopedFolder folder;
    std::ofstream(folder.Path() / "list.pls") << "[playlist]\nFile1=s/one.mp3\nTitle1=One\n"
                                                 "File2=http://abs/live\nNumberOfEntries=2\n";
    TOrvoTunedexPlaylistBasedProvider provider;
    const TFetched fetched = Fetch(provider, folder.File("list.pls"));
    ASSERT_EQ(fetched.Stations.size(), 2u) << fetched.Error;
    EXPECT_EQ(fetched.Stations[0].FileName, folder.File("s/one.mp3"));
    EXPECT_EQ(fetched.Stations[0].FileFormat, u"MP3");
    EXPECT_EQ(fetched.Stations[1].FileName, u"http://abs/live");
    EXPECT_EQ(fetched.Stations[1].FileFormat, u"");
}

TEST(PlaylistProvider, OddDocuments) {
    struct Case {
        const char* What;
        std::string Body;
        size_t Stations;
    };
    TDocumentServer server;
    const std::string self = ToUtf8(server.Url("/self.m3u"));
    const Case cases[] = {
        {"no playlist", "<html>hello</html>", 0},
        {"empty", "", 0},
        {"lists itself", "#EXTM3U\n" + self + "\n", 1},
    };
    for (const Case& c : cases) {
        server.Serve("/self.m3u", {200, "audio/x-mpegurl", c.Body, ""});
        TOrvoTunedexPlaylistBasedProvider provider;
        const TFetched fetched = Fetch(provider, server.Url("/self.m3u"));
        EXPECT_EQ(fetched.Error, "") << c.What;
        EXPECT_EQ(fetched.Stations.size(), c.Stations) << c.What;
    }
}

// A source cannot fill the disk with an endless answer: the download stops at the document limit.
TEST(PlaylistProvider, ABodyLongerThanTheDocumentLimitStopsItsDownload) {
    TDocumentServer server;
    std::string body = "#EXTM3U\n";
    while (body.size() < 64 * 1024)
        body += "http://s.example/stream\n";
    server.Serve("/long.m3u", {200, "audio/x-mpegurl", body, ""});
    const int64_t previous = NuvSetMaxDocumentSize(16 * 1024);
    TOrvoTunedexPlaylistBasedProvider provider;
    const TFetched fetched = Fetch(provider, server.Url("/long.m3u"));
    NuvSetMaxDocumentSize(previous);
    EXPECT_TRUE(fetched.Stations.empty());
    EXPECT_NE(fetched.Error.find("too large"), std::string::npos) << fetched.Error;
}

TEST(XiphDirectory, ListingFromTheOverriddenAddressUnderTheFixedIdentifier) {
    TDocumentServer server;
    server.Serve("/yp.xml", {200, "text/xml",
                             "<?xml version=\"1.0\"?><directory><entry><server_name>X</server_name>"
                             "<listen_url>http://s/x</listen_url><server_type>audio/mpeg</server_type>"
                             "<bitrate>128</bitrate><genre>rock pop</genre></entry></directory>",
                             ""});
    const testsupport::TScopedEnvironment listing(TOrvoTunedexXiphDirectory::ListingVariable,
                                                  ToUtf8(server.Url("/yp.xml")));
    TOrvoTunedexXiphDirectory provider;
    const TFetched fetched = Fetch(provider, u"");
    EXPECT_EQ(provider.ID(), u"Xiph.Dir");
    ASSERT_EQ(fetched.Stations.size(), 1u) << fetched.Error;
    const TOrvoRadioStationInfo& s = fetched.Stations[0];
    EXPECT_EQ(s.Name, u"X");
    EXPECT_EQ(s.FileName, u"http://s/x");
    EXPECT_EQ(s.FileFormat, u"MP3");
    EXPECT_EQ(s.Bitrate, 128);
    EXPECT_EQ(s.Genre, u"rock;pop");
}
