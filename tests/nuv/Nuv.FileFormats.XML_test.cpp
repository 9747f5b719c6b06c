#include "nuv/Nuv.FileFormats.XML.h"

#include "nuv/Nuv.Strings.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Saved(TNuvXMLDocument& document, uint32_t options) {
    TNuvMemoryStream stream;
    document.SaveToStream(stream, options);
    return std::string(reinterpret_cast<const char*>(stream.Memory()), size_t(stream.Size()));
}

void Load(TNuvXMLDocument& document, const std::string& bytes) {
    TNuvMemoryStream stream(bytes.data(), bytes.size());
    document.LoadFromStream(stream);
}

// Names, attributes and values as one line, children in brackets.
std::string Outline(const TNuvXMLNode& node) {
    std::string out = ToUtf8(node.NodeName);
    for (const TNuvXMLAttribute& a : node.Attributes)
        out.append(" ").append(ToUtf8(a.Name)).append("=").append(ToUtf8(a.Value));
    if (!node.NodeValue.empty())
        out.append(" '").append(ToUtf8(node.NodeValue)).append("'");
    for (size_t i = 0; i < node.Count(); ++i)
        out.append(i ? "," : "(").append(Outline(node[i]));
    if (node.Count())
        out += ")";
    return out;
}

void Sample(TNuvXMLDocument& document) {
    TNuvXMLNode& root = document.Add(u"caf\u00e9:list");
    root.Attributes.Add(u"version", u"1");
    root.Attributes.Add(u"title", u" spaced \"<&>\" \u266B ");
    TNuvXMLNode& track = root.Add(u"track");
    track.Add(u"title").NodeValue = u"Na\u00efve \U0001F3B5 & <more>";
    track.Add(u"empty");
    root.Add(u"track").Attributes.Add(u"id", u"2");
}

std::string Le32(int32_t v) {
    return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}
std::string Name16(const std::string& name) {
    return std::string{char(name.size()), 0} + name;
}
std::string Units16(const std::string& ascii) {
    std::string out;
    for (char c : ascii)
        out += std::string{c, 0};
    return out;
}

} // namespace

TEST(XMLDocument, SavedDocumentsLoadBackEqual) {
    TNuvXMLDocument original;
    Sample(original);
    for (uint32_t options : {TNuvXMLDocument::SaveBinary, TNuvXMLDocument::SaveText,
                             TNuvXMLDocument::SaveText | TNuvXMLDocument::SaveIndented |
                                 TNuvXMLDocument::SaveAttributesOnNewLines}) {
        TNuvXMLDocument copy;
        Load(copy, Saved(original, options));
        EXPECT_TRUE(copy.Equals(original)) << options << ": " << Outline(copy);
    }
    const std::string start = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<caf\xC3\xA9:list version=\"1\"";
    EXPECT_EQ(
        Saved(original, TNuvXMLDocument::SaveText | TNuvXMLDocument::SaveIndented).substr(0, start.size()),
        start);
    // The binary form keeps names in the legacy code page: one byte for the e acute.
    EXPECT_NE(Saved(original, TNuvXMLDocument::SaveBinary)
                  .find("\x09"
                        "caf\xE9:list"),
              std::string::npos);
    TNuvXMLDocument changed;
    Sample(changed);
    changed[0][0][0].NodeValue += u".";
    EXPECT_FALSE(changed.Equals(original));
}

TEST(XMLDocument, LoadsHandBuiltLegacyBinary) {
    // <r a="x"><v>hi</v><e/></r> in the legacy form.
    const std::string bxml = "BXML" + Le32(1) + Name16("r") + "\x03" + Le32(1) + Name16("a") +
                             std::string("\x01\x00", 2) + Units16("x") + Le32(2) + Name16("v") + "\x04" +
                             Le32(2) + Units16("hi") + Name16("\xE9") + std::string(1, '\0');
    TNuvXMLDocument document;
    Load(document, bxml);
    EXPECT_EQ(Outline(document), "(r a=x(v 'hi',\xC3\xA9))");
    // Every cut of it, and hostile counts, end the load quietly with what came before.
    for (size_t cut = 0; cut < bxml.size(); ++cut)
        Load(document, bxml.substr(0, cut));
    Load(document, "BXML" + Le32(-1));
    EXPECT_EQ(document.Count(), 0u);
    Load(document, "BXML" + Le32(1) + Name16("r") + "\x04" + Le32(0x7FFFFFFF) + "ab");
    EXPECT_EQ(Outline(document), "(r)");
    Load(document, "BXML" + Le32(1) + Name16("r") + "\x02" + Le32(1000000));
    EXPECT_EQ(Outline(document), "(r)");
}

TEST(XMLDocument, HostileBinaryEndsQuietly) {
    TNuvXMLDocument original;
    Sample(original);
    const std::string sxml = Saved(original, TNuvXMLDocument::SaveBinary);
    TNuvXMLDocument document;
    for (size_t cut = 0; cut < sxml.size(); ++cut)
        Load(document, sxml.substr(0, cut));
    const std::string huge = "\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x7F";
    for (const std::string& bad :
         {"SXML" + std::string(8, '\xFF'), "SXML" + std::string("\x05\0\0\0\0\0\0\x80", 8),
          "SXML" + std::string("\x01\0\0\0\0\0\0\0", 8) + "\x01" + huge,
          "SXML" + std::string("\x09\0\0\0\0\0\0\0", 8) + huge + "\0" + std::string("\x01\x01r", 3),
          "SXML" + std::string("\x03\0\0\0\0\0\0\0", 8) + "\x01\x07\x00" + "\x01\x01r"}) {
        Load(document, bad);
        EXPECT_EQ(document.Count(), 0u);
    }
}

TEST(XMLDocument, MillionNestedBinaryChildren) {
    const int depth = 1000000;
    std::string block = "\x01";
    for (int i = 1; i < depth; ++i)
        block += std::string("\x00\x02\x01", 3);
    block += std::string("\x00\x00", 2);
    std::string sxml = "SXML";
    for (int i = 0; i < 8; ++i)
        sxml += char(uint64_t(block.size()) >> (8 * i));
    sxml += block + "\x01\x01n";
    TNuvXMLDocument document;
    Load(document, sxml);
    const TNuvXMLNode* node = &document;
    int levels = 0;
    while (node->Count()) {
        node = &(*node)[0];
        ++levels;
    }
    EXPECT_EQ(levels, depth);
    EXPECT_EQ(Saved(document, TNuvXMLDocument::SaveBinary), sxml);
    EXPECT_TRUE(document.Equals(document));
}

TEST(XMLDocument, TextLoadKeepsNamesAndRawValuesAndStopsQuietly) {
    TNuvXMLDocument document;
    Load(document, "<p:r a=' x '><!--c--><v>one<b/>two</v><w>1</w><x></r><after/>");
    EXPECT_EQ(Outline(document), "(p:r a= x (v 'two'(b),w '1',x))");
    EXPECT_EQ(document[0].Attributes.GetValue(u"A"), u" x ");
    document[0].Attributes.Add(u"\u00c9", u"1");
    EXPECT_EQ(document[0].Attributes.Find(u"\u00e9"), nullptr); // only ASCII letters fold
}

TEST(XMLDocument, RootsAndParents) {
    TNuvXMLDocument document;
    TNuvXMLNode& root = document.Add(u"r");
    try {
        document.Add(u"s");
        ADD_FAILURE();
    } catch (const ENuvXMLDocument& e) {
        EXPECT_EQ(e.Message(), u"Only one Root available");
    }
    TNuvXMLNode& a = root.Add(u"a");
    TNuvXMLNode& b = root.Add(u"b");
    TNuvXMLNode& c = a.Add(u"c");
    a.SetParent(&c); // its own descendant: refused
    a.SetParent(&a);
    b.SetParent(&a);
    EXPECT_EQ(Outline(document), "(r(a(c,b)))");
    EXPECT_EQ(b.Parent(), &a);
    document.AllowMultipleRoots = true;
    document.Add(u"s");
    c.SetParent(&document);
    EXPECT_EQ(Outline(document), "(r(a(b)),s,c)");
}
