#pragma once
// What the Tunedex plug-in and a host that drives it agree on beyond the host API: the music
// library's background task that shows a refresh, the refresh commands of its menu, and the
// error-log entry that gives each catalogue's outcome. The plug-in writes the entries; a host
// reads them back to tell a person why a catalogue failed, so their form is pinned here for both
// sides.

#include <cstdint>
#include <string>
#include <string_view>

// The background task under which the music library shows a refresh.
constexpr int32_t TUNEDEX_ML_UPDATE_TASK = 42;

// The menu commands that refresh every catalogue and the one selected in the grouping tree; a host
// that refreshes on a person's behalf chooses them.
constexpr std::u16string_view TUNEDEX_ACTION_REFRESH_CATALOGS = u"Orvo.Tunedex.Actions.RefreshCatalogs";
constexpr std::u16string_view TUNEDEX_ACTION_REFRESH_CATALOG = u"Orvo.Tunedex.Actions.RefreshCatalog";

// The log tag of refresh outcomes. An entry is one log line "<time> [TunedexRefresh] <message>";
// the message is the outcome's word, then the catalogue's title (for a look-up, the address looked
// up) and the reason, each quoted:
//   failed "<title>" "<reason>"
//   warning "<title>" "<reason>"
//   lookup-failed "<address>" "<reason>"
// Inside quotes "\" and """ are escaped with "\", and a line break is written "\n" (carriage
// return "\r"), so any title and reason fit on one line and read back exactly.
constexpr std::u16string_view TUNEDEX_REFRESH_LOG_TAG = u"TunedexRefresh";

enum class TTunedexRefreshOutcome {
    // The catalogue kept its stations: the reason is why the refresh failed.
    Failed,
    // The document stopped short after some stations, which were stored: the reason is where.
    Warning,
    // A list the catalogue editor looks up (a server's tags, say) could not be read: the editor
    // shows it as an empty list, and the reason is why.
    LookUpFailed,
};

struct TTunedexRefreshLogEntry {
    TTunedexRefreshOutcome Outcome = TTunedexRefreshOutcome::Failed;
    std::u16string Title;
    std::u16string Reason;
};

namespace tunedex_refresh_log {

constexpr std::u16string_view WordOf(TTunedexRefreshOutcome outcome) {
    switch (outcome) {
    case TTunedexRefreshOutcome::Failed:
        return u"failed";
    case TTunedexRefreshOutcome::Warning:
        return u"warning";
    case TTunedexRefreshOutcome::LookUpFailed:
        return u"lookup-failed";
    }
    return u"failed";
}

inline void AppendQuoted(std::u16string& out, std::u16string_view text) {
    out += u'"';
    for (const char16_t c : text) {
        if (c == u'\\' || c == u'"')
            out += u'\\';
        if (c == u'\n')
            out += u"\\n";
        else if (c == u'\r')
            out += u"\\r";
        else
            out += c;
    }
    out += u'"';
}

// Reads one quoted text at `at` into `text` and moves `at` past it; false when there is none.
inline bool ReadQuoted(std::u16string_view line, size_t& at, std::u16string& text) {
    if (at >= line.size() || line[at] != u'"')
        return false;
    text.clear();
    for (++at; at < line.size(); ++at) {
        char16_t c = line[at];
        if (c == u'"') {
            ++at;
            return true;
        }
        if (c == u'\\') {
            if (++at == line.size())
                return false;
            c = line[at];
            if (c == u'n')
                c = u'\n';
            else if (c == u'r')
                c = u'\r';
            else if (c != u'\\' && c != u'"')
                return false;
        }
        text += c;
    }
    return false;
}

} // namespace tunedex_refresh_log

// The message of an entry, to be logged under TUNEDEX_REFRESH_LOG_TAG.
inline std::u16string FormatTunedexRefreshLogMessage(const TTunedexRefreshLogEntry& entry) {
    std::u16string message = std::u16string(tunedex_refresh_log::WordOf(entry.Outcome)) + u' ';
    tunedex_refresh_log::AppendQuoted(message, entry.Title);
    message += u' ';
    tunedex_refresh_log::AppendQuoted(message, entry.Reason);
    return message;
}

// Reads an entry from one whole log line (without its line end); false for a line that is not
// exactly an entry, and for entries of other tags. The tag must be the line's first "[", so a
// title quoted inside another entry cannot pass for one.
inline bool ParseTunedexRefreshLogLine(std::u16string_view line, TTunedexRefreshLogEntry& entry) {
    const size_t open = line.find(u'[');
    if (open == std::u16string_view::npos)
        return false;
    std::u16string_view rest = line.substr(open + 1);
    if (rest.substr(0, TUNEDEX_REFRESH_LOG_TAG.size()) != TUNEDEX_REFRESH_LOG_TAG)
        return false;
    rest.remove_prefix(TUNEDEX_REFRESH_LOG_TAG.size());
    TTunedexRefreshLogEntry read;
    if (rest.substr(0, 2) != u"] ")
        return false;
    rest.remove_prefix(2);
    bool known = false;
    for (const TTunedexRefreshOutcome outcome :
         {TTunedexRefreshOutcome::Failed, TTunedexRefreshOutcome::Warning,
          TTunedexRefreshOutcome::LookUpFailed}) {
        const std::u16string_view word = tunedex_refresh_log::WordOf(outcome);
        if (rest.size() > word.size() && rest.substr(0, word.size()) == word && rest[word.size()] == u' ') {
            read.Outcome = outcome;
            rest.remove_prefix(word.size() + 1);
            known = true;
            break;
        }
    }
    if (!known)
        return false;
    size_t at = 0;
    if (!tunedex_refresh_log::ReadQuoted(rest, at, read.Title) || at >= rest.size() || rest[at] != u' ')
        return false;
    ++at;
    if (!tunedex_refresh_log::ReadQuoted(rest, at, read.Reason) || at != rest.size())
        return false;
    entry = std::move(read);
    return true;
}
