// `tunedex refresh [TITLE]`: the music library's refresh commands. Without a title the "refresh
// all" item runs; with one, the host selects that catalogue in its grouping tree (by the
// "Provider" field) and runs the "refresh catalog" item. The background task's caption is the
// progress until the run ends; the catalogue manager's list before and after gives the summary.
// Ctrl-C stops the run through the task's cancel button, as a person would.

#include "host/Orvo.Host.Cli.h"
#include "host/Orvo.Host.MusicLibrary.Browser.h"
#include "host/Orvo.Host.UI.Automation.h"
#include "platform/Platform.System.h"
#include "platform/Platform.Threads.h"

#include <CLI/CLI.hpp>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <ostream>

namespace {

constexpr std::u16string_view RefreshCatalogs = u"Orvo.Tunedex.Actions.RefreshCatalogs";
constexpr std::u16string_view RefreshCatalog = u"Orvo.Tunedex.Actions.RefreshCatalog";
// The background task the storage shows while catalogues are refreshed.
constexpr int32_t RefreshTask = 42;

// One row of the catalogue manager's list.
struct TCatalogueRow {
    std::u16string Title, Date, Count, ID;
};

// The manager's list, read as a person reads it: following the settings address opens it.
std::vector<TCatalogueRow> ListCatalogues(TOrvoHost& host) {
    std::vector<TCatalogueRow> rows;
    host.UI().WhenShownModally(u"frmTunedexManager", [&](TOrvoHostForm& form) {
        TOrvoHostUIDriver manager(form);
        for (const auto& row : manager.Rows(manager.TreeList()))
            if (row.size() >= 4)
                rows.push_back({row[0], row[1], row[2], row[3]});
        manager.CloseForm();
    });
    const HRESULT opened = host.FileSystems().OpenLink(u"tunedex://settings");
    host.UI().RethrowScriptError();
    if (Failed(opened))
        throw Exception(Format(u"the catalogue manager did not open (%s)", FromUtf8(ResultCodeText(opened))));
    return rows;
}

// Ctrl-C while the command waits: the flag is polled by the wait, which runs the cancel.
std::atomic<bool> Interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnInterrupt(int) {
    Interrupted.store(true);
}

class TInterruptHandler {
public:
    TInterruptHandler() {
        Interrupted.store(false);
        struct sigaction action = {};
        action.sa_handler = OnInterrupt;
        // Calls under way go on; the wait notices the flag within its next slice.
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &FPrevious);
    }
    ~TInterruptHandler() { sigaction(SIGINT, &FPrevious, nullptr); }
    TInterruptHandler(const TInterruptHandler&) = delete;
    TInterruptHandler& operator=(const TInterruptHandler&) = delete;

private:
    struct sigaction FPrevious = {};
};

// The plug-in's error log during a run: the reasons a catalogue was not refreshed. The plug-in
// logs only where TUNEDEX_LOG points, so without one the host points it at a file of its own for
// the run; a log the user configured is read from where it stood when the run began.
class TPluginLog {
public:
    TPluginLog() {
        if (const char* configured = std::getenv("TUNEDEX_LOG"); configured && *configured) {
            FPath = configured;
            std::error_code ignored;
            FStart = std::filesystem::file_size(FPath, ignored);
            if (ignored)
                FStart = 0;
        } else {
            FPath = platform::TemporaryFolder() + "/tunedex-refresh-" + std::to_string(getpid()) + ".log";
            std::filesystem::remove(FPath);
            setenv("TUNEDEX_LOG", FPath.c_str(), 1);
            FOwned = true;
        }
    }
    ~TPluginLog() {
        if (!FOwned)
            return;
        unsetenv("TUNEDEX_LOG");
        std::error_code ignored;
        std::filesystem::remove(FPath, ignored);
    }
    TPluginLog(const TPluginLog&) = delete;
    TPluginLog& operator=(const TPluginLog&) = delete;

    // Why the run did not refresh the catalogue with the title, or empty.
    std::u16string ErrorOf(const std::u16string& title) const { return Find("[App] Tunedex: ", title); }
    // Where the document of a refreshed catalogue stopped short, or empty.
    std::u16string WarningOf(const std::u16string& title) const {
        return Find("[App] Tunedex warning: ", title);
    }

private:
    std::u16string Find(const std::string& kind, const std::u16string& title) const {
        std::ifstream in(FPath, std::ios::binary);
        in.seekg(std::streamoff(FStart));
        const std::string marker = kind + ToUtf8(title) + ": ";
        for (std::string line; std::getline(in, line);)
            if (const size_t at = line.find(marker); at != std::string::npos)
                return FromUtf8(line.substr(at + marker.size()));
        return {};
    }

    std::string FPath;
    uintmax_t FStart = 0;
    bool FOwned = false;
};

class TRefreshCommand : public TOrvoCliCommand {
public:
    std::string Name() const override { return "refresh"; }
    std::string Description() const override {
        return "Refresh every catalogue, or the one with a title, showing the progress until it ends";
    }
    void DefineOptions(CLI::App& command) override {
        command.add_option("TITLE", FTitle, "Title of the catalogue to refresh (default: every catalogue)");
        command.add_flag("--no-wait", FNoWait,
                         "Return once the refresh is queued; it goes on in the background");
        command.add_flag("--progress", FProgress,
                         "Write the progress line by line even when the output is no terminal");
    }

    int Run(TOrvoCliContext& context) override {
        if (FNoWait)
            return RunInBackground(context);
        return Refresh(context, nullptr);
    }

private:
    // What a background refresh tells the command that started it: the refresh is queued, or
    // why it is not.
    using TQueuedReport = std::function<void(const std::string& error)>;

    int Refresh(TOrvoCliContext& context, const TQueuedReport& queued) {
        // Before the plug-in loads: it reads where to log once.
        TPluginLog log;
        TOrvoHost host(context.Settings);
        if (!InitializePlugin(host, context)) {
            if (queued)
                queued("the plug-in did not initialise");
            return TUNEDEX_EXIT_FAILURE;
        }
        const std::vector<TCatalogueRow> before = ListCatalogues(host);
        const std::u16string title = FromUtf8(FTitle);
        std::vector<std::u16string> targets;
        for (const TCatalogueRow& row : before)
            if (title.empty() || row.Title == title)
                targets.push_back(row.ID);
        if (const std::string refused = Unrefreshable(before, targets, title); !refused.empty()) {
            context.Err << "tunedex: " << refused << '\n';
            if (queued)
                queued(refused);
            return TUNEDEX_EXIT_FAILURE;
        }

        TOrvoHostMLBrowser browser(host.Core());
        TOrvoHostMusicLibraryUI& library = host.MusicLibraryUI();
        library.SelectGroupingNode(
            title.empty() ? std::vector<TOrvoHostMusicLibraryUI::TGroupingLevel>{}
                          : std::vector<TOrvoHostMusicLibraryUI::TGroupingLevel>{{u"Provider", title}});
        const std::u16string_view action = title.empty() ? RefreshCatalogs : RefreshCatalog;
        const std::vector<TOrvoHostMenuEntry> menu = host.Menus().Show(ORVO_MENU_MUSIC_LIBRARY);
        const auto item = std::find_if(menu.begin(), menu.end(),
                                       [&](const TOrvoHostMenuEntry& entry) { return entry.ID == action; });
        std::string refused;
        if (item == menu.end() || !item->Visible)
            refused = "the music library offers no command to refresh " +
                      (title.empty() ? std::string("the catalogues") : "\"" + FTitle + "\"");
        else if (!item->Enabled)
            refused = "no catalogue holds stations yet, so there is nothing to refresh all at once; "
                      "refresh a catalogue by its title";
        const int64_t shownBefore = browser.Manager().TasksShown();
        if (refused.empty())
            if (const HRESULT chosen = host.Menus().Choose(action); Failed(chosen))
                refused = "the refresh command failed (" + ResultCodeText(chosen) + ")";
        if (!refused.empty()) {
            context.Err << "tunedex: " << refused << '\n';
            if (queued)
                queued(refused);
            return TUNEDEX_EXIT_FAILURE;
        }
        if (queued)
            queued({});

        const bool cancelled = WaitForRun(context, host, browser, shownBefore);
        return Summarise(context, before, ListCatalogues(host), targets, cancelled, log);
    }

    // Why the catalogues cannot be refreshed, or empty when they can.
    std::string Unrefreshable(const std::vector<TCatalogueRow>& catalogues,
                              const std::vector<std::u16string>& targets, const std::u16string& title) const {
        if (catalogues.empty())
            return "there are no catalogues yet; add one with 'tunedex add'";
        if (!targets.empty())
            return {};
        std::vector<std::u16string> titles;
        for (const TCatalogueRow& row : catalogues)
            titles.push_back(u"\"" + row.Title + u"\"");
        return ToUtf8(
            Format(u"no catalogue is titled \"%s\"; the titles are %s", title, Join(titles, u", ")));
    }

    // Shows the task's caption until the run has ended; answers whether Ctrl-C cancelled it.
    // `shownBefore` is the manager's count of shown tasks from before the command ran.
    bool WaitForRun(TOrvoCliContext& context, TOrvoHost& host, TOrvoHostMLBrowser& browser,
                    int64_t shownBefore) {
        TOrvoHostMLStorageManager& tasks = browser.Manager();
        const bool terminal = &context.Out == &std::cout && isatty(STDOUT_FILENO);
        TOrvoHostTaskDisplay display(context.Out, terminal);
        std::u16string lastLine;
        const auto show = [&] {
            const std::vector<TOrvoHostMLTask> shown = tasks.Tasks();
            display.Show(shown);
            if (terminal || !FProgress)
                return;
            for (const TOrvoHostMLTask& task : shown)
                if (task.ID == RefreshTask && task.Caption != lastLine)
                    context.Out << ToUtf8(lastLine = task.Caption) << '\n' << std::flush;
        };

        TInterruptHandler interrupt;
        bool started = false, cancelled = false;
        // The task appears once the run has begun and goes when it has ended; both steps come to
        // the main thread in order, and the pump looks after each call it serves.
        const auto done = [&] { return started && !tasks.HasTasks(); };
        const auto wake = [&] {
            show();
            started = started || tasks.TasksShown() > shownBefore;
            return done() || (Interrupted.load() && !cancelled && tasks.HasTasks());
        };
        while (!done()) {
            if (Interrupted.load() && !cancelled && tasks.HasTasks()) {
                cancelled = true;
                display.Clear();
                context.Out << "Cancelling...\n" << std::flush;
                // Cancelling waits for the run's current step; every catalogue keeps its stations
                // as they were before the run or as the run stored them.
                tasks.CancelTask(RefreshTask);
            }
            if (!host.RunUntil(wake, started ? platform::Infinite : StartTimeoutMs) && !started)
                throw Exception(u"the refresh did not start");
        }
        display.Clear();
        return cancelled;
    }

    int Summarise(TOrvoCliContext& context, const std::vector<TCatalogueRow>& before,
                  const std::vector<TCatalogueRow>& after, const std::vector<std::u16string>& targets,
                  bool cancelled, const TPluginLog& log) const {
        std::map<std::u16string, std::u16string> datesBefore;
        for (const TCatalogueRow& row : before)
            datesBefore[row.ID] = row.Date;
        int64_t stations = 0;
        size_t refreshed = 0;
        std::vector<std::pair<std::u16string, std::u16string>> failed, stopped;
        for (const TCatalogueRow& row : after) {
            stations += StrToIntDef(row.Count, 0);
            if (std::find(targets.begin(), targets.end(), row.ID) == targets.end())
                continue;
            // A cancelled run leaves the catalogues it did not reach as they were, without a
            // reason; their date tells. Otherwise each catalogue is either stored or has its reason.
            if (cancelled) {
                refreshed += row.Date != datesBefore[row.ID];
            } else if (std::u16string error = log.ErrorOf(row.Title); !error.empty()) {
                failed.emplace_back(row.Title, std::move(error));
            } else {
                ++refreshed;
                if (std::u16string warning = log.WarningOf(row.Title); !warning.empty())
                    stopped.emplace_back(row.Title, std::move(warning));
            }
        }
        context.Out << (cancelled ? "Cancelled. " : "") << "Refreshed " << refreshed << " of "
                    << targets.size() << (targets.size() == 1 ? " catalogue" : " catalogues") << "; "
                    << stations << " stations now.\n";
        for (const auto& [title, warning] : stopped)
            context.Err << "tunedex: warning: \"" << ToUtf8(title)
                        << "\" kept what was read before its document stopped: " << ToUtf8(warning) << '\n';
        for (const auto& [title, error] : failed)
            context.Err << "tunedex: \"" << ToUtf8(title) << "\" was not refreshed: " << ToUtf8(error)
                        << '\n';
        return cancelled || !failed.empty() ? TUNEDEX_EXIT_FAILURE : TUNEDEX_EXIT_OK;
    }

    // Runs the refresh in a process of its own that outlives this one, and returns once it has
    // queued the refresh. The child starts before this process has any thread.
    int RunInBackground(TOrvoCliContext& context) {
        int channel[2];
        if (pipe(channel) != 0)
            throw Exception(u"cannot start the background refresh (pipe)");
        std::cout.flush();
        std::cerr.flush();
        const pid_t child = fork();
        if (child < 0) {
            close(channel[0]);
            close(channel[1]);
            throw Exception(u"cannot start the background refresh (fork)");
        }
        if (child == 0) {
            close(channel[0]);
            setsid();
            // Nobody reads the child's output; its outcome stays in the catalogue.
            if (const int null = open("/dev/null", O_RDWR); null >= 0) {
                dup2(null, STDIN_FILENO);
                dup2(null, STDOUT_FILENO);
                dup2(null, STDERR_FILENO);
                if (null > STDERR_FILENO)
                    close(null);
            }
            signal(SIGINT, SIG_IGN);
            int status = TUNEDEX_EXIT_FAILURE;
            bool reported = false;
            const auto report = [&](const std::string& error) {
                const std::string message = error.empty() ? "Q" : "E" + error;
                [[maybe_unused]] const ssize_t written = write(channel[1], message.data(), message.size());
                close(channel[1]);
                reported = true;
            };
            try {
                status = Refresh(context, report);
            } catch (const std::exception& e) {
                if (!reported)
                    report(e.what());
            }
            if (!reported)
                report("the refresh did not start");
            std::cout.flush();
            _exit(status);
        }
        close(channel[1]);
        std::string answer;
        char buffer[512];
        for (ssize_t n; (n = read(channel[0], buffer, sizeof buffer)) != 0;) {
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                break;
            answer.append(buffer, size_t(n));
        }
        close(channel[0]);
        if (answer == "Q") {
            context.Out << "Refresh queued; it goes on in the background.\n";
            return TUNEDEX_EXIT_OK;
        }
        context.Err << "tunedex: " << (answer.size() > 1 ? answer.substr(1) : "the refresh did not start")
                    << '\n';
        return TUNEDEX_EXIT_FAILURE;
    }

    static constexpr uint32_t StartTimeoutMs = 30000;

    std::string FTitle;
    bool FNoWait = false;
    bool FProgress = false;
};

} // namespace

std::unique_ptr<TOrvoCliCommand> NewRefreshCommand() {
    return std::make_unique<TRefreshCommand>();
}
