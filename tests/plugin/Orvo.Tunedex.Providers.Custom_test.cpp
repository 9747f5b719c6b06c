#include "plugin/Orvo.Tunedex.Providers.Custom.h"

#include "nuv/Nuv.Streams.h"
#include "nuv/Nuv.Strings.h"
#include "nuv/Nuv.Web.Auth.h"
#include "tests/TestSupport.h"
#include "zan/Zan.Playlists.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;
using K = TOrvoTunedexKeywords;
using TParser = TOrvoTunedexParser;
using TStations = std::vector<TOrvoRadioStationInfo>;

namespace {

constexpr size_t npos = std::u16string_view::npos;

struct TResult {
    TStations Stations;
    std::u16string Error; // the document error's reason, "" when none was raised
};

TResult Parse(const TOrvoTunedexParserClass& cls, std::string_view document,
              std::u16string_view address = u"http://host/dir/list.json") {
    TResult result;
    TNuvMemoryStream stream(document.data(), document.size());
    try {
        TParser::ParseDocument(cls, stream, TNuvWebURL::ParseHttp(address), nullptr,
                               [&](const TOrvoRadioStationInfo& s) { result.Stations.push_back(s); });
    } catch (const EOrvoTunedexDocumentError& e) {
        result.Error = e.Message();
        EXPECT_FALSE(result.Error.empty());
    }
    return result;
}

// A parser only for its station assembly.
class TBareParser : public TParser {
public:
    explicit TBareParser(std::u16string_view address, TStations* out = nullptr)
        : TParser(
              nullptr, [out](const TOrvoRadioStationInfo& s) { out->push_back(s); },
              TNuvWebURL::ParseHttp(address)) {}
    void Parse(TNuvStream&) override {}
};

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

fs::path Corpus(const char* folder) {
    return testsupport::CorpusDir() / folder;
}

#define SKIP_WITHOUT(path)                                                                                   \
    if (!fs::exists(path))                                                                                   \
    GTEST_SKIP() << "public corpus not found at " << (path)

// The start of every occurrence of `what` in the text.
std::vector<size_t> Occurrences(std::string_view text, std::string_view what) {
    std::vector<size_t> at;
    for (size_t p = text.find(what); p != text.npos; p = text.find(what, p + 1))
        at.push_back(p);
    return at;
}

std::string Repeat(std::string_view text, size_t count) {
    std::string out;
    out.reserve(text.size() * count);
    for (size_t i = 0; i < count; ++i)
        out += text;
    return out;
}

} // namespace

// ---- keywords and station assembly

TEST(CustomKeywords, Lookup) {
    struct Case {
        std::u16string Key;
        K::TCode Code;
    };
    const Case cases[] = {
        {u"genre", {K::ktGenre, true, true}},
        {u"genres", {K::ktGenre, false, true}},
        {u"location", {K::ktCountry, true}},
        {u"Genre", {}},
        {u"SCsrv", {K::ktFolder}},
        {u"vip", {K::ktSkip}},
        {u"64", {K::ktFileName}},
        {u"station_640x640", {K::ktLogo}},
        {u"cover_image_url", {K::ktLogo}},
        {u"IMAGE", {}},
        {u"a_very_long_key_name_with_image_in_it", {K::ktLogo}},
        {u"", {}},
        {u"stream\u00e9", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(K::Lookup(c.Key), c.Code) << ToUtf8(c.Key);
        EXPECT_EQ(K::Lookup(std::string_view(ToUtf8(c.Key))), c.Code) << ToUtf8(c.Key);
    }
}

TEST(CustomParserBase, SeparatorsAndKeyLists) {
    const std::pair<std::u16string, std::u16string> splits[] = {{u"Rock / Pop", u"Rock;Pop"},
                                                                {u"a/b|c", u"a;b|c"},
                                                                {u"a|b, c", u"a;b, c"},
                                                                {u"a, b", u"a;b"},
                                                                {u"x y", u"x y"}};
    for (const auto& [text, expected] : splits)
        EXPECT_EQ(TParser::SplitSeparators(text), expected);
    struct Merge {
        std::u16string List, Text, Expected;
    };
    for (const auto& m :
         {Merge{u"", u"x", u"x"}, Merge{u"x", u"", u"x"},
          Merge{u"Rock", u"Classic;Rock", u"Rock;Classic;Rock"}, Merge{u"Rock;Pop", u"Pop", u"Rock;Pop"},
          Merge{u"Rock;Popular", u"Pop", u"Rock;Popular;Pop"}})
        EXPECT_EQ(TParser::MergeKeyList(m.List, m.Text), m.Expected);

    // Split values: the separators count before spaces turn into ";", and no item is empty.
    TBareParser parser(u"http://host/");
    parser.SetValue(u"genre", u"Rock, Pop  Jazz");
    parser.SetValue(u"genre", u"Pop");
    parser.SetValue(u"location", u"Paris, France");
    EXPECT_EQ(parser.Station().Genre, u"Rock;Pop;Jazz");
    EXPECT_EQ(parser.Station().Country, u"Paris;France");
    parser.SetValue(u"bitrate", u"Quality 4,00");
    EXPECT_EQ(parser.Station().Bitrate, 0);
}

TEST(CustomParserBase, ResolveAddress) {
    struct Case {
        std::u16string Document, Text, Expected;
    };
    const Case cases[] = {
        {u"http://host/dir/list.json?from=/a/b", u"", u""},
        {u"http://host/dir/list.json?from=/a/b", u"icyx://s/1", u"icyx://s/1"},
        {u"http://host/dir/list.json?from=/a/b", u"WWW.radio.example", u"http://WWW.radio.example"},
        {u"http://host/dir/list.json?from=/a/b", u"/b", u"http://host:80/b"},
        {u"http://host/dir/list.json?from=/a/b", u"./c", u"http://host:80/dir/c"},
        {u"http://host/dir/list.json?from=/a/b", u"c.mp3", u"http://host:80/dir/c.mp3"},
        {u"https://host/dir/", u"//cdn.example/x.png", u"https://cdn.example/x.png"},
        {u"https://host:8443", u"c", u"https://host:8443/c"},
        {u"http://host/a\r\nX-Key: 1", u"b", u"http://host:80/b"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TBareParser(c.Document).ResolveAddress(c.Text), c.Expected)
            << ToUtf8(c.Document + u" " + c.Text);

    TBareParser parser(u"http://host/dir/");
    for (const auto& [folder, expected] :
         {std::pair<std::u16string, std::u16string>{u"radio.example:8000", u"https://radio.example:8000/x"},
          {u"http://h/s/", u"http://h/s/x"},
          {u"", u"http://h/s/x"}}) {
        parser.SetValue(u"SCsrv", folder);
        EXPECT_EQ(parser.ResolveAddress(u"x"), expected);
    }
}

TEST(CustomParserBase, FormatsAndBitrates) {
    const std::pair<std::u16string, std::u16string> formats[] = {
        {u"audio/aacp", u"AAC+"}, {u"application/ogg", u"OGG"}, {u"audio/x-mpegurl", u""}, {u"mpeg3", u"MP3"},
        {u"MPEG", u"MP3"},        {u"flac", u"FLAC"},           {u"MP3 audio", u""}};
    for (const auto& [text, expected] : formats)
        EXPECT_EQ(TParser::NormalizeFormat(text), expected) << ToUtf8(text);
    struct Rate {
        std::u16string Text;
        size_t End;
        int32_t Expected;
    };
    const Rate rates[] = {
        {u"Jazz 64 kbps", 8, 64},           {u"Top 1000 kbps", 9, 0}, {u"stream8000", npos, 0},
        {u"x128/live", npos, 128},          {u"abc", npos, 0},        {u"7", npos, 0},
        {u"99999999999999999999", npos, 0}, {u"768k 8", 4, 768}};
    for (const auto& r : rates)
        EXPECT_EQ(TParser::ParseBitrate(r.Text, r.End), r.Expected) << ToUtf8(r.Text);
}

TEST(CustomParserBase, ScopesEmitCompletedStations) {
    TStations out;
    TBareParser parser(u"http://host/dir/", &out);
    parser.EndObject(); // no scope and no stream address: nothing
    parser.BeginObject();
    parser.SetValue(u"name", u"Jazz 64 KBPS");
    parser.SetValue(u"url", u"live/a.aac?x=1.2");
    parser.SetValue(u"genre", u"a|b");
    parser.EndObject();
    parser.BeginObject();
    parser.SetValue(u"url", u"http://s:8000/x.mp3?y=2.0");
    parser.EndObject();
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].FileName, u"http://host:80/dir/live/a.aac?x=1.2");
    EXPECT_EQ(out[0].FileFormat, u"AAC"); // the query of the resolved address does not count
    EXPECT_EQ(out[0].Bitrate, 64);
    EXPECT_EQ(out[0].Genre, u"a;b");
    EXPECT_EQ(out[1].Name, u"");
    EXPECT_EQ(out[1].FileFormat, u"MP3");
    EXPECT_EQ(out[1].Bitrate, 0);
    EXPECT_EQ(parser.ScopeDepth(), 0u);
}

// ---- JSON

TEST(CustomParserJSON, StationsFromScopes) {
    struct Case {
        std::string Document;
        std::vector<std::u16string> Expected; // name|address|bitrate|genre per station
    };
    const Case cases[] = {
        {R"([{"name":"A","url":"http://a/s"},{"name":"B","url":"/b"}])",
         {u"A|http://a/s|0|", u"B|http://host:80/b|0|"}},
        {R"({"name":"A","streams":[{"url":"http://s/1","bitrate":64},{"url":"http://s/2","bitrate":"128"}]})",
         {u"A|http://s/1|64|", u"A|http://s/2|128|"}},
        {R"({"name":"G","url":"http://g","genres":["Rock","Classic Rock"]})",
         {u"G|http://g|0|Rock;Classic;Rock"}},
        {R"({"vip":[{"name":"V","url":"http://v"}],"third_parties":{"url":"http://t"},"name":"N","url":null})",
         {}},
        {R"({"name":"Outer","url":"http://o","inner":{"name":"Inner"}})", {u"Inner|http://o|0|"}},
        {R"([[{"url":"http://x","bitrate":1e2}]])", {u"|http://x|0|"}},
        {R"("just text")", {}},
    };
    for (const auto& c : cases) {
        const TResult r = Parse(TOrvoTunedexParserJSON::Class(), c.Document);
        EXPECT_TRUE(r.Error.empty()) << c.Document;
        std::vector<std::u16string> got;
        for (const auto& s : r.Stations)
            got.push_back(s.Name + u"|" + s.FileName + u"|" + IntToStr(s.Bitrate) + u"|" + s.Genre);
        EXPECT_EQ(got, c.Expected) << c.Document;
    }
}

TEST(CustomParserJSON, UnreadableDocumentsRaiseWithAReason) {
    for (const char* document : {"", "[{\"url\":\"http://a\"}", "<html>", "{} {}"}) {
        const TResult r = Parse(TOrvoTunedexParserJSON::Class(), document);
        EXPECT_TRUE(r.Stations.empty());
        EXPECT_FALSE(r.Error.empty()) << document;
    }
}

TEST(CustomParserJSON, DeepNestingIsBounded) {
    // A million nested scopes around a station, and one beside them: only the reachable one counts.
    const size_t depth = 1000000;
    const std::string document = R"([{"url":"http://a"},)" + Repeat(R"({"x":)", depth) +
                                 R"({"url":"http://deep"})" + std::string(depth, '}') + "]";
    const TResult r = Parse(TOrvoTunedexParserJSON::Class(), document);
    ASSERT_EQ(r.Stations.size(), 1u);
    EXPECT_EQ(r.Stations[0].FileName, u"http://a");
}

// ---- XML

TEST(CustomParserXML, ElementsAsValuesAndScopes) {
    const TResult r = Parse(TOrvoTunedexParserXML::Class(), R"(<?xml version="1.0"?>
<directory>
  <entry><server_name>One</server_name><listen_url>http://s/1</listen_url><bitrate>128</bitrate>
    <GENRE>jazz blues</GENRE></entry>
  <entry><server_name>No address</server_name></entry>
  <station><Name>Two</Name><stream format="mp3">http://s/2a</stream><stream format="ogg">http://s/2b</stream></station>
  <item id="7"><title>Three</title><url>three.pls</url></item>
</directory>)");
    EXPECT_TRUE(r.Error.empty());
    ASSERT_EQ(r.Stations.size(), 4u);
    EXPECT_EQ(r.Stations[0].Name, u"One");
    EXPECT_EQ(r.Stations[0].Bitrate, 128);
    EXPECT_EQ(r.Stations[0].Genre, u"jazz;blues");
    EXPECT_EQ(r.Stations[1].Name, u"Two");
    EXPECT_EQ(r.Stations[1].FileName, u"http://s/2a");
    EXPECT_EQ(r.Stations[2].FileName, u"http://s/2b");
    EXPECT_EQ(r.Stations[3].FileName, u"http://host:80/dir/three.pls");
    EXPECT_EQ(r.Stations[3].FileFormat, u"PLS");
}

TEST(CustomParserXML, FaultsKeepWhatCameBefore) {
    struct Case {
        std::string Document;
        size_t Stations;
        bool Error;
    };
    const size_t depth = 1000000;
    const Case cases[] = {
        {"<d><e><url>http://a</url></e><e><url>http://b</url></e><e><url>", 2, true},
        {"<d><e><url>http://a</url></e></d><d/>", 1, true},
        {"", 0, true},
        {"<html><body>no stations</body></html>", 0, false},
        // Scopes below the bound are ignored; the document itself is fine.
        {"<d><e><url>http://a</url></e>" + Repeat("<x>", depth) + "<e><url>http://deep</url></e>" +
             Repeat("</x>", depth) + "</d>",
         1, false},
    };
    for (const auto& c : cases) {
        const TResult r = Parse(TOrvoTunedexParserXML::Class(), c.Document);
        EXPECT_EQ(r.Stations.size(), c.Stations) << c.Document.substr(0, 80);
        EXPECT_EQ(!r.Error.empty(), c.Error) << c.Document.substr(0, 80);
    }
}

// ---- SPI

TEST(CustomParserSPI, OneStationPerStreamBearer) {
    const TResult r = Parse(TOrvoTunedexParserSPI::Class(), R"(<?xml version="1.0"?>
<serviceInformation xmlns="http://www.worlddab.org/schemas/spi/31"><services>
  <service>
    <bearer id="dab:ce1.c185.c479.0" mimeValue="audio/mpeg"/>
    <bearer id="http://s/x" mimeValue="audio/mpeg" bitrate="128"/>
    <bearer id="http://s/y" mimeValue="audio/aacp" bitrate="fast"/>
    <bearer id="http://s/v" mimeValue="video/mp4"/>
    <shortName>Short</shortName><mediumName>Medium</mediumName>
    <mediaDescription><shortDescription>About</shortDescription></mediaDescription>
    <mediaDescription><multimedia url="http://s/128.png" mimeValue="image/png" width="128"/></mediaDescription>
    <mediaDescription><multimedia url="http://s/320.png" mimeValue="image/png" width="320"/></mediaDescription>
    <mediaDescription><multimedia url="http://s/200.png" mimeValue="image/png" width="200"/></mediaDescription>
    <link uri="http://s/home"/>
  </service>
  <service><bearer id="http://t/z" mimeValue="audio/ogg"/></service>
</services></serviceInformation>)");
    EXPECT_TRUE(r.Error.empty());
    ASSERT_EQ(r.Stations.size(), 3u);
    const auto& a = r.Stations[0];
    EXPECT_EQ(a.FileName, u"http://s/x");
    EXPECT_EQ(a.FileFormat, u"MP3");
    EXPECT_EQ(a.Bitrate, 128);
    EXPECT_EQ(a.Name, u"Medium");
    EXPECT_EQ(a.Description, u"About");
    EXPECT_EQ(a.Logo, u"http://s/320.png");
    EXPECT_EQ(a.HomeURL, u"http://s/home");
    EXPECT_EQ(r.Stations[1].FileFormat, u"AAC+");
    EXPECT_EQ(r.Stations[1].Bitrate, 0);
    // Nothing of the first service reaches the next.
    EXPECT_EQ(r.Stations[2].Name, u"");
    EXPECT_EQ(r.Stations[2].Logo, u"");
    EXPECT_EQ(r.Stations[2].FileFormat, u"OGG");
}

// ---- status pages

namespace {

std::string MountSection(const std::string& labels, const std::string& values, const std::string& link) {
    std::string rows;
    std::stringstream l(labels), v(values);
    for (std::string label, value; std::getline(l, label, ',') && std::getline(v, value, ',');)
        rows += "<tr><td>" + label + ":</td><td class=\"streamstats\">" + value + "</td></tr>";
    return "<section class=\"mount\"><h3>Mount</h3><a href=\"" + link + "\">M3U</a><table>" + rows +
           "</table></section>\n";
}

} // namespace

TEST(CustomParserXSL, BlocksAndLabels) {
    const std::string english = "Stream Name,Stream Description,Genre,Bitrate,Content Type";
    const std::string page =
        "<html><body><h1>Icecast Status</h1>" +
        MountSection(english, "First,One &amp; only,<a href=\"/g\">Rock</a>,128,audio/mpeg", "/one.m3u") +
        MountSection("STREAM NAME,BITRATE", "Second 64kbps,x", "/two.m3u") +
        MountSection("Заголовок,Описание,Жанр,Качество", "Третий,Про,Джаз,96", "three.m3u") +
        MountSection("Stream Name", "Admin only", "/admin/listclients.xsl") + "</body></html>";
    const TResult r = Parse(TOrvoTunedexParserXSL::Class(), page, u"http://radio.example:8000/status.xsl");
    EXPECT_TRUE(r.Error.empty());
    ASSERT_EQ(r.Stations.size(), 3u);
    const auto& a = r.Stations[0];
    EXPECT_EQ(a.Name, u"First");
    EXPECT_EQ(a.Description, u"One &amp; only");
    EXPECT_EQ(a.Genre, u"Rock");
    EXPECT_EQ(a.Bitrate, 128);
    EXPECT_EQ(a.FileFormat, u"MP3");
    EXPECT_EQ(a.FileName, u"http://radio.example:8000/one.m3u");
    EXPECT_EQ(r.Stations[1].Name, u"Second 64kbps");
    EXPECT_EQ(r.Stations[1].Bitrate, 64);
    EXPECT_EQ(r.Stations[2].Name, u"Третий");
    EXPECT_EQ(r.Stations[2].Genre, u"Джаз");
    EXPECT_EQ(r.Stations[2].Bitrate, 96);
    EXPECT_EQ(r.Stations[2].FileName, u"http://radio.example:8000/three.m3u");
}

TEST(CustomParserXSL, PageEncodings) {
    struct Case {
        std::string Bytes;
        std::u16string Text;
    };
    const Case cases[] = {
        {"caf\xC3\xA9", u"café"},
        {"caf\xE9", u"café"}, // not UTF-8: the legacy code page
        {"\xEF\xBB\xBF\x61", u"a"},
        {std::string("\xFF\xFE\x61\x00\x3A\x04", 6), u"a\u043A"},
        {std::string("\xFE\xFF\x00\x61\x00", 5), u"a"},
        {"\xED\xA0\x80", u"\u00ED\u00A0\u20AC"}, // an encoded surrogate is not UTF-8
    };
    for (const auto& c : cases)
        EXPECT_EQ(TOrvoTunedexParserXSL::DecodePage(c.Bytes), c.Text) << c.Bytes;
}

// ---- documents nobody here wrote

TEST(CustomCorpus, XiphDirectoryDumps) {
    const fs::path folder = Corpus("icecast/yp-xml");
    SKIP_WITHOUT(folder);
    for (const char* name : {"yp-2007-esperanza.xml", "yp-2019-orpheus.xml"}) {
        const std::string document = ReadFile(folder / name);
        const std::vector<size_t> urls = Occurrences(document, "<listen_url>");
        const auto expected =
            std::count_if(urls.begin(), urls.end(), [&](size_t at) { return document[at + 12] != '<'; });
        const TResult r = Parse(TOrvoTunedexParserXML::Class(), document, u"http://dir.example/yp.xml");
        EXPECT_TRUE(r.Error.empty()) << name;
        EXPECT_EQ(ptrdiff_t(r.Stations.size()), expected) << name;
        if (std::string_view(name) == "yp-2019-orpheus.xml" && r.Stations.size() > 1) {
            const auto& a = r.Stations[0];
            EXPECT_EQ(a.Name, u"VALMOREL RADIO");
            EXPECT_EQ(a.FileName, u"http://ice2.ikoula.net-radio.fr:80/valmorel-128.mp3");
            EXPECT_EQ(a.FileFormat, u"MP3");
            EXPECT_EQ(a.Bitrate, 128);
            EXPECT_EQ(a.Genre, u"various");
            const auto& b = r.Stations[1];
            EXPECT_EQ(b.Name, u"RADIO FORAMONTANOS");
            EXPECT_EQ(b.FileFormat, u"OGG");
            EXPECT_EQ(b.Bitrate, 0); // "Quality 4,00" is no bit rate
        }
    }
}

TEST(CustomCorpus, IcecastStatusPagesAndJson) {
    const fs::path local = Corpus("icecast/icecast-2.4.4-local-capture");
    SKIP_WITHOUT(local);
    struct Case {
        fs::path File;
        const TOrvoTunedexParserClass& Class;
        size_t Stations;
    };
    const Case cases[] = {
        {local / "0-nosource_status.xsl.html", TOrvoTunedexParserXSL::Class(), 0},
        {local / "1-onesource_status.xsl.html", TOrvoTunedexParserXSL::Class(), 1},
        {local / "2-twosources_status.xsl.html", TOrvoTunedexParserXSL::Class(), 2},
        {local / "0-nosource_status-json.xsl.json", TOrvoTunedexParserJSON::Class(), 0},
        {local / "1-onesource_status-json.xsl.json", TOrvoTunedexParserJSON::Class(), 1},
        {local / "2-twosources_status-json.xsl.json", TOrvoTunedexParserJSON::Class(), 2},
        {Corpus("icecast/netdata/stats_no_sources.json"), TOrvoTunedexParserJSON::Class(), 0},
        {Corpus("icecast/netdata/stats_single_source.json"), TOrvoTunedexParserJSON::Class(), 1},
        {Corpus("icecast/netdata/stats_multi_source.json"), TOrvoTunedexParserJSON::Class(), 2},
    };
    for (const auto& c : cases) {
        const TResult r = Parse(c.Class, ReadFile(c.File), u"http://localhost:18000/status.xsl");
        EXPECT_TRUE(r.Error.empty()) << c.File;
        EXPECT_EQ(r.Stations.size(), c.Stations) << c.File;
    }
    const TResult page =
        Parse(TOrvoTunedexParserXSL::Class(), ReadFile(local / "2-twosources_status.xsl.html"),
              u"http://localhost:18000/status.xsl");
    ASSERT_EQ(page.Stations.size(), 2u);
    const auto& a = page.Stations[0];
    EXPECT_EQ(a.Name, u"((( - GOA.HU Smooth Beats - )))");
    EXPECT_EQ(a.FileName, u"http://localhost:18000/chill192.mp3.m3u");
    EXPECT_EQ(a.Bitrate, 192);
    EXPECT_EQ(a.Genre, u"Chillout");
    EXPECT_EQ(a.FileFormat, u"MP3");
    EXPECT_EQ(page.Stations[1].Genre, u"latin exitos rok actualidad");
    const TResult json =
        Parse(TOrvoTunedexParserJSON::Class(), ReadFile(local / "2-twosources_status-json.xsl.json"));
    ASSERT_EQ(json.Stations.size(), 2u);
    EXPECT_EQ(json.Stations[1].FileName, u"http://localhost:18000/radiorincondepepe");
    EXPECT_EQ(json.Stations[1].Genre, u"latin;exitos;rok;actualidad");
    EXPECT_EQ(json.Stations[1].Bitrate, 128);
}

TEST(CustomCorpus, SpiDocuments) {
    const fs::path folder = Corpus("spi");
    SKIP_WITHOUT(folder);
    // Audio bearers with a stream address, counted from the text itself.
    size_t total = 0;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.path().extension() != ".xml")
            continue;
        const std::string document = ReadFile(entry.path());
        size_t expected = 0;
        if (document.find("<serviceInformation") != std::string::npos)
            for (const size_t at : Occurrences(document, "<bearer ")) {
                const std::string_view tag =
                    std::string_view(document).substr(at, document.find('>', at) - at);
                const size_t id = tag.find(" id=\"");
                const size_t scheme = tag.find("://", id);
                expected += tag.find("mimeValue=\"audio/") != tag.npos && id != tag.npos &&
                            scheme != tag.npos && tag.find('"', id + 5) > scheme;
            }
        const TResult r = Parse(TOrvoTunedexParserSPI::Class(), document);
        EXPECT_TRUE(r.Error.empty()) << entry.path();
        EXPECT_EQ(r.Stations.size(), expected) << entry.path();
        for (const auto& s : r.Stations)
            EXPECT_TRUE(s.FileName.starts_with(u"http")) << entry.path();
        total += expected;
    }
    EXPECT_GT(total, 0u);
}

TEST(CustomCorpus, RadioBrowserResponses) {
    const fs::path folder = Corpus("radiobrowser/pyradios/responses");
    SKIP_WITHOUT(folder);
    size_t total = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string document = ReadFile(entry.path());
        const auto parsed = JSON::Parse(std::string_view(document));
        ASSERT_TRUE(parsed) << entry.path();
        // One station per object with a "url" (the only address keyword these documents use).
        std::vector<std::u16string> expected;
        const TNuvJSONNode root = parsed->Root();
        for (size_t i = 0; i < root.Count(); ++i)
            if (const std::u16string url = JSON::Value(root.Item(i), u"url"); !url.empty())
                expected.push_back(url);
        const TResult r = Parse(TOrvoTunedexParserJSON::Class(), document);
        EXPECT_TRUE(r.Error.empty()) << entry.path();
        ASSERT_EQ(r.Stations.size(), expected.size()) << entry.path();
        for (size_t i = 0; i < expected.size(); ++i)
            EXPECT_EQ(r.Stations[i].FileName, expected[i]);
        total += expected.size();
    }
    EXPECT_GT(total, 0u);
}

// ---- the project's own sample documents

TEST(CustomSamples, EverySampleGivesItsStations) {
    const fs::path samples = fs::path(TUNEDEX_SOURCE_DIR) / "samples";
    struct Case {
        const char* File;
        const TOrvoTunedexParserClass* Class; // none: a playlist
        std::vector<std::string> Names;       // of the stations, in order
    };
    const Case cases[] = {
        {"json/harbour-light.json",
         &TOrvoTunedexParserJSON::Class(),
         {"Harbour Light Jazz", "Harbour Light Jazz", "Harbour Light Classical", "Harbour Light Classical",
          "Harbour Light Kids"}},
        {"xml/northwind-directory.xml",
         &TOrvoTunedexParserXML::Class(),
         {"Northwind Folk", "Northwind Sessions", "Valley Community Radio", "Campus Wave 87.9"}},
        {"spi/meridian.xml",
         &TOrvoTunedexParserSPI::Class(),
         {"Meridian FM", "Meridian FM", "Meridian Talk", "Meridian Gold"}},
        {"server-status/status.xml",
         &TOrvoTunedexParserXSL::Class(),
         {"Lakeside Morning Show", "Lakeside Chill"}},
        {"server-status/status-json.json",
         &TOrvoTunedexParserJSON::Class(),
         {"Lakeside Morning Show", "Lakeside Chill"}},
        {"playlists/coast.m3u",
         nullptr,
         {"Coastline Radio", "Coastline Radio (mobile)", "Tidewater Blues", "Lighthouse Oldies"}},
        {"playlists/mountain.pls", nullptr, {"Summit Rock", "Summit Metal", "Alpine Beats"}},
        {"playlists/city.xspf", nullptr, {"City Nights Soul", "City Nights Hip-Hop", "Metro Latino"}},
    };
    for (const auto& c : cases) {
        const std::string document = ReadFile(samples / c.File);
        std::vector<std::string> names;
        if (c.Class) {
            const TResult r = Parse(*c.Class, document, u"http://stream.lakeside.example:8000/status.xsl");
            EXPECT_TRUE(r.Error.empty()) << c.File << ": " << ToUtf8(r.Error);
            for (const auto& s : r.Stations) {
                names.push_back(ToUtf8(s.Name));
                EXPECT_TRUE(s.FileName.starts_with(u"http")) << c.File << ": " << ToUtf8(s.FileName);
            }
        } else {
            TNuvMemoryStream stream(document.data(), document.size());
            TZanPlaylistItemsCallback receiver(
                [&](const std::u16string& name, std::shared_ptr<IZanFileInfo> info, int32_t) {
                    names.push_back(info ? ToUtf8(info->GetData()->GetValue(zitTitle)) : "");
                    EXPECT_TRUE(name.starts_with(u"http")) << c.File << ": " << ToUtf8(name);
                });
            EXPECT_TRUE(ZanReadPlaylist(stream, (samples / c.File).u16string(), receiver)) << c.File;
        }
        EXPECT_EQ(names, c.Names) << c.File;
    }
}
