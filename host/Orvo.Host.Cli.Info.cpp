// `tunedex info`: the plug-in's texts, and whether the host passed its checks.

#include "host/Orvo.Host.Cli.h"

#include <ostream>

namespace {

class TInfoCommand : public TOrvoCliCommand {
public:
    std::string Name() const override { return "info"; }
    std::string Description() const override {
        return "Show the plug-in's texts and whether it initialises in this host";
    }

    int Run(TOrvoCliContext& context) override {
        TOrvoHost host(context.Settings);
        TOrvoHostPluginModule& module = host.Load();
        std::ostream& out = context.Out;
        out << "Name:          " << TerminalText(module.InfoText(0)) << '\n'
            << "Author:        " << TerminalText(module.InfoText(1)) << '\n'
            << "Description:   " << TerminalText(module.InfoText(2)) << '\n'
            << "Requirements:  " << TerminalText(module.InfoText(3)) << '\n'
            << "CategoryMask:  " << module.Plugin().CategoryMask() << '\n'
            << "Plug-in:       " << host.PluginFile().string() << '\n'
            << "Profile:       " << host.ProfileFolder().string() << '\n'
            << "Host build:    " << context.Settings.BuildNumber << '\n';

        const HRESULT result = host.Initialize();
        if (Failed(result)) {
            out.flush();
            context.Err << "tunedex: " << InitializationFailure(result, context.Settings) << '\n';
            return TUNEDEX_EXIT_FAILURE;
        }
        out << "Initialisation succeeded.\n";
        host.Unload();
        return TUNEDEX_EXIT_OK;
    }
};

} // namespace

std::unique_ptr<TOrvoCliCommand> NewInfoCommand() {
    return std::make_unique<TInfoCommand>();
}
