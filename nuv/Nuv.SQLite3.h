#pragma once
// One SQLite connection behind a recursive lock, result sets with column look-up by name, and the
// SQL text builder. Statements are always SQL text with literal values (QuoteValue), never bound
// parameters, so every statement can be logged and replayed as it ran.
//
// The connection uses SQLite's UTF-16 interface and registers the collations "NOCASE" and
// "UNICODE" (locale-aware, case ignored), "LOGICAL" (natural order) and the key-list functions
// "KeyContains", "KeyContainsOneFrom", "KeyContainsOneFromRange", "KeyExclude", "KeyInclude",
// plus "Lower", "Upper" and "Base64". A key list is a text of items separated by ";".

#include "nuv/Nuv.Exceptions.h"
#include "nuv/Nuv.Threading.h"
#include "nuv/Nuv.WeakRef.h"

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;
struct sqlite3_context;
struct sqlite3_value;

class TNuvSQLiteBase;

// Owners of the C handles: a statement is finalised and a connection closed when its owner goes.
struct TNuvSQLiteStatementFinalizer {
    void operator()(sqlite3_stmt* statement) const noexcept;
};
using TNuvSQLiteStatement = std::unique_ptr<sqlite3_stmt, TNuvSQLiteStatementFinalizer>;

struct TNuvSQLiteConnectionCloser {
    void operator()(sqlite3* connection) const noexcept;
};
using TNuvSQLiteConnection = std::unique_ptr<sqlite3, TNuvSQLiteConnectionCloser>;

// A failed SQLite call: the message is "Error: <SQLite's text> (<code>)\r\nLast query:\r\n<query>".
//
// Thread-safety: an immutable value.
class ENuvSQLiteError : public Exception {
public:
    // Reads the connection's current error text; a null connection gives SQLite's text for the code.
    ENuvSQLiteError(sqlite3* connection, int32_t code, std::u16string_view query);
    // The SQLite result code (1 to 99).
    int32_t ErrorCode() const noexcept { return FErrorCode; }

private:
    int32_t FErrorCode;
};

// The storage class of a result column when the column list was read.
enum class TNuvSQLiteColumnKind : int32_t { Other = 0, Integer = 1, Float = 2, Text = 3, Blob = 4, Null = 5 };

// One column of a result set.
//
// Thread-safety: a plain value.
struct TNuvSQLiteColumn {
    TNuvSQLiteColumnKind Kind = TNuvSQLiteColumnKind::Other;
    std::u16string Name;
    // NuvSQLiteNameHash of the upper-cased name.
    uint32_t NameHash = 0;
};

// The look-up hash of a column name that is already upper-cased (h * 16 + c, folding the top nibble).
uint32_t NuvSQLiteNameHash(std::u16string_view upperName);

// One result set, positioned on its first row when handed out by Query; owns its statement.
//
// Thread-safety: one thread at a time. Stepping and reading happen without the database lock
// (SQLite's serialized mode keeps the connection consistent), so a result set may be read while
// other threads run statements on the same database.
class TNuvSQLiteTable {
public:
    // Takes the stepped statement; `database` must outlive the result set.
    TNuvSQLiteTable(TNuvSQLiteBase& database, TNuvSQLiteStatement statement);
    virtual ~TNuvSQLiteTable();
    TNuvSQLiteTable(const TNuvSQLiteTable&) = delete;
    TNuvSQLiteTable& operator=(const TNuvSQLiteTable&) = delete;

    // Index of the column of that name, case ignored; -1 when there is none.
    int32_t ColumnIndex(std::u16string_view name);
    // The columns, read on first use with the kinds of the row current then.
    const std::vector<TNuvSQLiteColumn>& Columns();
    int32_t ColumnCount() const;

    // Steps to the next row; false at the end. A step error raises ENuvSQLiteError, so a failure
    // is never mistaken for the end of the rows.
    bool NextRow();

    // The column of the current row as a number, converted as SQLite converts (0 for NULL and for
    // text that is no number). `column` must be below ColumnCount().
    double ReadDouble(int32_t column) const;
    int64_t ReadInt64(int32_t column) const;
    // The column's text, valid until the next step; empty for NULL.
    std::u16string_view ReadText(int32_t column) const;
    // ReadText of the named column copied, or empty when there is no such column.
    std::u16string ReadString(std::u16string_view name);

    TNuvSQLiteBase& Database() const { return FDatabase; }

private:
    void LoadColumns();

    std::vector<TNuvSQLiteColumn> FColumns;
    TNuvSQLiteBase& FDatabase;
    bool FColumnsLoaded = false;
    TNuvSQLiteStatement FStatement;
};

// The database object: one connection, opened with the collations and functions above.
//
// Thread-safety: every operation may be called from any thread. Exec, Query, ExecInt,
// Transaction and Recreate hold the object's recursive lock for their whole run; a transaction
// holds it from "BEGIN;" to "COMMIT;" or "ROLLBACK;", so other threads' statements wait for it.
// Lock/Unlock group several operations the same way.
class TNuvSQLiteBase {
public:
    using TTableClass = std::unique_ptr<TNuvSQLiteTable> (*)(TNuvSQLiteBase& database,
                                                             TNuvSQLiteStatement statement);
    using TFunction = void (*)(sqlite3_context* context, int argc, sqlite3_value** argv);

    // Opens (creating the file when it is missing); raises ENuvSQLiteError on failure.
    explicit TNuvSQLiteBase(std::u16string fileName);
    virtual ~TNuvSQLiteBase();
    TNuvSQLiteBase(const TNuvSQLiteBase&) = delete;
    TNuvSQLiteBase& operator=(const TNuvSQLiteBase&) = delete;

    // Runs one statement to its first step; rows it yields are discarded.
    void Exec(std::u16string_view query);
    // Runs a query; true with `table` on the first row, false (and `table` empty) when there is
    // none. A failing step raises ENuvSQLiteError with the query rather than reading as "no rows".
    bool Query(std::u16string_view query, std::unique_ptr<TNuvSQLiteTable>& table);
    // The first column of the first row as an integer; -1 when there is no row.
    int64_t ExecInt(std::u16string_view query);
    // Runs `proc` between "BEGIN;" and "COMMIT;"; when either raises, rolls back and re-raises.
    void Transaction(const std::function<void()>& proc);
    // Raises ENuvSQLiteError when 0 < code < 100 (100 and 101 are "row" and "done").
    void CheckError(int32_t code, std::u16string_view query = {}) const;
    // Registers a scalar function taking UTF-16 texts; an argument count of -1 accepts any number.
    void CreateFunction(std::u16string_view name, int32_t argCount, TFunction function);
    // Closes, deletes the file and opens a fresh one with the schema.
    void Recreate();

    void Lock() { FLock.Enter(); }
    void Unlock() { FLock.Leave(); }
    // BasicLockable, for std::lock_guard.
    void lock() { Lock(); }
    void unlock() { Unlock(); }

    const std::u16string& FileName() const { return FFileName; }
    // A reference for holders that may outlive the database: a pin keeps it open, and once the
    // destruction has begun every pin comes back empty.
    TNuvWeakRef<TNuvSQLiteBase> WeakRef() { return FLifetime.Ref(this); }
    // The connection, for code that must talk to SQLite directly; null while closed.
    sqlite3* Handle() const { return FConnection.get(); }

protected:
    // For derived classes whose schema is their own: they call Open() at the end of their
    // constructor, when their InitializeTables can be reached.
    struct TDeferOpen {};
    TNuvSQLiteBase(std::u16string fileName, TDeferOpen);
    void Open();

    virtual TTableClass GetTableClass() const;
    virtual void InitializeFunctions();
    virtual void InitializeTables() {}
    // Compiles the text; raises ENuvSQLiteError with the query when it does not compile.
    virtual TNuvSQLiteStatement Prepare(std::u16string_view query);

    // Whose references WeakRef hands out. A derived class whose destructor still works on the
    // database revokes them as its first step; this class's destructor revokes them otherwise.
    const TNuvLifetime& Lifetime() const { return FLifetime; }
    void RevokeWeakRefs() noexcept { FLifetime.Revoke(); }

private:
    void Close() noexcept;

    TNuvLifetime FLifetime;

    std::u16string FFileName;
    TNuvSQLiteConnection FConnection;
    TNuvCriticalSection FLock;
};

// A transaction for the life of a scope: holds the database lock, begins at construction,
// and rolls back at destruction unless Commit succeeded.
//
// Thread-safety: belongs to the thread that created it.
class TNuvSQLiteTransaction {
public:
    // Begins at once; raises ENuvSQLiteError when it cannot. `database` must outlive the guard.
    explicit TNuvSQLiteTransaction(TNuvSQLiteBase& database);
    // Rolls back when not committed; a failing rollback is logged, never raised.
    ~TNuvSQLiteTransaction();
    TNuvSQLiteTransaction(const TNuvSQLiteTransaction&) = delete;
    TNuvSQLiteTransaction& operator=(const TNuvSQLiteTransaction&) = delete;

    // Raises ENuvSQLiteError when the commit fails; the destructor then rolls back.
    void Commit();

private:
    TNuvSQLiteBase& FDatabase;
    bool FCommitted = false;
};

// Literals. A text becomes '...' with every "'" doubled; every pair of code units whose first is
// above U+D7FF and whose second has the bits of 0xDC00 set (every surrogate pair) becomes one
// space, and so does U+0000, which would end the statement text. A float is written with "."
// (NaN as NULL, infinities as +-9e999), an integer in decimal, nullptr as NULL.
void QuoteValueTo(std::u16string& out, std::u16string_view text);
void QuoteValueTo(std::u16string& out, double value);
void QuoteValueTo(std::u16string& out, std::nullptr_t);
void QuoteValueInt64To(std::u16string& out, int64_t value);
void QuoteValueUInt64To(std::u16string& out, uint64_t value);
// Integers of any width, each with its own value (an unsigned 64-bit one above the signed range
// too); bool is left out on purpose, as it has no single SQL spelling.
template <typename T>
concept TNuvSQLInteger = std::integral<T> && !std::same_as<T, bool>;
template <TNuvSQLInteger T> void QuoteValueTo(std::u16string& out, T value) {
    if constexpr (std::is_unsigned_v<T> && sizeof(T) >= sizeof(int64_t))
        QuoteValueUInt64To(out, uint64_t(value));
    else
        QuoteValueInt64To(out, int64_t(value));
}

// The literal of one value, as QuoteValueTo writes it.
template <typename T> std::u16string QuoteValue(const T& value) {
    std::u16string out;
    QuoteValueTo(out, value);
    return out;
}

// Composes one statement. Items are separated by ", "; Raw and From end a list.
//
// Thread-safety: one thread at a time.
class TNuvSQLQueryBuilder {
public:
    explicit TNuvSQLQueryBuilder(size_t capacity = 256) { FText.reserve(capacity); }

    // Appends the text and ends any item list.
    TNuvSQLQueryBuilder& Raw(std::u16string_view text);
    // Appends one item, after ", " when an item precedes it; an empty item raises EArgumentError.
    TNuvSQLQueryBuilder& Item(std::u16string_view text);
    // Appends the text to the item just written, so the next item still gets ", ".
    TNuvSQLQueryBuilder& Suffix(std::u16string_view text);
    // Appends " FROM " and ends any item list.
    TNuvSQLQueryBuilder& From();
    // A table name followed by one space, for a "(" that comes next.
    TNuvSQLQueryBuilder& Table(std::u16string_view name);
    // Item(QuoteValue(value)), written in place.
    template <typename T> TNuvSQLQueryBuilder& Value(const T& value) {
        if (FItemPending)
            FText += u", ";
        QuoteValueTo(FText, value);
        FItemPending = true;
        return *this;
    }
    // Appends ";" and hands out the text; the builder is empty afterwards.
    std::u16string Build();

private:
    std::u16string FText;
    bool FItemPending = false;
};

// The position of `key` as a whole item of the key list (case matters); -1 when it is not one.
// Two empty texts give 0.
ptrdiff_t KeyPosition(std::u16string_view list, std::u16string_view key);
