#include "sdk/apiWrappersMenus.h"

#include "nuv/Nuv.Log.h"
#include "platform/Platform.Locale.h"
#include "sdk/apiWrappers.Streams.h"

#include <algorithm>

namespace {

ComPtr<IOrvoServiceMenuManager> MenuManager() {
    ComPtr<IOrvoServiceMenuManager> manager;
    QueryService(manager);
    return manager;
}

ComPtr<IOrvoMenuItem> FindMenuItem(IOrvoServiceMenuManager& manager, std::u16string_view id) {
    ComPtr<IOrvoMenuItem> item;
    if (Failed(manager.FindMenuItem(ToHostString(id).get(), item.put())))
        item.Reset();
    return item;
}

// Depth first through the groups, children in order; the value of the first condition on the
// field.
bool FindFieldValue(IOrvoMLFilterGroup& group, std::u16string_view fieldName, std::u16string& value) {
    const int32_t count = group.Count();
    for (int32_t i = 0; i < count; ++i) {
        ComPtr<IOrvoMLFilterGroup> child;
        if (Succeeded(group.Get(i, IOrvoMLFilterGroup::IID, child.put_void())) && child) {
            if (FindFieldValue(*child, fieldName, value))
                return true;
            continue;
        }
        ComPtr<IOrvoMLFieldFilter> condition;
        if (Failed(group.Get(i, IOrvoMLFieldFilter::IID, condition.put_void())) || !condition)
            continue;
        ComPtr<IOrvoMLDataField> field;
        if (Failed(condition->GetValueAsObject(ORVO_ML_CONDITION_FIELD, IOrvoMLDataField::IID,
                                               field.put_void())) ||
            !field)
            continue;
        if (ReadTextProp(field.get(), ORVO_ML_FIELD_NAME) == fieldName) {
            value = ReadTextProp(condition.get(), ORVO_ML_CONDITION_VALUE1);
            return true;
        }
    }
    return false;
}

} // namespace

ComPtr<IOrvoMenuItem> FindMenuItem(std::u16string_view id) {
    ComPtr<IOrvoServiceMenuManager> manager = MenuManager();
    return manager ? FindMenuItem(*manager, id) : nullptr;
}

std::u16string ScaledGlyphName(std::u16string_view name, int32_t dpi) {
    std::u16string chosen(name);
    if (dpi <= 96)
        return chosen;
    for (int32_t step : {120, 144, 168, 192}) {
        if (dpi < step)
            break;
        std::u16string scaled = std::u16string(name) + IntToStr(step);
        if (TOrvoResources::Find(scaled, u"PNG"))
            chosen = std::move(scaled);
    }
    return chosen;
}

// ---- TOrvoUICustomMenuItem

TOrvoUICustomMenuItem::TOrvoUICustomMenuItem(ComPtr<IOrvoUIMenuItemController> controller)
    : FController(std::move(controller)) {}

TOrvoUICustomMenuItem::~TOrvoUICustomMenuItem() {
    if (auto* controller = dynamic_cast<TOrvoUICustomMenuItemController*>(FController.get()))
        controller->Unbind(this);
}

void TOrvoUICustomMenuItem::Register(std::u16string_view id, const TOrvoMenuParent& parent) {
    ComPtr<IOrvoServiceMenuManager> manager = MenuManager();
    if (!manager)
        return;
    if (!FID.empty())
        throw EInvalidInsert(Format(u"The instance is already registered as handler for %s menu", FID));
    if (id.empty())
        throw EArgumentError(u"Cannot register menu item without ID");
    if (FindMenuItem(*manager, id))
        throw EInvalidInsert(Format(u"The %s ID is already registered", id));
    FID = id;

    ComPtr<IOrvoMenuItem> parentItem;
    if (const auto* parentId = std::get_if<std::u16string>(&parent); parentId && !parentId->empty())
        RaiseIfFailed(manager->FindMenuItem(ToHostString(*parentId).get(), parentItem.put()));
    else
        RaiseIfFailed(manager->BuiltInMenu(
            std::holds_alternative<int32_t>(parent) ? std::get<int32_t>(parent) : 0, parentItem.put()));

    ComPtr<IOrvoMenuItem> menuItem = NewHostObject<IOrvoMenuItem>();
    if (FController)
        FController->Bind(menuItem.get(), this);
    WriteTextProp(menuItem.get(), ORVO_MIP_ID, FID);
    WriteObjectProp(menuItem.get(), ORVO_MIP_ACTION, static_cast<IOrvoActionEvent*>(this));
    WriteObjectProp(menuItem.get(), ORVO_MIP_PARENT, parentItem.get());
    RaiseIfFailed(HostCore()->AddExtension(IOrvoServiceMenuManager::IID, menuItem.get()));
}

HRESULT ORVO_CALL TOrvoUICustomMenuItem::Execute(IUnknown* /*data*/) {
    return GuardedHostCall(u"Menu item " + FID + u": ", [this]() -> HRESULT {
        Execute();
        return S_OK;
    });
}

int32_t TOrvoUICustomMenuItem::GetState() {
    return FController && FController->IsAvailable() ? ORVO_MENU_STATE_ENABLED | ORVO_MENU_STATE_VISIBLE : 0;
}

void TOrvoUICustomMenuItem::UpdateMenuItem(IOrvoMenuItem* menuItem) {
    const int32_t state = GetState();
    WriteBoolProp(menuItem, ORVO_MIP_ENABLED, (state & ORVO_MENU_STATE_ENABLED) != 0);
    WriteBoolProp(menuItem, ORVO_MIP_VISIBLE, (state & ORVO_MENU_STATE_VISIBLE) != 0);
}

void TOrvoUICustomMenuItem::Update(IOrvoMenuItem* menuItem) {
    UpdateGlyph(menuItem);
    UpdateMenuItem(menuItem);
}

void TOrvoUICustomMenuItem::UpdateGlyph(IOrvoMenuItem* menuItem) {
    try {
        const std::u16string name = GetGlyphName();
        if (name.empty())
            return;
        ComPtr<IOrvoImage2> image = NewHostObject<IOrvoImage2>();
        std::u16string resource = name;
        ComPtr<IOrvoDPIAware> itemDpi = QueryAs<IOrvoDPIAware>(menuItem);
        ComPtr<IOrvoDPIAware> imageDpi = QueryAs<IOrvoDPIAware>(image.get());
        if (itemDpi && imageDpi) {
            RaiseIfFailed(imageDpi->SetDPI(itemDpi->GetDPI()));
            resource = ScaledGlyphName(name, imageDpi->GetDPI());
        }
        ComPtr<TOrvoStreamAdapter> stream = TOrvoStreamAdapter::CreateFromResource(resource, u"PNG");
        RaiseIfFailed(image->LoadFromStream(stream.get()));
        WriteObjectProp(menuItem, ORVO_MIP_GLYPH, image.get());
    } catch (...) {
        // A menu without its picture still works; the item keeps the glyph it had.
    }
}

// ---- TOrvoUICustomMenuItemController

HRESULT ORVO_CALL TOrvoUICustomMenuItemController::Execute(IUnknown* /*data*/) {
    return GuardedHostCall(u"", [this]() -> HRESULT {
        Refresh();
        return S_OK;
    });
}

void* TOrvoUICustomMenuItemController::GetInterface(const TGUID& iid) {
    if (iid == IOrvoActionEvent::IID)
        return static_cast<IOrvoActionEvent*>(this);
    return TOrvoInterfaces::GetInterface(iid);
}

void TOrvoUICustomMenuItemController::Bind(IOrvoMenuItem* menuItem, TOrvoUICustomMenuItem* item) {
    if (!item || std::find(FMenuItems.begin(), FMenuItems.end(), item) != FMenuItems.end())
        return;
    FMenuItems.push_back(item);
    // One on-show event per menu serves all its items.
    if (FMenuItems.size() == 1)
        WriteObjectProp(menuItem, ORVO_MIP_ON_SHOW, static_cast<IOrvoActionEvent*>(this));
}

void TOrvoUICustomMenuItemController::Unbind(TOrvoUICustomMenuItem* item) {
    std::erase(FMenuItems, item);
}

void TOrvoUICustomMenuItemController::Refresh() {
    FIsAvailable = CalculateIsAvailable();
    // An item's update may run host code that drops items; walk a copy.
    const std::vector<TOrvoUICustomMenuItem*> items = FMenuItems;
    for (TOrvoUICustomMenuItem* item : items) {
        if (item->ID().empty() || std::find(FMenuItems.begin(), FMenuItems.end(), item) == FMenuItems.end())
            continue;
        if (ComPtr<IOrvoMenuItem> menuItem = FindMenuItem(item->ID()))
            item->Update(menuItem.get());
    }
}

// ---- TOrvoFileList

void TOrvoFileList::Clear() {
    FItems.clear();
    FFocusIndex = -1;
}

int32_t TOrvoFileList::IndexOf(std::u16string_view fileName) const {
    for (size_t i = 0; i < FItems.size(); ++i)
        if (platform::CompareTextLocale(FItems[i], fileName) == 0)
            return int32_t(i);
    return -1;
}

// ---- file-based controllers

bool TOrvoUICustomFileBasedMenuItemController::CalculateIsAvailable() {
    FFiles.Clear();
    const bool available = CanGatherFiles();
    if (available)
        GatherFiles(FFiles);
    return available;
}

void TOrvoUIMusicLibraryBasedMenuItemController::GatherFiles(TOrvoFileList& files) {
    ComPtr<IOrvoServiceMusicLibraryUI> ui;
    if (!QueryService(ui))
        return;
    const auto names = [&](int32_t kind) {
        std::vector<std::u16string> result;
        ComPtr<IOrvoObjectList> list;
        RaiseIfFailed(ui->GetFiles(kind, list.put()));
        const int32_t count = list ? list->Count() : 0;
        for (int32_t i = 0; i < count; ++i) {
            ComPtr<IOrvoString> name;
            RaiseIfFailed(list->Get(i, IOrvoString::IID, name.put_void()));
            result.push_back(FromHostString(name));
        }
        return result;
    };
    for (std::u16string& name : names(ORVO_MLUI_FILES_SELECTED))
        files.Add(std::move(name));
    if (const auto focused = names(ORVO_MLUI_FILES_FOCUSED); !focused.empty())
        files.MarkFocused(focused.front());
}

bool TOrvoUIMusicLibraryBasedMenuItemController::GetGroupingTreeSelection(std::u16string_view fieldName,
                                                                          std::u16string& fieldValue) {
    fieldValue.clear();
    ComPtr<IOrvoServiceMusicLibraryUI> ui;
    if (!QueryService(ui))
        return false;
    ComPtr<IOrvoMLFilterGroup> filter;
    if (Failed(ui->GetGroupingTreeFilter(filter.put())) || !filter)
        return false;
    return FindFieldValue(*filter, fieldName, fieldValue);
}
