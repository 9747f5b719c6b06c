#include "sdk/apiWrappers.SQL.h"

#include "host/Orvo.Host.MusicLibrary.Query.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

// Genre is a key list; Provider stands for the provider's title.
class TTestAdapter : public TOrvoMLSQLAdapter {
protected:
    bool IsKeyListField(std::u16string_view name) const override { return name == u"Genre"; }
    bool IsSearchExcluded(std::u16string_view name) const override { return name == u"Logo"; }
    void PopulateFieldMap(TFieldMap& map) const override {
        TOrvoMLSQLAdapter::PopulateFieldMap(map);
        map[u"Provider"] = u"Providers.Title";
    }
};

std::u16string ErrorOf(const std::function<void()>& body) {
    try {
        body();
    } catch (const Exception& e) {
        return e.Message();
    }
    return u"(no error)";
}

std::u16string Condition(std::u16string_view field, int32_t operation, std::u16string_view value1,
                         std::u16string_view value2 = {}) {
    TTestAdapter adapter;
    adapter.AddFieldCondition(field, value1, value2, operation);
    return adapter.ToString();
}

ComPtr<IOrvoMLFilterGroup> Group(int32_t operation, std::initializer_list<ComPtr<IUnknown>> children) {
    auto group = TOrvoHostMLFilterGroup::Create().As<IOrvoMLFilterGroup>();
    WriteIntProp(group.get(), ORVO_ML_GROUP_OPERATION, operation);
    for (const ComPtr<IUnknown>& child : children)
        group->Add(child.get());
    return group;
}

// A field condition as the library builds it.
ComPtr<IUnknown> Equal(std::u16string field, std::u16string value) {
    TOrvoHostMLRequest request;
    request.Conditions.push_back({std::move(field), u"eq", std::move(value)});
    auto filter = BuildMLQuery(request).Filter;
    ComPtr<IUnknown> child;
    filter->Get(0, IUnknown::IID, child.put_void());
    return child;
}

std::u16string GroupText(const ComPtr<IOrvoMLFilterGroup>& group) {
    TTestAdapter adapter;
    adapter.AddGroup(group.get());
    return adapter.ToString();
}

ComPtr<IOrvoObjectList> Names(std::initializer_list<std::u16string> names) {
    auto list = TOrvoHostObjectList::Create();
    for (const std::u16string& name : names)
        list->Add(TOrvoHostString::Create(name).get());
    return list;
}

} // namespace

TEST(MLSQLConditions, FollowTheOperationTable) {
    struct TCase {
        std::u16string_view Field;
        int32_t Operation;
        std::u16string_view Value1, Value2, Expected;
    };
    const TCase cases[] = {
        {u"Name", 0, u"Rock", u"", u"Name = 'Rock' COLLATE NOCASE "},
        {u"Genre", 0, u"Rock", u"", u"KeyContains(Genre, 'Rock')"},
        // The key-list test is case-sensitive: another spelling is a plain column.
        {u"genre", 0, u"Rock", u"", u"genre = 'Rock' COLLATE NOCASE "},
        {u"Name", 1, u"Rock", u"", u"Name <> 'Rock' COLLATE NOCASE "},
        {u"Genre", 1, u"Rock", u"", u" NOT KeyContains(Genre, 'Rock')"},
        {u"Bitrate", 2, u"64", u"128", u"Bitrate BETWEEN '64' AND '128'"},
        {u"Bitrate", 3, u"64", u"", u"Bitrate < '64'"},
        {u"Bitrate", 4, u"64", u"", u"Bitrate <= '64'"},
        {u"Bitrate", 5, u"64", u"", u"Bitrate > '64'"},
        {u"Bitrate", 6, u"64", u"", u"Bitrate >= '64'"},
        {u"Name", 7, u"jazz", u"", u"UPPER(Name) LIKE '%JAZZ%'"},
        {u"Name", 8, u"jazz", u"", u"UPPER(Name) LIKE 'JAZZ%'"},
        {u"Name", 9, u"jazz", u"", u"UPPER(Name) LIKE '%JAZZ'"},
        {u"Name", 11, u"jazz", u"", u"UPPER(Name) NOT LIKE '%JAZZ%'"},
        {u"Provider", 0, u"My list", u"", u"Providers.Title = 'My list' COLLATE NOCASE "},
        {u"Name", 0, u"O'Brien", u"", u"Name = 'O''Brien' COLLATE NOCASE "},
        {u"Name", 0, u"a\U0001F3B5b", u"", u"Name = 'a b' COLLATE NOCASE "},
        // "%", "_" and the escape character match only themselves; only then is ESCAPE written.
        {u"Name", 7, u"50%_off", u"", u"UPPER(Name) LIKE '%50\\%\\_OFF%' ESCAPE '\\'"},
        {u"Name", 9, u"a\\b", u"", u"UPPER(Name) LIKE '%A\\\\B' ESCAPE '\\'"},
        {u"Name", 11, u"_", u"", u"UPPER(Name) NOT LIKE '%\\_%' ESCAPE '\\'"},
        {u"Name", 8, u"it's", u"", u"UPPER(Name) LIKE 'IT''S%'"},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(Condition(c.Field, c.Operation, c.Value1, c.Value2), c.Expected)
            << ToUtf8(c.Field) << " " << c.Operation;
}

TEST(MLSQLConditions, RefuseUnknownOperationsAndEmptyFieldsBeforeWriting) {
    for (const int32_t operation : {10, 12, -1}) {
        TTestAdapter adapter;
        EXPECT_EQ(ErrorOf([&] { adapter.AddFieldCondition(u"Name", u"x", u"", operation); }),
                  Format(u"The %d operation cannot be recognized", operation));
    }
    TTestAdapter adapter;
    EXPECT_EQ(ErrorOf([&] { adapter.AddFieldCondition(u"", u"x", u"", 10); }),
              u"Field name cannot be set to an empty string");
    EXPECT_EQ(adapter.ToString(), u"");
}

TEST(MLSQLFieldNames, OnlyPlainIdentifiersReachTheText) {
    for (const std::u16string_view name : {u"Name", u"Providers.Title", u"_x1", u"a.b.c"})
        EXPECT_TRUE(IsPlainSQLIdentifier(name)) << ToUtf8(name);
    for (const std::u16string_view name :
         {u"", u"Name; DROP TABLE Entries", u"Name)", u"a b", u"1abc", u".x", u"x.", u"x..y", u"N\u00e4me",
          u"Name--", u"Name'", u"[Name]", u"\"Name\""})
        EXPECT_FALSE(IsPlainSQLIdentifier(name)) << ToUtf8(name);

    const std::u16string hostile = u"Name) OR (1 = 1";
    const std::u16string expected = u"Field name \"Name) OR (1 = 1\" is not a plain identifier";
    EXPECT_EQ(ErrorOf([&] { TTestAdapter().AddFieldCondition(hostile, u"x", u"", 0); }), expected);
    EXPECT_EQ(ErrorOf([&] { TTestAdapter().AddFieldList(Names({u"Name", hostile}).get()); }), expected);
    bool hasCondition = false;
    EXPECT_EQ(ErrorOf([&] { TTestAdapter().AddSearch(Names({hostile}).get(), u"x", hasCondition); }),
              expected);
    auto sort = TOrvoHostObjectList::Create();
    sort->Add(TOrvoHostMLSortItem::Create(hostile).As<IUnknown>().get());
    EXPECT_EQ(ErrorOf([&] { TTestAdapter().AddOrderBy(sort.get()); }), expected);
}

TEST(MLSQLFieldNames, EachAdapterClassHasItsOwnMap) {
    // Whichever class is used first, the other keeps its own mapping.
    EXPECT_EQ(TTestAdapter().MapFieldName(u"Provider"), u"Providers.Title");
    EXPECT_EQ(TOrvoMLSQLAdapter().MapFieldName(u"Provider"), u"Provider");
    EXPECT_EQ(TTestAdapter().MapFieldName(u"provider"), u"provider");
}

TEST(MLSQLGroups, JoinChildrenAndNegate) {
    EXPECT_EQ(GroupText(Group(1, {Equal(u"Name", u"a"), Equal(u"Genre", u"b")})),
              u"(Name = 'a' COLLATE NOCASE ) AND (KeyContains(Genre, 'b'))");
    EXPECT_EQ(GroupText(Group(0, {Equal(u"Name", u"a"), Equal(u"Name", u"b")})),
              u"(Name = 'a' COLLATE NOCASE ) OR (Name = 'b' COLLATE NOCASE )");
    EXPECT_EQ(GroupText(Group(2, {Equal(u"Name", u"a")})), u" NOT (Name = 'a' COLLATE NOCASE )");
    EXPECT_EQ(GroupText(Group(2, {Equal(u"Name", u"a"), Equal(u"Name", u"b")})),
              u" NOT ((Name = 'a' COLLATE NOCASE ) OR (Name = 'b' COLLATE NOCASE ))");
    EXPECT_EQ(GroupText(Group(3, {Equal(u"Name", u"a"), Equal(u"Name", u"b")})),
              u" NOT ((Name = 'a' COLLATE NOCASE ) AND (Name = 'b' COLLATE NOCASE ))");
    const auto inner = Group(0, {Equal(u"Name", u"a"), Equal(u"Name", u"b")});
    EXPECT_EQ(
        GroupText(Group(1, {inner.As<IUnknown>(), Equal(u"Genre", u"c")})),
        u"((Name = 'a' COLLATE NOCASE ) OR (Name = 'b' COLLATE NOCASE )) AND (KeyContains(Genre, 'c'))");
    // A child of no known kind leaves its brackets empty.
    EXPECT_EQ(GroupText(Group(1, {TOrvoHostString::Create(u"x").As<IUnknown>()})), u"()");
}

TEST(MLSQLGroups, RefuseUnknownOperationsAndEndlessNesting) {
    EXPECT_EQ(ErrorOf([&] { GroupText(Group(4, {Equal(u"Name", u"a")})); }),
              u"The 4 operation cannot be recognized");
    auto loop = Group(1, {});
    loop->Add(loop.get());
    EXPECT_EQ(ErrorOf([&] { GroupText(loop); }), u"Filter groups are nested too deeply");
    // The group holds itself; break the cycle so both can go.
    loop->Clear();
}

TEST(MLSQLConditions, ValueListsQuoteEveryKindOfValue) {
    auto values = TOrvoHostMLFieldFilterArray::Create().As<IOrvoMLFieldFilterArray>();
    values->SetValueAsObject(ORVO_ML_CONDITION_FIELD, TOrvoHostString::Create(u"Name").get());
    auto text = TOrvoHostString::Create(u"O'Brien");
    TOrvoVariant items[4] = {};
    items[0].Kind = TOrvoVariant::Text;
    items[0].AsText = text.get();
    items[1].Kind = TOrvoVariant::Int32;
    items[1].AsInt32 = 128;
    items[2].Kind = TOrvoVariant::Float;
    items[2].AsFloat = 1.5;
    items[3].Kind = TOrvoVariant::Empty;
    ASSERT_EQ(values->SetValues(items, 4), S_OK);
    TTestAdapter adapter;
    adapter.AddArrayFilter(values.get());
    EXPECT_EQ(adapter.ToString(), u"Name IN ('O''Brien', 128, 1.5, NULL)");

    values->SetValueAsObject(ORVO_ML_CONDITION_FIELD, TOrvoHostString::Create(u"Genre").get());
    TTestAdapter keys;
    keys.AddArrayFilter(values.get());
    EXPECT_EQ(keys.ToString(), u"KeyContainsOneFrom(Genre, 'O''Brien', 128, 1.5, NULL)");

    // With no values: an empty IN list, and the key list as the only argument.
    values->SetValues(nullptr, 0);
    TTestAdapter noKeys;
    noKeys.AddArrayFilter(values.get());
    EXPECT_EQ(noKeys.ToString(), u"KeyContainsOneFrom(Genre)");
    values->SetValueAsObject(ORVO_ML_CONDITION_FIELD, TOrvoHostString::Create(u"Name").get());
    TTestAdapter noValues;
    noValues.AddArrayFilter(values.get());
    EXPECT_EQ(noValues.ToString(), u"Name IN ()");
}

TEST(MLSQLConditions, ValueListsWriteEveryVariantKindAsItsLiteral) {
    // Hands out the variants as given, whatever their kind.
    class TRawValues : public TOrvoHostPropertyBag<IOrvoMLFieldFilterArray> {
    public:
        std::vector<TOrvoVariant> Items;
        HRESULT ORVO_CALL GetValues(TOrvoVariant* values, int32_t* count) override {
            if (values)
                std::copy_n(Items.begin(), std::min(size_t(*count), Items.size()), values);
            *count = int32_t(Items.size());
            return S_OK;
        }
        HRESULT ORVO_CALL SetValues(const TOrvoVariant*, int32_t) override { return E_NOTIMPL; }
    };
    const auto variant = [](uint16_t kind, auto set) {
        TOrvoVariant v{};
        v.Kind = kind;
        set(v);
        return v;
    };
    const struct {
        TOrvoVariant Value;
        std::u16string Literal;
    } cases[] = {
        {variant(TOrvoVariant::Empty, [](auto&) {}), u"NULL"},
        {variant(TOrvoVariant::Null, [](auto& v) { v.AsInt64 = 5; }), u"NULL"},
        {variant(TOrvoVariant::Int8, [](auto& v) { v.AsInt8 = -5; }), u"-5"},
        {variant(TOrvoVariant::UInt8, [](auto& v) { v.AsUInt8 = 200; }), u"200"},
        {variant(TOrvoVariant::Int16, [](auto& v) { v.AsInt16 = -300; }), u"-300"},
        {variant(TOrvoVariant::UInt16, [](auto& v) { v.AsUInt16 = 65535; }), u"65535"},
        {variant(TOrvoVariant::Int32, [](auto& v) { v.AsInt32 = -70000; }), u"-70000"},
        {variant(TOrvoVariant::UInt32, [](auto& v) { v.AsUInt32 = 4000000000u; }), u"4000000000"},
        {variant(TOrvoVariant::Int64, [](auto& v) { v.AsInt64 = -9000000000; }), u"-9000000000"},
        {variant(TOrvoVariant::UInt64, [](auto& v) { v.AsUInt64 = ~uint64_t(0); }), u"18446744073709551615"},
        {variant(TOrvoVariant::Single, [](auto& v) { v.AsSingle = 0.75f; }), u"0.75"},
        {variant(TOrvoVariant::Float, [](auto& v) { v.AsFloat = -1.25; }), u"-1.25"},
        {variant(TOrvoVariant::Currency, [](auto& v) { v.AsInt64 = 123456; }), u"12.3456"},
        {variant(TOrvoVariant::Date, [](auto& v) { v.AsFloat = 45000.5; }), u"45000.5"},
        {variant(TOrvoVariant::Boolean, [](auto& v) { v.AsInt16 = -1; }), u"-1"},
        {variant(TOrvoVariant::Boolean, [](auto& v) { v.AsInt16 = 1; }), u"-1"},
        {variant(TOrvoVariant::Boolean, [](auto& v) { v.AsInt16 = 0; }), u"0"},
    };
    auto values = MakeInterfaced<TRawValues>();
    values->SetValueAsObject(ORVO_ML_CONDITION_FIELD, TOrvoHostString::Create(u"Bitrate").get());
    for (const auto& c : cases) {
        values->Items = {c.Value};
        TTestAdapter adapter;
        adapter.AddArrayFilter(values.get());
        EXPECT_EQ(adapter.ToString(), u"Bitrate IN (" + c.Literal + u")") << c.Value.Kind;
    }
    // An object or an error code has no literal.
    values->Items = {variant(13, [](auto&) {})};
    EXPECT_EQ(ErrorOf([&] { TTestAdapter().AddArrayFilter(values.get()); }),
              u"The value kind 13 cannot be recognized");
}

TEST(MLSQLConditions, AFailingValueListRaisesItsResultCode) {
    class TFailingValues : public TOrvoHostPropertyBag<IOrvoMLFieldFilterArray> {
    public:
        HRESULT ORVO_CALL GetValues(TOrvoVariant*, int32_t*) override { return E_FAIL; }
        HRESULT ORVO_CALL SetValues(const TOrvoVariant*, int32_t) override { return E_NOTIMPL; }
    };
    auto values = MakeInterfaced<TFailingValues>().As<IOrvoMLFieldFilterArray>();
    values->SetValueAsObject(ORVO_ML_CONDITION_FIELD, TOrvoHostString::Create(u"Name").get());
    EXPECT_EQ(ErrorOf([&] { TTestAdapter().AddArrayFilter(values.get()); }), u"-2147467259");
}

TEST(MLSQLConditions, WholeFilterWithSearchSortAndWindow) {
    TOrvoHostMLRequest request;
    request.Search = u"o'k%";
    request.Sort = {{u"Name", false}, {u"Provider", true}};
    request.Offset = 50;
    request.Limit = 25;
    const TOrvoHostMLQuery query = BuildMLQuery(request);
    TTestAdapter adapter;
    adapter.AddConditions(query.Filter.get(), Names({u"Name", u"", u"Logo", u"Provider"}).get(), false);
    EXPECT_EQ(adapter.ToString(), u"((UPPER(Name) LIKE '%O''K\\%%' ESCAPE '\\') OR "
                                  u"(UPPER(Providers.Title) LIKE '%O''K\\%%' ESCAPE '\\')) "
                                  u"ORDER BY Name, Providers.Title DESC LIMIT 50, 25");

    // Nothing to restrict; a count of 0 means no window whatever the offset.
    request = {};
    request.Offset = 50;
    TTestAdapter plain;
    plain.AddConditions(BuildMLQuery(request).Filter.get(), nullptr, false);
    EXPECT_EQ(plain.ToString(), u"(1 = 1)");
    TTestAdapter none;
    none.AddConditions(nullptr, nullptr, true);
    EXPECT_EQ(none.ToString(), u"");
}

TEST(MLSQLConditions, SortItemsWithoutADirectionAreSkipped) {
    auto sort = TOrvoHostObjectList::Create();
    sort->Add(TOrvoHostString::Create(u"Name").get());
    sort->Add(TOrvoHostMLSortItem::Create(u"Bitrate", ORVO_ML_SORT_DESCENDING).As<IUnknown>().get());
    sort->Add(TOrvoHostMLSortItem::Create(u"Genre", 7).As<IUnknown>().get());
    TTestAdapter adapter;
    adapter.AddOrderBy(sort.get());
    EXPECT_EQ(adapter.ToString(), u" ORDER BY Bitrate DESC, Genre");
}
