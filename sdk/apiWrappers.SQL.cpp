#include "sdk/apiWrappers.SQL.h"

#include "nuv/Nuv.Strings.h"
#include "platform/Platform.Locale.h"

#include <algorithm>
#include <mutex>
#include <typeindex>
#include <vector>

namespace {

// Deeper nesting than any library view builds; a group that contains itself ends here too.
constexpr int kMaxGroupDepth = 64;

[[noreturn]] void RaiseUnknownOperation(int32_t operation) {
    throw EArgumentError(Format(u"The %d operation cannot be recognized", operation));
}

// The field maps, one per adapter class, filled on the class's first use and kept until the
// module unloads.
std::mutex GFieldMapsLock;
std::unordered_map<std::type_index, std::unique_ptr<TOrvoMLSQLAdapter::TFieldMap>> GFieldMaps;

bool IsIdentifierStart(char16_t c) {
    return IsAsciiLetter(c) || c == u'_';
}

bool IsIdentifierPart(char16_t c) {
    return IsIdentifierStart(c) || IsAsciiDigit(c);
}

// The host strings of an object list, in order; items that are not host strings are skipped.
template <typename Visit> void ForEachHostString(IOrvoObjectList* list, Visit&& visit) {
    if (!list)
        return;
    const int32_t count = list->Count();
    for (int32_t i = 0; i < count; ++i) {
        ComPtr<IOrvoString> item;
        if (Succeeded(list->Get(i, IOrvoString::IID, item.put_void())) && item)
            visit(FromHostString(item));
    }
}

// Variants filled by the host; the text values' references are released with the array.
class TVariantArray {
public:
    explicit TVariantArray(size_t count) : FItems(count, TOrvoVariant{}) {}
    ~TVariantArray() {
        for (TOrvoVariant& item : FItems)
            if (item.Kind == TOrvoVariant::Text && item.AsText)
                item.AsText->Release();
    }
    TVariantArray(const TVariantArray&) = delete;
    TVariantArray& operator=(const TVariantArray&) = delete;

    TOrvoVariant* Data() { return FItems.data(); }
    const TOrvoVariant& operator[](size_t index) const { return FItems[index]; }

private:
    std::vector<TOrvoVariant> FItems;
};

// Texts quoted, the floating-point kinds (currency and date among them) as numbers with ".",
// NULL for no value, and every other kind as its integer.
void QuoteVariantTo(std::u16string& out, const TOrvoVariant& value) {
    switch (value.Kind) {
    case TOrvoVariant::Text:
        QuoteValueTo(out, FromHostString(value.AsText));
        break;
    case TOrvoVariant::Float:
    case TOrvoVariant::Date:
        QuoteValueTo(out, value.AsFloat);
        break;
    case TOrvoVariant::Single:
        QuoteValueTo(out, double(value.AsSingle));
        break;
    case TOrvoVariant::Currency:
        QuoteValueTo(out, double(value.AsInt64) / 10000);
        break;
    case TOrvoVariant::Int8:
        QuoteValueTo(out, value.AsInt8);
        break;
    case TOrvoVariant::UInt8:
        QuoteValueTo(out, value.AsUInt8);
        break;
    case TOrvoVariant::Int16:
        QuoteValueTo(out, value.AsInt16);
        break;
    case TOrvoVariant::UInt16:
        QuoteValueTo(out, value.AsUInt16);
        break;
    case TOrvoVariant::Int32:
        QuoteValueTo(out, value.AsInt32);
        break;
    case TOrvoVariant::UInt32:
        QuoteValueTo(out, value.AsUInt32);
        break;
    case TOrvoVariant::Int64:
        QuoteValueTo(out, value.AsInt64);
        break;
    case TOrvoVariant::UInt64:
        QuoteValueTo(out, value.AsUInt64);
        break;
    case TOrvoVariant::Boolean:
        // The variant's own integer for true is -1, whatever bits a host set.
        QuoteValueTo(out, value.AsInt16 != 0 ? -1 : 0);
        break;
    case TOrvoVariant::Empty:
    case TOrvoVariant::Null:
        // No value at all: NULL, which equals nothing, rather than the number 0.
        QuoteValueTo(out, nullptr);
        break;
    default:
        throw EArgumentError(Format(u"The value kind %d cannot be recognized", value.Kind));
    }
}

// The right-hand side of a LIKE that finds the text, upper-cased as the database's UPPER does it,
// with "%" before and after as asked. The text's own "%" and "_" match only themselves: they,
// and the escape character, are escaped, and then the pattern names its escape character. A
// text without them gives the plain quoted pattern.
std::u16string LikeOperand(std::u16string_view text, bool anyBefore, bool anyAfter) {
    constexpr char16_t escape = u'\\';
    const std::u16string upper = platform::UpperCaseLocale(text);
    std::u16string pattern;
    pattern.reserve(upper.size() + 2);
    bool escaped = false;
    if (anyBefore)
        pattern += u'%';
    for (const char16_t c : upper) {
        if (c == u'%' || c == u'_' || c == escape) {
            pattern += escape;
            escaped = true;
        }
        pattern += c;
    }
    if (anyAfter)
        pattern += u'%';
    std::u16string operand = QuoteValue(pattern);
    if (escaped)
        operand += u" ESCAPE '\\'";
    return operand;
}

} // namespace

bool IsPlainSQLIdentifier(std::u16string_view name) {
    bool segmentStart = true;
    for (const char16_t c : name) {
        if (segmentStart) {
            if (!IsIdentifierStart(c))
                return false;
            segmentStart = false;
        } else if (c == u'.') {
            segmentStart = true;
        } else if (!IsIdentifierPart(c)) {
            return false;
        }
    }
    return !segmentStart;
}

// ---- TOrvoMLSQLAdapter

TOrvoMLSQLAdapter::TOrvoMLSQLAdapter() {
    FText.reserve(256);
}

bool TOrvoMLSQLAdapter::IsSearchExcluded(std::u16string_view) const {
    return false;
}

bool TOrvoMLSQLAdapter::IsKeyListField(std::u16string_view) const {
    return false;
}

void TOrvoMLSQLAdapter::PopulateFieldMap(TFieldMap&) const {}

const TOrvoMLSQLAdapter::TFieldMap& TOrvoMLSQLAdapter::FieldMap() const {
    if (!FFieldMap) {
        std::lock_guard lock(GFieldMapsLock);
        std::unique_ptr<TFieldMap>& slot = GFieldMaps[std::type_index(typeid(*this))];
        if (!slot) {
            auto map = std::make_unique<TFieldMap>();
            PopulateFieldMap(*map);
            slot = std::move(map);
        }
        FFieldMap = slot.get();
    }
    return *FFieldMap;
}

std::u16string TOrvoMLSQLAdapter::MapFieldName(std::u16string_view name) const {
    const TFieldMap& map = FieldMap();
    if (auto it = map.find(std::u16string(name)); it != map.end())
        return it->second;
    return std::u16string(name);
}

std::u16string TOrvoMLSQLAdapter::Column(std::u16string_view field) const {
    if (field.empty())
        throw EArgumentError(u"Field name cannot be set to an empty string");
    std::u16string column = MapFieldName(field);
    if (!IsPlainSQLIdentifier(column))
        throw EArgumentError(Format(u"Field name \"%s\" is not a plain identifier", field));
    return column;
}

TOrvoMLSQLAdapter& TOrvoMLSQLAdapter::Add(std::u16string_view text) {
    FText += text;
    return *this;
}

void TOrvoMLSQLAdapter::AddAnd(bool& hasCondition) {
    if (hasCondition)
        Add(u" AND ");
    hasCondition = true;
}

void TOrvoMLSQLAdapter::AddFieldList(IOrvoObjectList* fields) {
    bool first = true;
    ForEachHostString(fields, [&](const std::u16string& name) {
        if (MapFieldName(name).empty())
            return;
        if (!first)
            Add(u", ");
        Add(Column(name));
        first = false;
    });
}

void TOrvoMLSQLAdapter::AddGroup(IOrvoMLFilterGroup* group) {
    AddGroupAt(group, 0);
}

void TOrvoMLSQLAdapter::AddGroupAt(IOrvoMLFilterGroup* group, int depth) {
    if (depth >= kMaxGroupDepth)
        throw EArgumentError(u"Filter groups are nested too deeply");
    const int32_t operation = ReadIntProp(group, ORVO_ML_GROUP_OPERATION, ORVO_ML_GROUP_OR);
    if (operation < ORVO_ML_GROUP_OR || operation > ORVO_ML_GROUP_NOT_AND)
        RaiseUnknownOperation(operation);
    const bool negated = operation == ORVO_ML_GROUP_NOT_OR || operation == ORVO_ML_GROUP_NOT_AND;
    const std::u16string_view joiner =
        operation == ORVO_ML_GROUP_AND || operation == ORVO_ML_GROUP_NOT_AND ? u" AND " : u" OR ";
    const int32_t count = group->Count();
    if (negated) {
        Add(u" NOT ");
        if (count > 1)
            Add(u"(");
    }
    for (int32_t i = 0; i < count; ++i) {
        if (i > 0)
            Add(joiner);
        Add(u"(");
        AddChild(group, i, depth);
        Add(u")");
    }
    if (negated && count > 1)
        Add(u")");
}

void TOrvoMLSQLAdapter::AddChild(IOrvoMLFilterGroup* group, int32_t index, int depth) {
    // The first kind the child offers decides; a child of no known kind leaves its brackets empty.
    auto child = [&]<typename I>(ComPtr<I>& object) {
        const HRESULT code = group->Get(index, I::IID, object.put_void());
        if (code == E_NOINTERFACE)
            return false;
        RaiseIfFailed(code);
        return bool(object);
    };
    if (ComPtr<IOrvoMLFilterGroup> subgroup; child(subgroup))
        AddGroupAt(subgroup.get(), depth + 1);
    else if (ComPtr<IOrvoMLFieldFilter> condition; child(condition))
        AddFieldFilter(condition.get());
    else if (ComPtr<IOrvoMLFieldFilterArray> values; child(values))
        AddArrayFilter(values.get());
}

void TOrvoMLSQLAdapter::AddFieldFilter(IOrvoMLFieldFilter* condition) {
    AddFieldCondition(ReadTextProp(condition, ORVO_ML_CONDITION_FIELD),
                      ReadTextProp(condition, ORVO_ML_CONDITION_VALUE1),
                      ReadTextProp(condition, ORVO_ML_CONDITION_VALUE2),
                      ReadIntProp(condition, ORVO_ML_CONDITION_OPERATION, ORVO_ML_OP_EQUAL));
}

void TOrvoMLSQLAdapter::AddLike(std::u16string_view column, std::u16string_view operand, bool negated) {
    Add(u"UPPER(").Add(column).Add(u")");
    if (negated)
        Add(u" NOT");
    Add(u" LIKE ").Add(operand);
}

void TOrvoMLSQLAdapter::AddFieldCondition(std::u16string_view field, std::u16string_view value1,
                                          std::u16string_view value2, int32_t operation) {
    const std::u16string column = Column(field);
    const bool keyList = IsKeyListField(field);
    auto compare = [&](std::u16string_view op) {
        Add(column).Add(op);
        QuoteValueTo(FText, value1);
    };
    switch (operation) {
    case ORVO_ML_OP_EQUAL:
    case ORVO_ML_OP_NOT_EQUAL:
        if (keyList) {
            if (operation == ORVO_ML_OP_NOT_EQUAL)
                Add(u" NOT ");
            Add(u"KeyContains(").Add(column).Add(u", ");
            QuoteValueTo(FText, value1);
            Add(u")");
        } else {
            compare(operation == ORVO_ML_OP_EQUAL ? u" = " : u" <> ");
            Add(u" COLLATE NOCASE ");
        }
        break;
    case ORVO_ML_OP_BETWEEN:
        compare(u" BETWEEN ");
        Add(u" AND ");
        QuoteValueTo(FText, value2);
        break;
    case ORVO_ML_OP_LESS:
        compare(u" < ");
        break;
    case ORVO_ML_OP_LESS_OR_EQUAL:
        compare(u" <= ");
        break;
    case ORVO_ML_OP_GREATER:
        compare(u" > ");
        break;
    case ORVO_ML_OP_GREATER_OR_EQUAL:
        compare(u" >= ");
        break;
    case ORVO_ML_OP_CONTAINS:
        AddLike(column, LikeOperand(value1, true, true), false);
        break;
    case ORVO_ML_OP_STARTS_WITH:
        AddLike(column, LikeOperand(value1, false, true), false);
        break;
    case ORVO_ML_OP_ENDS_WITH:
        AddLike(column, LikeOperand(value1, true, false), false);
        break;
    case ORVO_ML_OP_NOT_CONTAINS:
        AddLike(column, LikeOperand(value1, true, true), true);
        break;
    default:
        RaiseUnknownOperation(operation);
    }
}

void TOrvoMLSQLAdapter::AddArrayFilter(IOrvoMLFieldFilterArray* condition) {
    const std::u16string field = ReadTextProp(condition, ORVO_ML_CONDITION_FIELD);
    const std::u16string column = Column(field);
    int32_t count = 0;
    RaiseIfFailed(condition->GetValues(nullptr, &count));
    count = std::max(count, 0);
    TVariantArray values{size_t(count)};
    int32_t written = count;
    if (count > 0)
        RaiseIfFailed(condition->GetValues(values.Data(), &written));
    written = std::clamp(written, 0, count);

    const bool keyList = IsKeyListField(field);
    Add(keyList ? u"KeyContainsOneFrom(" : u"").Add(column).Add(keyList ? u"" : u" IN (");
    for (int32_t i = 0; i < written; ++i) {
        if (keyList || i > 0)
            Add(u", ");
        QuoteVariantTo(FText, values[size_t(i)]);
    }
    Add(u")");
}

void TOrvoMLSQLAdapter::AddSearch(IOrvoObjectList* fields, std::u16string_view text, bool& hasCondition) {
    if (text.empty())
        return;
    AddAnd(hasCondition);
    Add(u"(");
    const std::u16string pattern = LikeOperand(text, true, true);
    bool first = true;
    ForEachHostString(fields, [&](const std::u16string& name) {
        if (IsSearchExcluded(name) || MapFieldName(name).empty())
            return;
        if (!first)
            Add(u" OR ");
        Add(u"(UPPER(").Add(Column(name)).Add(u") LIKE ").Add(pattern).Add(u")");
        first = false;
    });
    Add(u")");
}

void TOrvoMLSQLAdapter::AddOrderBy(IOrvoObjectList* sortList) {
    if (!sortList)
        return;
    bool first = true;
    const int32_t count = sortList->Count();
    for (int32_t i = 0; i < count; ++i) {
        ComPtr<IOrvoMLSortDirection> item;
        if (Failed(sortList->Get(i, IOrvoMLSortDirection::IID, item.put_void())) || !item)
            continue;
        const int32_t direction = item->Direction();
        Add(first ? u" ORDER BY " : u", ").Add(Column(FromHostString(item.As<IOrvoString>())));
        if (direction == ORVO_ML_SORT_DESCENDING)
            Add(u" DESC");
        first = false;
    }
}

void TOrvoMLSQLAdapter::AddLimit(int32_t offset, int32_t count) {
    if (count <= 0)
        return;
    Add(u" LIMIT ").Add(IntToStr(offset)).Add(u", ").Add(IntToStr(count));
}

void TOrvoMLSQLAdapter::AddConditions(IOrvoMLFilterGroup* filter, IOrvoObjectList* fields,
                                      bool hasCondition) {
    if (filter) {
        if (const int32_t children = filter->Count(); children > 0) {
            AddAnd(hasCondition);
            // Children joined by OR would otherwise bind looser than the AND around them.
            const bool bracket = children > 1 && ReadIntProp(filter, ORVO_ML_GROUP_OPERATION,
                                                             ORVO_ML_GROUP_OR) == ORVO_ML_GROUP_OR;
            if (bracket)
                Add(u"(");
            AddGroup(filter);
            if (bracket)
                Add(u")");
        }
    }
    if (fields)
        AddSearch(fields, ReadTextProp(filter, ORVO_ML_FILTER_SEARCH), hasCondition);
    if (!hasCondition)
        Add(u"(1 = 1)");
    const ComPtr<IUnknown> sortList = ReadObjectProp(filter, ORVO_ML_FILTER_SORT);
    AddOrderBy(sortList.As<IOrvoObjectList>().get());
    AddLimit(ReadIntProp(filter, ORVO_ML_FILTER_OFFSET, 0), ReadIntProp(filter, ORVO_ML_FILTER_LIMIT, 0));
}

// ---- TOrvoMLSQLTableDataProvider

ComPtr<TOrvoMLSQLTableDataProvider> TOrvoMLSQLTableDataProvider::Create(TNuvSQLiteBase& database,
                                                                        std::u16string_view statement) {
    return MakeInterfaced<TOrvoMLSQLTableDataProvider>(database, statement);
}

TOrvoMLSQLTableDataProvider::TOrvoMLSQLTableDataProvider(TNuvSQLiteBase& database,
                                                         std::u16string_view statement)
    : FDatabase(database.WeakRef()) {
    if (database.Query(statement, FTable)) {
        FColumnCount = FTable->ColumnCount();
        FOnRow = true;
    }
}

void* TOrvoMLSQLTableDataProvider::GetInterface(const TGUID& iid) {
    if (iid == IOrvoMLDataProviderSelection::IID && !FTable)
        return nullptr;
    return TOrvoInterfaces::GetInterface(iid);
}

TNuvWeakRef<TNuvSQLiteBase>::TPin TOrvoMLSQLTableDataProvider::PinForColumn(int32_t index) const {
    if (!FOnRow || index < 0 || index >= FColumnCount)
        return {};
    return FDatabase.Lock();
}

double ORVO_CALL TOrvoMLSQLTableDataProvider::GetValueAsFloat(int32_t index) {
    const auto pin = PinForColumn(index);
    return pin ? FTable->ReadDouble(index) : 0.0;
}

int32_t ORVO_CALL TOrvoMLSQLTableDataProvider::GetValueAsInt32(int32_t index) {
    return int32_t(uint32_t(GetValueAsInt64(index)));
}

int64_t ORVO_CALL TOrvoMLSQLTableDataProvider::GetValueAsInt64(int32_t index) {
    const auto pin = PinForColumn(index);
    return pin ? FTable->ReadInt64(index) : 0;
}

const char16_t* ORVO_CALL TOrvoMLSQLTableDataProvider::GetValueAsString(int32_t index, int32_t* length) {
    const auto pin = PinForColumn(index);
    const std::u16string_view text = pin ? FTable->ReadText(index) : std::u16string_view();
    if (length)
        *length = int32_t(text.size());
    return text.empty() ? u"" : text.data();
}

bool ORVO_CALL TOrvoMLSQLTableDataProvider::NextRow() {
    if (!FOnRow)
        return false;
    const auto pin = FDatabase.Lock();
    try {
        // A database that has gone has no more rows to give.
        FOnRow = pin && FTable->NextRow();
    } catch (const std::exception& e) {
        // The host can only stop reading; stepping again after an error would restart the query.
        LogHostCallError(u"", e);
        FOnRow = false;
    } catch (...) {
        LogHostCallError(u"");
        FOnRow = false;
    }
    return FOnRow;
}
