#pragma once
// The music library's user interface ("ORVOSrvMLUI"): what the person has selected in it.

#include "sdk/api/OrvoAPI.MusicLibrary.h"

// Kinds of file list.
constexpr int32_t ORVO_MLUI_FILES_SELECTED = 1; // the files of the selected rows, in row order
constexpr int32_t ORVO_MLUI_FILES_FOCUSED = 2;  // the file of the focused row; empty when none

struct IOrvoServiceMusicLibraryUI : IUnknown {
    static constexpr TGUID IID = OrvoTag("ORVOSrvMLUI");

    // A new object list of host strings, the file names of the kind (ORVO_MLUI_FILES_*);
    // E_INVALIDARG for another kind.
    virtual HRESULT ORVO_CALL GetFiles(int32_t kind, IOrvoObjectList** files) = 0;
    // The filter the grouping tree's selection stands for: a group whose field conditions carry,
    // as property 1, the data field object (IOrvoMLDataField) of the grouping level, and as
    // property 3 the selected value. An empty group when nothing is selected.
    virtual HRESULT ORVO_CALL GetGroupingTreeFilter(IOrvoMLFilterGroup** filter) = 0;
};
