#pragma once
// The `tunedex` command line: global options, and a registry of commands, each a class with its
// own options. A command runs on the host's main thread; every wait it does there goes through
// the host's main-thread pump, so work the plug-in sends to the main thread keeps running.

#include "host/Orvo.Host.Cli.Text.h"
#include "host/Orvo.Host.h"

#include <filesystem>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace CLI {
class App;
}

// Exit statuses.
constexpr int TUNEDEX_EXIT_OK = 0;
constexpr int TUNEDEX_EXIT_FAILURE = 1;
constexpr int TUNEDEX_EXIT_USAGE = 2;

// A command's arguments that cannot be carried out as given: exit status 2.
class EOrvoCliUsage : public Exception {
public:
    using Exception::Exception;
    explicit EOrvoCliUsage(std::string_view utf8Message) : Exception(FromUtf8(utf8Message)) {}
};

struct TOrvoCliContext {
    TOrvoHostSettings Settings;
    std::ostream& Out;
    std::ostream& Err;
};

class TOrvoCliCommand {
public:
    virtual ~TOrvoCliCommand() = default;
    virtual std::string Name() const = 0;
    virtual std::string Description() const = 0;
    // Adds the command's own options to its subcommand.
    virtual void DefineOptions(CLI::App& command) { (void)command; }
    // Does the work and answers the exit status; an exception raised here is reported on the
    // error stream with status 1.
    virtual int Run(TOrvoCliContext& context) = 0;
};

// Initialises the plug-in in the host; when it refuses, says why on the error stream and
// answers false.
bool InitializePlugin(TOrvoHost& host, TOrvoCliContext& context);
// Why the plug-in refused to initialise, for an error message; a damaged catalogue database is
// named with SQLite's reason and what to do.
std::string InitializationFailure(HRESULT result, const TOrvoHostSettings& settings);
// Runs a command's work and answers its status; an exception it raises is reported on the error
// stream, with status 2 for a usage error and 1 for anything else.
int RunReportingErrors(TOrvoCliContext& context, const std::function<int()>& work);

// The catalogue database the plug-in keeps in the settings' profile folder.
std::filesystem::path CatalogueDatabase(const TOrvoHostSettings& settings);
// Why the database file cannot serve as a catalogue (SQLite cannot read it, or a table lacks a
// column the catalogue keeps), or empty: also when it is missing, busy or merely has tables to
// be added. Never changes the file.
std::string CatalogueDamage(const std::filesystem::path& database);
// Moves the database, with its journal files, aside to "<name>.damaged-YYYYMMDD-HHMMSS" beside it,
// so that the plug-in starts an empty one; answers the new path. Raises when it cannot.
std::filesystem::path MoveDamagedCatalogue(const std::filesystem::path& database);

// The commands.
std::unique_ptr<TOrvoCliCommand> NewInfoCommand();
std::unique_ptr<TOrvoCliCommand> NewKindsCommand();
std::unique_ptr<TOrvoCliCommand> NewCatalogsCommand();
std::unique_ptr<TOrvoCliCommand> NewAddCommand();
std::unique_ptr<TOrvoCliCommand> NewEditCommand();
std::unique_ptr<TOrvoCliCommand> NewRemoveCommand();
std::unique_ptr<TOrvoCliCommand> NewResetCommand();
std::unique_ptr<TOrvoCliCommand> NewServersCommand();
std::unique_ptr<TOrvoCliCommand> NewValuesCommand();
std::unique_ptr<TOrvoCliCommand> NewDescribeCommand();
std::unique_ptr<TOrvoCliCommand> NewOpenCommand();
std::unique_ptr<TOrvoCliCommand> NewRefreshCommand();
std::unique_ptr<TOrvoCliCommand> NewStationsCommand();
std::unique_ptr<TOrvoCliCommand> NewPreviewCommand();
std::unique_ptr<TOrvoCliCommand> NewServeCommand();

class TOrvoCli {
public:
    // The program with every command registered.
    TOrvoCli();
    void AddCommand(std::unique_ptr<TOrvoCliCommand> command);
    // Parses the arguments (argv[0] is the program) and runs the command: 0 success,
    // 1 failure, 2 usage error. Output goes to `out`, errors to `err`.
    int Run(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

private:
    // Says that `word` names no command, and which one it may have meant.
    std::string UnknownCommand(std::string_view word) const;

    std::vector<std::unique_ptr<TOrvoCliCommand>> FCommands;
};
