#pragma once
// The music library's row requests as SQL: TOrvoMLSQLAdapter turns the host's field lists, filter
// trees, search text, sort lists and row windows into SQL text, and TOrvoMLSQLTableDataProvider
// hands the rows of a statement to the host as a cursor.
//
// Values are written as literals (QuoteValue). Column names come from the host, so every one is
// checked to be a plain identifier before it is written: the text of a field name can never
// become SQL of its own.

#include "nuv/Nuv.SQLite3.h"
#include "sdk/api/OrvoAPI.MusicLibrary.h"
#include "sdk/apiWrappers.h"

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

// Composes the SQL of one row request. Derived classes say which fields are key lists, which are
// not searched and which field names stand for other column expressions.
//
// Thread-safety: an adapter belongs to one thread; adapters on different threads share only the
// field maps, which are filled once under a lock and read-only afterwards.
class TOrvoMLSQLAdapter {
public:
    using TFieldMap = std::unordered_map<std::u16string, std::u16string>;

    TOrvoMLSQLAdapter();
    virtual ~TOrvoMLSQLAdapter() = default;
    TOrvoMLSQLAdapter(const TOrvoMLSQLAdapter&) = delete;
    TOrvoMLSQLAdapter& operator=(const TOrvoMLSQLAdapter&) = delete;

    // Appends the text as it stands.
    TOrvoMLSQLAdapter& Add(std::u16string_view text);
    // Appends " AND " when a condition precedes, and notes that one does now.
    void AddAnd(bool& hasCondition);
    // The mapped names of the host strings in `fields`, separated by ", "; empty names are left out.
    void AddFieldList(IOrvoObjectList* fields);
    // The conditions of a group joined by its operation, each in brackets; a negated group is
    // preceded by " NOT " (and bracketed as a whole when it has several children).
    void AddGroup(IOrvoMLFilterGroup* group);
    // One field condition (properties 1 to 4), through AddFieldCondition.
    void AddFieldFilter(IOrvoMLFieldFilter* condition);
    // One value-list condition: "col IN (...)", or KeyContainsOneFrom for a key-list field.
    void AddArrayFilter(IOrvoMLFieldFilterArray* condition);
    // The search text as a LIKE on every searchable field of `fields`, joined by OR; nothing for
    // an empty text.
    void AddSearch(IOrvoObjectList* fields, std::u16string_view text, bool& hasCondition);
    // " ORDER BY ..." from the sort items whose direction can be read.
    void AddOrderBy(IOrvoObjectList* sortList);
    // " LIMIT offset, count" when count is above 0.
    void AddLimit(int32_t offset, int32_t count);
    // The filter's conditions and search, or "(1 = 1)" when there is nothing to restrict, then its
    // sort list and row window. `filter` may be null. A filter whose children are joined by OR is
    // bracketed as a whole, so that it restricts whatever precedes and follows it.
    void AddConditions(IOrvoMLFilterGroup* filter, IOrvoObjectList* fields, bool hasCondition);

    // The SQL for one condition. Operations: 0 equal, 1 not equal (key-list fields: KeyContains
    // and its negation), 2 between, 3 <, 4 <=, 5 >, 6 >=, 7 contains, 8 starts with, 9 ends with,
    // 11 does not contain. Others raise EArgumentError "The %d operation cannot be recognized";
    // an empty field name raises EArgumentError "Field name cannot be set to an empty string".
    virtual void AddFieldCondition(std::u16string_view field, std::u16string_view value1,
                                   std::u16string_view value2, int32_t operation);

    // The column expression of a field name: the field map's entry, or the name itself.
    std::u16string MapFieldName(std::u16string_view name) const;
    // The text built so far.
    const std::u16string& ToString() const { return FText; }

protected:
    // Fields left out of the search; none here.
    virtual bool IsSearchExcluded(std::u16string_view name) const;
    // Fields holding key lists (";"-separated), matched as whole items; none here.
    virtual bool IsKeyListField(std::u16string_view name) const;
    // Fills the field map of the adapter's class. Called once per class and process, so it must
    // depend on the class alone; derived classes call the base first.
    virtual void PopulateFieldMap(TFieldMap& map) const;

private:
    const TFieldMap& FieldMap() const;
    // MapFieldName checked to be a plain identifier; raises for an empty or other name.
    std::u16string Column(std::u16string_view field) const;
    void AddChild(IOrvoMLFilterGroup* group, int32_t index, int depth);
    void AddGroupAt(IOrvoMLFilterGroup* group, int depth);
    // UPPER(column) [NOT] LIKE operand, the operand as LikeOperand writes it.
    void AddLike(std::u16string_view column, std::u16string_view operand, bool negated);

    std::u16string FText;
    mutable const TFieldMap* FFieldMap = nullptr;
};

// True when `name` can stand in SQL text as it is: ASCII letters, digits and "_", starting with a
// letter or "_", optionally qualified by a table name ("Providers.Title").
bool IsPlainSQLIdentifier(std::u16string_view name);

// The rows of one statement as a host cursor. The statement runs when the object is made (its
// first step under the database lock); when it yields no row the object offers no
// IOrvoMLDataProviderSelection, so the host sees none. Releasing the object finalises the
// statement. The host may keep a cursor past the database: the cursor holds only a weak
// reference, and once the database has gone it has no more rows and reads as empty.
//
// Thread-safety: the host uses one cursor from one thread at a time. Later steps run without the
// database lock, which SQLite's serialized mode allows; each step and read pins the database, so
// its destruction waits for them.
class TOrvoMLSQLTableDataProvider
    : public TOrvoInterfaces<TInterfacedObjectEx, IOrvoMLDataProviderSelection> {
public:
    // Runs the statement; a statement that does not compile raises ENuvSQLiteError.
    static ComPtr<TOrvoMLSQLTableDataProvider> Create(TNuvSQLiteBase& database,
                                                      std::u16string_view statement);

    double ORVO_CALL GetValueAsFloat(int32_t index) override;
    int32_t ORVO_CALL GetValueAsInt32(int32_t index) override;
    int64_t ORVO_CALL GetValueAsInt64(int32_t index) override;
    const char16_t* ORVO_CALL GetValueAsString(int32_t index, int32_t* length) override;
    bool ORVO_CALL NextRow() override;

    // Whether the statement yielded any row.
    bool HasRows() const { return FTable != nullptr; }

protected:
    TOrvoMLSQLTableDataProvider(TNuvSQLiteBase& database, std::u16string_view statement);
    template <typename T, typename... Args> friend ComPtr<T> MakeInterfaced(Args&&... args);

    void* GetInterface(const TGUID& iid) override;

private:
    // The database pinned for one read, or an empty pin when there is nothing to read at `index`
    // (or the database has gone).
    TNuvWeakRef<TNuvSQLiteBase>::TPin PinForColumn(int32_t index) const;

    TNuvWeakRef<TNuvSQLiteBase> FDatabase;
    std::unique_ptr<TNuvSQLiteTable> FTable;
    int32_t FColumnCount = 0;
    bool FOnRow = false;
};
