#include "host/Orvo.Host.MusicLibrary.Query.h"

#include "nuv/Nuv.Strings.h"

#include <array>

namespace {

constexpr int32_t kValueList = -1;

struct TOperatorName {
    std::u16string_view Name;
    int32_t Operation;
};

constexpr std::array<TOperatorName, 12> kOperators = {{
    {u"eq", ORVO_ML_OP_EQUAL},
    {u"ne", ORVO_ML_OP_NOT_EQUAL},
    {u"between", ORVO_ML_OP_BETWEEN},
    {u"lt", ORVO_ML_OP_LESS},
    {u"le", ORVO_ML_OP_LESS_OR_EQUAL},
    {u"gt", ORVO_ML_OP_GREATER},
    {u"ge", ORVO_ML_OP_GREATER_OR_EQUAL},
    {u"contains", ORVO_ML_OP_CONTAINS},
    {u"starts", ORVO_ML_OP_STARTS_WITH},
    {u"ends", ORVO_ML_OP_ENDS_WITH},
    {u"notcontains", ORVO_ML_OP_NOT_CONTAINS},
    {u"in", kValueList},
}};

// The host writes its own strings: the wrappers' ToHostString reaches a plug-in's core.
void SetText(IOrvoPropertyList* list, int32_t propId, std::u16string_view text) {
    WriteObjectProp(list, propId, TOrvoHostString::Create(std::u16string(text)).get());
}

int32_t Operation(std::u16string_view name) {
    for (const TOperatorName& op : kOperators)
        if (SameTextAscii(op.Name, name))
            return op.Operation;
    throw EArgumentError(Format(u"Unknown operator \"%s\": use eq, ne, between, lt, le, gt, ge, contains, "
                                u"starts, ends, notcontains or in",
                                name));
}

// The items of a comma-separated value, each without the spaces around it.
std::vector<std::u16string> ValueItems(std::u16string_view value) {
    std::vector<std::u16string> items;
    for (const std::u16string& item : Split(value, u","))
        items.push_back(Trim(item));
    return items;
}

ComPtr<IUnknown> NewCondition(const TOrvoHostMLCondition& condition) {
    const int32_t operation = Operation(condition.Operator);
    if (operation == kValueList) {
        auto values = TOrvoHostMLFieldFilterArray::Create().As<IOrvoMLFieldFilterArray>();
        SetText(values.get(), ORVO_ML_CONDITION_FIELD, condition.Field);
        std::vector<ComPtr<TOrvoHostString>> texts;
        std::vector<TOrvoVariant> variants;
        for (const std::u16string& item : ValueItems(condition.Value)) {
            texts.push_back(TOrvoHostString::Create(item));
            TOrvoVariant variant{};
            variant.Kind = TOrvoVariant::Text;
            variant.AsText = texts.back().get();
            variants.push_back(variant);
        }
        RaiseIfFailed(values->SetValues(variants.data(), int32_t(variants.size())));
        return values.As<IUnknown>();
    }
    std::u16string value1 = condition.Value, value2;
    if (operation == ORVO_ML_OP_BETWEEN) {
        const std::vector<std::u16string> bounds = ValueItems(condition.Value);
        if (bounds.size() != 2)
            throw EArgumentError(Format(u"between needs two values, LOW,HIGH, not \"%s\"",
                                        std::u16string_view(condition.Value)));
        value1 = bounds[0];
        value2 = bounds[1];
    }
    auto filter = TOrvoHostMLFieldFilter::Create().As<IOrvoMLFieldFilter>();
    SetText(filter.get(), ORVO_ML_CONDITION_FIELD, condition.Field);
    WriteIntProp(filter.get(), ORVO_ML_CONDITION_OPERATION, operation);
    SetText(filter.get(), ORVO_ML_CONDITION_VALUE1, value1);
    SetText(filter.get(), ORVO_ML_CONDITION_VALUE2, value2);
    return filter.As<IUnknown>();
}

} // namespace

TOrvoHostMLSort ParseSortSpec(std::u16string_view spec) {
    TOrvoHostMLSort sort;
    const size_t colon = spec.rfind(u':');
    sort.Field = std::u16string(spec.substr(0, colon));
    if (colon != std::u16string_view::npos) {
        const std::u16string_view direction = spec.substr(colon + 1);
        if (SameTextAscii(direction, u"desc"))
            sort.Descending = true;
        else if (!SameTextAscii(direction, u"asc"))
            throw EArgumentError(Format(u"Unknown sort direction \"%s\": use asc or desc", direction));
    }
    if (sort.Field.empty())
        throw EArgumentError(Format(u"No field to sort by in \"%s\"", spec));
    return sort;
}

TOrvoHostMLQuery BuildMLQuery(const TOrvoHostMLRequest& request) {
    if (request.Offset < 0 || request.Limit < 0)
        throw EArgumentError(u"Offset and limit cannot be negative");
    TOrvoHostMLQuery query;
    auto fields = TOrvoHostObjectList::Create();
    for (const std::u16string& field : request.Fields)
        RaiseIfFailed(fields->Add(TOrvoHostString::Create(field).get()));

    auto filter = TOrvoHostMLFilterGroup::Create().As<IOrvoMLFilterGroup>();
    WriteIntProp(filter.get(), ORVO_ML_GROUP_OPERATION, request.Any ? ORVO_ML_GROUP_OR : ORVO_ML_GROUP_AND);
    for (const TOrvoHostMLCondition& condition : request.Conditions)
        RaiseIfFailed(filter->Add(NewCondition(condition).get()));
    SetText(filter.get(), ORVO_ML_FILTER_SEARCH, request.Search);
    auto sortList = TOrvoHostObjectList::Create();
    for (const TOrvoHostMLSort& sort : request.Sort) {
        auto item = TOrvoHostMLSortItem::Create(sort.Field, sort.Descending ? ORVO_ML_SORT_DESCENDING
                                                                            : ORVO_ML_SORT_ASCENDING);
        RaiseIfFailed(sortList->Add(item.As<IUnknown>().get()));
    }
    WriteObjectProp(filter.get(), ORVO_ML_FILTER_SORT, sortList.get());
    WriteIntProp(filter.get(), ORVO_ML_FILTER_OFFSET, request.Offset);
    WriteIntProp(filter.get(), ORVO_ML_FILTER_LIMIT, request.Limit);

    query.Fields = fields;
    query.Filter = filter;
    return query;
}
