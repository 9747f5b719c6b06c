#pragma once
// The station catalogue in the host's music library: the SQL of its row requests.

#include "plugin/Orvo.Tunedex.Core.h"
#include "sdk/apiWrappers.SQL.h"

#include <string>
#include <string_view>

// Composes the statement of one row request over the catalogue: the requested fields of every
// station joined with its provider, restricted by the filter and the search text, sorted and
// windowed. Genre, Country and Tags are key lists; "Provider" is the provider's title.
//
// Thread-safety: Build may run on any thread; each call uses an adapter of its own.
class TOrvoTunedexQueryBuilder : public TOrvoMLSQLAdapter {
public:
    // The statement for `fields` (host strings) and `filter` (may be null). Raises EArgumentError
    // for an unknown operation or a field name that is empty or not a plain identifier, and the
    // host's result code ("%d") when a host call fails.
    static std::u16string Build(IOrvoObjectList* fields, IOrvoMLFilterGroup* filter);

protected:
    bool IsKeyListField(std::u16string_view name) const override;
    void PopulateFieldMap(TFieldMap& map) const override;
};
