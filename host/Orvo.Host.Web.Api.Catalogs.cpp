// The catalogue part of the page's API: the manager's list, the editor's kinds and look-ups, adding,
// editing, removing and resetting as the manager's buttons do, refreshing through the music
// library's menu with the background-task display turned into events, and the preview.

#include "host/Orvo.Host.Web.Api.h"
#include "host/Orvo.Host.Web.Json.h"

#include "host/Orvo.Host.Cli.Process.h"
#include "host/Orvo.Host.Cli.Refresh.h"
#include "platform/Platform.System.h"
#include "platform/Platform.Threads.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <iostream>
#include <sstream>

namespace {

TOrvoHostWebResponse Accepted() {
    return {202, "application/json; charset=utf-8", "{}", {}};
}

// The body's members as texts; 400 for a body that is no JSON object or a member that is no text.
std::map<std::string, std::string> BodyTexts(const TOrvoHostWebRequest& request) {
    std::map<std::string, std::string> texts;
    if (Trim(FromUtf8(request.Body)).empty())
        return texts;
    rapidjson::Document body;
    body.Parse(request.Body.c_str(), request.Body.size());
    if (body.HasParseError() || !body.IsObject())
        throw EOrvoHostWebError(400, "The request's body must be a JSON object.");
    for (const auto& member : body.GetObject()) {
        const std::string name(member.name.GetString(), member.name.GetStringLength());
        if (member.value.IsNull())
            continue;
        if (!member.value.IsString())
            throw EOrvoHostWebError(400, "\"" + name + "\" must be a text.");
        texts[name] = std::string(member.value.GetString(), member.value.GetStringLength());
    }
    return texts;
}

constexpr const char* kBusyRefreshing = "A refresh is under way; wait for it to end or cancel it.";

const char* const kListNames[] = {"countries", "languages", "tags"};

} // namespace

void TOrvoHostWebApi::AddCatalogueRoutes(TOrvoHostWebServer& server) {
    const auto route = [&](const char* method, const char* pattern,
                           TOrvoHostWebResponse (TOrvoHostWebApi::*handler)(const TOrvoHostWebRequest&)) {
        server.Route(method, pattern,
                     [this, handler](const TOrvoHostWebRequest& r) { return (this->*handler)(r); });
    };
    route("GET", "/api/catalogs", &TOrvoHostWebApi::Catalogs);
    route("GET", "/api/catalogs/([^/]+)", &TOrvoHostWebApi::Catalogs);
    route("GET", "/api/kinds", &TOrvoHostWebApi::Kinds);
    route("GET", "/api/servers", &TOrvoHostWebApi::Servers);
    route("GET", "/api/values", &TOrvoHostWebApi::Values);
    route("POST", "/api/catalogs", &TOrvoHostWebApi::SaveCatalog);
    route("POST", "/api/catalogs/([^/]+)", &TOrvoHostWebApi::SaveCatalog);
    route("POST", "/api/catalogs/([^/]+)/remove", &TOrvoHostWebApi::RemoveCatalog);
    route("POST", "/api/reset", &TOrvoHostWebApi::Reset);
    route("POST", "/api/refresh", &TOrvoHostWebApi::Refresh);
    route("POST", "/api/refresh/cancel", &TOrvoHostWebApi::CancelRefreshRoute);
    // A preview runs a program of its own, which may take a while: not on the main thread.
    server.Route(
        "POST", "/api/preview", [this](const TOrvoHostWebRequest& r) { return Preview(r); }, false);
}

void TOrvoHostWebApi::WithSession(const std::function<void(TOrvoCliSession& session)>& work) {
    if (FInDialogs)
        throw EOrvoHostWebError(409, "The catalogue dialogs are busy with another request; try again.");
    FInDialogs = true;
    std::vector<std::u16string> errors;
    try {
        TOrvoCliSession session(FContext, FHost);
        work(session);
        errors = session.Errors();
    } catch (const EOrvoCliUsage& e) {
        FInDialogs = false;
        throw EOrvoHostWebError(400, e.what());
    } catch (const EOrvoHostWebError&) {
        FInDialogs = false;
        throw;
    } catch (const Exception& e) {
        // The dialogs' own refusals are words for the person who asked.
        FInDialogs = false;
        throw EOrvoHostWebError(400, e.what());
    } catch (...) {
        FInDialogs = false;
        throw;
    }
    FInDialogs = false;
    // What the plug-in showed in its message dialog is its answer to the request.
    if (!errors.empty())
        throw EOrvoHostWebError(400, ToUtf8(Join(errors, u" ")));
}

TOrvoHostWebResponse TOrvoHostWebApi::Catalogs(const TOrvoHostWebRequest& request) {
    const bool one = !request.Captures.empty();
    const std::u16string id = one ? FromUtf8(request.Captures[0]) : std::u16string();
    std::vector<TOrvoCliManager::TRow> rows;
    struct TDetails {
        std::u16string Kind, Address, Server, Value;
        int32_t List = -1;
        bool ShowsAddress = false, ShowsRadioBrowser = false;
    } details;
    WithSession([&](TOrvoCliSession& session) {
        session.WithManager([&](TOrvoCliManager& manager) {
            rows = manager.Rows();
            if (!one)
                return;
            // What the catalogue is made of, as its editor shows it; closed unsaved.
            const auto found =
                std::find_if(rows.begin(), rows.end(), [&](const auto& row) { return row.ID == id; });
            if (found == rows.end())
                throw EOrvoHostWebError(404, "No catalogue has this id.");
            manager.Click(size_t(found - rows.begin()));
            manager.RunEditor(u"B6", [&](TOrvoHostForm& form) {
                TOrvoCliEditor editor(form);
                const std::vector<std::u16string> kinds = editor.Kinds();
                if (editor.Kind() >= 0 && size_t(editor.Kind()) < kinds.size())
                    details.Kind = kinds[size_t(editor.Kind())];
                details.ShowsAddress = editor.ShowsAddress();
                details.ShowsRadioBrowser = editor.ShowsRadioBrowser();
                details.Address = editor.Address();
                details.Server = editor.Server();
                details.List = editor.ListKind();
                details.Value = editor.Value();
                editor.Driver().CloseForm();
            });
            rows = {*found};
        });
    });
    const auto writeRow = [&](TOrvoHostJson& json, const TOrvoCliManager::TRow& row) {
        json.StartObject();
        json.Key("id");
        Text(json, row.ID);
        json.Key("title");
        Text(json, row.Title);
        // Never updated, or being updated: no date to give.
        json.Key("updated");
        if (row.Updating() || row.Updated == u"-")
            json.Null();
        else
            Text(json, std::string_view(IsoDate(row.Updated)));
        json.Key("stations");
        int64_t count = 0;
        if (TryStrToInt(row.Count, count))
            json.Int64(count);
        else
            json.Null();
        json.Key("updating");
        json.Bool(row.Updating());
        if (one) {
            json.Key("kind");
            Text(json, details.Kind);
            if (details.ShowsAddress) {
                json.Key("address");
                Text(json, details.Address);
            }
            if (details.ShowsRadioBrowser) {
                json.Key("server");
                Text(json, details.Server);
                json.Key("list");
                if (details.List >= 0 && details.List < 3)
                    Text(json, std::string_view(kListNames[details.List]));
                else
                    json.Null();
                json.Key("value");
                Text(json, details.Value);
            }
        }
        json.EndObject();
    };
    return JsonAnswer([&](TOrvoHostJson& json) {
        if (one)
            return writeRow(json, rows.front());
        json.StartObject();
        json.Key("catalogs");
        json.StartArray();
        for (const TOrvoCliManager::TRow& row : rows)
            writeRow(json, row);
        json.EndArray();
        json.EndObject();
    });
}

TOrvoHostWebResponse TOrvoHostWebApi::Kinds(const TOrvoHostWebRequest&) {
    std::vector<std::u16string> kinds;
    WithSession([&](TOrvoCliSession& session) {
        session.WithNewEditor([&](TOrvoCliEditor& editor) { kinds = editor.Kinds(); });
    });
    return JsonAnswer([&](TOrvoHostJson& json) {
        json.StartObject();
        json.Key("kinds");
        json.StartArray();
        for (const std::u16string& kind : kinds)
            Text(json, kind);
        json.EndArray();
        json.EndObject();
    });
}

namespace {

TOrvoHostWebResponse TextList(const char* name, const std::vector<std::u16string>& values) {
    return JsonAnswer([&](TOrvoHostJson& json) {
        json.StartObject();
        json.Key(name);
        json.StartArray();
        for (const std::u16string& value : values)
            Text(json, value);
        json.EndArray();
        json.EndObject();
    });
}

} // namespace

TOrvoHostWebResponse TOrvoHostWebApi::Servers(const TOrvoHostWebRequest&) {
    std::vector<std::u16string> servers;
    WithSession([&](TOrvoCliSession& session) {
        session.WithNewEditor([&](TOrvoCliEditor& editor) {
            editor.ChooseRadioBrowser();
            servers = editor.WaitForServers();
        });
    });
    return TextList("servers", servers);
}

TOrvoHostWebResponse TOrvoHostWebApi::Values(const TOrvoHostWebRequest& request) {
    const int32_t list = ListKindOf(request.Param("list"));
    if (list < 0)
        throw EOrvoHostWebError(400, "list takes countries, languages or tags.");
    const std::u16string server = FromUtf8(request.Param("server"));
    std::vector<std::u16string> values;
    WithSession([&](TOrvoCliSession& session) {
        session.WithNewEditor([&](TOrvoCliEditor& editor) {
            std::u16string asked;
            values = LookUpValues(editor, server, list, asked);
        });
    });
    return TextList("values", values);
}

TOrvoHostWebResponse TOrvoHostWebApi::SaveCatalog(const TOrvoHostWebRequest& request) {
    if (FRun)
        throw EOrvoHostWebError(409, kBusyRefreshing);
    const bool adding = request.Captures.empty();
    const std::map<std::string, std::string> body = BodyTexts(request);
    TCatalogueOptions options;
    const auto take = [&](const char* name, std::string& into) {
        if (const auto it = body.find(name); it != body.end())
            into = it->second;
    };
    take("title", options.Title);
    options.TitleGiven = body.contains("title");
    take("kind", options.Kind);
    take("address", options.Address);
    take("server", options.Server);
    take("list", options.List);
    take("value", options.Value);
    if (adding && (!options.TitleGiven || options.Kind.empty()))
        throw EOrvoHostWebError(400, "A new catalogue needs a title and a kind.");
    if (!options.List.empty() && ListKindOf(options.List) < 0)
        throw EOrvoHostWebError(400, "list takes country, language or tag.");
    TOrvoCliSaved saved;
    std::vector<TOrvoCliManager::TRow> before;
    // The save's refresh is the first task shown after this.
    const int64_t shownBefore = FBrowser.Manager().TasksShown();
    WithSession([&](TOrvoCliSession& session) {
        session.WithManager([&](TOrvoCliManager& manager) {
            before = manager.Rows();
            std::optional<std::u16string> key;
            if (!adding) {
                key = FromUtf8(request.Captures[0]);
                if (!manager.RowOf(*key))
                    throw EOrvoHostWebError(404, "No catalogue has this id.");
            }
            saved = SaveInEditor(session, manager, options, key);
        });
    });
    if (!saved.ID.empty()) {
        // The save started the catalogue's refresh: its progress and end go to the page.
        BeginRun({saved.ID});
        FRun->Before = std::move(before);
        FRun->ShownBefore = shownBefore;
    }
    PublishCatalogsChanged();
    return JsonAnswer(
        [&](TOrvoHostJson& json) {
            json.StartObject();
            json.Key("id");
            Text(json, saved.ID);
            json.EndObject();
        },
        adding ? 201 : 200);
}

TOrvoHostWebResponse TOrvoHostWebApi::RemoveCatalog(const TOrvoHostWebRequest& request) {
    if (FRun)
        throw EOrvoHostWebError(409, kBusyRefreshing);
    const std::u16string id = FromUtf8(request.Captures[0]);
    WithSession([&](TOrvoCliSession& session) {
        session.WithManager([&](TOrvoCliManager& manager) {
            if (!manager.RowOf(id))
                throw EOrvoHostWebError(404, "No catalogue has this id.");
            RemoveCatalogue(session, manager, id);
        });
    });
    PublishCatalogsChanged();
    return JsonAnswer([](TOrvoHostJson& json) {
        json.StartObject();
        json.EndObject();
    });
}

TOrvoHostWebResponse TOrvoHostWebApi::Reset(const TOrvoHostWebRequest&) {
    if (FRun)
        throw EOrvoHostWebError(409, kBusyRefreshing);
    WithSession([&](TOrvoCliSession& session) {
        session.WithManager([&](TOrvoCliManager& manager) { ResetCatalogues(session, manager); });
    });
    PublishCatalogsChanged();
    return JsonAnswer([](TOrvoHostJson& json) {
        json.StartObject();
        json.EndObject();
    });
}

TOrvoHostWebResponse TOrvoHostWebApi::Refresh(const TOrvoHostWebRequest& request) {
    if (FRun)
        throw EOrvoHostWebError(409, kBusyRefreshing);
    const std::map<std::string, std::string> body = BodyTexts(request);
    const std::u16string id = body.contains("id") ? FromUtf8(body.at("id")) : std::u16string();
    std::vector<TOrvoCliManager::TRow> before;
    WithSession([&](TOrvoCliSession&) { before = ListCatalogues(FHost); });
    std::u16string title;
    if (!id.empty()) {
        const auto row =
            std::find_if(before.begin(), before.end(), [&](const auto& r) { return r.ID == id; });
        if (row == before.end())
            throw EOrvoHostWebError(404, "No catalogue has this id.");
        title = row->Title;
    }
    std::vector<std::u16string> targets;
    for (const TOrvoCliManager::TRow& row : before)
        if (title.empty() || row.Title == title)
            targets.push_back(row.ID);
    if (const std::string refused = Unrefreshable(before, targets, title); !refused.empty())
        throw EOrvoHostWebError(400, refused);
    BeginRun(targets);
    FRun->Before = std::move(before);
    try {
        if (const std::string refused = ChooseRefresh(FHost, FBrowser, title, FRun->Later, FRun->ShownBefore);
            !refused.empty())
            throw EOrvoHostWebError(400, refused);
    } catch (...) {
        FRun.reset();
        throw;
    }
    return Accepted();
}

TOrvoHostWebResponse TOrvoHostWebApi::CancelRefreshRoute(const TOrvoHostWebRequest&) {
    if (FRun) {
        FRun->CancelAsked = true;
        FRun->Later.clear();
        Watch();
    }
    return Accepted();
}

void TOrvoHostWebApi::BeginRun(std::vector<std::u16string> targets) {
    FRun = std::make_unique<TRun>();
    FRun->Targets = std::move(targets);
    FRun->Chosen = platform::TickCount64();
}

bool TOrvoHostWebApi::Refreshing() const {
    return FRun != nullptr;
}

void TOrvoHostWebApi::CancelRefresh() {
    if (!FRun)
        return;
    FRun->CancelAsked = true;
    FRun->Later.clear();
    FHost.RunUntil([&] {
        Watch();
        return !FRun;
    });
}

void TOrvoHostWebApi::PublishProgress() {
    TOrvoHostMLStorageManager& tasks = FBrowser.Manager();
    const std::vector<TOrvoHostMLTask> shown = tasks.Tasks();
    if (shown != FTasksShown) {
        FTasksShown = shown;
        for (const TOrvoHostMLTask& task : shown) {
            if (task.ID != TUNEDEX_ML_UPDATE_TASK)
                continue;
            const TOrvoHostTaskProgress progress = ParseTaskCaption(task.Caption);
            // "TITLE: WORDS": the words hold no colon.
            const size_t colon = task.Caption.rfind(u": ");
            FEvents.Publish("progress", JsonText([&](TOrvoHostJson& json) {
                                json.StartObject();
                                json.Key("caption");
                                Text(json, task.Caption);
                                json.Key("position");
                                json.Int64(int64_t(progress.Received.value_or(0)));
                                json.Key("total");
                                if (progress.Total)
                                    json.Int64(int64_t(*progress.Total));
                                else
                                    json.Null();
                                json.Key("catalog");
                                if (colon != std::u16string::npos)
                                    Text(json, task.Caption.substr(0, colon));
                                else
                                    json.Null();
                                json.EndObject();
                            }));
        }
    }
}

void TOrvoHostWebApi::Watch() {
    TOrvoHostMLStorageManager& tasks = FBrowser.Manager();
    PublishProgress();
    if (tasks.ReloadRequests() != FReloadsSeen) {
        FReloadsSeen = tasks.ReloadRequests();
        PublishCatalogsChanged();
    }
    if (!FRun)
        return;
    // The task shows from a queued call; it can be cancelled once it is there.
    if (FRun->CancelAsked && !FRun->Cancelled && tasks.HasTasks()) {
        FRun->Cancelled = true;
        tasks.CancelTask(TUNEDEX_ML_UPDATE_TASK);
    }
    FRun->Started = FRun->Started || tasks.TasksShown() > FRun->ShownBefore;
    if (!FRun->Started) {
        if (platform::TickCount64() - FRun->Chosen > 30000)
            FinishRun();
        return;
    }
    if (tasks.HasTasks())
        return;
    if (!FRun->Cancelled && !FRun->Later.empty()) {
        const std::u16string next = FRun->Later.front();
        FRun->Later.erase(FRun->Later.begin());
        std::vector<std::u16string> none;
        FRun->Started = false;
        FRun->Chosen = platform::TickCount64();
        if (ChooseRefresh(FHost, FBrowser, next, none, FRun->ShownBefore).empty())
            return;
    }
    FinishRun();
}

void TOrvoHostWebApi::FinishRun() {
    std::unique_ptr<TRun> run = std::move(FRun);
    std::vector<TOrvoCliManager::TRow> after;
    try {
        after = ListCatalogues(FHost);
    } catch (const std::exception& e) {
        std::cerr << "tunedex serve: the catalogue manager did not list the catalogues: " << e.what() << '\n';
    }
    const TOrvoCliRefreshSummary summary =
        SummariseRefresh(run->Before, after, run->Targets, run->Cancelled, FLog);
    FEvents.Publish("finished", JsonText([&](TOrvoHostJson& json) {
                        json.StartObject();
                        json.Key("ok");
                        json.Bool(!summary.Cancelled && summary.Failed.empty() && run->Started);
                        json.Key("cancelled");
                        json.Bool(summary.Cancelled);
                        json.Key("summary");
                        Text(json,
                             std::string_view(run->Started ? summary.Line() : "The refresh did not start."));
                        const auto reasons = [&](const char* name, const auto& list) {
                            json.Key(name);
                            json.StartArray();
                            for (const auto& [title, reason] : list) {
                                json.StartObject();
                                json.Key("title");
                                Text(json, title);
                                json.Key("reason");
                                Text(json, reason);
                                json.EndObject();
                            }
                            json.EndArray();
                        };
                        reasons("failures", summary.Failed);
                        reasons("stopped", summary.Stopped);
                        json.EndObject();
                    }));
    PublishCatalogsChanged();
}

void TOrvoHostWebApi::PublishCatalogsChanged() {
    FCountKey.clear();
    FEvents.Publish("catalogs", "{}");
}

TOrvoHostWebResponse TOrvoHostWebApi::Preview(const TOrvoHostWebRequest& request) {
    const std::map<std::string, std::string> body = BodyTexts(request);
    const auto address = body.find("address");
    if (address == body.end() || Trim(FromUtf8(address->second)).empty())
        throw EOrvoHostWebError(400, "A preview needs the address of a document.");
    std::vector<std::string> arguments = {"--plugin=" + FHost.PluginFile().string(),
                                          "--host-build=" + std::to_string(FContext.Settings.BuildNumber),
                                          "preview", "--format", "json"};
    if (const auto kind = body.find("kind"); kind != body.end() && !kind->second.empty())
        arguments.insert(arguments.end(), {"--kind", kind->second});
    // After "--", an address that starts with a dash is still the address.
    arguments.insert(arguments.end(), {"--", address->second});
    // The connection settings this host was given, in the environment, where only this user can
    // read a proxy's password.
    const TOrvoHostConnection& connection = FContext.Settings.Connection;
    const std::vector<std::string> environment = {
        "TUNEDEX_PROXY=" + connection.ProxyText(), "TUNEDEX_TIMEOUT=" + std::to_string(connection.Timeout),
        connection.UserAgent.empty() ? std::string("TUNEDEX_USER_AGENT")
                                     : "TUNEDEX_USER_AGENT=" + ToUtf8(connection.UserAgent)};
    const platform::ProgramRun run =
        platform::RunProgram(FProgram.string(), arguments, TUNEDEX_CLI_REFRESH_TIMEOUT_MS, environment);
    if (run.TimedOut)
        throw EOrvoHostWebError(500, "The preview did not end in time.");
    // The command's error lines are its words for a person; its notices are not errors.
    std::string words, stoppedAt;
    std::istringstream errors(run.Err);
    for (std::string line; std::getline(errors, line);) {
        constexpr std::string_view prefix = "tunedex: ", stopped = "the document stopped early: ";
        if (line.starts_with(prefix))
            line.erase(0, prefix.size());
        if (line.starts_with(stopped))
            stoppedAt = line.substr(stopped.size());
        else if (run.Status != 0)
            words += (words.empty() ? "" : " ") + line;
    }
    if (run.Status != 0)
        throw EOrvoHostWebError(400, words.empty() ? "The document could not be previewed." : words);
    return JsonAnswer([&](TOrvoHostJson& json) {
        json.StartObject();
        json.Key("stations");
        json.StartArray();
        std::istringstream lines(run.Out);
        for (std::string line; std::getline(lines, line);) {
            rapidjson::Document row;
            row.Parse(line.c_str(), line.size());
            if (!row.HasParseError() && row.IsObject())
                row.Accept(json);
        }
        json.EndArray();
        json.Key("stoppedAt");
        if (stoppedAt.empty())
            json.Null();
        else
            Text(json, std::string_view(stoppedAt));
        json.EndObject();
    });
}

void ServeUntil(TOrvoHost& host, TOrvoHostWebServer& server, TOrvoHostWebApi& api,
                const std::function<bool()>& stop) {
    server.Start();
    const platform::TimerId watch = platform::StartMainThreadTimer(100, [&api] { api.Watch(); });
    // Watched after every call the loop runs too, so that no caption is missed between ticks.
    host.RunUntil([&] {
        api.Watch();
        return stop();
    });
    // Every catalogue keeps its stations: the refresh stops as its cancel button stops it.
    api.CancelRefresh();
    platform::StopMainThreadTimer(watch);
    server.Stop();
}
