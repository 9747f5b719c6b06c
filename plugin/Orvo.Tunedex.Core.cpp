#include "plugin/Orvo.Tunedex.Core.h"

#include <memory>

// ---- station record ----

void TOrvoRadioStationInfo::Reset() {
    *this = TOrvoRadioStationInfo();
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

TOrvoStationCatalog::~TOrvoStationCatalog() = default;

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
