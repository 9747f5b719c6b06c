#pragma once
// The station catalogue in the host's music library: the storage the library shows, the SQL of
// its row requests, station logos as album art, and the background-task display of refreshes.

#include "plugin/Orvo.Tunedex.Core.h"
#include "sdk/api/OrvoAPI.Tunedex.h"
#include "sdk/apiWrappers.SQL.h"

#include <cstdint>
#include <mutex>
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

// The plug-in's own interface on its storage: the way back from the registered extension to the
// catalogue it shows (the menu items find it so).
struct IOrvoMLStationCatalog : IUnknown {
    static constexpr TGUID IID = OrvoTag("TunedexMLExt");

    // The catalogue; its pins come back empty once the plug-in has torn it down.
    virtual TNuvWeakRef<TOrvoStationCatalog> GetCatalog() = 0;
};

// The identifier under which the storage is known to the host; its background task is
// TUNEDEX_ML_UPDATE_TASK.
constexpr std::u16string_view TUNEDEX_ML_STORAGE_ID = u"Orvo.Tunedex.ML.Storage";
constexpr int32_t TUNEDEX_ML_CAPABILITIES =
    ORVO_ML_CAPABILITY_ROWS | ORVO_ML_CAPABILITY_ALBUM_ART | ORVO_ML_CAPABILITY_ADD_DIALOG;

// The unit words of FormatDataSize: bytes, kilobytes, megabytes, gigabytes. Written at start-up
// (a translation, say) before any size is formatted.
extern std::u16string TunedexDataSizeUnits[4];

// A byte count for people: "512 B", "1.50 KB", "3.00 MB", "2.25 GB", with the user's decimal
// separator; a negative count is "-" followed by its magnitude.
std::u16string FormatDataSize(int64_t size);

// The catalogue as a data storage of the host's music library. Registered at "ORVOSrvML"; the
// library attaches it with Initialize, asks it for its fields, presets and rows, and detaches it
// with Finalize. While attached it listens to the catalogue: a refresh shows as the background
// task 42, whose caption follows the download's progress, and a changed catalogue makes the
// library reload its rows.
//
// Thread-safety: rows, fields and album art may be asked on any thread. Catalogue notifications
// arrive on the refreshing worker; everything that touches the storage manager and the task
// caption (its creation, its text and its release) runs on the main thread through queued calls,
// in the order the notifications came. The fields below are guarded by one lock that is never held while
// calling out.
class TOrvoTunedexMusicLibraryExtension
    : public TOrvoInterfaces<TOrvoPropertyListOf<IOrvoMLExtensionDataStorage>, IOrvoMLStationCatalog,
                             IOrvoMLDataStorageCommandAddFilesDialog, IOrvoMLDataProvider,
                             IOrvoMLAlbumArtProvider2>,
      public IOrvoStationCatalogListener {
public:
    // IOrvoMLStationCatalog
    TNuvWeakRef<TOrvoStationCatalog> GetCatalog() override;

    // IOrvoMLExtensionDataStorage
    HRESULT ORVO_CALL Finalize() override;
    HRESULT ORVO_CALL Initialize(IOrvoMLDataStorageManager* manager) override;
    HRESULT ORVO_CALL Reserved3(IUnknown* parameter) override;
    HRESULT ORVO_CALL Reserved4(IUnknown* parameter) override;
    // Schema 0: the ten data fields; 2 and 3: "Provider", "Name"; 10 to 12: "Name", "Bitrate",
    // "FileFormat", "Genre"; any other: an empty list.
    HRESULT ORVO_CALL ListFields(int32_t schema, IOrvoObjectList** list) override;
    // Schema 2 offers grouping by "Provider"; every answer is S_OK.
    HRESULT ORVO_CALL ListGroupingPresets(int32_t schema, IOrvoMLGroupingPresets* presets) override;
    void ORVO_CALL Reserved7() override {}

    // IOrvoMLDataStorageCommandAddFilesDialog: the catalogue manager, modal to the window.
    HRESULT ORVO_CALL OpenAddDialog(uint64_t ownerWindow) override;

    // IOrvoMLDataProvider. An empty catalogue gives the link text to the settings address; a
    // request that cannot be composed or run gives the error's message. Both are S_OK.
    HRESULT ORVO_CALL QueryRows(IOrvoObjectList* fields, IOrvoMLFilterGroup* filter,
                                IUnknown** data) override;

    // IOrvoMLAlbumArtProvider2: the logo of the station whose "FileName" is among the fields.
    // E_FAIL without that field; E_NOTIMPL when there is no station, no logo or no image.
    HRESULT ORVO_CALL FetchAlbumArt(IOrvoObjectList* fieldNames, const TOrvoVariantArray* fieldValues,
                                    IOrvoMLAlbumArtRequest* request, IUnknown** image) override;

    // IOrvoStationCatalogListener; any thread.
    void CatalogChanged() override;
    void AsyncUpdateStarted() override;
    void UpdateProgress(std::u16string_view title, int64_t received, int64_t total) override;
    void ProviderUpdateStarted(std::u16string_view providerId) override;
    void AsyncUpdateFinished() override;

    // The plug-in tears the catalogue down while the host still holds the storage: from then on
    // the storage has no rows and listens to nothing. Main thread.
    void Detach();

    // The caption object while a background task is shown, else null.
    ComPtr<IOrvoString> TaskCaption() const;

protected:
    explicit TOrvoTunedexMusicLibraryExtension(TNuvWeakRef<TOrvoStationCatalog> catalog)
        : FCatalog(std::move(catalog)) {}
    template <typename T, typename... Args> friend ComPtr<T> MakeInterfaced(Args&&... args);

    void DoGetValue(int32_t propId, TOrvoPropValue& value, HRESULT& result) override;

private:
    // The caption text for a progress step.
    std::u16string ProgressCaption(std::u16string_view title, int64_t received, int64_t total) const;
    // The main-thread steps of a run's start and end.
    void ShowTask();
    void ApplyCaption();
    void HideTask();
    void ReloadData();

    mutable std::mutex FLock;
    TNuvWeakRef<TOrvoStationCatalog> FCatalog;
    ComPtr<IOrvoString> FTaskCaption;
    ComPtr<IOrvoMLDataStorageManager> FStorageManager;
    std::u16string FProgressText;
    std::u16string FWaitingText;
    // The latest progress caption, and whether a call to apply it is queued.
    std::u16string FPendingCaption;
    bool FCaptionPosted = false;
    bool FListening = false;
};
