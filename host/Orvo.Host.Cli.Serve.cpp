// `tunedex serve`: the catalogue as a local web page. The plug-in is loaded once for the whole run;
// the page's requests reach it through the same host paths the other commands take, on this
// thread, which keeps the host's main loop running until Ctrl-C or SIGTERM.

#include "host/Orvo.Host.Cli.Process.h"
#include "host/Orvo.Host.Web.Api.h"
#include "platform/Platform.System.h"

#include <CLI/CLI.hpp>

#include <ostream>

namespace {

class TServeCommand : public TOrvoCliCommand {
public:
    std::string Name() const override { return "serve"; }
    std::string Description() const override {
        return "Serve the catalogue as a web page on this computer (127.0.0.1) until Ctrl-C";
    }
    void DefineOptions(CLI::App& command) override {
        command.add_option("--port", FPort, "Port to serve on (default: a free one)")
            ->check(CLI::Range(1, 65535))
            ->option_text("N");
        command.add_flag("--open", FOpen, "Open the page with the desktop's browser");
    }

    int Run(TOrvoCliContext& context) override {
        // The page changes catalogues; other commands that do wait until it ends.
        TOrvoCliProfileLock lock(context, false);
        const TOrvoCliPluginLog log;
        TOrvoHost host(context.Settings);
        if (!InitializePlugin(host, context))
            return TUNEDEX_EXIT_FAILURE;
        {
            TOrvoHostWebServer server(FPort);
            TOrvoHostWebApi api(context, host, log, server, platform::ExecutablePath());
            const TOrvoCliInterrupt interrupt(true);
            bool announced = false;
            ServeUntil(host, server, api, [&] {
                if (!announced) {
                    announced = true;
                    context.Out << "Serving the catalogue at " << server.Address() << std::endl;
                    if (FOpen && !platform::ShellOpen(server.Address()))
                        context.Err << "tunedex: no browser could be started (xdg-open is missing or found "
                                       "none); open the address yourself\n";
                }
                return interrupt.Interrupted();
            });
        }
        host.Unload();
        return TUNEDEX_EXIT_OK;
    }

private:
    int FPort = 0;
    bool FOpen = false;
};

} // namespace

std::unique_ptr<TOrvoCliCommand> NewServeCommand() {
    return std::make_unique<TServeCommand>();
}
