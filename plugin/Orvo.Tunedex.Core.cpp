#include "plugin/Orvo.Tunedex.Core.h"

#include "nuv/Nuv.Log.h"
#include "nuv/Nuv.Streams.h"
#include "nuv/Nuv.Strings.h"
#include "platform/Platform.Locale.h"
#include "platform/Platform.System.h"
#include "sdk/api/OrvoAPI.Tunedex.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>

// ---- station record ----

void TOrvoRadioStationInfo::Reset() {
    *this = TOrvoRadioStationInfo();
}

// ---- provider classes ----

std::unique_ptr<TOrvoTunedexProvider>
TOrvoTunedexProviderClass::Create(std::u16string title, std::u16string data, TDateTime date) const {
    std::unique_ptr<TOrvoTunedexProvider> provider = Create();
    provider->Title = std::move(title);
    provider->Data = std::move(data);
    provider->Date = date;
    provider->Count = 0;
    return provider;
}

namespace {

// Large enough that writing a downloaded document costs few system calls.
constexpr size_t kDocumentBufferSize = 256 * 1024;

} // namespace

bool TOrvoTunedexProvider::IsRemoteAddress(std::u16string_view address) {
    if (address.size() <= 3)
        return false;
    size_t colon = 0;
    while (colon < address.size() && IsAsciiAlphaNumeric(address[colon]))
        ++colon;
    if (colon + 2 >= address.size() || address[colon] != u':')
        return false;
    const char16_t first = address[colon + 1];
    return (first == u'/' || first == u'\\') && address[colon + 2] == first;
}

std::u16string TOrvoTunedexProvider::LocalContentType(std::u16string_view path) {
    const size_t name = path.find_last_of(u"/\\");
    const std::u16string_view fileName = name == std::u16string_view::npos ? path : path.substr(name + 1);
    const size_t dot = fileName.rfind(u'.');
    return u"application/" +
           (dot == std::u16string_view::npos ? std::u16string() : AsciiUpper(fileName.substr(dot + 1)));
}

void TOrvoTunedexProvider::AsyncFetch(const THttpProgressProc& progress,
                                      const TOrvoStationReceiver& receiver) {
    const std::u16string address = DocumentURL();
    if (!IsRemoteAddress(address)) {
        TNuvBufferedFileStream file(ToUtf8(address), TNuvFileMode::OpenRead, kDocumentBufferSize);
        AsyncFetch(file, LocalContentType(address), receiver);
        return;
    }
    // The file goes with the stream, also when the download or the parser fails.
    TNuvTemporaryFileStream document("Tunedex", kDocumentBufferSize);
    THttpResponse response;
    TNuvHttp::RaiseOnError(DownloadDocument(TNuvHttp::Get(address)
                                                ->OnAccept(
                                                    [&response](const THttpResponse& accepted) {
                                                        response = accepted;
                                                        return true;
                                                    },
                                                    false)
                                                .OnProgress(progress, false),
                                            document));
    document.SetPosition(0);
    AsyncFetch(document, response.ContentType, receiver);
}

TNuvWebErrorInfo TOrvoTunedexProvider::DownloadDocument(INuvHttpRequest& request, TNuvStream& document) {
    const int64_t limit = NuvMaxDocumentSize();
    int64_t written = 0;
    int64_t refused = 0;
    const TNuvWebErrorInfo outcome = request
                                         .OnData([&](const void* buffer, int64_t count) {
                                             if (count > limit - written) {
                                                 refused = written + count;
                                                 return false;
                                             }
                                             written += count;
                                             return document.Write(buffer, count) == count;
                                         })
                                         .RunInCurrentThread();
    if (refused > 0)
        throw EOrvoTunedexDocumentError(NuvDocumentSizeRefusal(refused) +
                                        u"; its download was stopped there");
    return outcome;
}

std::u16string TOrvoTunedexProvider::ID() const {
    const std::string data = ToUtf8(Data);
    return FromAscii(platform::Md5Hex(data.data(), data.size()));
}

std::u16string TOrvoTunedexProvider::DateAsText() const {
    if (!(Date > 0))
        return u"-";
    return FormatDateTime(u"yyyy.MM.dd hh:mm:ss", Date, platform::TimeSeparator());
}

// ---- the repository ----

namespace {

std::vector<const TOrvoTunedexProviderClass*>& ProviderClasses() {
    static std::vector<const TOrvoTunedexProviderClass*> classes;
    return classes;
}

} // namespace

void TOrvoTunedexProviderRepository::RegisterProvider(const TOrvoTunedexProviderClass& cls) {
    TNuvClasses::Register(cls);
    ProviderClasses().push_back(&cls);
}

void TOrvoTunedexProviderRepository::EnumClasses(
    const std::function<void(const TOrvoTunedexProviderClass&)>& proc) {
    for (const TOrvoTunedexProviderClass* cls : ProviderClasses())
        proc(*cls);
}

const TOrvoTunedexProviderClass& TOrvoTunedexProviderRepository::GetClass(int32_t index) {
    const auto& classes = ProviderClasses();
    if (index < 0 || size_t(index) >= classes.size())
        throw EArgumentError(u"Tunedex: catalog index out of bounds");
    return *classes[size_t(index)];
}

int32_t TOrvoTunedexProviderRepository::IndexOf(const TOrvoTunedexProviderClass& cls) {
    const auto& classes = ProviderClasses();
    const auto found = std::find(classes.begin(), classes.end(), &cls);
    return found == classes.end() ? -1 : int32_t(found - classes.begin());
}

int32_t TOrvoTunedexProviderRepository::Count() {
    return int32_t(ProviderClasses().size());
}

void TOrvoTunedexProviderRepository::Clear() {
    for (const TOrvoTunedexProviderClass* cls : ProviderClasses())
        TNuvClasses::Unregister(*cls);
    ProviderClasses().clear();
}

// ---- listeners ----

void TOrvoStationCatalogListeners::CatalogChanged() {
    Walk([](IOrvoStationCatalogListener& listener) { listener.CatalogChanged(); });
}

void TOrvoStationCatalogListeners::AsyncUpdateStarted() {
    Walk([](IOrvoStationCatalogListener& listener) { listener.AsyncUpdateStarted(); });
}

void TOrvoStationCatalogListeners::UpdateProgress(std::u16string_view title, int64_t received,
                                                  int64_t total) {
    Walk([&](IOrvoStationCatalogListener& listener) { listener.UpdateProgress(title, received, total); });
}

void TOrvoStationCatalogListeners::ProviderUpdateStarted(std::u16string_view providerId) {
    Walk([&](IOrvoStationCatalogListener& listener) { listener.ProviderUpdateStarted(providerId); });
}

void TOrvoStationCatalogListeners::AsyncUpdateFinished() {
    Walk([](IOrvoStationCatalogListener& listener) { listener.AsyncUpdateFinished(); });
}

// ---- statements ----

namespace {

// The "SELECT * " and "DELETE " heads meet " FROM " with a space of their own, so these
// statements carry two spaces before FROM.
TNuvSQLQueryBuilder& WhereEquals(TNuvSQLQueryBuilder& builder, std::u16string_view column) {
    return builder.Raw(u" WHERE ").Item(column).Raw(u" = ");
}

// The outcome in the form a host reads back, beside the line written for people.
void LogRefreshOutcome(const TTunedexRefreshLogEntry& entry) {
    NuvLogError(TUNEDEX_REFRESH_LOG_TAG, FormatTunedexRefreshLogMessage(entry));
}

} // namespace

std::vector<std::u16string> TOrvoStationCatalog::SchemaStatements() {
    std::vector<std::u16string> statements;
    statements.push_back(TNuvSQLQueryBuilder()
                             .Raw(u"CREATE TABLE IF NOT EXISTS ")
                             .Table(u"Entries")
                             .Raw(u"(")
                             .Item(u"ID INTEGER PRIMARY KEY AUTOINCREMENT")
                             .Item(u"FileName TEXT COLLATE UNICODE")
                             .Suffix(u" UNIQUE ")
                             .Item(u"CatUIID TEXT COLLATE UNICODE")
                             .Item(u"Name TEXT COLLATE UNICODE")
                             .Item(u"Description TEXT COLLATE UNICODE")
                             .Item(u"Genre TEXT COLLATE UNICODE")
                             .Item(u"FileFormat TEXT COLLATE UNICODE")
                             .Item(u"Bitrate INTEGER")
                             .Item(u"Tags TEXT COLLATE UNICODE")
                             .Item(u"Country TEXT COLLATE UNICODE")
                             .Item(u"HomeURL TEXT COLLATE UNICODE")
                             .Item(u"Logo TEXT COLLATE UNICODE")
                             .Raw(u")")
                             .Build());
    statements.push_back(TNuvSQLQueryBuilder()
                             .Raw(u"CREATE TABLE IF NOT EXISTS ")
                             .Table(u"Logos")
                             .Raw(u"(")
                             .Item(u"ID TEXT COLLATE UNICODE PRIMARY KEY")
                             .Item(u"Data BLOB")
                             .Raw(u")")
                             .Build());
    statements.push_back(TNuvSQLQueryBuilder()
                             .Raw(u"CREATE TABLE IF NOT EXISTS ")
                             .Table(u"Providers")
                             .Raw(u"(")
                             .Item(u"UUID TEXT COLLATE UNICODE PRIMARY KEY")
                             .Item(u"Class TEXT COLLATE UNICODE")
                             .Item(u"Date DOUBLE")
                             .Item(u"Data TEXT COLLATE UNICODE")
                             .Item(u"Title TEXT COLLATE UNICODE")
                             .Item(u"UserAgent TEXT COLLATE UNICODE")
                             .Item(u"Count INTEGER")
                             .Raw(u")")
                             .Build());
    statements.push_back(TNuvSQLQueryBuilder()
                             .Raw(u"CREATE UNIQUE INDEX IF NOT EXISTS ")
                             .Item(u"EntriesIndex")
                             .Raw(u" ON ")
                             .Table(u"Entries")
                             .Raw(u"(")
                             .Item(u"FileName")
                             .Raw(u")")
                             .Build());
    return statements;
}

std::u16string TOrvoStationCatalog::SqlAddEntry(const TOrvoRadioStationInfo& info,
                                                std::u16string_view providerId) {
    // Sized for a typical station so the text is built without growing.
    const size_t size = 64 + info.FileName.size() + providerId.size() + info.Name.size() +
                        info.Description.size() + info.Genre.size() + info.FileFormat.size() +
                        info.Tags.size() + info.Country.size() + info.HomeURL.size() + info.Logo.size();
    return TNuvSQLQueryBuilder(size + size / 8)
        .Raw(u"REPLACE INTO ")
        .Item(u"Entries")
        .Raw(u" VALUES (")
        .Value(nullptr)
        .Value(info.FileName)
        .Value(providerId)
        .Value(info.Name)
        .Value(info.Description)
        .Value(info.Genre)
        .Value(info.FileFormat)
        .Value(info.Bitrate)
        .Value(info.Tags)
        .Value(info.Country)
        .Value(info.HomeURL)
        .Value(info.Logo)
        .Raw(u")")
        .Build();
}

std::u16string TOrvoStationCatalog::SqlFindEntry(std::u16string_view column, std::u16string_view value) {
    TNuvSQLQueryBuilder builder;
    builder.Raw(u"SELECT * ").From().Item(u"Entries");
    return WhereEquals(builder, column).Value(value).Build();
}

std::u16string TOrvoStationCatalog::SqlEntriesCount(std::u16string_view providerId) {
    TNuvSQLQueryBuilder builder;
    builder.Raw(u"SELECT ").Item(u"Count(*)").From().Item(u"Entries");
    return WhereEquals(builder, u"CatUIID").Value(providerId).Build();
}

std::u16string TOrvoStationCatalog::SqlEntriesDelete(std::u16string_view providerId) {
    TNuvSQLQueryBuilder builder;
    builder.Raw(u"DELETE ").From().Item(u"Entries");
    return WhereEquals(builder, u"CatUIID").Value(providerId).Build();
}

std::u16string TOrvoStationCatalog::SqlEntriesTotal() {
    return TNuvSQLQueryBuilder().Raw(u"SELECT ").Item(u"Count(*)").From().Item(u"Entries").Build();
}

std::u16string TOrvoStationCatalog::SqlLoadProvider(std::u16string_view providerId) {
    TNuvSQLQueryBuilder builder;
    builder.Raw(u"SELECT * ").From().Item(u"Providers");
    return WhereEquals(builder, u"UUID").Value(providerId).Build();
}

std::u16string TOrvoStationCatalog::SqlEnumProviders() {
    return TNuvSQLQueryBuilder().Raw(u"SELECT * ").From().Item(u"Providers").Build();
}

std::u16string TOrvoStationCatalog::SqlProvidersByTitle(std::u16string_view title) {
    TNuvSQLQueryBuilder builder;
    builder.Raw(u"SELECT * ").From().Item(u"Providers");
    return WhereEquals(builder, u"Title").Value(title).Build();
}

std::u16string TOrvoStationCatalog::SqlProviderDelete(std::u16string_view providerId) {
    TNuvSQLQueryBuilder builder;
    builder.Raw(u"DELETE ").From().Item(u"Providers");
    return WhereEquals(builder, u"UUID").Value(providerId).Build();
}

std::u16string TOrvoStationCatalog::SqlProviderStore(std::u16string_view providerId,
                                                     std::u16string_view className, double date,
                                                     std::u16string_view data, std::u16string_view title,
                                                     int32_t count) {
    return TNuvSQLQueryBuilder()
        .Raw(u"REPLACE INTO ")
        .Item(u"Providers")
        .Raw(u" VALUES (")
        .Value(providerId)
        .Value(className)
        .Value(date)
        .Value(data)
        .Value(title)
        .Value(u"")
        .Value(count)
        .Raw(u")")
        .Build();
}

// ---- the catalogue ----

TOrvoStationCatalog::TOrvoStationCatalog(std::u16string fileName)
    : TNuvSQLiteBase(std::move(fileName), TDeferOpen{}) {
    Open();
}

TOrvoStationCatalog::~TOrvoStationCatalog() {
    // Calls the host makes on other threads end before anything here is taken apart.
    RevokeWeakRefs();
    // No run may outlive the catalogue it writes to.
    CancelUpdate();
}

void TOrvoStationCatalog::InitializeTables() {
    for (const std::u16string& statement : SchemaStatements())
        Exec(statement);
}

void TOrvoStationCatalog::AddEntry(const TOrvoRadioStationInfo& info, std::u16string_view providerId) {
    Exec(SqlAddEntry(info, providerId));
}

bool TOrvoStationCatalog::FindEntry(std::u16string_view column, std::u16string_view value,
                                    TOrvoRadioStationInfo& info) {
    std::unique_ptr<TNuvSQLiteTable> table;
    if (!Query(SqlFindEntry(column, value), table))
        return false;
    info.FileName = table->ReadString(u"FileName");
    info.Name = table->ReadString(u"Name");
    info.Description = table->ReadString(u"Description");
    info.Genre = table->ReadString(u"Genre");
    info.FileFormat = table->ReadString(u"FileFormat");
    const int32_t bitrate = table->ColumnIndex(u"Bitrate");
    info.Bitrate = bitrate < 0 ? 0 : int32_t(uint32_t(uint64_t(table->ReadInt64(bitrate))));
    info.Tags = table->ReadString(u"Tags");
    info.Country = table->ReadString(u"Country");
    info.HomeURL = table->ReadString(u"HomeURL");
    info.Logo = table->ReadString(u"Logo");
    return true;
}

bool TOrvoStationCatalog::FindEntryByFileName(std::u16string_view fileName, TOrvoRadioStationInfo& info) {
    return FindEntry(u"FileName", fileName, info);
}

int32_t TOrvoStationCatalog::EntriesCount(std::u16string_view providerId) {
    return int32_t(ExecInt(SqlEntriesCount(providerId)));
}

void TOrvoStationCatalog::EntriesDelete(std::u16string_view providerId) {
    Exec(SqlEntriesDelete(providerId));
}

bool TOrvoStationCatalog::IsEmpty() {
    return ExecInt(SqlEntriesTotal()) == 0;
}

void TOrvoStationCatalog::Reset() {
    Recreate();
    FListeners.CatalogChanged();
}

// ---- providers ----

namespace {

// A provider from a Providers row; null when the row's class is not a provider class.
std::unique_ptr<TOrvoTunedexProvider> CreateProvider(TNuvSQLiteTable& row) {
    const TNuvClass& cls = TNuvClasses::Find(row.ReadString(u"Class"));
    const auto* providerClass = dynamic_cast<const TOrvoTunedexProviderClass*>(&cls);
    if (!providerClass)
        return nullptr;
    const int32_t date = row.ColumnIndex(u"Date");
    const int32_t count = row.ColumnIndex(u"Count");
    std::unique_ptr<TOrvoTunedexProvider> provider = providerClass->Create(
        row.ReadString(u"Title"), row.ReadString(u"Data"), date < 0 ? 0.0 : row.ReadDouble(date));
    provider->Count = count < 0 ? 0 : int32_t(uint32_t(uint64_t(row.ReadInt64(count))));
    return provider;
}

} // namespace

std::unique_ptr<TOrvoTunedexProvider> TOrvoStationCatalog::LoadProvider(std::u16string_view providerId) {
    std::unique_ptr<TNuvSQLiteTable> table;
    if (!Query(SqlLoadProvider(providerId), table))
        return nullptr;
    return CreateProvider(*table);
}

void TOrvoStationCatalog::EnumProviders(const std::function<void(TOrvoTunedexProvider& provider)>& proc) {
    std::unique_ptr<TNuvSQLiteTable> table;
    if (!Query(SqlEnumProviders(), table))
        return;
    do {
        if (std::unique_ptr<TOrvoTunedexProvider> provider = CreateProvider(*table))
            proc(*provider);
    } while (table->NextRow());
}

// ---- the background update ----

void TOrvoStationCatalog::EntriesUpdate(std::u16string_view providerId) {
    if (providerId.empty())
        return;
    std::lock_guard guard(FQueueLock);
    FQueue.emplace_back(providerId);
    if (FTaskHandle == 0)
        FTaskHandle =
            TaskDispatcher().Run([this](const TNuvCancelQuery& isCanceled) { AsyncUpdate(isCanceled); });
}

void TOrvoStationCatalog::EntriesUpdateAll() {
    EntriesUpdateRows(SqlEnumProviders());
}

void TOrvoStationCatalog::EntriesUpdateByTitle(std::u16string_view title) {
    EntriesUpdateRows(SqlProvidersByTitle(title));
}

void TOrvoStationCatalog::EntriesUpdateRows(const std::u16string& query) {
    std::unique_ptr<TNuvSQLiteTable> table;
    if (!Query(query, table))
        return;
    // Holding the lock over the loop keeps a run that the first identifier starts from finding
    // the queue empty before the last one is in.
    std::lock_guard guard(FQueueLock);
    do
        EntriesUpdate(table->ReadString(u"UUID"));
    while (table->NextRow());
}

TaskHandle TOrvoStationCatalog::UpdateTask() {
    std::lock_guard guard(FQueueLock);
    return FTaskHandle;
}

void TOrvoStationCatalog::CancelUpdate() {
    std::vector<TaskHandle> runs;
    {
        std::lock_guard guard(FQueueLock);
        if (FTaskHandle != 0)
            runs.push_back(FTaskHandle);
        runs.insert(runs.end(), FEndingRuns.begin(), FEndingRuns.end());
    }
    for (const TaskHandle run : runs) {
        // False only when the wait failed, as it does in the run's own thread: the run then
        // stops at its next check and gives up its handle itself.
        if (!TaskDispatcher().Cancel(run, true))
            continue;
        std::lock_guard guard(FQueueLock);
        // A run cancelled before it started never ran to give up its handle.
        if (FTaskHandle == run)
            FTaskHandle = 0;
        std::erase(FEndingRuns, run);
    }
}

void TOrvoStationCatalog::ReleaseUpdateTask(std::optional<TaskHandle>& own) {
    if (own)
        return;
    // Until now the handle is this run's own: only the run clears it, and a new run starts only
    // once it is 0.
    own = FTaskHandle;
    FTaskHandle = 0;
    FEndingRuns.push_back(*own);
}

void TOrvoStationCatalog::AsyncUpdate(const TNuvCancelQuery& isCanceled) {
    std::optional<TaskHandle> own; // set once the run has given up the handle
    std::exception_ptr error;
    try {
        FListeners.AsyncUpdateStarted();
        // One list for every provider, so its storage is reused.
        std::vector<TOrvoRadioStationInfo> stations;
        while (!isCanceled()) {
            std::u16string providerId;
            {
                std::lock_guard guard(FQueueLock);
                if (FQueue.empty()) {
                    ReleaseUpdateTask(own);
                    break;
                }
                providerId = std::move(FQueue.front());
                FQueue.pop_front();
            }
            std::unique_ptr<TOrvoTunedexProvider> provider = LoadProvider(providerId);
            if (provider)
                UpdateProvider(*provider, providerId, stations, isCanceled);
        }
    } catch (...) {
        error = std::current_exception();
    }
    {
        // Cancelled or failed: the next EntriesUpdate must start a new run.
        std::lock_guard guard(FQueueLock);
        ReleaseUpdateTask(own);
    }
    try {
        FListeners.AsyncUpdateFinished();
    } catch (...) {
        if (!error)
            error = std::current_exception();
    }
    try {
        FListeners.CatalogChanged();
    } catch (...) {
        if (!error)
            error = std::current_exception();
    }
    {
        // The last touch of the catalogue: once the run is off this list, destruction need not
        // wait for it.
        std::lock_guard guard(FQueueLock);
        std::erase(FEndingRuns, *own);
    }
    // The dispatcher logs it.
    if (error)
        std::rethrow_exception(error);
}

void TOrvoStationCatalog::UpdateProvider(TOrvoTunedexProvider& provider, const std::u16string& providerId,
                                         std::vector<TOrvoRadioStationInfo>& stations,
                                         const TNuvCancelQuery& isCanceled) {
    try {
        stations.clear();
        FListeners.ProviderUpdateStarted(providerId);
        std::u16string stoppedAt;
        try {
            provider.AsyncFetch(
                [&](int64_t received, int64_t total) {
                    FListeners.UpdateProgress(provider.Title, received, total);
                    return !isCanceled();
                },
                [&](const TOrvoRadioStationInfo& station) { stations.push_back(station); });
        } catch (const EOrvoTunedexDocumentError& e) {
            // Nothing read is no reason to empty a catalogue; what was read before the error is
            // the document as far as it goes.
            if (stations.empty())
                throw;
            stoppedAt = e.Message();
        }
        // A run is never interrupted inside the transaction, so this is the last chance to stop.
        if (isCanceled())
            return;
        Transaction([&] {
            // Deleting first takes the write lock, so no other process can remove the provider
            // between the check and the commit.
            EntriesDelete(providerId);
            std::unique_ptr<TNuvSQLiteTable> row;
            if (!Query(SqlLoadProvider(providerId), row))
                throw EInvalidOperation(u"the catalogue was removed while it was refreshed");
            for (const TOrvoRadioStationInfo& station : stations)
                AddEntry(station, providerId);
            provider.Count = EntriesCount(providerId);
            provider.Date = NuvNow();
            Exec(SqlProviderStore(provider.ID(), provider.ClassType().ClassName(), provider.Date,
                                  provider.Data, provider.Title, provider.Count));
        });
        FListeners.CatalogChanged();
        if (!stoppedAt.empty()) {
            NuvLogError(u"App", Format(u"Tunedex warning: %s: %s", provider.Title, stoppedAt));
            LogRefreshOutcome({TTunedexRefreshOutcome::Warning, provider.Title, stoppedAt});
        }
    } catch (const std::exception& e) {
        // One provider's failure must not stop the others; its rows stay as they were.
        const std::u16string reason = ExceptionMessage(e);
        NuvLogError(u"App", Format(u"Tunedex: %s: %s", provider.Title, reason));
        LogRefreshOutcome({TTunedexRefreshOutcome::Failed, provider.Title, reason});
    } catch (...) {
        NuvLogError(u"App", Format(u"Tunedex: %s: unknown error", provider.Title));
        LogRefreshOutcome({TTunedexRefreshOutcome::Failed, provider.Title, u"unknown error"});
    }
}

void TOrvoStationCatalog::ProviderUpdate(const TOrvoTunedexProvider* provider, std::u16string_view oldId) {
    if (!provider && oldId.empty())
        return;
    Transaction([&] {
        if (!oldId.empty() && (!provider || provider->ID() != oldId)) {
            EntriesDelete(oldId);
            Exec(SqlProviderDelete(oldId));
        }
        if (provider)
            Exec(SqlProviderStore(provider->ID(), provider->ClassType().ClassName(), provider->Date,
                                  provider->Data, provider->Title, provider->Count));
    });
    FListeners.CatalogChanged();
}
