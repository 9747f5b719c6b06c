#pragma once
// What the refresh command shares with the local web page: the catalogue manager's list read as a
// person reads it, the choice of the music library's refresh command for one catalogue or all,
// and the summary of a run from the list before and after it and the plug-in's log.
//
// Thread-safety: main thread, like the dialogs and menus.

#include "host/Orvo.Host.Cli.Dialogs.h"
#include "host/Orvo.Host.MusicLibrary.Browser.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// The manager's list: following the settings address opens it, and it is closed again.
std::vector<TOrvoCliManager::TRow> ListCatalogues(TOrvoHost& host);

// Why the catalogues `targets` (ids of the manager's rows titled `title`, or of all rows when it
// is empty) cannot be refreshed, or empty when they can.
std::string Unrefreshable(const std::vector<TOrvoCliManager::TRow>& catalogues,
                          const std::vector<std::u16string>& targets, const std::u16string& title);

// Chooses the library's command that refreshes the catalogues titled `title`, or all of them
// when it is empty. When the library offers no refresh of them all, chooses the refresh of the
// first title and leaves the others in `later`, to be chosen one after the other as each run
// ends. `shownBefore` receives the task display's count of shown tasks from before the choice.
// Answers why nothing was chosen, or empty.
std::string ChooseRefresh(TOrvoHost& host, TOrvoHostMLBrowser& browser, const std::u16string& title,
                          std::vector<std::u16string>& later, int64_t& shownBefore);

// How a run went, as the manager's list and the plug-in's log tell it.
struct TOrvoCliRefreshSummary {
    bool Cancelled = false;
    size_t Refreshed = 0;
    size_t Targets = 0;
    int64_t Stations = 0;
    // Titles with why each was not refreshed, and with where a document stopped short.
    std::vector<std::pair<std::u16string, std::u16string>> Failed, Stopped;

    // "Cancelled. Refreshed 1 of 2 catalogues; 10 stations now."
    std::string Line() const;
};

TOrvoCliRefreshSummary SummariseRefresh(const std::vector<TOrvoCliManager::TRow>& before,
                                        const std::vector<TOrvoCliManager::TRow>& after,
                                        const std::vector<std::u16string>& targets, bool cancelled,
                                        const TOrvoCliPluginLog& log);
