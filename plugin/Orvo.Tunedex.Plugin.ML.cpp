#include "plugin/Orvo.Tunedex.Plugin.ML.h"

// ---- TOrvoTunedexQueryBuilder

bool TOrvoTunedexQueryBuilder::IsKeyListField(std::u16string_view name) const {
    return name == u"Tags" || name == u"Genre" || name == u"Country";
}

void TOrvoTunedexQueryBuilder::PopulateFieldMap(TFieldMap& map) const {
    TOrvoMLSQLAdapter::PopulateFieldMap(map);
    map[u"Provider"] = u"Providers.Title";
}

std::u16string TOrvoTunedexQueryBuilder::Build(IOrvoObjectList* fields, IOrvoMLFilterGroup* filter) {
    TOrvoTunedexQueryBuilder builder;
    builder.Add(u"SELECT ");
    builder.AddFieldList(fields);
    // Every station row meets its provider's row, which gives the "Provider" column.
    builder.Add(u" FROM Entries, Providers WHERE (CatUIID = Providers.UUID)");
    builder.AddConditions(filter, fields, true);
    builder.Add(u";");
    return builder.ToString();
}
