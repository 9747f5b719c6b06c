#include "host/Orvo.Host.Cli.Dialogs.h"
#include "platform/Platform.Files.h"

#include "nuv/Nuv.SQLite3.h"
#include "platform/Platform.Locale.h"
#include "platform/Platform.System.h"
#include "platform/Platform.Threads.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <set>

namespace {

constexpr std::u16string_view kManagerForm = u"frmTunedexManager";
constexpr std::u16string_view kEditorForm = u"frmTunedexEditor";
constexpr std::u16string_view kSettingsAddress = u"tunedex://settings";

// The manager's list values: title, last update, count, identifier.
enum TColumn : size_t { colTitle = 0, colUpdated = 1, colCount = 2, colID = 3 };

// The editor's boxes in the order it makes them.
enum TEditorEdit : size_t { edTitle = 0, edAddress = 1 };
enum TEditorCombo : size_t { cbClass = 0, cbServer = 1, cbListKind = 2, cbValue = 3 };

// Before the refresh a save starts is under way, the manager's list is rebuilt at most twice:
// for the change the save reports, and by the manager once the editor has closed. While the
// refresh runs, every rebuild shows the row updating. So a row shown idle after three rebuilds
// since the editor was opened was rebuilt after the refresh ended, even one too quick to be seen
// running.
constexpr int kRebuildsOfARun = 3;

} // namespace

// ---- the manager

TOrvoCliManager::TOrvoCliManager(TOrvoHostUI& ui, TOrvoHostForm& form)
    : FUI(ui), FDriver(form), FList(FDriver.TreeList()) {}

std::vector<TOrvoCliManager::TRow> TOrvoCliManager::Rows() const {
    std::vector<TRow> rows;
    for (TOrvoHostTreeNode* node : FList.Rows())
        rows.push_back(
            {node->Value(colTitle), node->Value(colUpdated), node->Value(colCount), node->Value(colID)});
    return rows;
}

size_t TOrvoCliManager::FindRow(std::u16string_view key) const {
    const std::vector<TRow> rows = Rows();
    for (size_t i = 0; i < rows.size(); ++i)
        if (rows[i].ID == key)
            return i;
    std::vector<size_t> found;
    std::vector<std::u16string> ids;
    const std::u16string title = TitleAsStored(key);
    for (size_t i = 0; i < rows.size(); ++i)
        if (rows[i].Title == title) {
            found.push_back(i);
            ids.push_back(rows[i].ID);
        }
    if (found.empty())
        throw Exception(Format(u"No catalogue has the id or title \"%s\"", key));
    if (found.size() > 1)
        throw Exception(Format(u"%d catalogues are titled \"%s\"; name one by its id: %s",
                               int64_t(found.size()), key, Join(ids, u", ")));
    return found.front();
}

std::optional<TOrvoCliManager::TRow> TOrvoCliManager::RowOf(std::u16string_view id) const {
    for (const TRow& row : Rows())
        if (row.ID == id)
            return row;
    return std::nullopt;
}

void TOrvoCliManager::Click(size_t row) {
    FDriver.ClickRow(FList, int32_t(row));
}

TOrvoCliManager::TRow TOrvoCliManager::Select(std::u16string_view key) {
    const size_t row = FindRow(key);
    TRow shown = Rows()[row];
    Click(row);
    return shown;
}

void TOrvoCliManager::RunEditor(std::u16string_view button,
                                const std::function<void(TOrvoHostForm& editor)>& script) {
    const size_t shown = FUI.ModalHistory().size();
    FUI.WhenShownModally(std::u16string(kEditorForm), [&script](TOrvoHostForm& form) { script(form); });
    FDriver.Press(button);
    FUI.RethrowScriptError();
    const auto& history = FUI.ModalHistory();
    if (history.size() == shown || history[shown] != kEditorForm)
        throw Exception(u"The catalogue manager did not open the catalogue editor");
}

int TOrvoCliManager::Rebuilds() const {
    return FList.UpdatesEnded();
}

TOrvoCliManager::TRow TOrvoCliManager::WaitForRefresh(std::u16string_view id,
                                                      std::u16string_view savedUpdated, int rebuildsBefore,
                                                      const TOrvoCliPluginLog& log,
                                                      const std::function<void()>& progress) {
    bool seenUpdating = false;
    std::optional<TRow> row;
    auto settled = [&] {
        row = RowOf(id);
        if (!row)
            return true;
        if (row->Updating()) {
            seenUpdating = true;
            return false;
        }
        // A count alone tells nothing: an edited catalogue keeps its stations until it is stored.
        return row->Updated != savedUpdated || seenUpdating ||
               FList.UpdatesEnded() - rebuildsBefore >= kRebuildsOfARun;
    };
    const uint64_t start = platform::TickCount64();
    while (!platform::PumpMainThreadUntil(settled, 250)) {
        if (platform::TickCount64() - start >= TUNEDEX_CLI_REFRESH_TIMEOUT_MS)
            throw Exception(Format(u"The catalogue was saved, but its refresh did not end within %u s",
                                   TUNEDEX_CLI_REFRESH_TIMEOUT_MS / 1000));
        if (progress)
            progress();
    }
    if (!row)
        throw Exception(u"The catalogue was saved, but left the list while it was being refreshed");
    // A failed refresh leaves the catalogue as it was and logs why.
    std::u16string reason = log.ErrorOf(row->Title);
    if (reason.empty() && row->Updated == savedUpdated && row->Count == u"0")
        reason = u"the plug-in gave no reason";
    if (!reason.empty())
        throw Exception(
            Format(u"The catalogue \"%s\" was saved, but its refresh failed: %s", row->Title, reason));
    return *row;
}

// ---- the editor

TOrvoCliEditor::TOrvoCliEditor(TOrvoHostForm& form)
    : FDriver(form), FTitle(FDriver.Edit(ORVO_UI_EDIT, edTitle)), FClass(FDriver.Combo(cbClass)),
      FAddress(FDriver.Edit(ORVO_UI_EDIT, edAddress)), FPanel(FDriver.Find(ORVO_UI_PANEL)),
      FServer(FDriver.Combo(cbServer)), FListKind(FDriver.Combo(cbListKind)), FValue(FDriver.Combo(cbValue)),
      FSave(FDriver.Find(u"B1")) {}

void TOrvoCliEditor::ChooseKind(size_t index) {
    if (index >= FClass.Items().size())
        throw EArgumentError(Format(u"There is no kind %u", index + 1));
    if (FClass.ItemIndex() != int32_t(index))
        FDriver.Pick(FClass, int32_t(index));
}

void TOrvoCliEditor::ChooseRadioBrowser() {
    if (FPanel.Visible())
        return;
    // The class is known by what choosing it shows, whatever its name in this language.
    const size_t count = FClass.Usable() ? FClass.Items().size() : 0;
    for (size_t i = 0; i < count; ++i) {
        ChooseKind(i);
        if (FPanel.Visible())
            return;
    }
    throw Exception(u"No kind of catalogue offers the Radio Browser look-ups");
}

void TOrvoCliEditor::SetListKind(int32_t kind) {
    FDriver.Pick(FListKind, kind);
}

std::vector<std::u16string> TOrvoCliEditor::WaitForServers() {
    // The look-up fills the server box once, also with nothing when it fails.
    TOrvoHostUIDriver::WaitUntil([&] { return FServer.UpdatesEnded() > 0; }, u"the Radio Browser servers",
                                 TUNEDEX_CLI_LOOKUP_TIMEOUT_MS);
    return FServer.Items();
}

std::vector<std::u16string> TOrvoCliEditor::WaitForValues() {
    TOrvoHostUIDriver::WaitUntil([&] { return !FValue.AwaitingItems(); }, u"the Radio Browser values",
                                 TUNEDEX_CLI_LOOKUP_TIMEOUT_MS);
    return FValue.Items();
}

void TOrvoCliEditor::Save() {
    if (!FSave.Usable()) {
        std::u16string needs = u"a title";
        if (ShowsAddress())
            needs += u" and an address in URL form or an absolute file path, on one line without control "
                     u"characters";
        else if (ShowsRadioBrowser())
            needs += u" and a Radio Browser server";
        // The values were given as asked; the editor refuses them, so nothing is saved.
        throw Exception(Format(u"The catalogue cannot be saved: it needs %s", needs));
    }
    FDriver.Press(FSave);
}

// ---- the session

TOrvoCliSession::TOrvoCliSession(TOrvoCliContext& context)
    : FContext(context), FOwnedHost(std::make_unique<TOrvoHost>(context.Settings)), FHost(*FOwnedHost),
      FProgress(&context.Out == &std::cout && platform::StandardOutputIsTerminal()) {
    const HRESULT result = FHost.Initialize();
    if (Failed(result))
        throw Exception(FromUtf8(InitializationFailure(result, context.Settings)));
    FMessagesBefore = FHost.MessageDialog().Messages().size();
}

TOrvoCliSession::TOrvoCliSession(TOrvoCliContext& context, TOrvoHost& host)
    : FContext(context), FHost(host), FProgress(false) {
    FMessagesBefore = FHost.MessageDialog().Messages().size();
}

TOrvoCliSession::~TOrvoCliSession() {
    try {
        Progress({});
    } catch (...) {
        // A terminal gone is no reason to fail the command.
    }
}

void TOrvoCliSession::WithManager(const std::function<void(TOrvoCliManager& manager)>& script) {
    TOrvoHostUI& ui = FHost.UI();
    const size_t shown = ui.ModalHistory().size();
    ui.WhenShownModally(std::u16string(kManagerForm), [&](TOrvoHostForm& form) {
        TOrvoCliManager manager(ui, form);
        script(manager);
    });
    const HRESULT result = FHost.FileSystems().OpenLink(kSettingsAddress);
    ui.RethrowScriptError();
    if (Failed(result))
        throw Exception(
            Format(u"The plug-in did not open %s (%s)", kSettingsAddress, FromUtf8(ResultCodeText(result))));
    if (ui.ModalHistory().size() == shown || ui.ModalHistory()[shown] != kManagerForm)
        throw Exception(Format(u"The plug-in did not show the catalogue manager for %s", kSettingsAddress));
}

void TOrvoCliSession::WithNewEditor(const std::function<void(TOrvoCliEditor& editor)>& script) {
    WithManager([&](TOrvoCliManager& manager) {
        manager.RunEditor(u"B3", [&](TOrvoHostForm& form) {
            TOrvoCliEditor editor(form);
            script(editor);
        });
    });
}

std::vector<std::u16string> TOrvoCliSession::Errors() const {
    std::vector<std::u16string> texts;
    const std::vector<TOrvoHostMessage> messages = FHost.MessageDialog().Messages();
    for (size_t i = FMessagesBefore; i < messages.size(); ++i) {
        const int32_t icon = messages[i].Flags & 0xF0;
        if (icon == ORVO_MSG_ICON_ERROR || icon == ORVO_MSG_ICON_WARNING)
            texts.push_back(messages[i].Text);
    }
    return texts;
}

int TOrvoCliSession::Outcome() {
    const std::vector<std::u16string> errors = Errors();
    if (errors.empty())
        return TUNEDEX_EXIT_OK;
    Progress({});
    FContext.Out.flush();
    for (const std::u16string& text : errors)
        FContext.Err << "tunedex: " << TerminalMessage(ToUtf8(text)) << '\n';
    return TUNEDEX_EXIT_FAILURE;
}

void TOrvoCliSession::Progress(std::u16string_view text) {
    if (!FProgress || (text.empty() && !FProgressShown))
        return;
    // Back to the line's start and clear it, so that each text replaces the last.
    FContext.Out << "\r\033[K" << TerminalText(text) << std::flush;
    FProgressShown = !text.empty();
}

// ---- saving

void TCatalogueOptions::Define(CLI::App& command, bool adding) {
    CLI::Option* title = command.add_option("--title", Title, "Title of the catalogue")->option_text("TEXT");
    title->each([this](const std::string&) { TitleGiven = true; });
    CLI::Option* kind =
        command
            .add_option("--kind", Kind,
                        "Kind of catalogue: its name as `tunedex kinds` lists it (any letter case), or its "
                        "position there")
            ->option_text("KIND");
    CLI::Option* address =
        command
            .add_option("--address", Address, "Address of the catalogue's document, for kinds that take one")
            ->option_text("URL");
    CLI::Option* server =
        command
            .add_option(
                "--server", Server,
                "Radio Browser server (default: the first one the look-up finds; see `tunedex servers`)")
            ->option_text("HOST");
    CLI::Option* list =
        command.add_option("--list", List, "Radio Browser list the value is taken from")
            ->check(CLI::IsMember({"country", "language", "tag", "countries", "languages", "tags"}))
            ->option_text("country|language|tag");
    CLI::Option* value =
        command.add_option("--value", Value, "Radio Browser country, language or tag (see `tunedex values`)")
            ->option_text("TEXT");
    address->excludes(server)->excludes(list)->excludes(value);
    if (adding) {
        title->required()->description(title->get_description() + " (required)");
        kind->required()->description(kind->get_description() + " (required)");
    }
    command.add_flag("--no-wait", NoWait, "Do not wait for the refresh that saving starts");
}

std::u16string TCatalogueOptions::Apply(TOrvoCliEditor& editor, bool adding) const {
    if (TitleGiven && Trim(FromUtf8(Title)).empty())
        throw EOrvoCliUsage(u"A catalogue's title cannot be empty or only spaces");
    if (!Kind.empty())
        editor.ChooseKind(KindIndex(editor.Kinds()));
    if (editor.ShowsAddress()) {
        if (!Server.empty() || !List.empty() || !Value.empty())
            throw EOrvoCliUsage(u"This kind of catalogue takes --address, not --server, --list or --value");
        if (adding && Address.empty())
            throw EOrvoCliUsage(u"This kind of catalogue needs --address");
    } else if (editor.ShowsRadioBrowser()) {
        if (!Address.empty())
            throw EOrvoCliUsage(
                u"A Radio Browser catalogue takes --server, --list and --value, not --address");
        if (adding && (List.empty() || Value.empty()))
            throw EOrvoCliUsage(u"A Radio Browser catalogue needs --list and --value");
    } else if (!Address.empty() || !Server.empty() || !List.empty() || !Value.empty()) {
        throw EOrvoCliUsage(u"This kind of catalogue takes no address and no Radio Browser options");
    }
    if (TitleGiven)
        editor.SetTitle(FromUtf8(Title));
    if (!Address.empty())
        editor.SetAddress(FromUtf8(Address));
    if (editor.ShowsRadioBrowser()) {
        if (!Server.empty())
            editor.SetServer(FromUtf8(Server));
        else if (editor.Server().empty() && editor.WaitForServers().empty())
            throw Exception(u"No Radio Browser server was found; name one with --server");
        // Set together with the value, with no look-up result arriving in between.
        if (!List.empty())
            editor.SetListKind(ListKindOf(List));
        if (!Value.empty())
            editor.SetValue(FromUtf8(Value));
    }
    const std::u16string title = editor.Title();
    editor.Save();
    return title;
}

size_t TCatalogueOptions::KindIndex(const std::vector<std::u16string>& kinds) const {
    const std::u16string wanted = platform::LowerCaseLocale(FromUtf8(Kind));
    for (size_t i = 0; i < kinds.size(); ++i)
        if (platform::LowerCaseLocale(kinds[i]) == wanted)
            return i;
    int64_t position = 0;
    if (TryStrToInt(wanted, position) && position >= 1 && uint64_t(position) <= kinds.size())
        return size_t(position - 1);
    std::u16string known;
    for (size_t i = 0; i < kinds.size(); ++i)
        known += Format(i == 0 ? u"%d %s" : u", %d %s", int64_t(i + 1), kinds[i]);
    throw EOrvoCliUsage(Format(u"Unknown kind \"%s\"; the kinds are: %s", FromUtf8(Kind), known));
}

TOrvoCliSaved SaveInEditor(TOrvoCliSession& session, TOrvoCliManager& manager,
                           const TCatalogueOptions& options, const std::optional<std::u16string>& key) {
    const bool adding = !key;
    TOrvoCliSaved saved;
    saved.Updated = u"-";
    std::u16string editedId;
    if (key) {
        const TOrvoCliManager::TRow row = manager.Select(*key);
        // The editor keeps the last update of the catalogue it edits.
        saved.Updated = row.Updated;
        editedId = row.ID;
    }
    std::set<std::u16string> before;
    for (const auto& row : manager.Rows())
        before.insert(row.ID);
    saved.Rebuilds = manager.Rebuilds();
    manager.RunEditor(adding ? u"B3" : u"B6", [&](TOrvoHostForm& form) {
        TOrvoCliEditor editor(form);
        saved.Title = options.Apply(editor, adding);
    });
    if (!session.Errors().empty())
        return {};
    // The saved catalogue is the one new in the list (its settings make its id), else the
    // edited one, whose settings stayed.
    for (const auto& row : manager.Rows())
        if (!before.contains(row.ID))
            saved.ID = row.ID;
    if (saved.ID.empty() && manager.RowOf(editedId))
        saved.ID = editedId;
    if (saved.ID.empty())
        throw Exception(u"The catalogue was saved, but the manager does not list it");
    return saved;
}

void RemoveCatalogue(TOrvoCliSession& session, TOrvoCliManager& manager, std::u16string_view key) {
    const std::u16string id = manager.Select(key).ID;
    manager.Press(u"B4");
    if (session.Errors().empty() && manager.RowOf(id))
        throw Exception(u"The catalogue manager still lists the catalogue");
}

void ResetCatalogues(TOrvoCliSession& session, TOrvoCliManager& manager) {
    // With nothing listed the manager offers no reset, and there is nothing to do.
    if (manager.Rows().empty())
        return;
    manager.Press(u"B5");
    if (session.Errors().empty() && !manager.Rows().empty())
        throw Exception(u"The catalogue manager still lists catalogues");
}

std::vector<std::u16string> LookUpValues(TOrvoCliEditor& editor, std::u16string_view server, int32_t list,
                                         std::u16string& asked) {
    editor.ChooseRadioBrowser();
    // The editor looks values up only once its server look-up has listed servers, also for a
    // server typed in.
    if (editor.WaitForServers().empty())
        throw Exception(
            u"No Radio Browser server was found (the DNS look-up failed), so the catalogue editor "
            u"looks no values up");
    if (!server.empty())
        editor.SetServer(server);
    editor.SetListKind(list);
    asked = editor.Server();
    return editor.WaitForValues();
}

std::string IsoDate(const std::u16string& shown) {
    std::vector<int> fields;
    for (const std::u16string& part : Split(shown, u" ")) {
        std::u16string digits;
        for (const char16_t c : part) {
            if (c >= u'0' && c <= u'9') {
                digits += c;
                continue;
            }
            if (!digits.empty())
                fields.push_back(int(StrToIntDef(digits, -1)));
            digits.clear();
        }
        if (!digits.empty())
            fields.push_back(int(StrToIntDef(digits, -1)));
    }
    if (fields.size() != 6)
        return ToUtf8(shown);
    std::tm local{};
    local.tm_year = fields[0] - 1900;
    local.tm_mon = fields[1] - 1;
    local.tm_mday = fields[2];
    local.tm_hour = fields[3];
    local.tm_min = fields[4];
    local.tm_sec = fields[5];
    local.tm_isdst = -1;
    const std::time_t when = std::mktime(&local);
    if (when == std::time_t(-1))
        return ToUtf8(shown);
    // The offset is counted here, not taken from strftime's %z, which some C libraries fill with
    // the zone's name: the UTC time of the same moment, read as local time, lies that far off.
    std::tm utc{};
    gmtime_r(&when, &utc);
    utc.tm_isdst = local.tm_isdst;
    const long offset = long(std::difftime(when, std::mktime(&utc))) / 60;
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    char zone[32];
    std::snprintf(zone, sizeof zone, "%c%02ld:%02ld", offset < 0 ? '-' : '+', std::labs(offset) / 60,
                  std::labs(offset) % 60);
    return std::string(text) + zone;
}

std::u16string TitleAsStored(std::u16string_view typed) {
    const std::u16string quoted = QuoteValue(typed);
    return ReplaceAll(std::u16string_view(quoted).substr(1, quoted.size() - 2), u"''", u"'");
}

int32_t ListKindOf(std::string_view name) {
    if (name == "country" || name == "countries")
        return 0;
    if (name == "language" || name == "languages")
        return 1;
    if (name == "tag" || name == "tags")
        return 2;
    return -1;
}
