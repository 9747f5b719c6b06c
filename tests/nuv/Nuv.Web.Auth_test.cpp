#include "nuv/Nuv.Web.Auth.h"

#include "nuv/Nuv.Streams.h"
#include "nuv/Nuv.Strings.h"

#include <gtest/gtest.h>

namespace {

std::unique_ptr<TNuvJSONDocument> ParseText(std::string_view text) {
    TNuvMemoryStream stream(text.data(), text.size());
    stream.Seek(0, TNuvSeekOrigin::End); // Parse reads from the start, wherever the stream stands
    return JSON::Parse(stream);
}

std::string Value(const TNuvJSONNode& node, std::u16string_view name) {
    return ToUtf8(JSON::Value(node, name));
}

} // namespace

TEST(JsonParse, MembersKeepDocumentOrder) {
    const auto doc = ParseText(R"({"z": 1, "a": 2, "m": {"k": [1, 2]}, "b": null})");
    ASSERT_NE(doc, nullptr);
    const TNuvJSONNode root = doc->Root();
    ASSERT_TRUE(root.IsObject());
    ASSERT_EQ(root.Count(), 4u);
    std::string order;
    for (size_t i = 0; i < root.Count(); ++i)
        order += ToUtf8(root.Name(i));
    EXPECT_EQ(order, "zamb");
    EXPECT_TRUE(root.Item(2).IsObject());
    EXPECT_TRUE(root.Item(3).IsNull());
    EXPECT_FALSE(root.Item(4));
}

TEST(JsonParse, ScalarsReadAsWritten) {
    const auto doc = ParseText(R"({"e": 1e2, "f": 128.0, "n": -0, "big": 123456789012345678901234567890,
        "s": "a\"b\u00e9\ud83c\udfb5", "t": true, "no": false, "nil": null, "o": {}, "a": []})");
    ASSERT_NE(doc, nullptr);
    const TNuvJSONNode root = doc->Root();
    EXPECT_EQ(Value(root, u"e"), "1e2");
    EXPECT_EQ(Value(root, u"f"), "128.0");
    EXPECT_EQ(Value(root, u"n"), "-0");
    EXPECT_EQ(Value(root, u"big"), "123456789012345678901234567890");
    EXPECT_EQ(Value(root, u"s"), "a\"b\xC3\xA9\xF0\x9F\x8E\xB5");
    EXPECT_EQ(Value(root, u"t"), "true");
    EXPECT_EQ(Value(root, u"no"), "false");
    EXPECT_EQ(Value(root, u"nil"), "null");
    EXPECT_EQ(Value(root, u"o"), "");
    EXPECT_EQ(Value(root, u"a"), "");
    std::u16string text = u"unchanged";
    EXPECT_FALSE(JSON::TryGetValue(root, u"absent", text));
    EXPECT_EQ(ToUtf8(text), "unchanged");
    EXPECT_TRUE(JSON::TryGetValue(root, u"o", text));
    EXPECT_EQ(ToUtf8(text), "");
}

TEST(JsonParse, InvalidTextGivesNull) {
    for (const std::string_view text :
         std::vector<std::string_view>{"", "   ", "{", "{\"a\":}", "[1,]", "{'a':1}", "[1] [2]", "nul",
                                       "\"open", "{\"a\":1}x", "01", "[1e]", std::string_view("[1\0]", 4)})
        EXPECT_EQ(ParseText(text), nullptr) << text;
}

TEST(JsonParse, ValidTopLevelsAndByteOrderMark) {
    for (const std::string_view text :
         std::vector<std::string_view>{"null", "0", "\"s\"", "[]", "\xEF\xBB\xBF{\"a\":1}", " \n[1]\t"})
        EXPECT_NE(ParseText(text), nullptr) << text;
    const auto doc = ParseText("\xEF\xBB\xBF{\"a\":\"b\"}");
    EXPECT_EQ(Value(doc->Root(), u"a"), "b");
}

TEST(JsonParse, DeepNestingDoesNotExhaustTheStack) {
    const size_t depth = 200000;
    const std::string text = std::string(depth, '[') + std::string(depth, ']');
    const auto doc = JSON::Parse(std::string_view(text));
    ASSERT_NE(doc, nullptr);
    EXPECT_TRUE(doc->Root().IsArray());
    EXPECT_EQ(ParseText(std::string(depth, '[')), nullptr);
}

TEST(JsonLookup, ObjectsByNameOtherNodesByPath) {
    const auto doc = ParseText(R"([{"name": "one", "tags": ["x", "y"], "a/b": 1}, {"name": "two"}])");
    ASSERT_NE(doc, nullptr);
    const TNuvJSONNode root = doc->Root();
    // On an array, the text is a path.
    EXPECT_EQ(Value(root, u"/1/name"), "two");
    EXPECT_EQ(Value(root, u"0/tags/1"), "y");
    EXPECT_EQ(Value(root, u"/0/a~1b"), "1");
    EXPECT_EQ(Value(root, u"/5/name"), "");
    EXPECT_EQ(Value(root, u"/0/name/deeper"), "");
    // On an object, the text is a member name, slashes and all.
    const TNuvJSONNode first = root.Item(0);
    EXPECT_EQ(Value(first, u"name"), "one");
    EXPECT_EQ(Value(first, u"a/b"), "1");
    EXPECT_EQ(Value(first, u"/name"), "");
    EXPECT_EQ(Value(first.Member(u"tags"), u"0"), "x");
    // Nothing is found in null or in an empty node.
    EXPECT_EQ(Value(TNuvJSONNode(), u"name"), "");
    const auto nil = ParseText("null");
    std::u16string text;
    EXPECT_FALSE(JSON::TryGetValue(nil->Root(), u"", text));
}

TEST(JsonLookup, DuplicateAndEmbeddedNulNames) {
    const auto doc = ParseText(R"({"k": 1, "k": 2, "a\u0000b": "nul", "a": "plain"})");
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(Value(doc->Root(), u"k"), "1");
    EXPECT_EQ(Value(doc->Root(), std::u16string(u"a\0b", 3)), "nul");
    EXPECT_EQ(Value(doc->Root(), u"a"), "plain");
    // Names as bytes keep what a conversion would not show: the NUL and the UTF-8 itself.
    EXPECT_EQ(doc->Root().NameBytes(2), std::string_view("a\0b", 3));
    EXPECT_EQ(doc->Root().NameBytes(4), std::string_view());
    EXPECT_EQ(doc->Root().Item(0).NameBytes(0), std::string_view());
}
