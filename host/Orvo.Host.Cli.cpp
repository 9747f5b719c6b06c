#include "host/Orvo.Host.Cli.h"

#include <CLI/CLI.hpp>

#include <climits>
#include <ostream>

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
}

std::string InitializationFailure(HRESULT result, const TOrvoHostSettings& settings) {
    std::string text = "the plug-in did not initialise (" + ResultCodeText(result) + ")";
    if (result == E_NOTIMPL)
        text += ": it refuses this host or host build " + std::to_string(settings.BuildNumber);
    return text;
}

bool InitializePlugin(TOrvoHost& host, TOrvoCliContext& context) {
    const HRESULT result = host.Initialize();
    if (Succeeded(result))
        return true;
    context.Err << "tunedex: " << InitializationFailure(result, context.Settings) << '\n';
    return false;
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

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e, out, err);
        return status == 0 ? TUNEDEX_EXIT_OK : TUNEDEX_EXIT_USAGE;
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
        err << "tunedex: " << e.what() << '\n';
        return TUNEDEX_EXIT_USAGE;
    }
    context.Settings.PluginFile = pluginFile;
    context.Settings.ProfileFolder = profileFolder;
    try {
        return chosen->Run(context);
    } catch (const EOrvoCliUsage& e) {
        err << "tunedex: " << e.what() << '\n';
        return TUNEDEX_EXIT_USAGE;
    } catch (const std::exception& e) {
        err << "tunedex: " << e.what() << '\n';
        return TUNEDEX_EXIT_FAILURE;
    }
}
