#include "nuv/Nuv.Parsers.Ripper.h"
#include "nuv/Nuv.Strings.h"

#include <gtest/gtest.h>

using TRule = TNuvRipperRuleAimingByTags;

TEST(RipperMarkers, CountsAndWholeTexts) {
    using M = TRule::TMarker;
    struct Case {
        std::u16string text;
        std::vector<M> expected;
    };
    const Case cases[] = {
        {u"", {}},
        {u"bitrate|<td|>", {{u"bitrate", 1}, {u"<td", 1}, {u">", 1}}},
        {u"+2:</table", {{u"</table", 2}}},
        {u"+0:x|+99999999999:y", {{u"x", 1}, {u"y", INT32_MAX}}},
        {u"+2|+:a|+x:b|", {{u"+2", 1}, {u"+:a", 1}, {u"+x:b", 1}, {u"", 1}}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TRule::ParseMarkers(c.text), c.expected);
}

TEST(RipperAimingByTags, Extracts) {
    struct Case {
        std::u16string start, finish;
        uint8_t options;
        std::u16string text;
        TNuvListOfString expected;
    };
    const std::u16string row = u"<tr><td>BitRate:</td><td class=\"s\">128</td></tr><tr><td>x</td></tr>";
    const Case cases[] = {
        {u"bitrate|<td|>", u"</tr|</td", TRule::roIgnoreCase, row, {u"128"}},
        {u"bitrate|<td|>", u"</tr|</td", 0, row, {}}, // the case differs
        {u"[", u"]", TRule::roRepeat, u"A[x]B[y]", {u"x", u"y"}},
        {u"[", u"]", 0, u"A[x]B[y]", {u"x"}},
        {u"<a", u"+2:</table", 0, u"<a>1</table>2</table>3", {u">1</table>2"}},
        {u"+2:[", u"]", 0, u"[a][b][c]", {u"b"}},
        // Russian labels in any letter case.
        {u"качество|<td|>", u"</tr|</td", TRule::roIgnoreCase, u"<td>КАЧЕСТВО</td><td>64</td></tr>", {u"64"}},
        {u"[", u"", 0, u"[a]", {}},
        {u"[", u"]", 0, u"[a", {}},
        // Empty markers and huge counts end, whatever the options.
        {u"|", u"|", TRule::roRepeat, u"abc", {u""}},
        {u"", u"", TRule::roRepeat, u"abc", {}},
        {u"+2000000000:", u"+2000000000:", TRule::roRepeat, u"abc", {}},
        {u"a", u"|", TRule::roRepeat, u"aaa", {u"", u"", u""}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TRule(c.start, c.finish, c.options).Rip(c.text), c.expected)
            << ToUtf8(c.start + u" " + c.text);
}

TEST(RipperRemoveHtmlTags, TextOfMarkup) {
    struct Case {
        std::u16string text, expected;
    };
    const Case cases[] = {
        {u"<a href=\"http://x/\">Jazz &amp; Blues</a>", u"Jazz & Blues"},
        {u"A\\&amp;B", u"A&amp;B"},
        {u"A&amp;B", u"A&B"},
        {u"one<BR/>two\r\n", u"one\r\ntwo"},
        {u"a\\nb\\u0041\\u00e9\\", u"a\r\nbAé\\"},
        {u"cut<b", u"cut"},
        {std::u16string(u"end\0more", 8), u"end"},
        {u"\\u0000", u"\uFFFD"},
    };
    TNuvRipperRuleRemoveHtmlTags rule(std::make_unique<TRule>(u"<td>", u"</td>", 0));
    for (const auto& c : cases)
        EXPECT_EQ(rule.RipFirst(u"<td>" + c.text + u"</td>"), c.expected) << ToUtf8(c.text);
}

TEST(RipperDecodeMarkupText, References) {
    struct Case {
        std::u16string text, expected;
    };
    const Case cases[] = {
        {u"&lt;&gt;&quot;&apos;&amp;", u"<>\"'&"},
        {u"&#65;&#x263A;&#X263a;", u"A\u263A\u263A"},
        // Never a NUL, a lone surrogate or a cut character.
        {u"&#0;&#;&#xD800;&#1114112;&#99999999999;&#abc;", u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
        {u"&#128512;", u"\U0001F600"},
        {u"&nbsp;&a-b; & &;", u"nbsp&a-b; & &;"},
        {u"\\<\\>\\&\\q", u"<>&\\q"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecodeMarkupText(c.text), c.expected) << ToUtf8(c.text);
}
