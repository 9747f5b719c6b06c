// `tunedex refresh [TITLE]`: the music library's refresh commands. Without a title the "refresh
// all" item runs; with one, the host selects that catalogue in its grouping tree (by the
// "Provider" field) and runs the "refresh catalog" item. The background task's caption is the
// progress until the run ends; the catalogue manager's list before and after gives the summary.
// Ctrl-C stops the run through the task's cancel button, as a person would.

#include "host/Orvo.Host.Cli.Refresh.h"
#include "host/Orvo.Host.Cli.Process.h"
#include "host/Orvo.Host.UI.Automation.h"
#include "platform/Platform.Files.h"
#include "platform/Platform.Threads.h"
#include "sdk/api/OrvoAPI.Tunedex.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <atomic>
#include <iostream>
#include <map>
#include <ostream>

std::vector<TOrvoCliManager::TRow> ListCatalogues(TOrvoHost& host) {
    std::vector<TOrvoCliManager::TRow> rows;
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

std::string Unrefreshable(const std::vector<TOrvoCliManager::TRow>& catalogues,
                          const std::vector<std::u16string>& targets, const std::u16string& title) {
    if (catalogues.empty())
        return "there are no catalogues yet; add one with 'tunedex add'";
    if (targets.size() > 1 && !title.empty())
        return ToUtf8(Format(u"%d catalogues are titled \"%s\" (ids %s); refreshing one of them needs a "
                             u"title of its own: 'tunedex edit ID --title TEXT'",
                             int64_t(targets.size()), title, Join(targets, u", ")));
    if (!targets.empty())
        return {};
    std::vector<std::u16string> titles;
    for (const TOrvoCliManager::TRow& row : catalogues)
        titles.push_back(u"\"" + row.Title + u"\"");
    return ToUtf8(Format(u"no catalogue is titled \"%s\"; the titles are %s", title, Join(titles, u", ")));
}

std::string ChooseRefresh(TOrvoHost& host, TOrvoHostMLBrowser& browser, const std::u16string& title,
                          std::vector<std::u16string>& later, int64_t& shownBefore) {
    TOrvoHostMusicLibraryUI& library = host.MusicLibraryUI();
    library.SelectGroupingNode(
        title.empty() ? std::vector<TOrvoHostMusicLibraryUI::TGroupingLevel>{}
                      : std::vector<TOrvoHostMusicLibraryUI::TGroupingLevel>{{u"Provider", title}});
    const std::u16string_view action =
        title.empty() ? TUNEDEX_ACTION_REFRESH_CATALOGS : TUNEDEX_ACTION_REFRESH_CATALOG;
    const std::vector<TOrvoHostMenuEntry> menu = host.Menus().Show(ORVO_MENU_MUSIC_LIBRARY);
    const auto item = std::find_if(menu.begin(), menu.end(),
                                   [&](const TOrvoHostMenuEntry& entry) { return entry.ID == action; });
    if (item == menu.end() || !item->Visible)
        return "the music library offers no command to refresh " +
               (title.empty() ? std::string("the catalogues") : "\"" + ToUtf8(title) + "\"");
    if (!item->Enabled) {
        later.clear();
        for (const TOrvoCliManager::TRow& row : ListCatalogues(host))
            if (std::find(later.begin(), later.end(), row.Title) == later.end())
                later.push_back(row.Title);
        const std::u16string first = later.front();
        later.erase(later.begin());
        return ChooseRefresh(host, browser, first, later, shownBefore);
    }
    shownBefore = browser.Manager().TasksShown();
    if (const HRESULT chosen = host.Menus().Choose(action); Failed(chosen))
        return "the refresh command failed (" + ResultCodeText(chosen) + ")";
    return {};
}

std::string TOrvoCliRefreshSummary::Line() const {
    return std::string(Cancelled ? "Cancelled. " : "") + "Refreshed " + std::to_string(Refreshed) + " of " +
           std::to_string(Targets) + (Targets == 1 ? " catalogue" : " catalogues") + "; " +
           std::to_string(Stations) + (Stations == 1 ? " station" : " stations") + " now.";
}

TOrvoCliRefreshSummary SummariseRefresh(const std::vector<TOrvoCliManager::TRow>& before,
                                        const std::vector<TOrvoCliManager::TRow>& after,
                                        const std::vector<std::u16string>& targets, bool cancelled,
                                        const TOrvoCliPluginLog& log) {
    TOrvoCliRefreshSummary summary;
    summary.Cancelled = cancelled;
    summary.Targets = targets.size();
    std::map<std::u16string, std::u16string> datesBefore;
    for (const TOrvoCliManager::TRow& row : before)
        datesBefore[row.ID] = row.Updated;
    for (const TOrvoCliManager::TRow& row : after) {
        summary.Stations += StrToIntDef(row.Count, 0);
        if (std::find(targets.begin(), targets.end(), row.ID) == targets.end())
            continue;
        // A cancelled run leaves the catalogues it did not reach as they were, without a
        // reason; their date tells. Otherwise each catalogue is either stored or has its reason.
        if (cancelled) {
            summary.Refreshed += row.Updated != datesBefore[row.ID];
        } else if (std::u16string error = log.ErrorOf(row.Title); !error.empty()) {
            summary.Failed.emplace_back(row.Title, std::move(error));
        } else {
            ++summary.Refreshed;
            if (std::u16string warning = log.WarningOf(row.Title); !warning.empty())
                summary.Stopped.emplace_back(row.Title, std::move(warning));
        }
    }
    return summary;
}

namespace {

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
        return RunChangingCatalogues(
            context, FNoWait,
            [this](TOrvoCliContext& c, const TOrvoCliDetach& detach) { return Refresh(c, detach); });
    }

private:
    // `detach`, when set, lets the command return once the refresh is queued.
    int Refresh(TOrvoCliContext& context, const TOrvoCliDetach& detach) {
        TOrvoCliPluginLog log;
        TOrvoHost host(context.Settings);
        if (!InitializePlugin(host, context))
            return TUNEDEX_EXIT_FAILURE;
        const std::vector<TOrvoCliManager::TRow> before = ListCatalogues(host);
        const std::u16string title = TitleAsStored(FromUtf8(FTitle));
        std::vector<std::u16string> targets;
        for (const TOrvoCliManager::TRow& row : before)
            if (title.empty() || row.Title == title)
                targets.push_back(row.ID);
        if (const std::string refused = Unrefreshable(before, targets, title); !refused.empty()) {
            context.Err << "tunedex: " << TerminalText(refused) << '\n';
            return TUNEDEX_EXIT_FAILURE;
        }

        TOrvoHostMLBrowser browser(host.Core());
        std::vector<std::u16string> titles;
        std::string refused = ChooseRefresh(host, browser, title, titles, FShownBefore);
        if (!refused.empty()) {
            context.Err << "tunedex: " << TerminalText(refused) << '\n';
            return TUNEDEX_EXIT_FAILURE;
        }
        if (detach) {
            context.Out << "Refresh queued; it goes on in the background.\n";
            detach(TUNEDEX_EXIT_OK);
        }
        // While no catalogue holds stations the library offers no refresh of them all: each is
        // refreshed by its title instead, one run after the other.
        bool cancelled = false;
        for (size_t i = 0;; ++i) {
            cancelled = WaitForRun(context, host, browser, FShownBefore);
            if (cancelled || i >= titles.size())
                break;
            std::vector<std::u16string> none;
            if (refused = ChooseRefresh(host, browser, std::u16string(titles[i]), none, FShownBefore);
                !refused.empty())
                break;
        }
        const int status = Summarise(context, before, ListCatalogues(host), targets, cancelled, log);
        if (!refused.empty()) {
            context.Err << "tunedex: " << TerminalText(refused) << '\n';
            return TUNEDEX_EXIT_FAILURE;
        }
        return status;
    }

    // Shows the task's caption until the run has ended; answers whether Ctrl-C cancelled it.
    // `shownBefore` is the manager's count of shown tasks from before the command ran.
    bool WaitForRun(TOrvoCliContext& context, TOrvoHost& host, TOrvoHostMLBrowser& browser,
                    int64_t shownBefore) {
        TOrvoHostMLStorageManager& tasks = browser.Manager();
        const bool terminal = &context.Out == &std::cout && platform::StandardOutputIsTerminal();
        TOrvoHostTaskDisplay display(context.Out, terminal);
        TOrvoHostTaskLog lines(context.Out);
        const auto show = [&] {
            const std::vector<TOrvoHostMLTask> shown = tasks.Tasks();
            display.Show(shown);
            if (terminal || !FProgress)
                return;
            for (const TOrvoHostMLTask& task : shown)
                if (task.ID == TUNEDEX_ML_UPDATE_TASK)
                    lines.Show(task.Caption);
        };

        const TOrvoCliInterrupt interrupt;
        bool started = false, cancelled = false;
        // The task appears once the run has begun and goes when it has ended; both steps come to
        // the main thread in order, and the pump looks after each call it serves.
        const auto done = [&] { return started && !tasks.HasTasks(); };
        const auto wake = [&] {
            show();
            started = started || tasks.TasksShown() > shownBefore;
            return done() || (interrupt.Interrupted() && !cancelled && tasks.HasTasks());
        };
        while (!done()) {
            if (interrupt.Interrupted() && !cancelled && tasks.HasTasks()) {
                cancelled = true;
                display.Clear();
                context.Out << "Cancelling...\n" << std::flush;
                // Cancelling waits for the run's current step; every catalogue keeps its stations
                // as they were before the run or as the run stored them.
                tasks.CancelTask(TUNEDEX_ML_UPDATE_TASK);
            }
            if (!host.RunUntil(wake, started ? platform::Infinite : StartTimeoutMs) && !started)
                throw Exception(u"the refresh did not start");
        }
        display.Clear();
        return cancelled;
    }

    int Summarise(TOrvoCliContext& context, const std::vector<TOrvoCliManager::TRow>& before,
                  const std::vector<TOrvoCliManager::TRow>& after, const std::vector<std::u16string>& targets,
                  bool cancelled, const TOrvoCliPluginLog& log) const {
        const TOrvoCliRefreshSummary summary = SummariseRefresh(before, after, targets, cancelled, log);
        context.Out << summary.Line() << '\n';
        for (const auto& [title, warning] : summary.Stopped)
            context.Err << "tunedex: warning: \"" << TerminalText(title)
                        << "\" kept what was read before its document stopped: "
                        << TerminalMessage(ToUtf8(warning)) << '\n';
        for (const auto& [title, error] : summary.Failed)
            context.Err << "tunedex: \"" << TerminalText(title)
                        << "\" was not refreshed: " << TerminalMessage(ToUtf8(error)) << '\n';
        return cancelled || !summary.Failed.empty() ? TUNEDEX_EXIT_FAILURE : TUNEDEX_EXIT_OK;
    }

    static constexpr uint32_t StartTimeoutMs = 30000;

    std::string FTitle;
    bool FNoWait = false;
    bool FProgress = false;
    // The manager's count of shown tasks from before the last refresh was chosen.
    int64_t FShownBefore = 0;
};

} // namespace

std::unique_ptr<TOrvoCliCommand> NewRefreshCommand() {
    return std::make_unique<TRefreshCommand>();
}
