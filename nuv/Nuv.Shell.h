#pragma once
// Opening addresses and folders with the desktop's handler.
//
// Thread-safety: may be called from any thread.

#include <string>
#include <string_view>

// Opens a text as a person would paste it into a browser or file manager: a text containing "//"
// is opened as an address; otherwise an existing folder is opened as that folder; anything else
// is taken for an address without its scheme and opened with "https://" in front. Answers the
// target handed to the shell; an empty text opens nothing and answers the empty text. Whether the
// shell managed to open it is not reported.
std::u16string ShellOpenAddress(std::u16string_view text);

// The web address a home page from outside (a catalogue, a server) may be opened as: an http or
// https address as it is, "//host/path" and a bare host and path ("radio.example/about", also
// with a port) with "https://" in front. Anything else answers the empty text: another scheme
// ("file:", "javascript:"), nothing after the scheme, or control characters anywhere.
std::u16string WebPageAddress(std::u16string_view text);

// Opens WebPageAddress(text) with the desktop's handler. Answers false when the text is no web
// address, or when no opener could be started.
bool ShellOpenWebPage(std::u16string_view text);
