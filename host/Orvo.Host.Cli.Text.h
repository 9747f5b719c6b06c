#pragma once
// Text from outside the program (station data, server answers, the plug-in's messages) as the
// terminal gets it: nothing in it may move the cursor, retitle or clear the screen, or break a
// table row, and columns line up by the cells the terminal draws. JSON output is written exactly
// and never goes through here.

#include <cstddef>
#include <string>
#include <string_view>

// The text with every control character made visible: tab, line feed and carriage return as
// "\t", "\n", "\r", other C0 controls and DEL as "\xHH", C1 controls, line and paragraph
// separators and the bidirectional embedding and override marks as "\uHHHH". Everything else
// stays as it is; invalid UTF-8 shows as U+FFFD.
std::string TerminalText(std::u16string_view text);
std::string TerminalText(std::string_view utf8);

// TerminalText, cut to about `maxChars` characters with a note of how much was left out: for
// messages that may quote a whole SQL statement or a server's answer.
std::string TerminalMessage(std::string_view utf8, size_t maxChars = 600);

// Cells a terminal uses for the UTF-8 text: two for wide and full-width characters, none for
// combining marks and format characters, one for the rest.
size_t TerminalWidth(std::string_view utf8);
