#include "nuv/Nuv.FileFormats.XML.Writer.h"

#include "nuv/Nuv.FileFormats.XML.Reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <unistd.h>

namespace {

using TSteps = std::function<void(TNuvXMLWriter&)>;

// What the steps write, or "!" and the message of what they raised (with "state N" after it).
std::string Written(const TSteps& steps, TNuvXMLWriterSettings settings = {}) {
    TNuvMemoryStream stream;
    std::string out;
    {
        auto writer = CreateWriter(&stream, settings);
        try {
            steps(*writer);
            writer->Flush();
        } catch (const Exception& e) {
            out = "!" + ToUtf8(e.Message()) + " state " + std::to_string(int(writer->State()));
        }
    }
    if (out.empty())
        out.assign(reinterpret_cast<const char*>(stream.Memory()), size_t(stream.Size()));
    return out;
}

TNuvXMLWriterSettings Bare() {
    TNuvXMLWriterSettings s;
    s.NoDeclaration = true;
    return s;
}

} // namespace

TEST(XMLWriter, WritesWhatTheCallsAsk) {
    TNuvXMLWriterSettings indented = Bare(), onLines = Bare(), lenient = Bare(), entities = Bare(),
                          raw = Bare();
    indented.Indented = true;
    onLines.AttributesOnNewLines = true;
    onLines.Indented = true;
    lenient.ValidateCharacters = false;
    entities.ValidateCharacters = false;
    entities.NameStyleEscapes = false;
    raw.WellFormedChecks = false;
    const struct {
        TSteps steps;
        TNuvXMLWriterSettings settings;
        std::string expected;
    } cases[] = {
        {[](auto& w) { w.WriteElement(u"a", u""); }, Bare(), "<a/>"},
        {[](auto& w) { w.WriteElement(u"a", u"x"); }, Bare(), "<a>x</a>"},
        {[](auto& w) { w.StartElement(u"r"); }, {}, "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<r"},
        {[](auto& w) {
             w.StartDocument(1);
             w.WriteElement(u"r", u"");
         },
         {},
         "<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"yes\"?>\r\n<r/>"},
        {[](auto& w) {
             w.StartElement(u"r");
             w.WriteElement(u"a", u"1");
             w.StartElement(u"b");
             w.WriteElement(u"c", u"");
             w.EndElement();
             w.EndElement();
         },
         indented, "<r>\r\n\t<a>1</a>\r\n\t<b>\r\n\t\t<c/>\r\n\t</b>\r\n</r>"},
        {[](auto& w) {
             w.StartElement(u"r");
             w.WriteAttribute(u"x", u"1");
             w.WriteAttribute(u"y", 2);
             w.StartElement(u"e");
             w.FullEndElement();
             w.EndElement();
         },
         onLines, "<r\r\n\tx=\"1\"\r\n\ty=\"2\">\r\n\t<e></e>\r\n</r>"},
        {[](auto& w) {
             w.StartElement(u"a");
             w.WriteAttribute(u"v", u"q\"'<&>\t\n\r");
             w.WriteString(u"t\"'<&>\r\n\r\n\t");
             w.EndElement();
         },
         Bare(), "<a v=\"q&quot;'&lt;&amp;&gt;&#x9;&#xA;&#xD;\">t\"'&lt;&amp;&gt;\r\n\r\n\t</a>"},
        {[](auto& w) { w.WriteElement(u"a", u"\x0007\xFFFE\U0001F600\u00e9"); }, lenient,
         "<a>_x0007__xFFFE_\xF0\x9F\x98\x80\xC3\xA9</a>"},
        {[](auto& w) { w.WriteElement(u"a", u"\x0007"); }, entities, "<a>&#x0007;</a>"},
        {[](auto& w) { w.WriteElement(u"a", u"\x0007"); }, Bare(),
         "!The 0007 is an invalid character. state 6"},
        {[](auto& w) { w.WriteElement(u"a", u"x\xD800"); }, Bare(),
         "!The surrogate pair is invalid. Missing a low surrogate character. state 6"},
        {[](auto& w) { w.WriteElement(u"a", u"\xDC00"); }, Bare(),
         "!Invalid high surrogate character (0xDC00). A high surrogate character must have a value from "
         "range "
         "(0xD800 - 0xDBFF). state 6"},
        {[](auto& w) { w.WriteElement(u"a", u"\xD800y"); }, Bare(),
         "!The surrogate pair (0xD800, 0x0079) is invalid. A high surrogate character (0xD800 - 0xDBFF) must "
         "always be paired with a low surrogate character (0xDC00 - 0xDFFF). state 6"},
        {[](auto& w) {
             w.StartElement(u"a");
             w.WriteCData(u"x]]>y");
             w.WriteComment(u"a--b-");
             w.WriteCharEntity(u'\xe9');
             w.WriteSurrogateCharEntity(u'\xDE00', u'\xD83D');
             w.WriteEntityRef(u"nbsp");
             const std::u16string chars = u"<raw>";
             w.WriteChars(&chars, 1, 3);
             w.EndElement();
         },
         Bare(), "<a><![CDATA[x]]]]><![CDATA[>y]]><!--a- -b- -->&#x00E9;&#x1F600;&nbsp;raw</a>"},
        {[](auto& w) {
             w.WriteElement(u"a", u"");
             w.StartElement(u"b");
         },
         Bare(), "!Invalid state (FState = 2, AToken = 1) state 6"},
        {[](auto& w) { w.WriteString(u"x"); }, Bare(), "!Invalid state (FState = 0, AToken = 5) state 6"},
        {[](auto& w) { w.WriteElement(u"p", u"x", u"", u""); }, Bare(),
         "!Unable to find namespace for the \"p\" prefix state 6"},
        {[](auto& w) {
             w.StartElement(u"p", u"x", u"");
             w.WriteAttribute(u"xmlns", u"p", u"urn:p");
             w.WriteAttribute(u"p", u"a", u"1");
             w.StartElement(u"p", u"y", u"");
             w.EndElement();
             w.EndElement();
         },
         Bare(), "<p:x xmlns:p=\"urn:p\" p:a=\"1\"><p:y/></p:x>"},
        {[](auto& w) {
             w.StartElement(u"r");
             w.StartElement(u"a");
             w.WriteAttribute(u"xmlns", u"p", u"urn:p");
             w.EndElement();
             w.WriteElement(u"p", u"b", u"", u"");
         },
         Bare(), "!Unable to find namespace for the \"p\" prefix state 6"},
        {[](auto& w) {
             w.StartElement(u"r");
             w.WriteAttribute(u"xmlns", u"p", u"urn:x");
             w.WriteAttribute(u"xmlns", u"q", u"urn:x");
             w.WriteAttribute(u"p", u"a", u"1");
             w.WriteAttribute(u"q", u"a", u"2");
             w.EndElement();
         },
         Bare(), "!\"q:a\" is a duplicate attribute name. state 6"},
        {[](auto& w) {
             w.StartElement(u"r");
             w.WriteAttribute(u"a", u"1");
             w.WriteAttribute(u"a", u"2");
             w.WriteString(u"");
         },
         Bare(), "!\"a\" is a duplicate attribute name. state 6"},
        {[](auto& w) {
             w.StartElement(u"r");
             w.WriteAttribute(u"xmlns", u"xml", u"urn:x");
         },
         Bare(), "!The xml is invalid for local name state 6"},
        {[](auto& w) {
             w.StartElement(u"r");
             w.StartAttribute(u"xmlns", u"p");
             w.WriteEntityRef(u"amp");
         },
         Bare(), "!The Namespace expected, but EntityRef specified. state 6"},
        {[](auto& w) { w.StartElement(u"1a"); }, Bare(),
         "!Invalid name character in \"1a\". The 0 character, hexadecimal value 0031, cannot be included in "
         "a "
         "name. state 6"},
        {[](auto& w) { w.StartElement(u""); }, Bare(),
         "!The empty string is not a valid local name. state 6"},
        {[](auto& w) {
             w.StartElement(u"r");
             w.WriteEntityRef(u"");
         },
         Bare(), "!The empty string is not a valid name. state 6"},
        {[](auto& w) { w.EndElement(); }, Bare(), "!There was no XML start tag open. state 6"},
        {[](auto& w) {
             w.StartElement(u"r");
             w.WriteChars(nullptr, 0, 0);
         },
         Bare(), "!buffer state 6"},
        {[](auto& w) {
             const std::u16string chars = u"ab";
             w.StartElement(u"r");
             w.WriteChars(&chars, 1, 2);
         },
         Bare(), "!count state 6"},
        // Without the well-formed layer, an unbound prefix is written as asked.
        {[](auto& w) { w.WriteElement(u"p", u"x", u"", u""); }, raw, "<p:x/>"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Written(c.steps, c.settings), c.expected);
}

TEST(XMLWriter, LongOutputCrossesTheBufferWhole) {
    // Pairs of surrogates and multi-byte characters straddle the 64K buffer boundary.
    std::u16string text;
    for (int i = 0; i < 50000; ++i)
        text += u"\u00e9\U0001F600";
    const std::string out = Written([&](auto& w) { w.WriteElement(u"a", text); }, Bare());
    EXPECT_EQ(out.size(), 3u + 50000u * 6 + 4);
    EXPECT_EQ(FromUtf8(out.substr(3, out.size() - 7)), text);
}

TEST(XMLWriter, DocumentsAreAcceptedByAnotherParserAndReadBack) {
    const std::u16string name = u"caf\u00e9 \U0001F3B5 \"<&>\"\t\nend";
    TNuvXMLWriterSettings settings;
    settings.Indented = true;
    settings.AttributesOnNewLines = true;
    const std::string xml = Written(
        [&](auto& w) {
            w.StartElement(u"", u"playlist", u"");
            w.WriteAttribute(u"xmlns", u"urn:list");
            w.WriteAttribute(u"xmlns", u"m", u"urn:meta");
            w.WriteAttribute(u"m", u"title", name);
            w.StartElement(u"track");
            w.WriteElement(u"", u"title", u"", name);
            w.WriteElement(u"m", u"note", u"", u"a & b < c");
            w.EndElement();
            w.EndElement();
        },
        settings);

    // What our reader makes of it.
    TNuvMemoryStream stream(xml.data(), xml.size());
    TNuvXMLTextReader reader({}, &stream);
    std::u16string attribute, title, note, inside;
    while (reader.Read()) {
        if (reader.NodeType() == TNuvXMLNodeType::Element) {
            inside = reader.NamespaceName() + u" " + reader.LocalName();
            if (reader.LocalName() == u"playlist")
                reader.TryGetAttribute(u"m:title", attribute);
        }
        if (reader.NodeType() == TNuvXMLNodeType::Text)
            (inside == u"urn:meta note" ? note : title) = reader.GetValue();
    }
    // Attribute values keep line breaks and tabs through their character references.
    EXPECT_EQ(attribute, name);
    EXPECT_EQ(title, u"caf\u00e9 \U0001F3B5 \"<&>\"\t\nend");
    EXPECT_EQ(note, u"a & b < c");

    if (std::system("command -v xmllint >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "xmllint is not installed";
    const auto path =
        std::filesystem::temp_directory_path() / ("tunedex-writer-" + std::to_string(getpid()) + ".xml");
    std::ofstream(path, std::ios::binary) << xml;
    const int status = std::system(("xmllint --noout '" + path.string() + "'").c_str());
    std::filesystem::remove(path);
    EXPECT_EQ(status, 0) << xml;
}
