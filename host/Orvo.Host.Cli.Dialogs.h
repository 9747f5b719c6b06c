#pragma once
// What the catalogue commands share: a host with the plug-in initialised, the catalogue manager
// opened through the settings address as a person following the link opens it, the controls of
// the manager and of the catalogue editor it opens, and the waits in between. The commands act
// only through these dialogs, so they do exactly what a person could do with them.
//
// Thread-safety: main thread only, like the forms.

#include "host/Orvo.Host.Cli.Process.h"
#include "host/Orvo.Host.UI.Automation.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Bounds of the waits: a Radio Browser look-up, and a catalogue's refresh (downloads have
// time-outs of their own; this only keeps a stuck run from holding the command for ever).
constexpr uint32_t TUNEDEX_CLI_LOOKUP_TIMEOUT_MS = 30000;
constexpr uint32_t TUNEDEX_CLI_REFRESH_TIMEOUT_MS = 600000;

// The catalogue manager as it is shown.
class TOrvoCliManager {
public:
    // One row of the list as the manager shows it.
    struct TRow {
        std::u16string Title;
        // The last update, "-" for never, or the updating text while the catalogue is refreshed.
        std::u16string Updated;
        // The station count; empty while the catalogue is refreshed.
        std::u16string Count;
        std::u16string ID;
        bool Updating() const { return Count.empty(); }
    };

    TOrvoCliManager(TOrvoHostUI& ui, TOrvoHostForm& form);

    std::vector<TRow> Rows() const;
    // The row whose identifier is `key`, else the one titled `key`; raises Exception when there
    // is none or the title is not unique.
    size_t FindRow(std::u16string_view key) const;
    // The row of that identifier, or none.
    std::optional<TRow> RowOf(std::u16string_view id) const;

    // Clicks the row, as a person selects a catalogue before pressing a button for it.
    void Click(size_t row);
    // Clicks the row FindRow(key) finds and answers what it shows.
    TRow Select(std::u16string_view key);
    void Press(std::u16string_view button) { FDriver.Press(button); }
    // Presses a button that shows the catalogue editor (B3, or B6 with a row clicked), with
    // `script` acting on the editor while it is shown. Raises what the script raised, and
    // Exception when the editor did not show.
    void RunEditor(std::u16string_view button, const std::function<void(TOrvoHostForm& editor)>& script);

    // How many times the list has been rebuilt.
    int Rebuilds() const;
    // Waits, pumping the main loop, until the manager shows the catalogue `id` refreshed after a
    // save that left it showing `savedUpdated` as its last update and no stations. `rebuilds` is
    // Rebuilds() from before the editor was opened. Answers the row then. Raises Exception when
    // the refresh failed, the row went, or the time-out passed. `progress` is
    // called now and then while waiting. A failure's reason is taken from `log`.
    TRow WaitForRefresh(std::u16string_view id, std::u16string_view savedUpdated, int rebuilds,
                        const TOrvoCliPluginLog& log, const std::function<void()>& progress);

private:
    TOrvoHostUI& FUI;
    TOrvoHostUIDriver FDriver;
    TOrvoHostTreeList& FList;
};

// The catalogue editor as it is shown.
class TOrvoCliEditor {
public:
    explicit TOrvoCliEditor(TOrvoHostForm& form);

    TOrvoHostUIDriver& Driver() { return FDriver; }
    // The provider classes as the class box lists them, in order.
    std::vector<std::u16string> Kinds() const { return FClass.Items(); }
    // The class at that place in Kinds(); a box with one class is already set to it.
    void ChooseKind(size_t index);
    // Chooses the class whose choice shows the Radio Browser boxes; raises Exception when none
    // does.
    void ChooseRadioBrowser();
    bool ShowsAddress() const { return FAddress.Visible(); }
    bool ShowsRadioBrowser() const { return FPanel.Visible(); }

    void SetTitle(std::u16string_view title) { FDriver.Type(FTitle, title); }
    void SetAddress(std::u16string_view address) { FDriver.Type(FAddress, address); }
    void SetServer(std::u16string_view server) { FDriver.Type(FServer, server); }
    // 0 country, 1 language, 2 tag.
    void SetListKind(int32_t kind);
    void SetValue(std::u16string_view value) { FDriver.Type(FValue, value); }
    std::u16string Title() const { return FTitle.Text(); }
    std::u16string Server() const { return FServer.Text(); }
    std::u16string Address() const { return FAddress.Text(); }
    // The place of the chosen class in Kinds(), or -1.
    int32_t Kind() const { return FClass.ItemIndex(); }
    // 0 country, 1 language, 2 tag, or -1.
    int32_t ListKind() const { return FListKind.ItemIndex(); }
    std::u16string Value() const { return FValue.Text(); }

    // Waits for the server look-up the editor started when the Radio Browser class was chosen;
    // answers the servers found (none when the look-up failed).
    std::vector<std::u16string> WaitForServers();
    // Waits for the value look-up of the chosen server and kind of list; answers the values.
    std::vector<std::u16string> WaitForValues();

    // Presses save; raises EOrvoCliUsage when the boxes are not complete enough for it to be
    // enabled.
    void Save();

private:
    TOrvoHostUIDriver FDriver;
    TOrvoHostEdit& FTitle;
    TOrvoHostComboBox& FClass;
    TOrvoHostEdit& FAddress;
    TOrvoHostControl& FPanel;
    TOrvoHostComboBox& FServer;
    TOrvoHostComboBox& FListKind;
    TOrvoHostComboBox& FValue;
    TOrvoHostControl& FSave;
};

// A host with the plug-in loaded and initialised for one command. A warning or error the plug-in
// shows in the message dialog means the command failed. A question is answered with the dialog's
// default button (yes, or OK), as the user who asked for the command would answer it.
class TOrvoCliSession {
public:
    // Raises Exception when the plug-in cannot be loaded or refuses to initialise.
    explicit TOrvoCliSession(TOrvoCliContext& context);
    // A session over a host whose plug-in is initialised already and which outlives the session;
    // its errors are those shown from now on.
    TOrvoCliSession(TOrvoCliContext& context, TOrvoHost& host);
    ~TOrvoCliSession();
    TOrvoCliSession(const TOrvoCliSession&) = delete;
    TOrvoCliSession& operator=(const TOrvoCliSession&) = delete;

    TOrvoHost& Host() { return FHost; }
    // Follows "tunedex://settings" and runs `script` on the manager while it is shown; the
    // manager is closed afterwards. Raises what the script raised, and Exception when the
    // manager did not open.
    void WithManager(const std::function<void(TOrvoCliManager& manager)>& script);
    // Opens the manager, presses add and runs `script` on the editor; closes both unsaved unless
    // the script saved.
    void WithNewEditor(const std::function<void(TOrvoCliEditor& editor)>& script);
    // The texts of the warnings and errors shown since the session began.
    std::vector<std::u16string> Errors() const;
    // Writes the errors on the error stream and answers TUNEDEX_EXIT_FAILURE, or answers
    // TUNEDEX_EXIT_OK when there were none.
    int Outcome();

    // Whether progress may be shown: the output goes to a terminal.
    bool ShowsProgress() const { return FProgress; }
    // Replaces the progress line, or clears it with an empty text.
    void Progress(std::u16string_view text);

private:
    TOrvoCliContext& FContext;
    std::unique_ptr<TOrvoHost> FOwnedHost;
    TOrvoHost& FHost;
    size_t FMessagesBefore = 0;
    bool FProgress;
    bool FProgressShown = false;
};

// What `add` and `edit` set in the editor, from their options or from another caller. Empty
// values leave the editor's boxes as they are.
struct TCatalogueOptions {
    std::string Title;
    std::string Kind;
    std::string Address;
    std::string Server;
    std::string List;
    std::string Value;
    bool NoWait = false;
    bool TitleGiven = false;

    // The options of `add` (with `adding`) or `edit`.
    void Define(CLI::App& command, bool adding);
    // Sets the boxes as asked and saves; answers the title saved. Raises EOrvoCliUsage for values
    // that do not go together, and Exception when the editor refuses them.
    std::u16string Apply(TOrvoCliEditor& editor, bool adding) const;
    // The place of Kind among the kinds the editor lists: its name in any letter case, or its
    // position from 1; raises EOrvoCliUsage naming the kinds.
    size_t KindIndex(const std::vector<std::u16string>& kinds) const;
};

// The catalogue a save left in the manager, with what a wait for its refresh needs.
struct TOrvoCliSaved {
    std::u16string ID;
    std::u16string Title;
    // Its last update as shown before the save ("-" for a new one).
    std::u16string Updated;
    // The manager's rebuilds from before the editor was opened.
    int Rebuilds = 0;
};

// Saves through the editor of a new catalogue, or of the one `key` (id or title) names, which
// starts its refresh. Answers an empty ID when the plug-in showed an error instead (the
// session's Errors() say which); raises what Apply raises, and Exception when the manager does
// not list the saved catalogue.
TOrvoCliSaved SaveInEditor(TOrvoCliSession& session, TOrvoCliManager& manager,
                           const TCatalogueOptions& options, const std::optional<std::u16string>& key);

// Removes the catalogue `key` (id or title) with the manager's remove button; raises Exception when
// the manager still lists it although the plug-in showed no error.
void RemoveCatalogue(TOrvoCliSession& session, TOrvoCliManager& manager, std::u16string_view key);
// Removes every catalogue with the manager's reset button (which it offers only when it lists
// some); raises Exception when the manager still lists catalogues although no error was shown.
void ResetCatalogues(TOrvoCliSession& session, TOrvoCliManager& manager);
// The values of the list (0 countries, 1 languages, 2 tags) the editor looks up for the server,
// or for the one its server look-up chose when `server` is empty; answers the server asked too.
// Raises Exception when no server was found, for then the editor looks no values up.
std::vector<std::u16string> LookUpValues(TOrvoCliEditor& editor, std::u16string_view server, int32_t list,
                                         std::u16string& asked);

// The manager's local "yyyy.MM.dd hh:mm:ss" (any separators) as ISO 8601 with the local offset,
// "2026-12-09T18:53:27+01:00"; a text of another shape as it is.
std::string IsoDate(const std::u16string& shown);

// A title as the catalogue stores it, so that what the user typed finds it: the catalogue's
// literals turn characters outside the Basic Multilingual Plane into spaces.
std::u16string TitleAsStored(std::u16string_view typed);

// Parses a kind of list as the editor numbers them ("country" 0, "language" 1, "tag" 2, or the
// plural forms the look-ups name); -1 for anything else.
int32_t ListKindOf(std::string_view name);
