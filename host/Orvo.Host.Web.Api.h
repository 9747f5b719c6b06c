#pragma once
// The JSON API of the local web page, over the same host paths the commands take: the music
// library's row request, the file manager, the album-art request, the catalogue manager and
// editor driven as a person drives them, the music library's menus, and its background-task
// display, whose changes become events for the page.
//
// Thread-safety: main thread, like the host it drives; the server carries requests there.

#include "host/Orvo.Host.Cli.Dialogs.h"
#include "host/Orvo.Host.MusicLibrary.Browser.h"
#include "host/Orvo.Host.Web.Server.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class TOrvoHostWebApi {
public:
    // Adds the routes to the server. `host` has the plug-in initialised and, like `log` (made
    // before the plug-in was loaded), outlives the API. `program` is the `tunedex` program a
    // preview runs: a preview reads its document in a throw-away profile of its own, as the
    // preview command does, which a second plug-in instance in this process could not.
    TOrvoHostWebApi(TOrvoCliContext& context, TOrvoHost& host, const TOrvoCliPluginLog& log,
                    TOrvoHostWebServer& server, std::filesystem::path program);
    // Detaches the library view; the plug-in stays loaded.
    ~TOrvoHostWebApi();
    TOrvoHostWebApi(const TOrvoHostWebApi&) = delete;
    TOrvoHostWebApi& operator=(const TOrvoHostWebApi&) = delete;

    TOrvoHostWebEvents& Events() { return FEvents; }
    // Turns changes of the background-task display into events, and goes on with a refresh of
    // several catalogues one after the other; the main loop calls it often.
    void Watch();
    // Whether a refresh runs.
    bool Refreshing() const;
    // Cancels a refresh under way through the task's cancel button and keeps the main loop
    // running until it has ended; every catalogue keeps its stations.
    void CancelRefresh();

private:
    // A refresh the page started, from the choice of the library's command until its task has
    // gone.
    struct TRun {
        std::vector<TOrvoCliManager::TRow> Before;
        std::vector<std::u16string> Targets;
        // Titles refreshed one after the other when the library offers no refresh of them all.
        std::vector<std::u16string> Later;
        int64_t ShownBefore = 0;
        uint64_t Chosen = 0;
        bool Started = false;
        // Cancelling was asked for; done once the task shows.
        bool CancelAsked = false;
        bool Cancelled = false;
    };

    // The routes, by concern.
    void AddStationRoutes(TOrvoHostWebServer& server);
    void AddCatalogueRoutes(TOrvoHostWebServer& server);

    TOrvoHostWebResponse Info(const TOrvoHostWebRequest& request);
    TOrvoHostWebResponse Stations(const TOrvoHostWebRequest& request);
    TOrvoHostWebResponse Groups(const TOrvoHostWebRequest& request);
    TOrvoHostWebResponse Station(const TOrvoHostWebRequest& request);
    TOrvoHostWebResponse Logo(const TOrvoHostWebRequest& request);
    TOrvoHostWebResponse Play(const TOrvoHostWebRequest& request);
    TOrvoHostWebResponse Export(const TOrvoHostWebRequest& request);

    TOrvoHostWebResponse Catalogs(const TOrvoHostWebRequest& request);
    TOrvoHostWebResponse Kinds(const TOrvoHostWebRequest& request);
    TOrvoHostWebResponse Servers(const TOrvoHostWebRequest& request);
    TOrvoHostWebResponse Values(const TOrvoHostWebRequest& request);
    TOrvoHostWebResponse SaveCatalog(const TOrvoHostWebRequest& request);
    TOrvoHostWebResponse RemoveCatalog(const TOrvoHostWebRequest& request);
    TOrvoHostWebResponse Reset(const TOrvoHostWebRequest& request);
    TOrvoHostWebResponse Refresh(const TOrvoHostWebRequest& request);
    TOrvoHostWebResponse CancelRefreshRoute(const TOrvoHostWebRequest& request);
    TOrvoHostWebResponse Preview(const TOrvoHostWebRequest& request);

    // The stations request of the page's parameters, checked as the stations command checks it.
    TOrvoHostMLRequest StationRequest(const TOrvoHostWebRequest& request, bool windowed);
    // How many stations the request selects without its window; the last count is kept for
    // the same selection until the catalogues change.
    int64_t Total(const TOrvoHostMLRequest& query);
    // Runs `work` with a session over the host; refuses with 409 while another request has the
    // dialogs open (a look-up that waits lets other requests in).
    void WithSession(const std::function<void(TOrvoCliSession& session)>& work);
    // Chooses the library's refresh of the catalogue titled `title`, or of all with an empty one.
    void StartRefresh(const std::u16string& title);
    // Starts watching a run whose task the storage is about to show.
    void BeginRun(std::vector<std::u16string> targets);
    // The run has ended: its summary as the refresh command gives it, as an event.
    void FinishRun();
    void PublishCatalogsChanged();
    // Publishes the tasks' captions when they changed.
    void PublishProgress();

    TOrvoCliContext& FContext;
    TOrvoHost& FHost;
    std::filesystem::path FProgram;
    TOrvoHostMLBrowser FBrowser;
    std::vector<TOrvoHostMLField> FFields;
    TOrvoHostWebEvents FEvents;
    const TOrvoCliPluginLog& FLog;
    std::unique_ptr<TRun> FRun;
    std::vector<TOrvoHostMLTask> FTasksShown;
    int64_t FReloadsSeen = 0;
    std::u16string FCountKey;
    int64_t FCount = 0;
    bool FInDialogs = false;
};

// Starts the server and serves, watching the background tasks, until `stop` answers true (asked
// at least every 50 ms); then cancels a refresh under way, waits for its end, and stops the
// server. Main thread.
void ServeUntil(TOrvoHost& host, TOrvoHostWebServer& server, TOrvoHostWebApi& api,
                const std::function<bool()>& stop);
