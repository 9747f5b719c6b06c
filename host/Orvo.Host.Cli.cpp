#include "host/Orvo.Host.Cli.h"

#include <CLI/CLI.hpp>

#include <sqlite3.h>

#include <algorithm>
#include <climits>
#include <ctime>
#include <memory>
#include <ostream>
#include <set>
#include <string_view>

TOrvoCli::TOrvoCli() {
    AddCommand(NewInfoCommand());
    AddCommand(NewKindsCommand());
    AddCommand(NewCatalogsCommand());
    AddCommand(NewAddCommand());
    AddCommand(NewEditCommand());
    AddCommand(NewRemoveCommand());
    AddCommand(NewResetCommand());
    AddCommand(NewServersCommand());
    AddCommand(NewValuesCommand());
    AddCommand(NewDescribeCommand());
    AddCommand(NewOpenCommand());
    AddCommand(NewRefreshCommand());
    AddCommand(NewStationsCommand());
    AddCommand(NewPreviewCommand());
    AddCommand(NewServeCommand());
}

namespace {

// The columns the catalogue reads and writes, by table.
const std::vector<std::pair<const char*, std::vector<const char*>>> kCatalogueColumns = {
    {"Entries",
     {"ID", "FileName", "CatUIID", "Name", "Description", "Genre", "FileFormat", "Bitrate", "Tags", "Country",
      "HomeURL", "Logo"}},
    {"Logos", {"ID", "Data"}},
    {"Providers", {"UUID", "Class", "Date", "Data", "Title", "UserAgent", "Count"}},
};

} // namespace

std::filesystem::path CatalogueDatabase(const TOrvoHostSettings& settings) {
    const std::filesystem::path folder =
        settings.ProfileFolder.empty() ? TOrvoHost::DefaultProfileFolder() : settings.ProfileFolder;
    return std::filesystem::absolute(folder / "Tunedex.db").lexically_normal();
}

std::string CatalogueDamage(const std::filesystem::path& database) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(database, error))
        return {};
    sqlite3* connection = nullptr;
    std::unique_ptr<sqlite3, int (*)(sqlite3*)> owner(nullptr, sqlite3_close);
    if (sqlite3_open_v2(database.string().c_str(), &connection, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(connection);
        return {};
    }
    owner.reset(connection);
    std::string damage;
    for (const auto& [table, columns] : kCatalogueColumns) {
        sqlite3_stmt* raw = nullptr;
        const std::string sql = std::string("PRAGMA table_info(\"") + table + "\")";
        const int prepared = sqlite3_prepare_v2(connection, sql.c_str(), -1, &raw, nullptr);
        std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> statement(raw, sqlite3_finalize);
        std::vector<std::string> found;
        int step = prepared;
        while (prepared == SQLITE_OK && (step = sqlite3_step(raw)) == SQLITE_ROW)
            found.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(raw, 1)));
        if (step != SQLITE_OK && step != SQLITE_DONE) {
            // Busy or locked is another program at work, not damage.
            const int code = sqlite3_extended_errcode(connection) & 0xFF;
            return code == SQLITE_NOTADB || code == SQLITE_CORRUPT ? sqlite3_errmsg(connection)
                                                                   : std::string();
        }
        // A missing table is added by the plug-in; one without the catalogue's columns is not its.
        for (const char* column : columns)
            if (!found.empty() && std::find(found.begin(), found.end(), column) == found.end() &&
                damage.empty())
                damage = std::string("its table ") + table + " has no column " + column;
    }
    return damage;
}

std::filesystem::path MoveDamagedCatalogue(const std::filesystem::path& database) {
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    std::filesystem::path moved = database;
    moved += std::string(".damaged-") + stamp;
    // Never over another file kept aside.
    for (int n = 2; std::filesystem::exists(moved); ++n) {
        moved = database;
        moved += std::string(".damaged-") + stamp + "-" + std::to_string(n);
    }
    std::filesystem::rename(database, moved);
    for (const char* journal : {"-journal", "-wal", "-shm"}) {
        std::filesystem::path from = database, to = moved;
        from += journal;
        to += journal;
        std::error_code error;
        if (std::filesystem::exists(from, error))
            std::filesystem::rename(from, to);
    }
    return moved;
}

std::string InitializationFailure(HRESULT result, const TOrvoHostSettings& settings) {
    if (result != E_NOTIMPL) {
        const std::filesystem::path database = CatalogueDatabase(settings);
        if (const std::string damage = CatalogueDamage(database); !damage.empty())
            return "the catalogue database " + database.string() + " could not be opened: " + damage +
                   ". Move it away, or run 'tunedex reset', which moves it aside to " +
                   database.filename().string() + ".damaged-DATE-TIME and starts an empty catalogue";
    }
    std::string text = "the plug-in did not initialise (" + ResultCodeText(result) + ")";
    if (result == E_NOTIMPL)
        text += ": it refuses this host or host build " + std::to_string(settings.BuildNumber);
    else if (result == E_UNEXPECTED)
        text += ": it raised an error; set TUNEDEX_LOG=FILE to have it written there";
    return text;
}

bool InitializePlugin(TOrvoHost& host, TOrvoCliContext& context) {
    const HRESULT result = host.Initialize();
    if (Succeeded(result))
        return true;
    context.Err << "tunedex: " << InitializationFailure(result, context.Settings) << '\n';
    return false;
}

namespace {

// The first argument that is not a global option or its value: the command's name.
std::string FirstWord(int argc, const char* const* argv) {
    static const std::set<std::string_view> withValue = {"--plugin", "--profile", "--host-build",
                                                         "--proxy",  "--timeout", "--user-agent"};
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--")
            return i + 1 < argc ? argv[i + 1] : "";
        if (!arg.starts_with("-"))
            return std::string(arg);
        if (withValue.contains(arg))
            ++i;
    }
    return {};
}

CLI::App* SubcommandOf(CLI::App& app, const std::string& name) {
    for (CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; }))
        if (sub->get_name() == name)
            return sub;
    return nullptr;
}

size_t EditDistance(std::string_view a, std::string_view b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

} // namespace

std::string TOrvoCli::UnknownCommand(std::string_view word) const {
    std::string best;
    size_t bestDistance = 3;
    for (const auto& command : FCommands)
        if (const size_t d = EditDistance(word, command->Name()); d < bestDistance) {
            bestDistance = d;
            best = command->Name();
        }
    const std::string text = "unknown command '" + std::string(word) + "'; ";
    return text + (best.empty() ? "'tunedex help' lists the commands" : "did you mean '" + best + "'?");
}

void TOrvoCli::AddCommand(std::unique_ptr<TOrvoCliCommand> command) {
    FCommands.push_back(std::move(command));
}

int TOrvoCli::Run(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    CLI::App app("Tunedex, an Internet radio catalogue, run by the Orvo reference host.", "tunedex");
    TOrvoCliContext context{{}, out, err};
    std::string pluginFile, profileFolder;
    app.add_option("--plugin", pluginFile, "Plug-in library to load (default: beside the program)")
        ->option_text("FILE");
    app.add_option(
           "--profile", profileFolder,
           "Profile folder (default: $TUNEDEX_PROFILE, $XDG_DATA_HOME/tunedex or ~/.local/share/tunedex)")
        ->option_text("DIR");
    app.add_option("--host-build", context.Settings.BuildNumber, "Build number the host reports")
        ->option_text("N")
        ->check(CLI::Range(0, INT_MAX));
    std::string proxy, timeout, userAgent;
    app.add_option("--proxy", proxy,
                   "Proxy for downloads: direct, system or [SCHEME://][USER[:PASSWORD]@]HOST[:PORT] "
                   "(default: $TUNEDEX_PROXY, else system)")
        ->option_text("PROXY");
    app.add_option("--timeout", timeout,
                   "Milliseconds allowed for connecting and for any pause in a download, "
                   "1000 to 30000 (default: $TUNEDEX_TIMEOUT, else 5000)")
        ->option_text("MS");
    app.add_option("--user-agent", userAgent,
                   "User agent for downloads (default: $TUNEDEX_USER_AGENT, else the plug-in's own)")
        ->option_text("TEXT");
    app.require_subcommand(1);
    app.fallthrough();

    TOrvoCliCommand* chosen = nullptr;
    for (auto& command : FCommands) {
        CLI::App* sub = app.add_subcommand(command->Name(), command->Description());
        command->DefineOptions(*sub);
        sub->callback([&chosen, c = command.get()] { chosen = c; });
    }
    std::string helpTopic;
    CLI::App* help = app.add_subcommand("help", "Show what the commands do, or the options of one");
    help->add_option("COMMAND", helpTopic, "The command to explain");

    // CLI11 takes a misspelt command for a stray argument; say what it is instead.
    if (const std::string word = FirstWord(argc, argv); !word.empty() && !SubcommandOf(app, word)) {
        err << "tunedex: " << UnknownCommand(word) << '\n';
        return TUNEDEX_EXIT_USAGE;
    }
    // Once a command is parsed, the program's help gives that command's.
    const std::string overview = app.help();
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e, out, err);
        return status == 0 ? TUNEDEX_EXIT_OK : TUNEDEX_EXIT_USAGE;
    }
    if (help->parsed()) {
        if (helpTopic.empty()) {
            out << overview;
            return TUNEDEX_EXIT_OK;
        }
        CLI::App* topic = SubcommandOf(app, helpTopic);
        if (!topic) {
            err << "tunedex: " << UnknownCommand(helpTopic) << '\n';
            return TUNEDEX_EXIT_USAGE;
        }
        out << topic->help();
        return TUNEDEX_EXIT_OK;
    }
    if (!chosen)
        return TUNEDEX_EXIT_USAGE;

    try {
        // Options win over the environment.
        TOrvoHostConnection& connection = context.Settings.Connection;
        connection = TOrvoHostConnection::FromEnvironment();
        if (!proxy.empty())
            connection.SetProxy(proxy);
        if (!timeout.empty())
            connection.SetTimeout(timeout);
        if (!userAgent.empty())
            connection.SetUserAgent(userAgent);
    } catch (const EArgumentError& e) {
        err << "tunedex: " << TerminalMessage(e.what()) << '\n';
        return TUNEDEX_EXIT_USAGE;
    }
    context.Settings.PluginFile = pluginFile;
    context.Settings.ProfileFolder = profileFolder;
    return RunReportingErrors(context, [&] { return chosen->Run(context); });
}

int RunReportingErrors(TOrvoCliContext& context, const std::function<int()>& work) {
    try {
        return work();
    } catch (const EOrvoCliUsage& e) {
        context.Err << "tunedex: " << TerminalMessage(e.what()) << '\n';
        return TUNEDEX_EXIT_USAGE;
    } catch (const std::exception& e) {
        context.Err << "tunedex: " << TerminalMessage(e.what()) << '\n';
        return TUNEDEX_EXIT_FAILURE;
    }
}
