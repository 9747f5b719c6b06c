#include "nuv/Nuv.SQLite3.h"

#include "nuv/Nuv.Log.h"
#include "nuv/Nuv.Strings.Natural.h"
#include "nuv/Nuv.Strings.h"
#include "platform/Platform.Locale.h"

#include <sqlite3.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <mutex>
#include <new>
#include <system_error>
#include <utility>

namespace {

constexpr int kBusyTimeoutMs = 10000;

// ---- texts handed over by SQLite ----

std::u16string_view ValueText(sqlite3_value* value) {
    const auto* text = static_cast<const char16_t*>(sqlite3_value_text16(value));
    const int bytes = sqlite3_value_bytes16(value);
    if (!text || bytes <= 0)
        return {};
    return {text, size_t(bytes) / 2};
}

void ResultText(sqlite3_context* context, std::u16string_view text) {
    // SQLITE_TRANSIENT: SQLite takes its own copy and frees it.
    sqlite3_result_text16(context, text.data(), int(text.size() * 2), SQLITE_TRANSIENT);
}

// User functions run inside SQLite's C frames, where no exception may pass.
template <typename F> void Guarded(sqlite3_context* context, F&& body) noexcept {
    try {
        body();
    } catch (const std::bad_alloc&) {
        sqlite3_result_error_nomem(context);
    } catch (const std::exception& e) {
        sqlite3_result_error(context, e.what(), -1);
    } catch (...) {
        sqlite3_result_error(context, "unknown error", -1);
    }
}

// ---- collations ----

// SQLite hands collations texts straight from its record buffers, where a UTF-16 text may start
// at an odd address. Such a text is copied to aligned memory (on the stack when it is short)
// before it is read as char16_t.
class TCollationText {
public:
    TCollationText(int bytes, const void* data) {
        if (bytes <= 0 || !data)
            return;
        const size_t length = size_t(bytes) / 2;
        if ((reinterpret_cast<uintptr_t>(data) & 1) == 0) {
            FText = {static_cast<const char16_t*>(data), length};
            return;
        }
        char16_t* target = FBuffer;
        if (length > std::size(FBuffer)) {
            FHeap.resize(length);
            target = FHeap.data();
        }
        std::memcpy(target, data, length * 2);
        FText = {target, length};
    }
    TCollationText(const TCollationText&) = delete;
    TCollationText& operator=(const TCollationText&) = delete;

    std::u16string_view Text() const { return FText; }

private:
    std::u16string_view FText;
    char16_t FBuffer[256];
    std::u16string FHeap;
};

int CollateNoCase(void*, int bytesA, const void* a, int bytesB, const void* b) {
    const TCollationText textA(bytesA, a), textB(bytesB, b);
    return platform::CompareTextLocale(textA.Text(), textB.Text());
}

int CollateLogical(void*, int bytesA, const void* a, int bytesB, const void* b) {
    const TCollationText textA(bytesA, a), textB(bytesB, b);
    return CompareTextNatural(textA.Text(), textB.Text());
}

// ---- key lists ----

// An item is an optional "-" and at least one digit; anything else, or a number that does not
// fit in 64 bits, counts as 0.
int64_t KeyItemValue(std::u16string_view item) {
    size_t i = 0;
    const bool negative = !item.empty() && item[0] == u'-';
    if (negative)
        i = 1;
    if (i >= item.size())
        return 0;
    uint64_t magnitude = 0;
    const uint64_t limit = negative ? uint64_t(INT64_MAX) + 1 : uint64_t(INT64_MAX);
    for (; i < item.size(); ++i) {
        if (!IsNaturalDigit(item[i]))
            return 0;
        const unsigned digit = unsigned(NaturalDigitValue(item[i]));
        if (magnitude > (limit - digit) / 10)
            return 0;
        magnitude = magnitude * 10 + digit;
    }
    return negative ? int64_t(0 - magnitude) : int64_t(magnitude);
}

void FunctionKeyContains(sqlite3_context* context, int argc, sqlite3_value** argv) {
    if (argc != 2) {
        sqlite3_result_int(context, 0);
        return;
    }
    sqlite3_result_int(context, KeyPosition(ValueText(argv[0]), ValueText(argv[1])) >= 0 ? 1 : 0);
}

void FunctionKeyContainsOneFrom(sqlite3_context* context, int argc, sqlite3_value** argv) {
    if (argc < 1) {
        sqlite3_result_int(context, 0);
        return;
    }
    // Reading a later argument's text may convert it, but never the list's, so the view stays valid.
    const std::u16string_view list = ValueText(argv[0]);
    for (int i = 1; i < argc; ++i) {
        if (KeyPosition(list, ValueText(argv[i])) >= 0) {
            sqlite3_result_int(context, 1);
            return;
        }
    }
    sqlite3_result_int(context, 0);
}

void FunctionKeyContainsOneFromRange(sqlite3_context* context, int argc, sqlite3_value** argv) {
    if (argc != 3) {
        sqlite3_result_int(context, 0);
        return;
    }
    const int64_t low = sqlite3_value_int64(argv[1]);
    const int64_t high = sqlite3_value_int64(argv[2]);
    const std::u16string_view list = ValueText(argv[0]);
    size_t start = 0;
    for (;;) {
        const size_t end = std::min(list.find(u';', start), list.size());
        const int64_t value = KeyItemValue(list.substr(start, end - start));
        if (value >= low && value <= high) {
            sqlite3_result_int(context, 1);
            return;
        }
        if (end >= list.size())
            break;
        start = end + 1;
    }
    sqlite3_result_int(context, 0);
}

void FunctionKeyExclude(sqlite3_context* context, int argc, sqlite3_value** argv) {
    if (argc != 2) {
        sqlite3_result_null(context);
        return;
    }
    Guarded(context, [&] {
        const std::u16string_view list = ValueText(argv[0]);
        const std::u16string_view key = ValueText(argv[1]);
        const ptrdiff_t at = KeyPosition(list, key);
        if (at < 0) {
            sqlite3_result_value(context, argv[0]);
            return;
        }
        std::u16string rest(list);
        rest.erase(size_t(at), key.size() + 1);
        rest = ReplaceAll(rest, u";;", u";");
        if (!rest.empty() && rest.back() == u';')
            rest.pop_back();
        ResultText(context, rest);
    });
}

void FunctionKeyInclude(sqlite3_context* context, int argc, sqlite3_value** argv) {
    if (argc != 2) {
        sqlite3_result_null(context);
        return;
    }
    Guarded(context, [&] {
        const std::u16string_view list = ValueText(argv[0]);
        const std::u16string_view key = ValueText(argv[1]);
        if (KeyPosition(list, key) >= 0) {
            sqlite3_result_value(context, argv[0]);
            return;
        }
        std::u16string joined(list);
        if (!joined.empty())
            joined += u';';
        joined += key;
        ResultText(context, ReplaceAll(joined, u";;", u";"));
    });
}

// A NULL argument reads as the empty text, so "NOT LIKE" filters over UPPER(column) keep rows
// whose column is empty.
void FunctionLower(sqlite3_context* context, int argc, sqlite3_value** argv) {
    Guarded(context, [&] {
        ResultText(context, platform::LowerCaseLocale(argc > 0 ? ValueText(argv[0]) : std::u16string_view()));
    });
}

void FunctionUpper(sqlite3_context* context, int argc, sqlite3_value** argv) {
    Guarded(context, [&] {
        ResultText(context, platform::UpperCaseLocale(argc > 0 ? ValueText(argv[0]) : std::u16string_view()));
    });
}

void FunctionBase64(sqlite3_context* context, int argc, sqlite3_value** argv) {
    Guarded(context, [&] {
        const std::string encoded =
            EncodeBase64(ToUtf8(argc > 0 ? ValueText(argv[0]) : std::u16string_view()));
        sqlite3_result_text(context, encoded.data(), int(encoded.size()), SQLITE_TRANSIENT);
    });
}

// SQLite keeps memory statistics under a process-wide mutex taken on every allocation, and
// compiling a statement allocates a lot. Nothing here reads those statistics, so they are switched
// off; the setting can only be made before the library initialises, and is skipped otherwise.
void ConfigureLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0); });
}

std::u16string ErrorText(sqlite3* connection, int32_t code) {
    if (connection) {
        if (const auto* text = static_cast<const char16_t*>(sqlite3_errmsg16(connection)))
            return text;
    }
    return FromUtf8(sqlite3_errstr(code));
}

} // namespace

// ---- owners and errors ----

void TNuvSQLiteStatementFinalizer::operator()(sqlite3_stmt* statement) const noexcept {
    sqlite3_finalize(statement);
}

void TNuvSQLiteConnectionCloser::operator()(sqlite3* connection) const noexcept {
    // The _v2 form defers the close until forgotten result sets are finalised instead of failing.
    sqlite3_close_v2(connection);
}

ENuvSQLiteError::ENuvSQLiteError(sqlite3* connection, int32_t code, std::u16string_view query)
    : Exception(Format(u"Error: %s (%d)\r\nLast query:\r\n%s", ErrorText(connection, code), code, query)),
      FErrorCode(code) {}

namespace {

// The name hash with one more character: h * 16 + c, the top nibble folded back in.
uint32_t AddToNameHash(uint32_t h, char16_t c) {
    h = (h << 4) + c;
    const uint32_t g = h & 0xF0000000u;
    if (g != 0)
        h ^= g >> 24;
    return h & ~g;
}

} // namespace

uint32_t NuvSQLiteNameHash(std::u16string_view upperName) {
    uint32_t h = 0;
    for (const char16_t c : upperName)
        h = AddToNameHash(h, c);
    return h;
}

// ---- result sets ----

namespace {

// Column names are nearly always ASCII, and SQL itself folds only ASCII case in identifiers; for
// those the upper-casing needs no locale (which would, in a Turkic locale, not fold "i" to "I").
uint32_t ColumnNameHash(std::u16string_view name) {
    if (!IsAscii(name))
        return NuvSQLiteNameHash(platform::UpperCaseLocale(name));
    uint32_t h = 0;
    for (const char16_t c : name)
        h = AddToNameHash(h, c >= u'a' && c <= u'z' ? char16_t(c - 32) : c);
    return h;
}

bool SameColumnName(std::u16string_view a, std::u16string_view b) {
    if (IsAscii(a) && IsAscii(b))
        return SameTextAscii(a, b);
    return platform::CompareTextLocale(a, b) == 0;
}

} // namespace

TNuvSQLiteTable::TNuvSQLiteTable(TNuvSQLiteBase& database, TNuvSQLiteStatement statement)
    : FDatabase(database), FStatement(std::move(statement)) {}

TNuvSQLiteTable::~TNuvSQLiteTable() = default;

void TNuvSQLiteTable::LoadColumns() {
    const int count = sqlite3_column_count(FStatement.get());
    FColumns.clear();
    FColumns.reserve(size_t(count));
    for (int i = 0; i < count; ++i) {
        TNuvSQLiteColumn column;
        if (const auto* name = static_cast<const char16_t*>(sqlite3_column_name16(FStatement.get(), i)))
            column.Name = name;
        column.NameHash = ColumnNameHash(column.Name);
        const int type = sqlite3_column_type(FStatement.get(), i);
        column.Kind = TNuvSQLiteColumnKind(type < 1 ? 0 : (type > 4 ? 5 : type));
        FColumns.push_back(std::move(column));
    }
    FColumnsLoaded = true;
}

const std::vector<TNuvSQLiteColumn>& TNuvSQLiteTable::Columns() {
    if (!FColumnsLoaded)
        LoadColumns();
    return FColumns;
}

int32_t TNuvSQLiteTable::ColumnCount() const {
    return sqlite3_column_count(FStatement.get());
}

int32_t TNuvSQLiteTable::ColumnIndex(std::u16string_view name) {
    const uint32_t hash = ColumnNameHash(name);
    const auto& columns = Columns();
    for (size_t i = 0; i < columns.size(); ++i) {
        const TNuvSQLiteColumn& column = columns[i];
        if (column.NameHash == hash && column.Name.size() == name.size() && SameColumnName(column.Name, name))
            return int32_t(i);
    }
    return -1;
}

bool TNuvSQLiteTable::NextRow() {
    const int code = sqlite3_step(FStatement.get());
    if (code == SQLITE_ROW)
        return true;
    FDatabase.CheckError(code);
    return false;
}

double TNuvSQLiteTable::ReadDouble(int32_t column) const {
    return sqlite3_column_double(FStatement.get(), column);
}

int64_t TNuvSQLiteTable::ReadInt64(int32_t column) const {
    return sqlite3_column_int64(FStatement.get(), column);
}

std::u16string_view TNuvSQLiteTable::ReadText(int32_t column) const {
    const auto* text = static_cast<const char16_t*>(sqlite3_column_text16(FStatement.get(), column));
    const int bytes = sqlite3_column_bytes16(FStatement.get(), column);
    if (!text || bytes <= 0)
        return {};
    return {text, size_t(bytes) / 2};
}

std::u16string TNuvSQLiteTable::ReadString(std::u16string_view name) {
    const int32_t index = ColumnIndex(name);
    return index < 0 ? std::u16string() : std::u16string(ReadText(index));
}

// ---- the database object ----

namespace {

std::unique_ptr<TNuvSQLiteTable> NewTable(TNuvSQLiteBase& database, TNuvSQLiteStatement statement) {
    return std::make_unique<TNuvSQLiteTable>(database, std::move(statement));
}

} // namespace

TNuvSQLiteBase::TNuvSQLiteBase(std::u16string fileName) : TNuvSQLiteBase(std::move(fileName), TDeferOpen{}) {
    Open();
}

TNuvSQLiteBase::TNuvSQLiteBase(std::u16string fileName, TDeferOpen) : FFileName(std::move(fileName)) {}

TNuvSQLiteBase::~TNuvSQLiteBase() {
    RevokeWeakRefs();
    try {
        std::lock_guard guard(FLock);
        Close();
    } catch (...) {
        // Only lock misuse can raise here; closing must still happen.
        Close();
    }
}

void TNuvSQLiteBase::Open() {
    ConfigureLibrary();
    sqlite3* raw = nullptr;
    const int code = sqlite3_open16(FFileName.c_str(), &raw);
    FConnection.reset(raw);
    if (code != SQLITE_OK) {
        ENuvSQLiteError error(raw, code, {});
        Close();
        throw error;
    }
    for (const char16_t* name : {u"NOCASE", u"UNICODE"})
        CheckError(sqlite3_create_collation16(raw, name, SQLITE_UTF16, nullptr, CollateNoCase));
    CheckError(sqlite3_create_collation16(raw, u"LOGICAL", SQLITE_UTF16, nullptr, CollateLogical));
    CheckError(sqlite3_busy_timeout(raw, kBusyTimeoutMs));
    InitializeFunctions();
    InitializeTables();
}

void TNuvSQLiteBase::Close() noexcept {
    FConnection.reset();
}

TNuvSQLiteBase::TTableClass TNuvSQLiteBase::GetTableClass() const {
    return NewTable;
}

void TNuvSQLiteBase::InitializeFunctions() {
    CreateFunction(u"Base64", 1, FunctionBase64);
    CreateFunction(u"KeyContains", 2, FunctionKeyContains);
    CreateFunction(u"KeyContainsOneFrom", -1, FunctionKeyContainsOneFrom);
    CreateFunction(u"KeyContainsOneFromRange", 3, FunctionKeyContainsOneFromRange);
    CreateFunction(u"KeyExclude", 2, FunctionKeyExclude);
    CreateFunction(u"KeyInclude", 2, FunctionKeyInclude);
    CreateFunction(u"Lower", 1, FunctionLower);
    CreateFunction(u"Upper", 1, FunctionUpper);
}

void TNuvSQLiteBase::CheckError(int32_t code, std::u16string_view query) const {
    if (code > 0 && code < 100)
        throw ENuvSQLiteError(FConnection.get(), code, query);
}

void TNuvSQLiteBase::CreateFunction(std::u16string_view name, int32_t argCount, TFunction function) {
    const std::u16string zeroTerminated(name);
    CheckError(sqlite3_create_function16(FConnection.get(), zeroTerminated.c_str(), argCount, SQLITE_UTF16,
                                         nullptr, function, nullptr, nullptr));
}

TNuvSQLiteStatement TNuvSQLiteBase::Prepare(std::u16string_view query) {
    if (!FConnection)
        throw ENuvSQLiteError(nullptr, SQLITE_MISUSE, query);
    // A length beyond int would be read as "up to the terminator", which a view does not have.
    if (query.size() > size_t(INT32_MAX / 2))
        throw ENuvSQLiteError(nullptr, SQLITE_TOOBIG, {});
    sqlite3_stmt* raw = nullptr;
    // No tail pointer: asking for one makes SQLite count the characters of the text again.
    const int code =
        sqlite3_prepare16_v2(FConnection.get(), query.data(), int(query.size() * 2), &raw, nullptr);
    TNuvSQLiteStatement statement(raw);
    CheckError(code, query);
    return statement;
}

void TNuvSQLiteBase::Exec(std::u16string_view query) {
    std::lock_guard guard(FLock);
    TNuvSQLiteStatement statement = Prepare(query);
    // An empty text or a lone comment compiles to no statement at all.
    if (!statement)
        return;
    CheckError(sqlite3_step(statement.get()));
}

bool TNuvSQLiteBase::Query(std::u16string_view query, std::unique_ptr<TNuvSQLiteTable>& table) {
    std::lock_guard guard(FLock);
    table.reset();
    TNuvSQLiteStatement statement = Prepare(query);
    if (!statement)
        return false;
    const int code = sqlite3_step(statement.get());
    if (code != SQLITE_ROW) {
        // A busy or damaged database must not look like an empty one.
        CheckError(code, query);
        return false;
    }
    table = GetTableClass()(*this, std::move(statement));
    return true;
}

int64_t TNuvSQLiteBase::ExecInt(std::u16string_view query) {
    std::lock_guard guard(FLock);
    std::unique_ptr<TNuvSQLiteTable> table;
    if (!Query(query, table))
        return -1;
    return table->ReadInt64(0);
}

void TNuvSQLiteBase::Transaction(const std::function<void()>& proc) {
    TNuvSQLiteTransaction transaction(*this);
    proc();
    transaction.Commit();
}

void TNuvSQLiteBase::Recreate() {
    std::lock_guard guard(FLock);
    Close();
    const std::filesystem::path path(ToUtf8(FFileName));
    std::error_code removeError;
    std::filesystem::remove(path, removeError);
    // A journal left beside the file would be played back into the fresh database.
    std::error_code ignored;
    std::filesystem::remove(path.string() + "-journal", ignored);
    Open();
    if (removeError)
        throw EStreamError(Format(u"Cannot delete file %s: %s", FFileName, FromUtf8(removeError.message())));
}

// ---- transactions ----

TNuvSQLiteTransaction::TNuvSQLiteTransaction(TNuvSQLiteBase& database) : FDatabase(database) {
    FDatabase.Lock();
    try {
        FDatabase.Exec(u"BEGIN;");
    } catch (...) {
        FDatabase.Unlock();
        throw;
    }
}

TNuvSQLiteTransaction::~TNuvSQLiteTransaction() {
    if (!FCommitted) {
        try {
            FDatabase.Exec(u"ROLLBACK;");
        } catch (const std::exception& e) {
            // SQLite may already have rolled back by itself (after a full disk, for example);
            // the error that brought us here is the one the caller needs to see.
            NuvLogError(u"SQLite", ExceptionMessage(e));
        }
    }
    try {
        FDatabase.Unlock();
    } catch (const std::exception& e) {
        NuvLogError(u"SQLite", ExceptionMessage(e));
    }
}

void TNuvSQLiteTransaction::Commit() {
    FDatabase.Exec(u"COMMIT;");
    FCommitted = true;
}

// ---- literals and the builder ----

void QuoteValueTo(std::u16string& out, std::u16string_view text) {
    out.reserve(out.size() + text.size() + 2);
    out += u'\'';
    const char16_t* p = text.data();
    const char16_t* const end = p + text.size();
    while (p < end) {
        // Copy the longest stretch that needs no change in one go.
        const char16_t* run = p;
        while (p < end && *p != u'\'' && *p > 0 && *p <= 0xD7FF)
            ++p;
        out.append(run, size_t(p - run));
        if (p >= end)
            break;
        const char16_t c = *p;
        if (c == u'\'') {
            out += u"''";
            ++p;
        } else if (c == 0) {
            out += u' ';
            ++p;
        } else if (p + 1 < end && (p[1] & 0xDC00) == 0xDC00) {
            out += u' ';
            p += 2;
        } else {
            out += c;
            ++p;
        }
    }
    out += u'\'';
}

void QuoteValueTo(std::u16string& out, double value) {
    if (std::isnan(value)) {
        out += u"NULL";
        return;
    }
    if (std::isinf(value)) {
        out += value < 0 ? u"-9e999" : u"9e999";
        return;
    }
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

void QuoteValueTo(std::u16string& out, std::nullptr_t) {
    out += u"NULL";
}

namespace {

template <typename T> void AppendDecimal(std::u16string& out, T value) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

} // namespace

void QuoteValueInt64To(std::u16string& out, int64_t value) {
    AppendDecimal(out, value);
}

void QuoteValueUInt64To(std::u16string& out, uint64_t value) {
    AppendDecimal(out, value);
}

TNuvSQLQueryBuilder& TNuvSQLQueryBuilder::Raw(std::u16string_view text) {
    FItemPending = false;
    FText += text;
    return *this;
}

TNuvSQLQueryBuilder& TNuvSQLQueryBuilder::Item(std::u16string_view text) {
    if (text.empty())
        throw EArgumentError(u"Value cannot be set to an empty value");
    if (FItemPending)
        FText += u", ";
    FText += text;
    FItemPending = true;
    return *this;
}

TNuvSQLQueryBuilder& TNuvSQLQueryBuilder::Suffix(std::u16string_view text) {
    FText += text;
    FItemPending = true;
    return *this;
}

TNuvSQLQueryBuilder& TNuvSQLQueryBuilder::From() {
    FItemPending = false;
    FText += u" FROM ";
    return *this;
}

TNuvSQLQueryBuilder& TNuvSQLQueryBuilder::Table(std::u16string_view name) {
    Item(name);
    if (FItemPending) {
        FText += u' ';
        FItemPending = false;
    }
    return *this;
}

std::u16string TNuvSQLQueryBuilder::Build() {
    Raw(u";");
    FItemPending = false;
    return std::exchange(FText, std::u16string());
}

// ---- key lists ----

ptrdiff_t KeyPosition(std::u16string_view list, std::u16string_view key) {
    const size_t a = list.size();
    const size_t b = key.size();
    if (a == 0 && b == 0)
        return 0;
    if (b == 0 || b > a)
        return -1;
    for (size_t p = 0; p + b <= a; ++p) {
        if (p > 0 && list[p - 1] != u';')
            continue;
        if (p + b < a && list[p + b] != u';')
            continue;
        if (list.compare(p, b, key) == 0)
            return ptrdiff_t(p);
    }
    return -1;
}
