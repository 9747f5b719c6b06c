#include "host/Orvo.Host.MusicLibrary.Query.h"

#include "host/Orvo.Host.Core.h"

#include <gtest/gtest.h>

namespace {

std::u16string Text(IOrvoPropertyList* list, int32_t propId) {
    ComPtr<IOrvoString> text;
    if (Failed(list->GetValueAsObject(propId, IOrvoString::IID, text.put_void())))
        return u"(none)";
    return FromHostString(text);
}

TOrvoHostMLQuery One(std::u16string op, std::u16string value) {
    TOrvoHostMLRequest request;
    request.Conditions.push_back({u"Bitrate", std::move(op), std::move(value)});
    return BuildMLQuery(request);
}

std::u16string ErrorOf(const std::function<void()>& body) {
    try {
        body();
    } catch (const Exception& e) {
        return e.Message();
    }
    return u"(no error)";
}

} // namespace

TEST(HostMLQuery, OperatorsBecomeFieldConditions) {
    const std::pair<std::u16string, int32_t> cases[] = {
        {u"eq", 0},       {u"ne", 1},     {u"lt", 3},   {u"le", 4},           {u"gt", 5}, {u"ge", 6},
        {u"contains", 7}, {u"starts", 8}, {u"ends", 9}, {u"notcontains", 11}, {u"GE", 6},
    };
    for (const auto& [op, operation] : cases) {
        const TOrvoHostMLQuery query = One(op, u"128");
        ASSERT_EQ(query.Filter->Count(), 1);
        ComPtr<IOrvoMLFieldFilter> condition;
        ASSERT_EQ(query.Filter->Get(0, IOrvoMLFieldFilter::IID, condition.put_void()), S_OK) << ToUtf8(op);
        EXPECT_EQ(ReadIntProp(condition.get(), ORVO_ML_CONDITION_OPERATION, -1), operation) << ToUtf8(op);
        EXPECT_EQ(Text(condition.get(), ORVO_ML_CONDITION_FIELD), u"Bitrate");
        EXPECT_EQ(Text(condition.get(), ORVO_ML_CONDITION_VALUE1), u"128");
    }

    ComPtr<IOrvoMLFieldFilter> between;
    One(u"between", u"64, 128").Filter->Get(0, IOrvoMLFieldFilter::IID, between.put_void());
    ASSERT_TRUE(between);
    EXPECT_EQ(Text(between.get(), ORVO_ML_CONDITION_VALUE1), u"64");
    EXPECT_EQ(Text(between.get(), ORVO_ML_CONDITION_VALUE2), u"128");
}

TEST(HostMLQuery, InBecomesAValueList) {
    const TOrvoHostMLQuery query = One(u"in", u"rock, jazz,hip hop");
    ComPtr<IOrvoMLFieldFilterArray> values;
    ASSERT_EQ(query.Filter->Get(0, IOrvoMLFieldFilterArray::IID, values.put_void()), S_OK);
    EXPECT_FALSE(query.Filter.As<IOrvoMLFieldFilterArray>());
    int32_t count = 0;
    ASSERT_EQ(values->GetValues(nullptr, &count), S_OK);
    ASSERT_EQ(count, 3);
    // A smaller array gets only what fits.
    TOrvoVariant items[3] = {};
    count = 2;
    ASSERT_EQ(values->GetValues(items, &count), S_OK);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(items[0].Kind, TOrvoVariant::Text);
    EXPECT_EQ(FromHostString(items[0].AsText), u"rock");
    EXPECT_EQ(FromHostString(items[1].AsText), u"jazz");
    EXPECT_EQ(items[2].Kind, TOrvoVariant::Empty);
    items[0].AsText->Release();
    items[1].AsText->Release();
}

TEST(HostMLQuery, RefusesWhatItCannotExpress) {
    EXPECT_EQ(ErrorOf([] { One(u"like", u"x"); }), u"Unknown operator \"like\": use eq, ne, between, lt, le, "
                                                   u"gt, ge, contains, starts, ends, notcontains "
                                                   u"or in");
    EXPECT_EQ(ErrorOf([] { One(u"between", u"64"); }), u"between needs two values, LOW,HIGH, not \"64\"");
    EXPECT_EQ(ErrorOf([] { One(u"between", u"1,2,3"); }),
              u"between needs two values, LOW,HIGH, not \"1,2,3\"");
    TOrvoHostMLRequest request;
    request.Limit = -1;
    EXPECT_EQ(ErrorOf([&] { BuildMLQuery(request); }), u"Offset and limit cannot be negative");
}

TEST(HostMLQuery, SortSpecs) {
    EXPECT_EQ(ParseSortSpec(u"Name").Field, u"Name");
    EXPECT_FALSE(ParseSortSpec(u"Name").Descending);
    EXPECT_TRUE(ParseSortSpec(u"Bitrate:desc").Descending);
    EXPECT_TRUE(ParseSortSpec(u"Bitrate:DESC").Descending);
    EXPECT_FALSE(ParseSortSpec(u"Bitrate:asc").Descending);
    EXPECT_EQ(ErrorOf([] { ParseSortSpec(u"Bitrate:down"); }),
              u"Unknown sort direction \"down\": use asc or desc");
    EXPECT_EQ(ErrorOf([] { ParseSortSpec(u":desc"); }), u"No field to sort by in \":desc\"");
}

TEST(HostMLQuery, TheFilterCarriesJoinSearchSortAndWindow) {
    TOrvoHostMLRequest request;
    request.Fields = {u"Name", u"Genre"};
    request.Conditions = {{u"Genre", u"eq", u"rock"}, {u"Genre", u"eq", u"jazz"}};
    request.Any = true;
    request.Search = u"radio";
    request.Sort = {ParseSortSpec(u"Name:desc")};
    request.Offset = 20;
    request.Limit = 10;
    const TOrvoHostMLQuery query = BuildMLQuery(request);

    ASSERT_EQ(query.Fields->Count(), 2);
    ComPtr<IOrvoString> second;
    query.Fields->Get(1, IOrvoString::IID, second.put_void());
    EXPECT_EQ(FromHostString(second), u"Genre");

    EXPECT_EQ(ReadIntProp(query.Filter.get(), ORVO_ML_GROUP_OPERATION, -1), ORVO_ML_GROUP_OR);
    EXPECT_EQ(query.Filter->Count(), 2);
    EXPECT_EQ(Text(query.Filter.get(), ORVO_ML_FILTER_SEARCH), u"radio");
    EXPECT_EQ(ReadIntProp(query.Filter.get(), ORVO_ML_FILTER_OFFSET, -1), 20);
    EXPECT_EQ(ReadIntProp(query.Filter.get(), ORVO_ML_FILTER_LIMIT, -1), 10);
    ComPtr<IOrvoObjectList> sort;
    ASSERT_EQ(query.Filter->GetValueAsObject(ORVO_ML_FILTER_SORT, IOrvoObjectList::IID, sort.put_void()),
              S_OK);
    ComPtr<IOrvoMLSortDirection> item;
    ASSERT_EQ(sort->Get(0, IOrvoMLSortDirection::IID, item.put_void()), S_OK);
    EXPECT_EQ(item->Direction(), ORVO_ML_SORT_DESCENDING);
    EXPECT_EQ(FromHostString(item.As<IOrvoString>()), u"Name");

    request.Any = false;
    EXPECT_EQ(ReadIntProp(BuildMLQuery(request).Filter.get(), ORVO_ML_GROUP_OPERATION, -1),
              ORVO_ML_GROUP_AND);
}

TEST(HostMLQuery, TheCoreMakesTheLibrarysObjects) {
    auto core = TOrvoHostCore::Create(u"/profile");
    RegisterMusicLibraryObjects(*core);
    ComPtr<IOrvoMLDataField> field;
    ASSERT_EQ(core->MakeObject(IOrvoMLDataField::IID, field.put_void()), S_OK);
    // A data field keeps what a storage sets: the name as a host string, numbers as numbers.
    ASSERT_EQ(field->SetValueAsObject(ORVO_ML_FIELD_NAME, TOrvoHostString::Create(u"Genre").get()), S_OK);
    ASSERT_EQ(field->SetValueAsInt32(ORVO_ML_FIELD_TYPE, 5), S_OK);
    EXPECT_EQ(Text(field.get(), ORVO_ML_FIELD_NAME), u"Genre");
    EXPECT_EQ(ReadIntProp(field.get(), ORVO_ML_FIELD_TYPE, -1), 5);
    EXPECT_EQ(ReadIntProp(field.get(), ORVO_ML_FIELD_FLAGS, -1), -1);

    ComPtr<IOrvoObjectList> list;
    ASSERT_EQ(core->MakeObject(IOrvoObjectList::IID, list.put_void()), S_OK);
    EXPECT_EQ(list->Add(field.get()), S_OK);
    EXPECT_EQ(list->Add(nullptr), E_INVALIDARG);
    EXPECT_EQ(list->Count(), 1);
    ComPtr<IOrvoMLDataField> back;
    EXPECT_EQ(list->Get(0, IOrvoMLDataField::IID, back.put_void()), S_OK);
    EXPECT_EQ(back, field);
    EXPECT_EQ(list->Get(1, IUnknown::IID, back.put_void()), E_INVALIDARG);
    EXPECT_EQ(list->Get(0, IOrvoString::IID, back.put_void()), E_NOINTERFACE);

    for (const TGUID& iid : {IOrvoMLFilterGroup::IID, IOrvoMLFieldFilter::IID, IOrvoMLFieldFilterArray::IID,
                             IOrvoMLSortDirection::IID}) {
        ComPtr<IUnknown> made;
        EXPECT_EQ(core->MakeObject(iid, made.put_void()), S_OK);
    }
}
