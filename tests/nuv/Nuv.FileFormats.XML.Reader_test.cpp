#include "nuv/Nuv.FileFormats.XML.Reader.h"

#include "nuv/Nuv.Strings.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>

#include <psapi.h>
#else
#include <malloc.h>
#endif

#include <algorithm>

#include <string>
#include <thread>
#include <vector>

namespace {

// One line per node: type letter, qualified name, {namespace}, "=value" and the attributes.
std::string Walk(const std::string& bytes, TNuvXMLReaderSettings settings = {}) {
    TNuvMemoryStream stream(bytes.data(), bytes.size());
    TNuvXMLTextReader reader(settings, &stream);
    std::string out;
    try {
        while (reader.Read()) {
            static const char kinds[] = "-EATCxxP#----WS/-D";
            const auto type = reader.NodeType();
            out += type == TNuvXMLNodeType::EndElement ? '/' : kinds[int(type)];
            out += ToUtf8(reader.QualifiedName());
            if (!reader.NamespaceName().empty())
                out += "{" + ToUtf8(reader.NamespaceName()) + "}";
            const std::u16string value = reader.GetValue();
            if (!value.empty())
                out += "=" + ToUtf8(value);
            while (reader.MoveToNextAttribute())
                out += " @" + ToUtf8(reader.QualifiedName()) + "=" + ToUtf8(reader.GetValue());
            reader.MoveToElement();
            out += "|";
        }
    } catch (const ENuvXMLException& e) {
        out += std::string("!") + e.what();
    }
    return out;
}

std::string Utf16LE(std::u16string_view text, bool bom) {
    std::string bytes = bom ? "\xFF\xFE" : "";
    for (char16_t c : text) {
        bytes += char(c & 0xFF);
        bytes += char(c >> 8);
    }
    return bytes;
}

struct TMalformed {
    std::string Input;
    std::string Message;
};

TEST(XMLReaderErrors, MalformedInputNamesProblemAndPlace) {
    const std::vector<TMalformed> cases = {
        {"", "Root element is missing. Line 1, position 1"},
        {"<a><b></a>",
         "The 'b' start tag on line '1' position '5' does not match the end tag of 'a'. Line 1, "
         "position 9"},
        {"<a>\r\n\r<b>\n</c>",
         "The 'b' start tag on line '3' position '2' does not match the end tag of 'c'. "
         "Line 4, position 3"},
        {"<a><b>",
         "Unexpected end of file has occurred. The following elements are not closed: b, a. Line 1, "
         "position 7"},
        {"<a/><b/>", "There are multiple root elements. Line 1, position 6"},
        {" x<a/>", "Data at the root level is invalid. Line 1, position 2"},
        {"<a/>&amp;", "Data at the root level is invalid. Line 1, position 5"},
        {"<![CDATA[x]]><a/>", "InvalidRootData Line 1, position 1"},
        {"</a>", "Unexpected end tag. Line 1, position 3"},
        {"<a></a", "UnclosedElements Line 1, position 7"},
        {"<a x='1' x='2'/>", "x is a duplicate attribute name Line 1, position 10"},
        {"<a xmlns:p='u' xmlns:q='u' p:x='1' q:x='2'/>",
         "q:x is a duplicate attribute name Line 1, position 36"},
        {"<a x='<'/>", "'<', hexadecimal value 0x3C, is an invalid attribute character. Line 1, position 7"},
        {"<a x='1", "There is an unclosed literal string. Line 1, position 6"},
        {"<a>]]></a>", "']]&gt;' is not allowed in character data. Line 1, position 4"},
        {"<a><!-- a -- b --></a>",
         "An XML comment cannot contain '--', and '-' cannot be the last character. Line 1, position 11"},
        {"<a><!-- a ---></a>",
         "An XML comment cannot contain '--', and '-' cannot be the last character. Line 1, position 11"},
        {"<a>&#xZ;</a>", "Invalid syntax for a hexadecimal numeric entity reference. Line 1, position 7"},
        {"<a>&#12a;</a>", "Invalid syntax for a decimal numeric entity reference. Line 1, position 8"},
        {"<a>&#xD800;</a>", "Invalid value of a character entity reference. Line 1, position 4"},
        {"<a>&#x110000;</a>", "Invalid value of a character entity reference. Line 1, position 4"},
        {"<a>&#1;</a>", "'\x01', hexadecimal value 0x 1, is an invalid character. Line 1, position 4"},
        {"<a>&</a>", "Name cannot begin with the '<' character, hexadecimal value 0x3C. Line 1, position 5"},
        {"<a>&amp</a>", "'<' is an unexpected token. The expected token is ';'. Line 1, position 8"},
        {"<a/><!DOCTYPE a>", "Unexpected DTD declaration. Line 1, position 7"},
        {"<!DOCTYPE a x>", "Expecting external ID, '[' or '&gt;'. Line 1, position 13"},
        {"<!DOCTYPE a SYSTEM 'x' y>",
         "Expecting an internal subset or the end of the DOCTYPE declaration. Line 1, position 24"},
        {"<!DOCTYPE a [<!ENTITY x 'y'>", "Unexpected end of file while parsing DOCTYPE has occurred. Line 1, "
                                         "position 29"},
        {"<1a/>", "Name cannot begin with the '1' character, hexadecimal value 0x31. Line 1, position 2"},
        {"<a:1/>", "Name cannot begin with the '1' character, hexadecimal value 0x31. Line 1, position 4"},
        {"<a:b:c/>",
         "The ':' character, hexadecimal value 0x3A, cannot be included in a name. Line 1, position 5"},
        {"<a b=\"1\"c=\"2\"/>", "'c' is an unexpected token. Expecting white space. Line 1, position 9"},
        {"<a b/>", "'/' is an unexpected token. The expected token is '='. Line 1, position 5"},
        {"<a b=1/>", "'1' is an unexpected token. The expected token is '\"' or '''. Line 1, position 6"},
        {"<a><!-- x", "Unexpected end of file while parsing Comment has occurred. Line 1, position 10"},
        {"<a><![CDATA[x]]", "Unexpected end of file while parsing CDATA has occurred. Line 1, position 16"},
        {"<a><?pi x", "Unexpected end of file while parsing PI has occurred. Line 1, position 10"},
        {"<a", "Unexpected end of file while parsing Name has occurred. Line 1, position 3"},
        {"<?xml version='1.0' standalone='yes' encoding='utf-8'?><a/>",
         "Syntax for an XML declaration is invalid. Line 1, position 38"},
        {"<?xml encoding='utf-8'?><a/>", "Syntax for an XML declaration is invalid. Line 1, position 7"},
        {"<?xml version='1.0' standalone='maybe'?><a/>",
         "Syntax for an XML declaration is invalid. Line 1, position 33"},
        {"<a/><?xml version='1.0'?>", "Unexpected XML declaration. The XML declaration must be the first "
                                      "node in the document, and no white "
                                      "space characters are allowed to appear before it. Line 1, position 7"},
        {"<a xmlns:p=''/>", "Invalid namespace declaration. Line 1, position 4"},
        {"<xmlns:a/>", "Prefix 'xmlns' is reserved for use by XML. Line 1, position 2"},
        {"<a xmlns:xmlns='urn:x'/>", "Prefix 'xmlns' is reserved for use by XML. Line 1, position 4"},
        {"<a xmlns:xml='urn:x'/>",
         "Prefix 'xml' is reserved for use by XML and can be mapped only to namespace "
         "name 'http://www.w3.org/XML/1998/namespace'. Line 1, position 4"},
        {"<a xmlns:p='http://www.w3.org/2000/xmlns/'/>",
         "Prefix 'p' cannot be mapped to namespace name reserved for \"xml\" or \"xmlns\". Line 1, position "
         "4"},
        {"<a xml:space='keep'/>", "'keep' is an invalid xml:space value. Line 1, position 4"},
        {"<?xml version='1.0' encoding='x-no-such'?><a/>",
         "System does not support 'x-no-such' encoding. Line 1, position 31"},
        {"<a>ok\xC3\x28</a>", "Invalid character in the given encoding. Line 1, position 6"},
        {std::string(8, '\0'), "'.', hexadecimal value 0x 0, is an invalid character. Line 1, position 1"},
        {std::string("\0\0\0<", 4), "Not implemented"},
        {"\x4C\x6F\xA7\x94", "UnknownEncoding: ebcdic"},
        {Utf16LE(u"<a/>", true) + "x", "Invalid character in the given encoding. Line 1, position 5"},
    };
    for (const auto& c : cases) {
        const std::string nodes = Walk(c.Input);
        EXPECT_EQ(nodes.substr(std::min(nodes.find('!'), nodes.size())), "!" + c.Message) << c.Input;
    }
}

TEST(XMLReaderErrors, TruncatedSurrogatePairIsAnInvalidCharacter) {
    const std::string bytes = Utf16LE(u"<a>", true) + "\x3D\xD8";
    TNuvMemoryStream stream(bytes.data(), bytes.size());
    TNuvXMLTextReader reader({}, &stream);
    ASSERT_TRUE(reader.Read());
    try {
        reader.Read();
        FAIL() << "no exception";
    } catch (const ENuvXMLException& e) {
        EXPECT_EQ(e.Message(),
                  u"'\xD83D', hexadecimal value 0xD83D, is an invalid character. Line 1, position 4");
    }
    EXPECT_FALSE(reader.Read());
}

TEST(XMLReaderErrors, DocumentLimitAndMissingStream) {
    TNuvXMLReaderSettings settings;
    settings.MaxCharactersInDocument = 100;
    EXPECT_EQ(Walk("<a>" + std::string(20000, 'x') + "</a>", settings).substr(0, 82),
              "Ea|!The input document has exceeded a limit set by MaxCharactersInDocument. Line 1");
    EXPECT_THROW(TNuvXMLTextReader(settings, nullptr), ENuvXMLArgumentNullException);
}

struct TWellFormed {
    std::string Input;
    std::string Nodes;
};

TEST(XMLReaderDocuments, TrickyWellFormedInputs) {
    const std::vector<TWellFormed> cases = {
        {"<a>&#xD7FF;&#xE000;&#x10000;&#65;</a>", "Ea|T=\xED\x9F\xBF\xEE\x80\x80\xF0\x90\x80\x80"
                                                  "A|/a|"},
        {"<a x=']]>' y='&lt;&#x9;&quot;'/>", "Ea @x=]]> @y=<\t\"|"},
        {"<a>1\r\n2\r3</a>", "Ea|T=1\n2\n3|/a|"},
        {"<a x='1\r\n2\r3\t4\n5'/>", "Ea @x=1 2 3 4 5|"},
        {"<a>&nbsp;&amp;</a>", "Ea|T=&nbsp;&|/a|"},
        {"<p:x/>", "Ep:x{p}|"},
        {"<p:a xmlns:p='u1'><p:b xmlns:p='u2'/><p:c/></p:a>",
         "Ep:a{u1} @xmlns:p=u1|Ep:b{u2} @xmlns:p=u2|Ep:c{u1}|/p:a{u1}|"},
        {"<a xmlns='d'><b xmlns=''/><c/></a>", "Ea{d} @xmlns=d|Eb @xmlns=|Ec{d}|/a{d}|"},
        {"<a xml:space='preserve'><b> x </b> <c xml:space='default'> y </c></a>",
         "Ea @xml:space=preserve|Eb|T= x |/b|S= |Ec @xml:space=default|T=y|/c|/a|"},
        {"<!DOCTYPE a PUBLIC 'p' \"s\" [<!ENTITY e '>]'><!-- ] --><?pi ]?>%pe;]><a/>", "Ea|"},
        {"<?xml version='1.0'?>\n<!--c--><?t d ?><a><![CDATA[<&]]></a>",
         "Dxml=version='1.0' @version=1.0|W|#=c|Pt=d|Ea|C=<&|/a|"},
        {"\xEF\xBB\xBF<a>\xC3\xA9</a>", "Ea|T=\xC3\xA9|/a|"},
        {"<a>\xC3\xA9</a>", "Ea|T=\xC3\xA9|/a|"},
        {Utf16LE(u"<a>\u00E9</a>", false), "Ea|T=\xC3\xA9|/a|"},
        {"\xFE\xFF" + std::string("\0<\0a\0/\0>", 8), "Ea|"},
        {"<?xml version='1.0' encoding='windows-1252'?><a>\x80\x93</a>",
         "Dxml=version='1.0' encoding='windows-1252' @version=1.0 @encoding=windows-1252|Ea|T=\xE2\x82\xAC"
         "\xE2\x80\x9C|/a|"},
        {"<?xml version='1.0' encoding='ISO-8859-5'?><a>\xD0</a>",
         "Dxml=version='1.0' encoding='ISO-8859-5' @version=1.0 @encoding=ISO-8859-5|Ea|T=\xD0\xB0|/a|"},
        {"<a>  x  </a>", "Ea|T=x|/a|"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Walk(c.Input), c.Nodes) << c.Input;
}

TEST(XMLReaderDocuments, ConstructsCrossingTheBufferEnd) {
    // Every split of a CDATA end, a CR LF and a reference over the decoding chunk's edge.
    for (size_t pad = 8170; pad < 8200; ++pad) {
        const std::string filler(pad, 'x');
        EXPECT_EQ(Walk("<a>" + filler + "<![CDATA[y]]></a>"), "Ea|T=" + filler + "|C=y|/a|");
        EXPECT_EQ(Walk("<a>" + filler + "\r\n&amp;</a>"), "Ea|T=" + filler + "\n&|/a|");
    }
}

TEST(XMLReaderDocuments, SettingsShapeTheNodeStream) {
    TNuvXMLReaderSettings settings;
    settings.SkipComments = settings.SkipProcessingInstructions = settings.SkipWhitespace = true;
    EXPECT_EQ(Walk("<a> <!--c--><?p?> <b/></a>", settings), "Ea|Eb|/a|");
    settings = {};
    settings.Conformance = TNuvXMLConformance::Fragment;
    EXPECT_EQ(Walk("x<a/><b/>", settings), "T=x|Ea|Eb|");
    settings.Conformance = TNuvXMLConformance::Auto;
    EXPECT_EQ(Walk("<a/><b/>", settings), "Ea|Eb|");
    EXPECT_EQ(Walk("x<a/>", settings), "T=x|Ea|");
    EXPECT_EQ(Walk("", settings), "");
    settings = {};
    settings.NamespaceAware = false;
    EXPECT_EQ(Walk("<p:a xmlns:p='u' p:x='1'/>", settings), "Ep:a @xmlns:p=u @p:x=1|");
    settings = {};
    settings.ValidateCharacters = false;
    EXPECT_EQ(Walk("<a>y\x01&#2;y</a>", settings), "Ea|T=y\x01\x02y|/a|");
    settings = {};
    settings.LineNumberBase = 10;
    settings.LinePositionBase = 100;
    EXPECT_EQ(
        Walk("<a>\n</b>", settings),
        "Ea|W|!The 'a' start tag on line '11' position '102' does not match the end tag of 'b'. Line 12, "
        "position 3");
    settings = {};
    settings.DefaultEncoding = u"ISO-8859-5";
    EXPECT_EQ(Walk("<a>\xD0</a>", settings), "Ea|T=\xD0\xB0|/a|");
}

TEST(XMLReaderNavigation, AttributesSkipAndLookups) {
    const std::string xml = "<r xmlns:p='urn:p' xml:lang='fi'><a p:k='1' k=' 2 ' m:z='3'><b/>t</a><c/></r>";
    TNuvMemoryStream stream(xml.data(), xml.size());
    TNuvXMLTextReader reader({}, &stream);
    ASSERT_TRUE(reader.Read());
    ASSERT_TRUE(reader.Read());
    std::u16string value;
    EXPECT_TRUE(reader.TryGetAttribute(u"p:k", value));
    EXPECT_EQ(value, u"1");
    EXPECT_TRUE(reader.TryGetAttribute(u"k", value));
    EXPECT_EQ(value, u" 2 ");
    EXPECT_TRUE(reader.TryGetAttribute(u"", u"k", u"urn:p", value));
    EXPECT_EQ(value, u"1");
    EXPECT_TRUE(reader.TryGetAttribute(u"m", u"z", u"", value));
    EXPECT_EQ(reader.GetAttribute(u"z", u"m"), u"3");
    EXPECT_EQ(reader.LookupNamespace(u"p"), u"urn:p");
    EXPECT_EQ(reader.LookupNamespace(u"q"), u"");
    EXPECT_EQ(reader.XmlLang(), u"fi");
    EXPECT_EQ(&reader.LocalName(), &reader.NameTable().Find(u"a"));
    // A table given in the settings is the one the reader interns into.
    TNuvXMLNameTable shared;
    TNuvXMLReaderSettings settings;
    settings.NameTable = &shared;
    TNuvMemoryStream other(xml.data(), xml.size());
    TNuvXMLTextReader second(settings, &other);
    ASSERT_TRUE(second.Read());
    EXPECT_EQ(&second.LocalName(), &shared.Find(u"r"));
    reader.Skip();
    EXPECT_EQ(reader.QualifiedName(), u"c");
    EXPECT_TRUE(reader.Read());
    EXPECT_EQ(reader.NodeType(), TNuvXMLNodeType::EndElement);
    EXPECT_FALSE(reader.Read());
    EXPECT_FALSE(reader.Read());
    EXPECT_EQ(reader.NodeType(), TNuvXMLNodeType::None);
}

namespace {
// Memory the process holds for its data: the heap's bytes in use, or on Windows (whose heap does
// not tell) the process's private bytes.
size_t MemoryInUse() {
#ifdef _WIN32
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    ::K32GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                              sizeof counters);
    return counters.PrivateUsage;
#else
    return mallinfo2().uordblks;
#endif
}
} // namespace

TEST(XMLReaderLimits, HostileShapesEndInNodesOrOneError) {
    // Deep nesting, a huge attribute and a long attribute list stay linear and end in one error.
    std::string deep;
    for (int i = 0; i < 1000000; ++i)
        deep += "<a>";
    const std::string message = Walk(deep);
    {
        // What a million open elements hold must stay a small multiple of their 3 MB of text.
        TNuvMemoryStream stream(deep.data(), deep.size());
        TNuvXMLTextReader reader({}, &stream);
        const size_t before = MemoryInUse();
        size_t most = 0;
        try {
            for (int i = 0; reader.Read(); ++i)
                if (i % 4096 == 0)
                    most = std::max(most, MemoryInUse() - before);
        } catch (const ENuvXMLException&) {
        }
        EXPECT_LT(most, 64u << 20);
    }
    EXPECT_NE(
        message.find("!Unexpected end of file has occurred. The following elements are not closed: a, a"),
        std::string::npos);
    const std::string huge = "<a x='" + std::string(100 * 1024 * 1024, 'v') + "'/>";
    TNuvMemoryStream stream(huge.data(), huge.size());
    TNuvXMLTextReader reader({}, &stream);
    ASSERT_TRUE(reader.Read());
    ASSERT_TRUE(reader.MoveToNextAttribute());
    EXPECT_EQ(reader.ValueView().size(), 100u * 1024 * 1024);
    // Names that all fall into one bucket of the table's hash (their last four characters decide it).
    std::string same = "<r>";
    for (int i = 0; i < 200000; ++i)
        same += "<a" + std::to_string(1000000 + i) + "zzzz/>";
    EXPECT_EQ(Walk(same + "</r>").size(), 200000u * 14 + 6);
    std::string many = "<a";
    for (int i = 0; i < 100000; ++i)
        many += " a" + std::to_string(i) + "=''";
    EXPECT_EQ(Walk(many + " a7=''/>").substr(0, 34), "!a7 is a duplicate attribute name ");
}

TEST(XMLNameTable, ConcurrentAddsGiveOneAtomPerText) {
    TNuvXMLNameTable table;
    std::vector<std::thread> threads;
    std::vector<std::vector<const std::u16string*>> seen(4);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i)
                seen[size_t(t)].push_back(&table.Add(u"n" + IntToStr(i)));
        });
    for (auto& thread : threads)
        thread.join();
    for (int t = 1; t < 4; ++t)
        EXPECT_EQ(seen[size_t(t)], seen[0]);
    EXPECT_EQ(&table.Find(u"n7"), seen[0][7]);
    EXPECT_TRUE(table.Find(u"never").empty());
    EXPECT_EQ(TNuvXMLNameTable::Hash(u"ab"), (uint32_t('a') << 2) ^ uint32_t('b'));
}

TEST(XMLNameTable, NamespaceManagerIndexesPastSixteenDeclarations) {
    TNuvXMLNameTable names;
    TNuvXMLNamespaceManager manager(names);
    for (int i = 0; i < 40; ++i) {
        manager.PushScope();
        manager.AddNamespace(names.Add(u"p" + IntToStr(i % 5)), names.Add(u"urn:" + IntToStr(i)));
    }
    EXPECT_EQ(*manager.LookupNamespace(names.Add(u"p2")), u"urn:37");
    for (int i = 0; i < 5; ++i)
        manager.PopScope();
    EXPECT_EQ(*manager.LookupNamespace(names.Add(u"p2")), u"urn:32");
    EXPECT_EQ(*manager.LookupNamespace(names.Add(u"xml")), u"http://www.w3.org/XML/1998/namespace");
    EXPECT_THROW(manager.AddNamespace(names.Add(u"xmlns"), names.Add(u"u")), ENuvXMLArgumentException);
    EXPECT_THROW(manager.AddNamespace(names.Add(u"xml"), names.Add(u"u")), ENuvXMLArgumentException);
}

} // namespace
