#include "plugin/Orvo.Tunedex.Plugin.ML.h"

#include "nuv/Nuv.Log.h"
#include "nuv/Nuv.Threading.h"
#include "platform/Platform.Locale.h"
#include "plugin/Orvo.Tunedex.Plugin.FileManager.h"
#include "plugin/Orvo.Tunedex.Plugin.UI.h"
#include "sdk/apiWrappersGUI.h"

#include <array>
#include <cstdint>

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

// ---- data sizes

std::u16string TunedexDataSizeUnits[4] = {u"B", u"KB", u"MB", u"GB"};

std::u16string FormatDataSize(int64_t size) {
    // The magnitude as unsigned, so that the most negative count has one too.
    const uint64_t magnitude = size < 0 ? uint64_t(0) - uint64_t(size) : uint64_t(size);
    const std::u16string sign = size < 0 ? u"-" : u"";
    if (magnitude < 1024)
        return sign + Format(u"%u %s", magnitude, TunedexDataSizeUnits[0]);
    double scaled;
    const std::u16string* unit;
    if (magnitude < 1048576) {
        scaled = double(magnitude) / 1024;
        unit = &TunedexDataSizeUnits[1];
    } else if (magnitude > 1073741823) {
        scaled = double(magnitude) / 1073741824;
        unit = &TunedexDataSizeUnits[3];
    } else {
        scaled = double(magnitude) / 1048576;
        unit = &TunedexDataSizeUnits[2];
    }
    return sign + ReplaceAll(Format(u"%.2f", scaled), u".", platform::DecimalSeparator()) + u" " + *unit;
}

// ---- TOrvoTunedexMusicLibraryExtension

namespace {

struct TFieldDefinition {
    std::u16string_view Name;
    int32_t Type;
    int32_t Flags;
};

// The storage's fields in the order the library shows them.
constexpr int32_t kShown = ORVO_ML_FIELD_FLAG_SORTABLE | ORVO_ML_FIELD_FLAG_GROUPABLE;
constexpr std::array<TFieldDefinition, 10> kFields = {{
    {u"ID", ORVO_ML_FIELD_TYPE_TEXT, ORVO_ML_FIELD_FLAG_KEY},
    {u"FileName", ORVO_ML_FIELD_TYPE_TEXT, ORVO_ML_FIELD_FLAG_KEY},
    {u"Name", ORVO_ML_FIELD_TYPE_TEXT, kShown},
    {u"Bitrate", ORVO_ML_FIELD_TYPE_INTEGER, kShown},
    {u"Description", ORVO_ML_FIELD_TYPE_TEXT, 0},
    {u"Genre", ORVO_ML_FIELD_TYPE_KEY_LIST, kShown},
    {u"FileFormat", ORVO_ML_FIELD_TYPE_TEXT, kShown},
    {u"Country", ORVO_ML_FIELD_TYPE_KEY_LIST, kShown},
    {u"Tags", ORVO_ML_FIELD_TYPE_KEY_LIST, kShown},
    {u"Provider", ORVO_ML_FIELD_TYPE_TEXT, kShown},
}};

// The library lists stations by name unless told otherwise. Without an index on Name, SQLite
// sorts every station again for each page it shows (a page from the middle of 50,000 stations
// took ~200 ms, most of it spilling the sort to temporary files); with one it walks the index in
// order. The index is the storage's, not part of the catalogue's schema, so it is made here, and
// made again after a reset has replaced the file. When it exists this costs one schema look-up.
void EnsureNameIndex(TOrvoStationCatalog& catalog) {
    try {
        catalog.Exec(u"CREATE INDEX IF NOT EXISTS EntriesName ON Entries (Name);");
    } catch (const std::exception& e) {
        // Rows come out right without it, only slower.
        NuvLogError(u"App", u"Tunedex: " + ExceptionMessage(e));
    }
}

void AddHostStrings(IOrvoObjectList* list, std::initializer_list<std::u16string_view> names) {
    for (std::u16string_view name : names)
        RaiseIfFailed(list->Add(ToHostString(name).get()));
}

} // namespace

void TOrvoTunedexMusicLibraryExtension::DoGetValue(int32_t propId, TOrvoPropValue& value, HRESULT& result) {
    switch (propId) {
    case ORVO_ML_STORAGE_ID:
        value = std::u16string(TUNEDEX_ML_STORAGE_ID);
        result = S_OK;
        break;
    case ORVO_ML_STORAGE_CAPTION:
        value = LocalizedText(u"Tunedex\\Title");
        result = S_OK;
        break;
    case ORVO_ML_STORAGE_CAPABILITIES:
        value = int64_t(TUNEDEX_ML_CAPABILITIES);
        result = S_OK;
        break;
    default:
        TOrvoPropertyListOf<IOrvoMLExtensionDataStorage>::DoGetValue(propId, value, result);
        break;
    }
}

TNuvWeakRef<TOrvoStationCatalog> TOrvoTunedexMusicLibraryExtension::GetCatalog() {
    std::lock_guard guard(FLock);
    return FCatalog;
}

HRESULT ORVO_CALL TOrvoTunedexMusicLibraryExtension::Finalize() {
    if (const auto catalog = GetCatalog().Lock())
        catalog->Listeners().Remove(this);
    ComPtr<IOrvoMLDataStorageManager> manager;
    std::lock_guard guard(FLock);
    FListening = false;
    // Released after the lock, as every host object is.
    manager = std::move(FStorageManager);
    return S_OK;
}

HRESULT ORVO_CALL TOrvoTunedexMusicLibraryExtension::Initialize(IOrvoMLDataStorageManager* manager) {
    const auto catalog = GetCatalog().Lock();
    bool listen;
    {
        std::lock_guard guard(FLock);
        FStorageManager = manager;
        listen = catalog && !FListening;
        FListening = FListening || listen;
    }
    if (listen)
        catalog->Listeners().Add(this);
    return S_OK;
}

HRESULT ORVO_CALL TOrvoTunedexMusicLibraryExtension::Reserved3(IUnknown*) {
    return S_OK;
}

HRESULT ORVO_CALL TOrvoTunedexMusicLibraryExtension::Reserved4(IUnknown*) {
    return S_OK;
}

HRESULT ORVO_CALL TOrvoTunedexMusicLibraryExtension::ListFields(int32_t schema, IOrvoObjectList** list) {
    if (!list)
        return E_INVALIDARG;
    *list = nullptr;
    // A half-filled list would show the library fields that do not match the rows.
    return GuardedHostCall(u"Tunedex: ", [&]() -> HRESULT {
        auto fields = NewHostObject<IOrvoObjectList>();
        switch (schema) {
        case ORVO_ML_SCHEMA_FIELDS:
            for (const TFieldDefinition& definition : kFields) {
                auto field = NewHostObject<IOrvoMLDataField>();
                WriteIntProp(field.get(), ORVO_ML_FIELD_TYPE, definition.Type);
                WriteIntProp(field.get(), ORVO_ML_FIELD_FLAGS, definition.Flags);
                WriteTextProp(field.get(), ORVO_ML_FIELD_NAME, definition.Name);
                RaiseIfFailed(fields->Add(field.get()));
            }
            break;
        case ORVO_ML_SCHEMA_GROUPING:
        case ORVO_ML_SCHEMA_GROUPING_TREE:
            AddHostStrings(fields.get(), {u"Provider", u"Name"});
            break;
        case ORVO_ML_SCHEMA_VIEW_LIST:
        case ORVO_ML_SCHEMA_VIEW_DETAILS:
        case ORVO_ML_SCHEMA_VIEW_TILES:
            AddHostStrings(fields.get(), {u"Name", u"Bitrate", u"FileFormat", u"Genre"});
            break;
        default:
            break;
        }
        *list = fields.Detach();
        return S_OK;
    });
}

HRESULT ORVO_CALL TOrvoTunedexMusicLibraryExtension::ListGroupingPresets(int32_t schema,
                                                                         IOrvoMLGroupingPresets* presets) {
    if (schema != ORVO_ML_SCHEMA_GROUPING || !presets)
        return S_OK;
    // The library works without the preset, so the answer is success either way; the log says
    // why it is missing.
    GuardedHostCall(u"Tunedex: ", [&]() -> HRESULT {
        auto fields = NewHostObject<IOrvoObjectList>();
        AddHostStrings(fields.get(), {u"Provider"});
        ComPtr<IUnknown> preset;
        const HRESULT added =
            presets->Add(ToHostString(u"").get(), ToHostString(u"").get(), 0, fields.get(), preset.put());
        if (Failed(added))
            NuvLogError(u"App", Format(u"Tunedex: the grouping preset was refused (%d)", added));
        return added;
    });
    return S_OK;
}

HRESULT ORVO_CALL TOrvoTunedexMusicLibraryExtension::OpenAddDialog(uint64_t ownerWindow) {
    const auto catalog = GetCatalog().Lock();
    if (!catalog)
        return E_FAIL;
    return GuardedHostCall(u"Tunedex: ", [&]() -> HRESULT {
        TOrvoTunedexManagingDialog::Execute(ownerWindow, *catalog);
        return S_OK;
    });
}

HRESULT ORVO_CALL TOrvoTunedexMusicLibraryExtension::QueryRows(IOrvoObjectList* fields,
                                                               IOrvoMLFilterGroup* filter, IUnknown** data) {
    if (!data)
        return E_INVALIDARG;
    *data = nullptr;
    const auto catalog = GetCatalog().Lock();
    if (!catalog)
        return E_FAIL;
    // When not even the message can be handed over, the guard logs why.
    return GuardedHostCall(u"Tunedex: ", [&]() -> HRESULT {
        try {
            if (catalog->IsEmpty()) {
                *data = ToHostString(Format(u"[url=%s]%s[/url]", TOrvoTunedexFakeFileSystem::SettingsAddress,
                                            LocalizedText(u"Tunedex\\L1")))
                            .Detach();
                return S_OK;
            }
            EnsureNameIndex(*catalog);
            const std::u16string statement = TOrvoTunedexQueryBuilder::Build(fields, filter);
            *data = TOrvoMLSQLTableDataProvider::Create(*catalog, statement).As<IUnknown>().Detach();
        } catch (const std::exception& e) {
            // The library shows the text in place of the rows, so the user learns what failed.
            *data = ToHostString(ExceptionMessage(e)).Detach();
        }
        return S_OK;
    });
}

HRESULT ORVO_CALL TOrvoTunedexMusicLibraryExtension::FetchAlbumArt(IOrvoObjectList* fieldNames,
                                                                   const TOrvoVariantArray* fieldValues,
                                                                   IOrvoMLAlbumArtRequest* request,
                                                                   IUnknown** image) {
    return GuardedHostCall(u"Tunedex: ", [&]() -> HRESULT {
        int32_t index = -1;
        const int32_t count = fieldNames ? fieldNames->Count() : 0;
        for (int32_t i = 0; i < count && index < 0; ++i) {
            ComPtr<IOrvoString> name;
            if (Succeeded(fieldNames->Get(i, IOrvoString::IID, name.put_void())) &&
                FromHostString(name) == u"FileName")
                index = i;
        }
        if (index < 0)
            return E_FAIL;
        if (!fieldValues || !fieldValues->Items || index >= fieldValues->Count || !request || !image)
            return E_INVALIDARG;
        TOrvoPropValue value;
        const auto catalog = GetCatalog().Lock();
        TOrvoRadioStationInfo station;
        if (!catalog || !VariantToPropValue(fieldValues->Items[index], value) ||
            !catalog->FindEntryByFileName(PropValueToText(value), station) || station.Logo.empty())
            return E_NOTIMPL;
        const HRESULT fetched = request->FetchImage(ToHostString(station.Logo).get(), image);
        return Succeeded(fetched) ? fetched : E_NOTIMPL;
    });
}

// ---- the listener side

ComPtr<IOrvoString> TOrvoTunedexMusicLibraryExtension::TaskCaption() const {
    std::lock_guard guard(FLock);
    return FTaskCaption;
}

void TOrvoTunedexMusicLibraryExtension::CatalogChanged() {
    // While a task is shown its end reloads; a reload now would show a half-refreshed catalogue.
    if (TaskCaption())
        return;
    ComPtr<TOrvoTunedexMusicLibraryExtension> self(this);
    TNuvMainThread::Run([self] { self->ReloadData(); }, false);
}

void TOrvoTunedexMusicLibraryExtension::AsyncUpdateStarted() {
    std::u16string progress = LocalizedText(u"Tunedex\\S1");
    std::u16string waiting = LocalizedText(u"Tunedex\\S2");
    {
        std::lock_guard guard(FLock);
        FProgressText = std::move(progress);
        FWaitingText = std::move(waiting);
    }
    ComPtr<TOrvoTunedexMusicLibraryExtension> self(this);
    TNuvMainThread::Run([self] { self->ShowTask(); }, false);
}

void TOrvoTunedexMusicLibraryExtension::UpdateProgress(std::u16string_view title, int64_t received,
                                                       int64_t total) {
    bool post;
    {
        std::lock_guard guard(FLock);
        if (!FTaskCaption)
            return;
        FPendingCaption = ProgressCaption(title, received, total);
        post = !FCaptionPosted;
        FCaptionPosted = true;
    }
    // The host draws the caption on its main thread, so the text changes there too; a download
    // reports far more often than anyone can read, so only the latest text is handed over.
    if (post) {
        ComPtr<TOrvoTunedexMusicLibraryExtension> self(this);
        TNuvMainThread::Run([self] { self->ApplyCaption(); }, false);
    }
}

void TOrvoTunedexMusicLibraryExtension::ProviderUpdateStarted(std::u16string_view) {}

void TOrvoTunedexMusicLibraryExtension::AsyncUpdateFinished() {
    ComPtr<TOrvoTunedexMusicLibraryExtension> self(this);
    TNuvMainThread::Run([self] { self->HideTask(); }, false);
}

std::u16string TOrvoTunedexMusicLibraryExtension::ProgressCaption(std::u16string_view title, int64_t received,
                                                                  int64_t total) const {
    std::u16string text = std::u16string(title) + u": ";
    if (received <= 0)
        return text + FWaitingText;
    text += FProgressText + u" " + FormatDataSize(received);
    if (total > 0)
        text += u"/" + FormatDataSize(total);
    return text;
}

void TOrvoTunedexMusicLibraryExtension::ApplyCaption() {
    ComPtr<IOrvoString> caption;
    std::u16string text;
    {
        std::lock_guard guard(FLock);
        FCaptionPosted = false;
        caption = FTaskCaption;
        text = std::move(FPendingCaption);
        FPendingCaption.clear();
    }
    // The host redraws the object it was given, so the text changes in place.
    if (caption)
        caption->SetChars(text.data(), int32_t(text.size()));
}

void TOrvoTunedexMusicLibraryExtension::ShowTask() {
    ComPtr<IOrvoMLDataStorageManager> manager;
    {
        std::lock_guard guard(FLock);
        manager = FStorageManager;
    }
    if (!manager)
        return;
    ComPtr<IOrvoString> caption = ToHostString(LocalizedText(u"Tunedex\\S3"));
    ComPtr<TOrvoTunedexMusicLibraryExtension> self(this);
    ComPtr<IUnknown> cancel = UINotifyEvent([self](IUnknown*) {
        if (const auto catalog = self->GetCatalog().Lock())
            catalog->CancelUpdate();
    });
    {
        std::lock_guard guard(FLock);
        FTaskCaption = caption;
    }
    manager->ShowBackgroundTask(TUNEDEX_ML_UPDATE_TASK, caption.get(), cancel.get());
}

void TOrvoTunedexMusicLibraryExtension::HideTask() {
    ComPtr<IOrvoString> caption;
    ComPtr<IOrvoMLDataStorageManager> manager;
    {
        std::lock_guard guard(FLock);
        caption = std::move(FTaskCaption);
        manager = FStorageManager;
    }
    if (!manager)
        return;
    manager->HideBackgroundTask(TUNEDEX_ML_UPDATE_TASK);
    manager->ReloadData();
}

void TOrvoTunedexMusicLibraryExtension::ReloadData() {
    ComPtr<IOrvoMLDataStorageManager> manager;
    {
        std::lock_guard guard(FLock);
        // A task shown since the change was queued reloads when it ends.
        if (FTaskCaption)
            return;
        manager = FStorageManager;
    }
    if (manager)
        manager->ReloadData();
}

void TOrvoTunedexMusicLibraryExtension::Detach() {
    Finalize();
    std::lock_guard guard(FLock);
    FCatalog = {};
}
