// The catalogue commands: `kinds`, `catalogs`, `add`, `edit`, `remove`, `reset` and `preview`,
// each done with the catalogue manager and editor as a person would.

#include "host/Orvo.Host.Cli.Dialogs.h"
#include "platform/Platform.Files.h"
#include "platform/Platform.Locale.h"
#include "platform/Platform.Paths.h"

#include <CLI/CLI.hpp>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <ctime>
#include <ostream>
#include <set>
#include <sstream>

#include <stdlib.h>

namespace {

// Saves through the editor of a new catalogue, or of the one `key` names, then waits for the
// refresh that saving starts and prints the station count. With --no-wait it prints the
// catalogue's id and detaches, and waits for the refresh in the background.
// `warning`, when given, receives where the document stopped short, if it did.
int SaveCatalogue(TOrvoCliContext& context, const TCatalogueOptions& options,
                  const std::optional<std::string>& key, const TOrvoCliDetach& detach,
                  std::u16string* warning = nullptr) {
    const TOrvoCliPluginLog log;
    TOrvoCliSession session(context);
    std::optional<TOrvoCliManager::TRow> result;
    session.WithManager([&](TOrvoCliManager& manager) {
        const TOrvoCliSaved saved =
            SaveInEditor(session, manager, options, key ? std::optional(FromUtf8(*key)) : std::nullopt);
        if (saved.ID.empty())
            return;
        if (options.NoWait) {
            context.Out << ToUtf8(saved.ID) << '\n';
            if (detach)
                detach(TUNEDEX_EXIT_OK);
        }
        result = manager.WaitForRefresh(saved.ID, saved.Updated, saved.Rebuilds, log, [&] {
            session.Progress(Format(u"Refreshing \"%s\"...", saved.Title));
        });
        if (warning)
            *warning = log.WarningOf(result->Title);
    });
    session.Progress({});
    if (const int status = session.Outcome(); status != TUNEDEX_EXIT_OK)
        return status;
    if (!options.NoWait)
        context.Out << ToUtf8(result->Count) << '\n';
    return TUNEDEX_EXIT_OK;
}

class TKindsCommand : public TOrvoCliCommand {
public:
    std::string Name() const override { return "kinds"; }
    std::string Description() const override {
        return "List the kinds of catalogue, in the order and with the names the catalogue editor shows";
    }
    int Run(TOrvoCliContext& context) override {
        TOrvoCliSession session(context);
        std::vector<std::u16string> kinds;
        session.WithNewEditor([&](TOrvoCliEditor& editor) { kinds = editor.Kinds(); });
        for (size_t i = 0; i < kinds.size(); ++i)
            context.Out << (i + 1) << "  " << TerminalText(kinds[i]) << '\n';
        return session.Outcome();
    }
};

class TCatalogsCommand : public TOrvoCliCommand {
public:
    std::string Name() const override { return "catalogs"; }
    std::string Description() const override {
        return "List the catalogues as the catalogue manager shows them: title, last update, stations, id";
    }
    void DefineOptions(CLI::App& command) override {
        command.add_flag("--json", FJson, "One JSON object per line instead of a table");
    }
    int Run(TOrvoCliContext& context) override {
        TOrvoCliSession session(context);
        std::vector<TOrvoCliManager::TRow> rows;
        session.WithManager([&](TOrvoCliManager& manager) { rows = manager.Rows(); });
        if (FJson)
            PrintJson(context.Out, rows);
        else
            PrintTable(context.Out, rows);
        return session.Outcome();
    }

private:
    static void PrintJson(std::ostream& out, const std::vector<TOrvoCliManager::TRow>& rows) {
        for (const auto& row : rows) {
            rapidjson::StringBuffer buffer;
            rapidjson::Writer<rapidjson::StringBuffer> json(buffer);
            auto text = [&](const std::u16string& value) {
                const std::string utf8 = ToUtf8(value);
                json.String(utf8.data(), rapidjson::SizeType(utf8.size()));
            };
            int64_t count = 0;
            json.StartObject();
            json.Key("title");
            text(row.Title);
            // Never updated, or being updated: no date to give.
            json.Key("updated");
            if (row.Updating() || row.Updated == u"-") {
                json.Null();
            } else {
                const std::string date = IsoDate(row.Updated);
                json.String(date.data(), rapidjson::SizeType(date.size()));
            }
            json.Key("stations");
            if (TryStrToInt(row.Count, count))
                json.Int64(count);
            else
                json.Null();
            json.Key("updating");
            json.Bool(row.Updating());
            json.Key("id");
            text(row.ID);
            json.EndObject();
            out << buffer.GetString() << '\n';
        }
    }

    static void PrintTable(std::ostream& out, const std::vector<TOrvoCliManager::TRow>& rows) {
        std::vector<std::vector<std::string>> cells = {{"TITLE", "UPDATED", "STATIONS", "ID"}};
        for (const auto& row : rows)
            cells.push_back({TerminalText(row.Title), TerminalText(row.Updated), TerminalText(row.Count),
                             TerminalText(row.ID)});
        std::vector<size_t> widths(4, 0);
        for (const auto& line : cells)
            for (size_t c = 0; c < line.size(); ++c)
                widths[c] = std::max(widths[c], TerminalWidth(line[c]));
        for (const auto& line : cells) {
            for (size_t c = 0; c < line.size(); ++c) {
                const std::string pad(widths[c] - TerminalWidth(line[c]), ' ');
                // Counts line up on the right, everything else on the left; the last column
                // carries no trailing blanks.
                if (c == 2)
                    out << pad << line[c];
                else
                    out << line[c] << (c + 1 < line.size() ? pad : "");
                out << (c + 1 < line.size() ? "  " : "\n");
            }
        }
    }

    bool FJson = false;
};

class TAddCommand : public TOrvoCliCommand {
public:
    std::string Name() const override { return "add"; }
    std::string Description() const override {
        return "Add a catalogue with the catalogue editor and refresh it; prints its station count";
    }
    void DefineOptions(CLI::App& command) override { FOptions.Define(command, true); }
    int Run(TOrvoCliContext& context) override {
        return RunChangingCatalogues(context, FOptions.NoWait,
                                     [this](TOrvoCliContext& c, const TOrvoCliDetach& d) {
                                         return SaveCatalogue(c, FOptions, std::nullopt, d);
                                     });
    }

private:
    TCatalogueOptions FOptions;
};

class TEditCommand : public TOrvoCliCommand {
public:
    std::string Name() const override { return "edit"; }
    std::string Description() const override {
        return "Change a catalogue with the catalogue editor and refresh it; prints its station count";
    }
    void DefineOptions(CLI::App& command) override {
        command.add_option("catalog", FKey, "Id or title of the catalogue")
            ->required()
            ->option_text("ID-or-TITLE");
        FOptions.Define(command, false);
    }
    int Run(TOrvoCliContext& context) override {
        return RunChangingCatalogues(context, FOptions.NoWait,
                                     [this](TOrvoCliContext& c, const TOrvoCliDetach& d) {
                                         return SaveCatalogue(c, FOptions, FKey, d);
                                     });
    }

private:
    std::string FKey;
    TCatalogueOptions FOptions;
};

class TRemoveCommand : public TOrvoCliCommand {
public:
    std::string Name() const override { return "remove"; }
    std::string Description() const override { return "Remove a catalogue and its stations"; }
    void DefineOptions(CLI::App& command) override {
        command.add_option("catalog", FKey, "Id or title of the catalogue")
            ->required()
            ->option_text("ID-or-TITLE");
    }
    int Run(TOrvoCliContext& context) override {
        TOrvoCliProfileLock lock(context, true);
        TOrvoCliSession session(context);
        session.WithManager(
            [&](TOrvoCliManager& manager) { RemoveCatalogue(session, manager, FromUtf8(FKey)); });
        return session.Outcome();
    }

private:
    std::string FKey;
};

class TResetCommand : public TOrvoCliCommand {
public:
    std::string Name() const override { return "reset"; }
    std::string Description() const override { return "Remove every catalogue and station"; }
    int Run(TOrvoCliContext& context) override {
        TOrvoCliProfileLock lock(context, true);
        // A database the plug-in cannot open is kept, moved aside, never deleted.
        const std::filesystem::path database = CatalogueDatabase(context.Settings);
        if (const std::string damage = CatalogueDamage(database); !damage.empty()) {
            const std::filesystem::path moved = MoveDamagedCatalogue(database);
            context.Err << "tunedex: the catalogue database " << TerminalText(database.string())
                        << " could not be opened (" << TerminalText(damage) << "); it was moved to "
                        << TerminalText(moved.string()) << " and an empty catalogue starts\n";
        }
        TOrvoCliSession session(context);
        session.WithManager([&](TOrvoCliManager& manager) { ResetCatalogues(session, manager); });
        return session.Outcome();
    }
};

// Fetches and reads the document as a refresh of such a catalogue does, by adding it to a
// throw-away profile of its own, so that the provider, download and parser are the refresh's own
// and the user's catalogues stay untouched.
class TPreviewCommand : public TOrvoCliCommand {
public:
    std::string Name() const override { return "preview"; }
    std::string Description() const override {
        return "Fetch and read a catalogue document as a refresh would and print its stations; stores "
               "nothing";
    }
    void DefineOptions(CLI::App& command) override {
        command.add_option("ADDRESS", FAddress, "Address or file path of the document")->required();
        command
            .add_option("--kind", FKind,
                        "Kind of catalogue as `tunedex kinds` lists it (default: the custom catalogue, "
                        "which recognises the document by its content)")
            ->option_text("KIND");
        command.add_option("--format", FFormat, "Output format")
            ->check(CLI::IsMember({"table", "json"}))
            ->option_text("table|json");
    }
    int Run(TOrvoCliContext& context) override {
        const TScratchProfile profile;
        TCatalogueOptions options;
        options.Title = "Preview";
        options.TitleGiven = true;
        // The custom catalogue is registered last of the four kinds.
        options.Kind = FKind.empty() ? "4" : FKind;
        // The scratch catalogue is refreshed by the plug-in, which knows nothing of this
        // command's working folder.
        options.Address = platform::HasUrlForm(FromUtf8(FAddress)) || FAddress.empty()
                              ? FAddress
                              : std::filesystem::absolute(FAddress).string();
        std::ostringstream count;
        TOrvoCliContext scratch{context.Settings, count, context.Err};
        scratch.Settings.ProfileFolder = profile.Path;
        std::u16string warning;
        try {
            if (const int status = SaveCatalogue(scratch, options, std::nullopt, {}, &warning);
                status != TUNEDEX_EXIT_OK)
                return status;
        } catch (const EOrvoCliUsage&) {
            throw;
        } catch (const Exception& e) {
            // The catalogue saved is the scratch one: only the refresh's reason means anything.
            const std::u16string& message = e.Message();
            constexpr std::u16string_view marker = u"its refresh failed: ";
            if (const size_t at = message.find(marker); at != std::u16string::npos)
                throw Exception(u"Cannot read the document: " + message.substr(at + marker.size()));
            throw;
        }
        if (!warning.empty())
            context.Err << "tunedex: the document stopped early: " << TerminalMessage(ToUtf8(warning))
                        << '\n';
        std::unique_ptr<TOrvoCliCommand> stations = NewStationsCommand();
        CLI::App app;
        stations->DefineOptions(app);
        app.parse("--format " + FFormat, false);
        TOrvoCliContext listing{scratch.Settings, context.Out, context.Err};
        return stations->Run(listing);
    }

private:
    // A new profile folder, removed with everything in it at the end.
    struct TScratchProfile {
        std::filesystem::path Path;
        TScratchProfile() {
            std::string error;
            const std::string folder = platform::TemporaryFolderCreate("tunedex-preview-", error);
            if (folder.empty())
                throw Exception(u"Cannot make a scratch profile for the preview");
            Path = folder;
        }
        ~TScratchProfile() {
            std::error_code ignored;
            std::filesystem::remove_all(Path, ignored);
        }
        TScratchProfile(const TScratchProfile&) = delete;
        TScratchProfile& operator=(const TScratchProfile&) = delete;
    };

    std::string FAddress;
    std::string FKind;
    std::string FFormat = "table";
};

} // namespace

std::unique_ptr<TOrvoCliCommand> NewPreviewCommand() {
    return std::make_unique<TPreviewCommand>();
}

std::unique_ptr<TOrvoCliCommand> NewKindsCommand() {
    return std::make_unique<TKindsCommand>();
}

std::unique_ptr<TOrvoCliCommand> NewCatalogsCommand() {
    return std::make_unique<TCatalogsCommand>();
}

std::unique_ptr<TOrvoCliCommand> NewAddCommand() {
    return std::make_unique<TAddCommand>();
}

std::unique_ptr<TOrvoCliCommand> NewEditCommand() {
    return std::make_unique<TEditCommand>();
}

std::unique_ptr<TOrvoCliCommand> NewRemoveCommand() {
    return std::make_unique<TRemoveCommand>();
}

std::unique_ptr<TOrvoCliCommand> NewResetCommand() {
    return std::make_unique<TResetCommand>();
}
