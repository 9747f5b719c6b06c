#pragma once
// The music library's user-interface state ("ORVOSrvMLUI"): the rows selected and focused, and
// the grouping tree's selection, which the library turns into a filter.
//
// Thread-safety: every operation may be called from any thread; the state has a lock of its own
// that is never held while calling out.

#include "sdk/api/OrvoAPI.MusicLibraryUI.h"
#include "sdk/apiWrappers.h"

#include <mutex>
#include <string>
#include <utility>
#include <vector>

class TOrvoHostMusicLibraryUI : public TOrvoInterfaces<TInterfacedObjectEx, IOrvoServiceMusicLibraryUI> {
public:
    // A grouping-tree level: the field grouped by and the value selected at it.
    using TGroupingLevel = std::pair<std::u16string, std::u16string>;

    static ComPtr<TOrvoHostMusicLibraryUI> Create();

    HRESULT ORVO_CALL GetFiles(int32_t kind, IOrvoObjectList** files) override;
    HRESULT ORVO_CALL GetGroupingTreeFilter(IOrvoMLFilterGroup** filter) override;

    // Selects rows by their file names; the focused one is empty or among them.
    void SelectFiles(std::vector<std::u16string> fileNames, std::u16string focused = {});
    // Selects a node of the grouping tree: one level per field, from the root down. An empty
    // list selects nothing (every row).
    void SelectGroupingNode(std::vector<TGroupingLevel> path);
    // Makes `filter` the grouping tree's filter as it stands, until a node is selected.
    void SetGroupingTreeFilter(ComPtr<IOrvoMLFilterGroup> filter);

private:
    TOrvoHostMusicLibraryUI() = default;
    template <typename T, typename... Args> friend ComPtr<T> MakeInterfaced(Args&&... args);

    mutable std::mutex FLock;
    std::vector<std::u16string> FSelected;
    std::u16string FFocused;
    std::vector<TGroupingLevel> FGroupingPath;
    ComPtr<IOrvoMLFilterGroup> FGroupingFilter;
};
