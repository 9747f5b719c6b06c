#pragma once
// The reference host's music library: the storage manager a storage is attached with, the
// background tasks it shows, the album-art request, and the browser that asks the current
// storage for fields and rows the way a player's library view does.

#include "host/Orvo.Host.MusicLibrary.Query.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class TOrvoHost;
class TOrvoHostCore;

// A background task as the library shows it: its identifier and its caption as it reads now.
struct TOrvoHostMLTask {
    int32_t ID = 0;
    std::u16string Caption;

    bool operator==(const TOrvoHostMLTask&) const = default;
};

// The library's side of an attached storage: the background tasks it shows and the reloads it
// asks for.
//
// Thread-safety: the storage calls it on the main thread; the reads below may come from any
// thread. A lock guards the state and is never held while calling out.
class TOrvoHostMLStorageManager : public TOrvoInterfaces<TInterfacedObjectEx, IOrvoMLDataStorageManager> {
public:
    static ComPtr<TOrvoHostMLStorageManager> Create();

    // Showing a task under an identifier already shown replaces it.
    HRESULT ORVO_CALL ShowBackgroundTask(int32_t taskId, IOrvoString* caption,
                                         IUnknown* cancelEvent) override;
    HRESULT ORVO_CALL HideBackgroundTask(int32_t taskId) override;
    HRESULT ORVO_CALL ReloadData() override;

    // The tasks shown now, in the order they were shown, with the captions' current texts.
    std::vector<TOrvoHostMLTask> Tasks() const;
    bool HasTasks() const;
    // Runs the task's cancel event, as the task's stop button does; false when the task is not
    // shown or offers no cancel event.
    bool CancelTask(int32_t taskId);
    // How many reloads the storage has asked for so far.
    int64_t ReloadRequests() const;
    // How many times a task has been shown so far.
    int64_t TasksShown() const;
    // Called after a task is shown and before one is hidden, on the storage's thread and outside
    // the lock, for a display that must see every task however briefly it shows; empty for none.
    void SetTaskObserver(std::function<void()> observer);

protected:
    TOrvoHostMLStorageManager() = default;
    template <typename T, typename... Args> friend ComPtr<T> MakeInterfaced(Args&&... args);

private:
    struct TShownTask {
        int32_t ID;
        ComPtr<IOrvoString> Caption;
        ComPtr<IUnknown> CancelEvent;
    };
    mutable std::mutex FLock;
    std::vector<TShownTask> FTasks;
    int64_t FReloads = 0;
    int64_t FShown = 0;
    std::function<void()> FObserver;
};

// Draws the shown background tasks on one terminal line that is rewritten in place as captions
// change, and cleared when no task is left. On anything but a terminal it writes nothing.
//
// Thread-safety: one thread (the main thread, between pumps).
class TOrvoHostTaskDisplay {
public:
    TOrvoHostTaskDisplay(std::ostream& out, bool terminal) : FOut(out), FTerminal(terminal) {}
    ~TOrvoHostTaskDisplay() { Clear(); }
    TOrvoHostTaskDisplay(const TOrvoHostTaskDisplay&) = delete;
    TOrvoHostTaskDisplay& operator=(const TOrvoHostTaskDisplay&) = delete;

    // Shows the tasks; redraws only when the text changed.
    void Show(const std::vector<TOrvoHostMLTask>& tasks);
    void Clear();

private:
    std::ostream& FOut;
    bool FTerminal;
    std::string FShown;
};

// A task caption's parts: "WORDS RECEIVED/TOTAL" or "WORDS RECEIVED" with sizes as the storage
// writes them ("Jazz: Updating 1.21 MB/3.40 MB"), in bytes; or only words.
struct TOrvoHostTaskProgress {
    std::u16string Words;
    std::optional<double> Received, Total;
};
TOrvoHostTaskProgress ParseTaskCaption(const std::u16string& caption);

// A task's caption written line by line, for a file or a pipe: a line whenever its words change
// (another catalogue, waiting turned to updating), and while only its sizes change, a line per
// 5 % of a known size ("Jazz: Updating 1.21 MB/3.40 MB"), or one per `interval` while the size is
// unknown.
//
// Thread-safety: one thread.
class TOrvoHostTaskLog {
public:
    explicit TOrvoHostTaskLog(std::ostream& out, std::chrono::milliseconds interval = std::chrono::seconds(3))
        : FOut(out), FInterval(interval) {}
    void Show(const std::u16string& caption);

private:
    std::ostream& FOut;
    std::chrono::milliseconds FInterval;
    std::u16string FShown, FWords;
    int FStep = -1;
    std::chrono::steady_clock::time_point FWritten;
};

// The host's side of one album-art request: FetchImage downloads the address over HTTP(S) and
// answers the bytes as an "ORVOImage2" stream (IOrvoStream).
//
// Thread-safety: one request per call; FetchImage blocks the calling thread while it downloads.
class TOrvoHostMLAlbumArtRequest : public TOrvoHostPropertyBag<IOrvoMLAlbumArtRequest> {
public:
    // Images larger than this are refused rather than held in memory.
    static constexpr int64_t MaxImageSize = 16 << 20;

    static ComPtr<TOrvoHostMLAlbumArtRequest> Create();

    // E_INVALIDARG for a missing address or one that is not http(s); E_FAIL when the download
    // fails or the image is too large.
    HRESULT ORVO_CALL FetchImage(IOrvoString* address, IUnknown** image) override;

protected:
    TOrvoHostMLAlbumArtRequest() = default;
    template <typename T, typename... Args> friend ComPtr<T> MakeInterfaced(Args&&... args);
};

// A data field as the storage describes it (schema 0).
struct TOrvoHostMLField {
    std::u16string Name;
    int32_t Type = 0;
    int32_t Flags = 0;
};

// What a row request gave: the storage's text in place of rows (a notice, possibly with
// "[url=...]...[/url]" links), or the rows, one text per requested field.
struct TOrvoHostMLResult {
    bool IsText = false;
    std::u16string Text;
    std::vector<std::u16string> Fields;
    std::vector<std::vector<std::u16string>> Rows;
};

// One link of a storage's text.
struct TOrvoHostMLLink {
    std::u16string Address;
    std::u16string Caption;
};
// The text with every "[url=ADDRESS]CAPTION[/url]" replaced by its caption, and the links found.
std::u16string PlainLinkText(std::u16string_view text, std::vector<TOrvoHostMLLink>* links = nullptr);

// The library view over the storage the plug-in registered: it makes the storage current
// (Initialize with the manager) for its lifetime and detaches it (Finalize) at the end, which
// must come before the host unloads the plug-in.
//
// Thread-safety: main thread; row requests run on it as well.
class TOrvoHostMLBrowser {
public:
    // Takes the first storage registered at the music library; raises EInvalidOperation when
    // there is none.
    explicit TOrvoHostMLBrowser(TOrvoHostCore& core);
    ~TOrvoHostMLBrowser();
    TOrvoHostMLBrowser(const TOrvoHostMLBrowser&) = delete;
    TOrvoHostMLBrowser& operator=(const TOrvoHostMLBrowser&) = delete;

    // The storage's name for people (property 1).
    std::u16string StorageName() const;
    // The storage's fields (schema 0).
    std::vector<TOrvoHostMLField> Fields() const;
    // Asks the storage for the rows of the request and walks its selection. Raises
    // EArgumentError for a request the command line got wrong, and the storage's result code
    // when it fails.
    TOrvoHostMLResult Query(const TOrvoHostMLRequest& request);
    // How many rows the request selects without its window (its sort order aside); 0 when the
    // storage answers a text instead. Raises as Query does.
    int64_t Count(TOrvoHostMLRequest request);
    // Runs the last request again when the storage has asked for a reload since; false when it
    // has not (or nothing was asked yet).
    bool ReloadIfAsked(TOrvoHostMLResult& result);
    // The image of a row: the names and values of its fields. Empty when the storage has none.
    std::string FetchAlbumArt(const std::vector<std::u16string>& fieldNames,
                              const std::vector<std::u16string>& fieldValues);

    TOrvoHostMLStorageManager& Manager() const { return *FManager; }
    // Keeps the main loop running, the tasks shown on `display`, until no background task is
    // shown or `timeoutMs` passes; false on the time-out. A storage shows its task from a queued
    // call, so a caller that has just started work passes Manager().TasksShown() as read before
    // starting it: the wait then lasts until a task has been shown since, and has ended.
    bool WaitForTasks(TOrvoHost& host, TOrvoHostTaskDisplay& display, uint32_t timeoutMs,
                      int64_t shownBefore = -1);

private:
    ComPtr<IOrvoMLExtensionDataStorage> FStorage;
    ComPtr<TOrvoHostMLStorageManager> FManager;
    TOrvoHostMLRequest FLastRequest;
    bool FAsked = false;
    int64_t FReloadsSeen = 0;
};
