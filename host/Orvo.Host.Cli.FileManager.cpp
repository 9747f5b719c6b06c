// `tunedex describe URL` and `tunedex open URL`: what the host's file manager learns of a stream
// address from the plug-in, and the station's home page it opens as the address's "folder".

#include "host/Orvo.Host.Cli.h"
#include "nuv/Nuv.Shell.h"
#include "platform/Platform.System.h"

#include <CLI/CLI.hpp>

#include <optional>
#include <ostream>

namespace {

class TDescribeCommand : public TOrvoCliCommand {
public:
    std::string Name() const override { return "describe"; }
    std::string Description() const override {
        return "Show the details of the station with a stream address";
    }
    void DefineOptions(CLI::App& command) override {
        command.add_option("URL", FAddress, "The station's stream address")->required();
    }

    int Run(TOrvoCliContext& context) override {
        TOrvoHost host(context.Settings);
        if (!InitializePlugin(host, context))
            return TUNEDEX_EXIT_FAILURE;
        ComPtr<IOrvoPropertyList> info;
        const HRESULT result = host.FileManager().DescribeFile(FromUtf8(FAddress), info);
        if (result == E_FAIL) {
            context.Err << "tunedex: no station in the catalogue has the address " << TerminalText(FAddress)
                        << '\n';
            return TUNEDEX_EXIT_FAILURE;
        }
        if (Failed(result)) {
            context.Err << "tunedex: the station could not be described (" << ResultCodeText(result) << ")\n";
            return TUNEDEX_EXIT_FAILURE;
        }
        const auto text = [&](int32_t id) { return TerminalText(ReadTextProp(info.get(), id)); };
        std::ostream& out = context.Out;
        out << "Name:         " << text(ORVO_FIP_TITLE) << '\n'
            << "Stream:       " << text(ORVO_FIP_FILENAME) << '\n'
            << "Genre:        " << text(ORVO_FIP_GENRE) << '\n'
            << "Bit rate:     ";
        // An unknown bit rate is stored as 0, which is no rate to show.
        if (const int32_t bitrate = ReadIntProp(info.get(), ORVO_FIP_BITRATE, 0); bitrate > 0)
            out << bitrate << " kbit/s";
        out << '\n'
            << "Home page:    " << text(ORVO_FIP_URL) << '\n'
            << "Description:  " << text(ORVO_FIP_DESCRIPTION) << '\n';
        host.Unload();
        return TUNEDEX_EXIT_OK;
    }

private:
    std::string FAddress;
};

// Takes what the plug-in hands to the shell, so the command can print it or open it itself.
class TShellCapture {
public:
    TShellCapture() {
        FPrevious = platform::SetShellOpenHandler([this](const std::string& target) { Target = target; });
    }
    ~TShellCapture() { platform::SetShellOpenHandler(std::move(FPrevious)); }
    TShellCapture(const TShellCapture&) = delete;
    TShellCapture& operator=(const TShellCapture&) = delete;

    std::string Target;

private:
    platform::ShellOpenHandler FPrevious;
};

class TOpenCommand : public TOrvoCliCommand {
public:
    std::string Name() const override { return "open"; }
    std::string Description() const override {
        return "Open the home page of the station with a stream address";
    }
    void DefineOptions(CLI::App& command) override {
        command.add_option("URL", FAddress, "The station's stream address")->required();
        command.add_flag("--print", FPrint, "Print what would be opened instead of opening it");
    }

    int Run(TOrvoCliContext& context) override {
        TOrvoHost host(context.Settings);
        if (!InitializePlugin(host, context))
            return TUNEDEX_EXIT_FAILURE;
        const std::u16string address = FromUtf8(FAddress);
        std::string target;
        HRESULT result;
        {
            TShellCapture shell;
            result = host.FileManager().OpenFileFolder(address);
            target = shell.Target;
        }
        // Refused: the station may still be there, with a home page that is no web page.
        std::optional<std::u16string> homePage;
        if (ComPtr<IOrvoPropertyList> info;
            result == E_FAIL && Succeeded(host.FileManager().DescribeFile(address, info)))
            homePage = ReadTextProp(info.get(), ORVO_FIP_URL);
        host.Unload();
        if (result == E_FAIL) {
            if (!homePage)
                context.Err << "tunedex: no station in the catalogue has the address "
                            << TerminalText(FAddress) << '\n';
            else if (homePage->empty())
                context.Err << "tunedex: the station " << TerminalText(FAddress) << " has no home page\n";
            else
                context.Err << "tunedex: the station's home page \"" << TerminalText(*homePage)
                            << "\" is not a web address (http or https), so it is not opened\n";
            return TUNEDEX_EXIT_FAILURE;
        }
        if (Failed(result)) {
            context.Err << "tunedex: the home page could not be opened (" << ResultCodeText(result) << ")\n";
            return TUNEDEX_EXIT_FAILURE;
        }
        // Only a web page goes to the desktop's opener, whatever the plug-in handed over.
        const std::string page = ToUtf8(WebPageAddress(FromUtf8(target)));
        if (page.empty()) {
            context.Err << "tunedex: the plug-in asked to open \"" << TerminalText(target)
                        << "\", which is not a web address (http or https), so it is not opened\n";
            return TUNEDEX_EXIT_FAILURE;
        }
        if (FPrint) {
            context.Out << TerminalText(page) << '\n';
            return TUNEDEX_EXIT_OK;
        }
        if (!platform::ShellOpen(page)) {
            context.Err << "tunedex: no program could be started to open " << TerminalText(page)
                        << " (xdg-open is missing or found no browser); open it yourself, or see it with "
                           "--print\n";
            return TUNEDEX_EXIT_FAILURE;
        }
        context.Out << "Opened " << TerminalText(page) << '\n';
        return TUNEDEX_EXIT_OK;
    }

private:
    std::string FAddress;
    bool FPrint = false;
};

} // namespace

std::unique_ptr<TOrvoCliCommand> NewDescribeCommand() {
    return std::make_unique<TDescribeCommand>();
}

std::unique_ptr<TOrvoCliCommand> NewOpenCommand() {
    return std::make_unique<TOpenCommand>();
}
