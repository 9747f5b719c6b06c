#pragma once
// The library browser's row request as a person writes it on the command line, and the host
// objects a storage receives for it: the field list and the filter (conditions, search text, sort
// list, row window).
//
// Conditions are FIELD OP VALUE with the operators eq, ne, between (VALUE is LOW,HIGH), lt, le,
// gt, ge, contains, starts, ends, notcontains and in (VALUE is a comma-separated list); names
// of operators are matched without regard to case. Sorting is FIELD or FIELD:asc or FIELD:desc.

#include "host/Orvo.Host.MusicLibrary.Objects.h"

#include <string>
#include <string_view>
#include <vector>

struct TOrvoHostMLCondition {
    std::u16string Field;
    std::u16string Operator;
    std::u16string Value;
};

struct TOrvoHostMLSort {
    std::u16string Field;
    bool Descending = false;
};

struct TOrvoHostMLRequest {
    std::vector<std::u16string> Fields;
    std::vector<TOrvoHostMLCondition> Conditions;
    // Join the conditions with OR instead of AND.
    bool Any = false;
    std::u16string Search;
    std::vector<TOrvoHostMLSort> Sort;
    int32_t Offset = 0;
    // 0: every row.
    int32_t Limit = 0;
};

// The objects of one request, as the library hands them to a storage's QueryRows.
struct TOrvoHostMLQuery {
    ComPtr<IOrvoObjectList> Fields;
    ComPtr<IOrvoMLFilterGroup> Filter;
};

// "FIELD[:asc|:desc]"; raises EArgumentError for another suffix or an empty field.
TOrvoHostMLSort ParseSortSpec(std::u16string_view spec);

// Builds the objects of a request; raises EArgumentError for an unknown operator, a between
// without exactly two values, or a negative offset or limit.
TOrvoHostMLQuery BuildMLQuery(const TOrvoHostMLRequest& request);
