#pragma once
// The host's music library: the service, the data storages plug-ins register with it, and the
// objects through which the library asks a storage for rows (field lists, filter trees, sort
// lists, row windows) and for album art.
//
// Interfaces whose first operations are the property-list operations derive from
// IOrvoPropertyList2, so their own operations start at slot 17 (counting IUnknown's three).

#include "sdk/api/OrvoAPI.Objects.h"

struct IOrvoServiceMusicLibrary : IUnknown {
    static constexpr TGUID IID = OrvoTag("ORVOSrvML");

    // The storage the library shows now, as the interface `iid`; E_FAIL when there is none.
    virtual HRESULT ORVO_CALL ActiveStorage(const TGUID& iid, void** storage) = 0;
};

// ---- data storages

// The host's side of one registered storage, handed to it by Initialize. Every operation is
// called on the host's main thread.
struct IOrvoMLDataStorageManager : IUnknown {
    static constexpr TGUID IID = OrvoTag("ORVOMLDSManager");

    // Shows a background task of the storage under `taskId` with the caption object; the host
    // keeps a reference to the caption and redraws it when its text changes. `cancelEvent`, when
    // not null, offers "ORVOActionEvent"; the host runs it when the user cancels the task.
    virtual HRESULT ORVO_CALL ShowBackgroundTask(int32_t taskId, IOrvoString* caption,
                                                 IUnknown* cancelEvent) = 0;
    // Ends the display of the task; unknown identifiers are ignored.
    virtual HRESULT ORVO_CALL HideBackgroundTask(int32_t taskId) = 0;
    // The storage's rows changed: the library asks for them again.
    virtual HRESULT ORVO_CALL ReloadData() = 0;
};

// Container of grouping presets filled by ListGroupingPresets.
struct IOrvoMLGroupingPresets : IUnknown {
    static constexpr TGUID IID = OrvoTag("ORVOMLGrpPresets");

    virtual int32_t ORVO_CALL Count() = 0;
    // The preset at the zero-based index as the interface `iid`.
    virtual HRESULT ORVO_CALL Get(int32_t index, const TGUID& iid, void** preset) = 0;
    virtual HRESULT ORVO_CALL Delete(int32_t index) = 0;
    // Adds a preset grouping by the field names of `fields` (host strings), in order. An empty
    // identifier or caption lets the host choose them; `flags` is 0 for a plain preset. The new
    // preset comes back with a reference when `preset` is not null.
    virtual HRESULT ORVO_CALL Add(IOrvoString* id, IOrvoString* caption, int32_t flags,
                                  IOrvoObjectList* fields, IUnknown** preset) = 0;
};

// The extension a plug-in registers at "ORVOSrvML". Its properties describe the storage; its own
// operations follow.
struct IOrvoMLExtensionDataStorage : IOrvoPropertyList2 {
    static constexpr TGUID IID = OrvoTag("ORVOExtMLDS");

    // The storage is no longer shown; it drops the manager.
    virtual HRESULT ORVO_CALL Finalize() = 0;
    // The storage is attached to the library; it keeps `manager` until Finalize.
    virtual HRESULT ORVO_CALL Initialize(IOrvoMLDataStorageManager* manager) = 0;
    // Slots for library features a storage may ignore: a storage that offers neither answers
    // S_OK and does nothing with the argument.
    virtual HRESULT ORVO_CALL Reserved3(IUnknown* parameter) = 0;
    virtual HRESULT ORVO_CALL Reserved4(IUnknown* parameter) = 0;
    // The fields of a schema, as an object list ("ORVOObjList"): data field objects for schema 0,
    // field names (host strings) for the others.
    virtual HRESULT ORVO_CALL ListFields(int32_t schema, IOrvoObjectList** list) = 0;
    virtual HRESULT ORVO_CALL ListGroupingPresets(int32_t schema, IOrvoMLGroupingPresets* presets) = 0;
    // As Reserved3; no result.
    virtual void ORVO_CALL Reserved7() = 0;
};

constexpr int32_t ORVO_ML_STORAGE_ID = 0;           // text: the identifier the library knows it by
constexpr int32_t ORVO_ML_STORAGE_CAPTION = 1;      // text: the name the library shows
constexpr int32_t ORVO_ML_STORAGE_CAPABILITIES = 2; // integer: ORVO_ML_CAPABILITY_* combined

// What a storage offers beyond its fields.
constexpr int32_t ORVO_ML_CAPABILITY_ROWS = 0x01;          // rows through IOrvoMLDataProvider
constexpr int32_t ORVO_ML_CAPABILITY_GROUPING_TREE = 0x02; // grouping-tree data of its own
constexpr int32_t ORVO_ML_CAPABILITY_ALBUM_ART = 0x04;     // album art through IOrvoMLAlbumArtProvider2
constexpr int32_t ORVO_ML_CAPABILITY_ADD_DIALOG = 0x08;    // the "add files" command

// Schemas ListFields and ListGroupingPresets are asked for: the data fields, then the field lists
// of the library's groupings and views.
constexpr int32_t ORVO_ML_SCHEMA_FIELDS = 0;
constexpr int32_t ORVO_ML_SCHEMA_GROUPING = 2;
constexpr int32_t ORVO_ML_SCHEMA_GROUPING_TREE = 3;
constexpr int32_t ORVO_ML_SCHEMA_VIEW_LIST = 10;
constexpr int32_t ORVO_ML_SCHEMA_VIEW_DETAILS = 11;
constexpr int32_t ORVO_ML_SCHEMA_VIEW_TILES = 12;

// The library's "add files" command on a storage.
struct IOrvoMLDataStorageCommandAddFilesDialog : IUnknown {
    static constexpr TGUID IID = OrvoTag("ORVOMLDSCmdAddD");

    // Runs the storage's own adding dialog, modal to the window; returns when it has closed.
    virtual HRESULT ORVO_CALL OpenAddDialog(uint64_t ownerWindow) = 0;
};

// ---- rows

struct IOrvoMLFilterGroup;

// A storage's row source.
struct IOrvoMLDataProvider : IUnknown {
    static constexpr TGUID IID = OrvoTag("ORVOMLDataPrv");

    // The rows for `fields` (host strings, one column each, in order) that `filter` selects.
    // `data` receives either a row cursor offering IOrvoMLDataProviderSelection or, when the
    // storage has no rows to give, a host string the library shows instead (it may carry a
    // "[url=address]text[/url]" link).
    virtual HRESULT ORVO_CALL QueryRows(IOrvoObjectList* fields, IOrvoMLFilterGroup* filter,
                                        IUnknown** data) = 0;
};

// A row cursor, positioned on its first row when handed out. Columns follow the requested
// fields. Values of a column index outside the row are 0 or the empty text.
struct IOrvoMLDataProviderSelection : IUnknown {
    static constexpr TGUID IID = OrvoTag("ORVOMLDataPrvSel");

    virtual double ORVO_CALL GetValueAsFloat(int32_t index) = 0;
    virtual int32_t ORVO_CALL GetValueAsInt32(int32_t index) = 0;
    virtual int64_t ORVO_CALL GetValueAsInt64(int32_t index) = 0;
    // The column's characters, valid until the next NextRow; never null. `length` in characters.
    virtual const char16_t* ORVO_CALL GetValueAsString(int32_t index, int32_t* length) = 0;
    // Steps to the next row: true while a new row is current; false at the end, on an error and
    // for every call after that.
    virtual bool ORVO_CALL NextRow() = 0;
};

// A data field object: its name, type and flags.
struct IOrvoMLDataField : IOrvoPropertyList2 {
    static constexpr TGUID IID = OrvoTag("ORVOMLDataFld");
};
constexpr int32_t ORVO_ML_FIELD_NAME = 1;  // host string
constexpr int32_t ORVO_ML_FIELD_TYPE = 2;  // integer: ORVO_ML_FIELD_TYPE_*
constexpr int32_t ORVO_ML_FIELD_FLAGS = 3; // integer: ORVO_ML_FIELD_FLAG_* combined

constexpr int32_t ORVO_ML_FIELD_TYPE_INTEGER = 1;
constexpr int32_t ORVO_ML_FIELD_TYPE_TEXT = 4;
constexpr int32_t ORVO_ML_FIELD_TYPE_KEY_LIST = 5; // text of keys separated by ";"

constexpr int32_t ORVO_ML_FIELD_FLAG_SORTABLE = 0x01;
constexpr int32_t ORVO_ML_FIELD_FLAG_GROUPABLE = 0x02;
constexpr int32_t ORVO_ML_FIELD_FLAG_KEY = 0x04; // identifies the row rather than describing it

// ---- filters

// A group of conditions; the filter of a row request is the top group and carries the request's
// window, sort list and search text as well.
struct IOrvoMLFilterGroup : IOrvoPropertyList2 {
    static constexpr TGUID IID = OrvoTag("ORVOMLFltGrp");

    // Appends a child: a group, a field condition or a value-list condition (kept with a reference).
    virtual HRESULT ORVO_CALL Add(IUnknown* child) = 0;
    virtual HRESULT ORVO_CALL Insert(int32_t index, IUnknown* child) = 0;
    virtual HRESULT ORVO_CALL Delete(int32_t index) = 0;
    virtual HRESULT ORVO_CALL Clear() = 0;
    // The index of the child, or -1.
    virtual int32_t ORVO_CALL IndexOf(IUnknown* child) = 0;
    // The child at the zero-based index as the interface `iid`; E_INVALIDARG outside the group,
    // E_NOINTERFACE when the child does not offer `iid`.
    virtual HRESULT ORVO_CALL Get(int32_t index, const TGUID& iid, void** child) = 0;
    virtual int32_t ORVO_CALL Count() = 0;
};
// Group properties.
constexpr int32_t ORVO_ML_GROUP_OPERATION = 1; // ORVO_ML_GROUP_*; 0 when absent
constexpr int32_t ORVO_ML_GROUP_OR = 0;
constexpr int32_t ORVO_ML_GROUP_AND = 1;
constexpr int32_t ORVO_ML_GROUP_NOT_OR = 2;
constexpr int32_t ORVO_ML_GROUP_NOT_AND = 3;
// Properties of the top group only.
constexpr int32_t ORVO_ML_FILTER_LIMIT = 11;  // row count; 0 or less: no limit
constexpr int32_t ORVO_ML_FILTER_OFFSET = 12; // rows to skip
constexpr int32_t ORVO_ML_FILTER_SORT = 15;   // object list of sort items
constexpr int32_t ORVO_ML_FILTER_SEARCH = 20; // host string searched in every requested field

// A condition on one field: properties 1 field name, 2 operation, 3 and 4 values (host strings).
struct IOrvoMLFieldFilter : IOrvoPropertyList2 {
    static constexpr TGUID IID = OrvoTag("ORVOMLFldFlt");
};
constexpr int32_t ORVO_ML_CONDITION_FIELD = 1;
constexpr int32_t ORVO_ML_CONDITION_OPERATION = 2;
constexpr int32_t ORVO_ML_CONDITION_VALUE1 = 3;
constexpr int32_t ORVO_ML_CONDITION_VALUE2 = 4;
// Field condition operations.
enum : int32_t {
    ORVO_ML_OP_EQUAL = 0,
    ORVO_ML_OP_NOT_EQUAL = 1,
    ORVO_ML_OP_BETWEEN = 2,
    ORVO_ML_OP_LESS = 3,
    ORVO_ML_OP_LESS_OR_EQUAL = 4,
    ORVO_ML_OP_GREATER = 5,
    ORVO_ML_OP_GREATER_OR_EQUAL = 6,
    ORVO_ML_OP_CONTAINS = 7,
    ORVO_ML_OP_STARTS_WITH = 8,
    ORVO_ML_OP_ENDS_WITH = 9,
    ORVO_ML_OP_NOT_CONTAINS = 11,
};

// A field equal to one of a list of values: property 1 is the field name.
struct IOrvoMLFieldFilterArray : IOrvoPropertyList2 {
    static constexpr TGUID IID = OrvoTag("ORVOMLFldFltArr");

    // With `values` null, `count` receives the number of values. Otherwise `count` holds the
    // capacity of `values` on entry and the number written on return; text values carry one
    // reference each, which the caller releases.
    virtual HRESULT ORVO_CALL GetValues(TOrvoVariant* values, int32_t* count) = 0;
    // Replaces the values with copies of `count` values.
    virtual HRESULT ORVO_CALL SetValues(const TOrvoVariant* values, int32_t count) = 0;
};

// The direction of a sort item. A sort item is an object-list item offering both IOrvoString
// (the field name) and this interface.
struct IOrvoMLSortDirection : IUnknown {
    static constexpr TGUID IID = OrvoTag("ORVOMLSortDirtn");

    virtual int32_t ORVO_CALL Direction() = 0;
    virtual HRESULT ORVO_CALL SetDirection(int32_t direction) = 0;
};
constexpr int32_t ORVO_ML_SORT_ASCENDING = 1;
constexpr int32_t ORVO_ML_SORT_DESCENDING = 2;

// ---- album art

// An array of variants passed with its length.
struct TOrvoVariantArray {
    const TOrvoVariant* Items;
    int32_t Count;
};

// The host's side of one album-art request.
struct IOrvoMLAlbumArtRequest : IOrvoPropertyList2 {
    static constexpr TGUID IID = OrvoTag("ORVOMLAlbArtReq");

    // Loads the image at the address (a host string); `image` receives an "ORVOImage2" object.
    virtual HRESULT ORVO_CALL FetchImage(IOrvoString* address, IUnknown** image) = 0;
};

struct IOrvoMLAlbumArtProvider2 : IUnknown {
    static constexpr TGUID IID = OrvoTag("ORVOMLAlbArtPrv2");

    // The image of the row whose fields are `fieldNames` (host strings) with the values at the
    // same positions of `fieldValues`.
    virtual HRESULT ORVO_CALL FetchAlbumArt(IOrvoObjectList* fieldNames, const TOrvoVariantArray* fieldValues,
                                            IOrvoMLAlbumArtRequest* request, IUnknown** image) = 0;
};
