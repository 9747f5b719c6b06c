#include "host/Orvo.Host.MusicLibrary.UI.h"

#include "host/Orvo.Host.MusicLibrary.Objects.h"
#include "host/Orvo.Host.String.h"

ComPtr<TOrvoHostMusicLibraryUI> TOrvoHostMusicLibraryUI::Create() {
    return MakeInterfaced<TOrvoHostMusicLibraryUI>();
}

HRESULT ORVO_CALL TOrvoHostMusicLibraryUI::GetFiles(int32_t kind, IOrvoObjectList** files) {
    if (!files)
        return E_INVALIDARG;
    *files = nullptr;
    if (kind != ORVO_MLUI_FILES_SELECTED && kind != ORVO_MLUI_FILES_FOCUSED)
        return E_INVALIDARG;
    try {
        std::vector<std::u16string> names;
        {
            std::lock_guard lock(FLock);
            if (kind == ORVO_MLUI_FILES_SELECTED)
                names = FSelected;
            else if (!FFocused.empty())
                names.push_back(FFocused);
        }
        ComPtr<TOrvoHostObjectList> list = TOrvoHostObjectList::Create();
        for (auto& name : names)
            list->Add(TOrvoHostString::Create(std::move(name)).get());
        *files = list.Detach();
        return S_OK;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

HRESULT ORVO_CALL TOrvoHostMusicLibraryUI::GetGroupingTreeFilter(IOrvoMLFilterGroup** filter) {
    if (!filter)
        return E_INVALIDARG;
    *filter = nullptr;
    try {
        std::vector<TGroupingLevel> path;
        {
            std::lock_guard lock(FLock);
            if (FGroupingFilter) {
                *filter = ComPtr<IOrvoMLFilterGroup>(FGroupingFilter).Detach();
                return S_OK;
            }
            path = FGroupingPath;
        }
        // A node stands for the rows that have every value on the way down to it.
        ComPtr<TOrvoHostMLFilterGroup> group = TOrvoHostMLFilterGroup::Create();
        group->SetValueAsInt32(ORVO_ML_GROUP_OPERATION, ORVO_ML_GROUP_AND);
        for (const auto& [fieldName, value] : path) {
            ComPtr<TOrvoHostMLDataField> field = TOrvoHostMLDataField::Create();
            field->SetValueAsObject(ORVO_ML_FIELD_NAME, TOrvoHostString::Create(fieldName).get());
            ComPtr<TOrvoHostMLFieldFilter> condition = TOrvoHostMLFieldFilter::Create();
            condition->SetValueAsObject(ORVO_ML_CONDITION_FIELD, QueryAs<IUnknown>(field.get()).get());
            condition->SetValueAsInt32(ORVO_ML_CONDITION_OPERATION, ORVO_ML_OP_EQUAL);
            condition->SetValueAsObject(ORVO_ML_CONDITION_VALUE1, TOrvoHostString::Create(value).get());
            group->Add(QueryAs<IUnknown>(condition.get()).get());
        }
        *filter = QueryAs<IOrvoMLFilterGroup>(group.get()).Detach();
        return S_OK;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

void TOrvoHostMusicLibraryUI::SelectFiles(std::vector<std::u16string> fileNames, std::u16string focused) {
    std::lock_guard lock(FLock);
    FSelected = std::move(fileNames);
    FFocused = std::move(focused);
}

void TOrvoHostMusicLibraryUI::SelectGroupingNode(std::vector<TGroupingLevel> path) {
    std::lock_guard lock(FLock);
    FGroupingPath = std::move(path);
    FGroupingFilter.Reset();
}

void TOrvoHostMusicLibraryUI::SetGroupingTreeFilter(ComPtr<IOrvoMLFilterGroup> filter) {
    std::lock_guard lock(FLock);
    FGroupingFilter = std::move(filter);
}
