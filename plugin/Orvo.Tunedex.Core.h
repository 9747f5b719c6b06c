#pragma once
// The station catalogue: one SQLite file holding every known station (table Entries), tagged
// with the identifier of the provider that supplied it, and one row per configured provider
// (table Providers); the provider classes that fill it, and the background update that runs
// them.

#include "nuv/Nuv.Classes.h"
#include "nuv/Nuv.DateTime.h"
#include "nuv/Nuv.Listeners.h"
#include "nuv/Nuv.SQLite3.h"
#include "nuv/Nuv.Threading.Pool.h"
#include "nuv/Nuv.Web.Http.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class TNuvStream;
class TOrvoTunedexProvider;

// One station; a value copied by assignment.
//
// Thread-safety: a plain value.
struct TOrvoRadioStationInfo {
    int32_t Bitrate = 0;
    // Key list (";"-separated).
    std::u16string Country;
    std::u16string Description;
    std::u16string FileFormat;
    // Key list.
    std::u16string Genre;
    std::u16string Name;
    // Key list.
    std::u16string Tags;
    // The stream's address; unique in the catalogue.
    std::u16string FileName;
    std::u16string HomeURL;
    std::u16string Logo;
    // Width of the logo chosen so far while a document is parsed; never stored.
    int32_t LogoWidth = 0;

    // Empties every text and zeroes the numbers.
    void Reset();

    bool operator==(const TOrvoRadioStationInfo&) const = default;
};

// Receives one station per call, in document order.
using TOrvoStationReceiver = std::function<void(const TOrvoRadioStationInfo& info)>;

// Raised by a parser whose document is unreadable (not the format, no parser knows it, too
// large) or that stopped at an error; the message is the reason, for the user. Raised before any
// station reached the receiver, it fails the refresh and the catalogue keeps its stations;
// raised after some, those are stored and the reason becomes a warning.
class EOrvoTunedexDocumentError : public Exception {
public:
    using Exception::Exception;
};

// ---- provider classes ----

// The descriptor of a provider class: its name (what the Providers table stores), its factory
// and its class-level operations, which the editor asks without creating a provider.
//
// Thread-safety: immutable; any thread.
class TOrvoTunedexProviderClass : public TNuvClass {
public:
    using TNuvClass::TNuvClass;

    // A provider with every field empty.
    virtual std::unique_ptr<TOrvoTunedexProvider> Create() const = 0;
    // A provider as loaded from the database: Title, Data and Date set, Count 0.
    std::unique_ptr<TOrvoTunedexProvider> Create(std::u16string title, std::u16string data,
                                                 TDateTime date) const;

    // The web page of the service behind the provider; may be empty.
    virtual std::u16string HomePageURL() const = 0;
    // True when Data is an address the user types.
    virtual bool HasAddress() const = 0;
    // The accepted document formats, for the editor's hint; may be empty.
    virtual std::u16string SupportedFormats() const = 0;
    // The class's name for the user; one beginning with "@" is a host localisation key.
    virtual std::u16string DisplayName() const = 0;
};

// The descriptor of provider class TProvider, answering the class operations with the static
// members of the same names; those TProvider does not declare come from TOrvoTunedexProvider.
template <class TProvider> class TOrvoTunedexProviderClassOf final : public TOrvoTunedexProviderClass {
public:
    using TOrvoTunedexProviderClass::Create;
    using TOrvoTunedexProviderClass::TOrvoTunedexProviderClass;

    std::unique_ptr<TOrvoTunedexProvider> Create() const override { return std::make_unique<TProvider>(); }
    std::u16string HomePageURL() const override { return TProvider::HomePageURL(); }
    bool HasAddress() const override { return TProvider::HasAddress(); }
    std::u16string SupportedFormats() const override { return TProvider::SupportedFormats(); }
    std::u16string DisplayName() const override { return TProvider::DisplayName(); }
};

// One configured catalogue source. A class derived from it names its document (DocumentURL) and
// parses it (AsyncFetch with a stream); this base fetches the document. A derived class also
// declares
//   static const TOrvoTunedexProviderClass& Class();  // a TOrvoTunedexProviderClassOf<itself>
//   static std::u16string DisplayName();
// returns Class() from ClassType(), and declares HomePageURL, HasAddress or SupportedFormats
// where its answer differs from the defaults below.
//
// Thread-safety: a provider belongs to one thread at a time; it lives for one task.
class TOrvoTunedexProvider {
public:
    // Number of Entries rows after the last update.
    int32_t Count = 0;
    // Time of the last successful update; 0 = never.
    TDateTime Date = 0;
    // The provider's settings; their form belongs to the class.
    std::u16string Data;
    // The catalogue's title, shown to the user.
    std::u16string Title;

    TOrvoTunedexProvider() = default;
    virtual ~TOrvoTunedexProvider() = default;
    TOrvoTunedexProvider(const TOrvoTunedexProvider&) = delete;
    TOrvoTunedexProvider& operator=(const TOrvoTunedexProvider&) = delete;

    // Obtains the document DocumentURL names and parses it. A remote address is downloaded into
    // a temporary file in the calling thread (inside a task, cancelling the task cancels the
    // download), then parsed with the response's content type; a local path is parsed in place
    // with the content type "application/" + its upper-case extension. `progress` may stop the
    // download by answering false. Download failures raise ENuvWebError before anything reached
    // `receiver`. A body longer than NuvMaxDocumentSize() is cut off with
    // EOrvoTunedexDocumentError.
    virtual void AsyncFetch(const THttpProgressProc& progress, const TOrvoStationReceiver& receiver);
    // Runs a configured download into `document`, stopping it once the body would exceed
    // NuvMaxDocumentSize(): no source may fill the disk or memory. Raises EOrvoTunedexDocumentError
    // for such a body; other outcomes are returned as they are.
    static TNuvWebErrorInfo DownloadDocument(INuvHttpRequest& request, TNuvStream& document);
    // Parses a readable stream positioned at its start, handing each station to `receiver`.
    virtual void AsyncFetch(TNuvStream& stream, std::u16string_view contentType,
                            const TOrvoStationReceiver& receiver) = 0;
    // The address of the source document, or a local file path.
    virtual std::u16string DocumentURL() const = 0;
    // The identifier stored as Providers.UUID and Entries.CatUIID: by default the lower-case
    // hexadecimal MD5 digest of the UTF-8 bytes of Data, so it follows the settings alone.
    virtual std::u16string ID() const;
    // The class this provider is an object of.
    virtual const TOrvoTunedexProviderClass& ClassType() const = 0;

    // Defaults of the class operations.
    static std::u16string HomePageURL() { return {}; }
    static bool HasAddress() { return false; }
    static std::u16string SupportedFormats() { return {}; }

    // Date as "yyyy.MM.dd hh:mm:ss" with the user's time separator, or "-" when never updated.
    std::u16string DateAsText() const;

    // True for an address that names a scheme (ASCII letters and digits, possibly none), then
    // ":" and "//" or "\\", and is longer than 3 characters; false for a path such as "C:\x".
    static bool IsRemoteAddress(std::u16string_view address);
    // "application/" followed by the file name's extension in upper case (empty without one).
    static std::u16string LocalContentType(std::u16string_view path);
};

// The provider classes, in registration order; the editor lists them in this order.
//
// Thread-safety: registration happens on the main thread at start-up, before any other use; the
// list itself is not locked. The class-by-name registry it feeds may be read from any thread.
class TOrvoTunedexProviderRepository {
public:
    TOrvoTunedexProviderRepository() = delete;

    // Appends the class and enters it in the class-by-name registry. No duplicate check.
    static void RegisterProvider(const TOrvoTunedexProviderClass& cls);
    // Calls `proc` with each class in registration order.
    static void EnumClasses(const std::function<void(const TOrvoTunedexProviderClass&)>& proc);
    // The class at the index; raises EArgumentError "Tunedex: catalog index out of bounds".
    static const TOrvoTunedexProviderClass& GetClass(int32_t index);
    // The position of the class, or -1.
    static int32_t IndexOf(const TOrvoTunedexProviderClass& cls);
    static int32_t Count();
    // Forgets every class, also in the class-by-name registry, for a plug-in that finalises.
    static void Clear();
};

// What the catalogue tells the parts of the plug-in that show it. Calls arrive on whichever
// thread raised them; a listener moves its user-interface work to the main thread itself.
class IOrvoStationCatalogListener {
public:
    // The catalogue's content or its provider list changed.
    virtual void CatalogChanged() = 0;
    // A background update run begins.
    virtual void AsyncUpdateStarted() = 0;
    // Download progress of the provider being updated; `total` <= 0 when the size is unknown.
    virtual void UpdateProgress(std::u16string_view title, int64_t received, int64_t total) = 0;
    // The run starts on the provider with this identifier.
    virtual void ProviderUpdateStarted(std::u16string_view providerId) = 0;
    // The run has ended.
    virtual void AsyncUpdateFinished() = 0;

protected:
    ~IOrvoStationCatalogListener() = default;
};

// The catalogue's listeners; each notification calls every listener in the order of addition.
//
// Thread-safety: as TNuvListenerList: any thread; a notification holds the list's own recursive
// lock for its walk, and a listener may remove itself or others while being called.
class TOrvoStationCatalogListeners : public TNuvListenerList<IOrvoStationCatalogListener> {
public:
    void CatalogChanged();
    void AsyncUpdateStarted();
    void UpdateProgress(std::u16string_view title, int64_t received, int64_t total);
    void ProviderUpdateStarted(std::u16string_view providerId);
    void AsyncUpdateFinished();
};

// The catalogue database ("Tunedex.db"). Opening creates the schema when it is missing and
// changes nothing otherwise. Statement failures raise ENuvSQLiteError to the caller.
//
// Refreshing: EntriesUpdate and its variants queue provider identifiers; one background run (a
// task of the dispatcher) takes them one by one, fetches each provider's document and replaces
// its rows in one transaction, so readers see either the old or the new set. A failed fetch or
// parse leaves the provider's rows, Count and Date as they were; so does a document a parser
// could not read (EOrvoTunedexDocumentError before any station), while one that stopped at an
// error after some stations stores those and logs the reason as a warning ("Tunedex warning:
// <title>: <reason>"; failures read "Tunedex: <title>: <reason>"). A provider whose Providers
// row went away during the fetch (removed by another process) is not written back. The run tells the
// listeners, on its worker thread: AsyncUpdateStarted; per provider ProviderUpdateStarted, UpdateProgress for
// every progress step, CatalogChanged once stored; then AsyncUpdateFinished and CatalogChanged,
// also when it was cancelled or failed.
//
// Destruction first empties every WeakRef and waits for the calls that hold one, then waits for
// the update run.
//
// Thread-safety: every operation may be called from any thread; statements are serialised by
// the database lock, so readers wait while another thread's transaction runs. The queue lock
// guards the queue and the run's handle; it is never taken while the database lock is held.
class TOrvoStationCatalog : public TNuvSQLiteBase {
public:
    // Opens or creates the file and its schema; raises ENuvSQLiteError when it cannot.
    explicit TOrvoStationCatalog(std::u16string fileName);
    ~TOrvoStationCatalog() override;

    // Writes one station for the provider. A row with the same stream address is replaced,
    // whichever provider it belonged to.
    void AddEntry(const TOrvoRadioStationInfo& info, std::u16string_view providerId);
    // Fills `info` from the first row whose column equals the value; false (and `info`
    // untouched) when there is none. A column name that is not a column raises.
    bool FindEntry(std::u16string_view column, std::u16string_view value, TOrvoRadioStationInfo& info);
    // FindEntry on the stream address.
    bool FindEntryByFileName(std::u16string_view fileName, TOrvoRadioStationInfo& info);
    // Number of stations of one provider.
    int32_t EntriesCount(std::u16string_view providerId);
    // Deletes the stations of one provider.
    void EntriesDelete(std::u16string_view providerId);
    // True when there are no stations at all.
    bool IsEmpty();
    // Replaces the file with a fresh, empty catalogue and tells every listener.
    void Reset();

    // The provider stored under the identifier, or null when there is no such row or its class
    // is not a provider class. An unregistered class name raises EClassNotFound.
    std::unique_ptr<TOrvoTunedexProvider> LoadProvider(std::u16string_view providerId);
    // Calls `proc` with each stored provider, which lives only for the call.
    void EnumProviders(const std::function<void(TOrvoTunedexProvider& provider)>& proc);

    // Queues the provider for the background update (also when it is queued already) and starts
    // a run when none is active. An empty identifier does nothing.
    void EntriesUpdate(std::u16string_view providerId);
    // Queues every stored provider.
    void EntriesUpdateAll();
    // Queues every stored provider with that title.
    void EntriesUpdateByTitle(std::u16string_view title);
    // Cancels the run and waits until it has ended (serving main-thread calls meanwhile on the
    // main thread). Identifiers still queued stay queued for the next run.
    void CancelUpdate();
    // The handle of the active run, 0 when none.
    TaskHandle UpdateTask();
    // Stores the provider's row, removes the row and stations of `oldId`, or both, in one
    // transaction; then CatalogChanged. The old identifier's rows go only when it differs from
    // the provider's ID (or there is no provider). Nothing happens without either.
    void ProviderUpdate(const TOrvoTunedexProvider* provider, std::u16string_view oldId);

    TOrvoStationCatalogListeners& Listeners() { return FListeners; }
    // A reference for the parts of the plug-in the host may call after the catalogue has gone.
    TNuvWeakRef<TOrvoStationCatalog> WeakRef() { return Lifetime().Ref(this); }

    // The statements, exactly as the catalogue runs them.
    static std::vector<std::u16string> SchemaStatements();
    static std::u16string SqlAddEntry(const TOrvoRadioStationInfo& info, std::u16string_view providerId);
    static std::u16string SqlFindEntry(std::u16string_view column, std::u16string_view value);
    static std::u16string SqlEntriesCount(std::u16string_view providerId);
    static std::u16string SqlEntriesDelete(std::u16string_view providerId);
    static std::u16string SqlEntriesTotal();
    static std::u16string SqlLoadProvider(std::u16string_view providerId);
    static std::u16string SqlEnumProviders();
    static std::u16string SqlProvidersByTitle(std::u16string_view title);
    static std::u16string SqlProviderDelete(std::u16string_view providerId);
    // `date` is a day count since 30 December 1899 (0 = never updated).
    static std::u16string SqlProviderStore(std::u16string_view providerId, std::u16string_view className,
                                           double date, std::u16string_view data, std::u16string_view title,
                                           int32_t count);

protected:
    void InitializeTables() override;

private:
    // The background run: takes queued identifiers until the queue is empty or it is cancelled.
    void AsyncUpdate(const TNuvCancelQuery& isCanceled);
    // Queues the provider of every row the query answers (its "UUID" column).
    void EntriesUpdateRows(const std::u16string& query);
    // Fetches one provider and replaces its stations; errors are logged and discarded.
    void UpdateProvider(TOrvoTunedexProvider& provider, const std::u16string& providerId,
                        std::vector<TOrvoRadioStationInfo>& stations, const TNuvCancelQuery& isCanceled);
    // Gives up the handle (queue lock held), once per run.
    void ReleaseUpdateTask(std::optional<TaskHandle>& own);

    TOrvoStationCatalogListeners FListeners;
    TNuvCriticalSection FQueueLock{u"QueueLock"};
    std::deque<std::u16string> FQueue;
    TaskHandle FTaskHandle = 0;
    // Runs that have given up the handle but may still be sending their closing notifications;
    // destruction waits for them as well as for the active run.
    std::vector<TaskHandle> FEndingRuns;
};
