// `servers` and `values`: the Radio Browser look-ups of the catalogue editor, one value a line.

#include "host/Orvo.Host.Cli.Dialogs.h"
#include "host/Orvo.Host.Cli.Process.h"

#include <CLI/CLI.hpp>

#include <ostream>

namespace {

void PrintLines(std::ostream& out, const std::vector<std::u16string>& lines) {
    for (const std::u16string& line : lines)
        out << TerminalText(line) << '\n';
}

class TServersCommand : public TOrvoCliCommand {
public:
    std::string Name() const override { return "servers"; }
    std::string Description() const override {
        return "List the Radio Browser servers the catalogue editor finds";
    }
    int Run(TOrvoCliContext& context) override {
        TOrvoCliSession session(context);
        std::vector<std::u16string> servers;
        session.WithNewEditor([&](TOrvoCliEditor& editor) {
            editor.ChooseRadioBrowser();
            servers = editor.WaitForServers();
        });
        if (const int status = session.Outcome(); status != TUNEDEX_EXIT_OK)
            return status;
        if (servers.empty())
            throw Exception(u"No Radio Browser server was found: the DNS look-up failed");
        PrintLines(context.Out, servers);
        return TUNEDEX_EXIT_OK;
    }
};

class TValuesCommand : public TOrvoCliCommand {
public:
    std::string Name() const override { return "values"; }
    std::string Description() const override {
        return "List the countries, languages or tags a Radio Browser server offers, as the catalogue "
               "editor does";
    }
    void DefineOptions(CLI::App& command) override {
        command
            .add_option(
                "--server", FServer,
                "Radio Browser server (default: the first one the look-up finds; see `tunedex servers`)")
            ->option_text("HOST");
        command.add_option("--list", FList, "What to list")
            ->required()
            ->check(CLI::IsMember({"countries", "languages", "tags", "country", "language", "tag"}))
            ->option_text("countries|languages|tags");
    }
    int Run(TOrvoCliContext& context) override {
        // The server's list as its address names it.
        static constexpr std::u16string_view lists[] = {u"countries", u"languages", u"tags"};
        const std::u16string list(lists[ListKindOf(FList)]);
        const TOrvoCliPluginLog log;
        TOrvoCliSession session(context);
        std::vector<std::u16string> values;
        std::u16string server;
        session.WithNewEditor([&](TOrvoCliEditor& editor) {
            values = LookUpValues(editor, FromUtf8(FServer), ListKindOf(FList), server);
        });
        if (const int status = session.Outcome(); status != TUNEDEX_EXIT_OK)
            return status;
        // A failed look-up and an empty list look alike in the editor; the plug-in logs why one
        // failed.
        if (values.empty()) {
            if (const std::u16string reason = log.LookUpErrorOf(server + u"/json/" + list); !reason.empty())
                throw Exception(Format(u"The server %s did not list its %s: %s", server, list, reason));
            throw Exception(Format(u"The server %s listed no %s", server, list));
        }
        PrintLines(context.Out, values);
        return TUNEDEX_EXIT_OK;
    }

private:
    std::string FServer;
    std::string FList;
};

} // namespace

std::unique_ptr<TOrvoCliCommand> NewServersCommand() {
    return std::make_unique<TServersCommand>();
}

std::unique_ptr<TOrvoCliCommand> NewValuesCommand() {
    return std::make_unique<TValuesCommand>();
}
