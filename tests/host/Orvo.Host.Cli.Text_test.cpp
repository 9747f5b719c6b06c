#include "host/Orvo.Host.Cli.Text.h"

#include <gtest/gtest.h>

namespace {

TEST(TerminalText, ShowsControlCharactersAndKeepsTheRest) {
    struct Case {
        std::string Text, Shown;
    } cases[] = {
        {"Jazz \xC3\xBC \xE6\x97\xA5 \xF0\x9F\x8E\xB5 a\\b",
         "Jazz \xC3\xBC \xE6\x97\xA5 \xF0\x9F\x8E\xB5 a\\b"},
        {"\x1B]0;title\x07", "\\x1B]0;title\\x07"},
        {"a\tb\nc\rd", "a\\tb\\nc\\rd"},
        {std::string("nul\0del\x7F", 8), "nul\\x00del\\x7F"},
        // C1 CSI, line separator and a right-to-left override.
        {"\xC2\x9B"
         "2J \xE2\x80\xA8 \xE2\x80\xAE",
         "\\u009B2J \\u2028 \\u202E"},
        {"bad \xFF", "bad \xEF\xBF\xBD"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TerminalText(c.Text), c.Shown) << c.Shown;
}

TEST(TerminalText, LongMessagesAreCut) {
    EXPECT_EQ(TerminalMessage("short"), "short");
    const std::string cut = TerminalMessage(std::string(100000, 'x') + "\n", 600);
    EXPECT_EQ(cut, std::string(600, 'x') + "... (99401 more characters)");
}

TEST(TerminalWidth, CountsTheCellsATerminalDraws) {
    struct Case {
        std::string Text;
        size_t Width;
    } cases[] = {
        {"Jazz", 4},
        {"\xE6\x97\xA5\xE6\x9C\xAC", 4}, // two wide ideographs
        {"e\xCC\x81", 1},                // e and a combining acute accent
        {"\xEF\xBC\xA1", 2},             // full-width A
        {"a\xE2\x80\x8B"
         "b",
         2},             // zero-width space
        {"\xD0\x96", 1}, // Cyrillic, narrow
    };
    for (const Case& c : cases)
        EXPECT_EQ(TerminalWidth(c.Text), c.Width) << c.Text;
}

} // namespace
