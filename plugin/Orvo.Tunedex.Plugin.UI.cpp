#include "plugin/Orvo.Tunedex.Plugin.UI.h"

#include "nuv/Nuv.Shell.h"
#include "nuv/Nuv.Strings.h"
#include "nuv/Nuv.Threading.h"
#include "platform/Platform.Paths.h"

#include <algorithm>

namespace {

constexpr int32_t kFormBorderSizeable = 2;
constexpr int32_t kPositionCentred = 1;
constexpr int32_t kFormPadding = 8;
constexpr int32_t kGlyphWebLink = 10;
constexpr int32_t kListOnly = 1;

// A class's display name as the user reads it.
std::u16string ShownName(const TOrvoTunedexProviderClass& cls) {
    std::u16string name = cls.DisplayName();
    if (name.starts_with(u'@'))
        return LocalizedText(std::u16string_view(name).substr(1));
    return name;
}

} // namespace

bool TOrvoTunedexEditDialog::Execute(TOrvoWindowHandle ownerWindow, TOrvoStationCatalog& catalog,
                                     std::u16string_view providerId) {
    TOrvoTunedexEditDialog dialog(ownerWindow, catalog);
    if (!providerId.empty())
        dialog.LoadProvider(providerId);
    UIShowModal(dialog.Form.get());
    return dialog.Saved;
}

TOrvoTunedexEditDialog::TOrvoTunedexEditDialog(TOrvoWindowHandle ownerWindow, TOrvoStationCatalog& catalog)
    : Catalog(&catalog) {
    // The handlers reach the dialog by a plain pointer: the form and its controls raise no more
    // events once the destructor has disposed of it.
    auto handler = [this](void (TOrvoTunedexEditDialog::*method)(IUnknown*)) {
        return UINotifyEvent([this, method](IUnknown* sender) { (this->*method)(sender); });
    };
    Form = UICreateForm(ownerWindow, u"frmTunedexEditor");
    try {
        UISetConstraints(Form.get(), 480, 210);
        UISetInt(Form.get(), ORVO_UIP_BORDER, kFormBorderSizeable);
        UISetBool(Form.get(), ORVO_UIP_AUTOSIZE, true);
        UISetInt(Form.get(), ORVO_UIP_POSITION, kPositionCentred);
        UISetInt(Form.get(), ORVO_UIP_PADDING, kFormPadding);

        ComPtr<IOrvoUIControl> titleGroup = UICreateControl(Form.get(), nullptr, ORVO_UI_GROUP_BOX, u"G1");
        UISetBool(titleGroup.get(), ORVO_UIP_AUTOSIZE, true);
        TitleEdit = UICreateControl(Form.get(), titleGroup.get(), ORVO_UI_EDIT, {},
                                    handler(&TOrvoTunedexEditDialog::TitleChanged));

        ComPtr<IOrvoUIControl> sourceGroup = UICreateControl(Form.get(), nullptr, ORVO_UI_GROUP_BOX, u"G2");
        ClassCombo = UICreateControl(Form.get(), sourceGroup.get(), ORVO_UI_COMBO, {},
                                     handler(&TOrvoTunedexEditDialog::ClassChanged));
        UISetInt(ClassCombo.get(), ORVO_UIP_COMBO_STYLE, kListOnly);
        HomePageButton = UIAddEditButton(ClassCombo.get(), handler(&TOrvoTunedexEditDialog::OpenHomePage));
        UISetInt(HomePageButton.get(), ORVO_UIP_GLYPH, kGlyphWebLink);
        AddressEdit = UICreateControl(Form.get(), sourceGroup.get(), ORVO_UI_EDIT, {},
                                      handler(&TOrvoTunedexEditDialog::AddressChanged));
        // Autosizing waits for the first two children so the group does not collapse meanwhile.
        UISetBool(sourceGroup.get(), ORVO_UIP_AUTOSIZE, true);

        RadioBrowserPanel = UICreateControl(Form.get(), sourceGroup.get(), ORVO_UI_PANEL);
        UISetPlacement(RadioBrowserPanel.get(), UIPlacement(ORVO_UI_ALIGN_TOP, 0, UIMargins(0)));
        UISetInt(RadioBrowserPanel.get(), ORVO_UIP_BORDER, 0);
        UISetBool(RadioBrowserPanel.get(), ORVO_UIP_AUTOSIZE, true);

        ServerCombo = UICreateControl(Form.get(), RadioBrowserPanel.get(), ORVO_UI_COMBO, {},
                                      handler(&TOrvoTunedexEditDialog::ListChanged));
        UISetPlacement(ServerCombo.get(), UIPlacement(ORVO_UI_ALIGN_LEFT, 160));
        KindCombo = UICreateControl(Form.get(), RadioBrowserPanel.get(), ORVO_UI_COMBO, {},
                                    handler(&TOrvoTunedexEditDialog::ListChanged));
        UISetInt(KindCombo.get(), ORVO_UIP_COMBO_STYLE, kListOnly);
        UISetPlacement(KindCombo.get(), UIPlacement(ORVO_UI_ALIGN_LEFT, 80));
        for (std::u16string_view key : {u"Tunedex\\T1", u"Tunedex\\T2", u"Tunedex\\T3"})
            UIComboAdd(KindCombo.get(), LocalizedText(key));
        UISetInt(KindCombo.get(), ORVO_UIP_ITEM_INDEX, 0);
        // Picking a value only revalidates: running the class change here would put the class's
        // name over a title the user typed.
        ValueCombo = UICreateControl(Form.get(), RadioBrowserPanel.get(), ORVO_UI_COMBO, {},
                                     handler(&TOrvoTunedexEditDialog::ValueChanged));
        UISetPlacement(ValueCombo.get(), UIPlacement(ORVO_UI_ALIGN_CLIENT));

        SaveButton = UICreateControl(Form.get(), nullptr, ORVO_UI_BUTTON, u"B1",
                                     handler(&TOrvoTunedexEditDialog::Save));
        UISetPlacement(SaveButton.get(), UIPlacement(ORVO_UI_ALIGN_BOTTOM, 25, UIMargins(360, 3, 3, 3)));

        PopulateProviders();
    } catch (...) {
        UIDisposeForm(Form.get());
        throw;
    }
}

TOrvoTunedexEditDialog::~TOrvoTunedexEditDialog() {
    FLifetime.Revoke();
    TaskDispatcher().Cancel(ValueQuery, true);
    UIDisposeForm(Form.get());
}

void TOrvoTunedexEditDialog::PopulateProviders() {
    TOrvoTunedexProviderRepository::EnumClasses(
        [&](const TOrvoTunedexProviderClass& cls) { UIComboAdd(ClassCombo.get(), ShownName(cls)); });
    UISetInt(ClassCombo.get(), ORVO_UIP_ITEM_INDEX, 0);
    // The host may or may not report a change made by the program; the first class must be
    // applied either way before the user starts typing.
    ClassChanged(ClassCombo.get());
    UISetBool(ClassCombo.get(), ORVO_UIP_ENABLED, UIComboCount(ClassCombo.get()) > 1);
}

const TOrvoTunedexProviderClass& TOrvoTunedexEditDialog::SelectedClass() const {
    return TOrvoTunedexProviderRepository::GetClass(UIGetInt(ClassCombo.get(), ORVO_UIP_ITEM_INDEX, -1));
}

bool TOrvoTunedexEditDialog::IsRadioBrowser(const TOrvoTunedexProviderClass& cls) const {
    return &cls == &TOrvoTunedexRadioBrowser::Class();
}

void TOrvoTunedexEditDialog::ClassChanged(IUnknown*) {
    if (TOrvoTunedexProviderRepository::Count() == 0)
        return;
    const TOrvoTunedexProviderClass& cls = SelectedClass();
    const bool radioBrowser = IsRadioBrowser(cls);
    UISetBool(HomePageButton.get(), ORVO_UIP_VISIBLE, !cls.HomePageURL().empty());
    UISetBool(AddressEdit.get(), ORVO_UIP_VISIBLE, cls.HasAddress());
    UISetBool(RadioBrowserPanel.get(), ORVO_UIP_VISIBLE, radioBrowser);
    if (radioBrowser && UIComboCount(ServerCombo.get()) == 0)
        QueryRadioBrowserData(TOrvoTunedexRadioBrowser::qkServers);
    if (!cls.HasAddress()) {
        UISetText(TitleEdit.get(), ORVO_UIP_TEXT, cls.DisplayName());
        // After the text: the title's own change handler clears the mark.
        TitleIsAutomatic = true;
    } else if (TitleIsAutomatic) {
        UISetText(TitleEdit.get(), ORVO_UIP_TEXT, u"");
        TitleIsAutomatic = false;
    }
    const std::u16string formats = cls.SupportedFormats();
    UISetText(AddressEdit.get(), ORVO_UIP_PLACEHOLDER,
              formats.empty() ? std::u16string() : Format(LocalizedText(u"Tunedex\\S4"), formats));
    Validate();
}

void TOrvoTunedexEditDialog::TitleChanged(IUnknown*) {
    TitleIsAutomatic = false;
    Validate();
}

void TOrvoTunedexEditDialog::AddressChanged(IUnknown*) {
    Validate();
}

void TOrvoTunedexEditDialog::ValueChanged(IUnknown*) {
    Validate();
}

bool TOrvoTunedexEditDialog::IsAcceptableAddress(std::u16string_view address) {
    // Request header lines may follow the address after a CR LF; the address itself is one
    // line, and a control character in it would reach the request or the file system as is.
    const std::u16string_view line = address.substr(0, address.find(u"\r\n"));
    if (std::any_of(line.begin(), line.end(), [](char16_t c) { return c < u' ' || c == 0x7F; }))
        return false;
    if (line.starts_with(u"\\\\"))
        return true;
    if (TOrvoTunedexProvider::IsRemoteAddress(line))
        return true;
    // A drive is a letter: "1:\\list" is no more a path on Windows than elsewhere.
    if (line.size() >= 2 && line[1] == u':')
        return IsAsciiLetter(line[0]);
    return !platform::nativepaths::IsRelative(line);
}

void TOrvoTunedexEditDialog::Validate() {
    if (TOrvoTunedexProviderRepository::Count() == 0) {
        UISetBool(SaveButton.get(), ORVO_UIP_ENABLED, false);
        return;
    }
    const TOrvoTunedexProviderClass& cls = SelectedClass();
    // A title of blanks only names nothing a person could tell apart in the list.
    bool ok = !Trim(UIGetText(TitleEdit.get(), ORVO_UIP_TEXT)).empty();
    if (cls.HasAddress())
        ok = ok && IsAcceptableAddress(UIGetText(AddressEdit.get(), ORVO_UIP_TEXT));
    else if (IsRadioBrowser(cls))
        ok = ok && !UIGetText(ServerCombo.get(), ORVO_UIP_TEXT).empty();
    UISetBool(SaveButton.get(), ORVO_UIP_ENABLED, ok);
}

void TOrvoTunedexEditDialog::ListChanged(IUnknown* sender) {
    // The kind box reports its first item while the value box does not exist yet.
    if (!ValueCombo || UISameObject(sender, ValueCombo.get()))
        return;
    UIComboClear(ValueCombo.get());
    switch (UIGetInt(KindCombo.get(), ORVO_UIP_ITEM_INDEX, -1)) {
    case TOrvoTunedexRadioBrowser::akCountry:
        QueryRadioBrowserData(TOrvoTunedexRadioBrowser::qkCountries);
        break;
    case TOrvoTunedexRadioBrowser::akLanguage:
        QueryRadioBrowserData(TOrvoTunedexRadioBrowser::qkLanguages);
        break;
    case TOrvoTunedexRadioBrowser::akTag:
        QueryRadioBrowserData(TOrvoTunedexRadioBrowser::qkTags);
        break;
    default:
        break;
    }
    // The server box may have been typed into or filled.
    Validate();
}

void TOrvoTunedexEditDialog::QueryRadioBrowserData(TOrvoTunedexRadioBrowser::TQueryKind kind) {
    if (UIComboCount(ServerCombo.get()) == 0 && kind != TOrvoTunedexRadioBrowser::qkServers) {
        FillCombo(ValueCombo.get(), {});
        return;
    }
    TOrvoTunedexRadioBrowser::StartQuery(
        ValueQuery, kind,
        [dialog = FLifetime.Ref(this), kind](const std::vector<std::u16string>& values) {
            const auto self = dialog.Lock();
            if (!self)
                return;
            self->ValueQuery = 0;
            self->FillCombo(kind == TOrvoTunedexRadioBrowser::qkServers ? self->ServerCombo.get()
                                                                        : self->ValueCombo.get(),
                            values);
        },
        UIGetText(ServerCombo.get(), ORVO_UIP_COMBO_TEXT));
}

void TOrvoTunedexEditDialog::FillCombo(IOrvoUIControl* combo, const std::vector<std::u16string>& values) {
    const TOrvoUpdateScope update(UIRequire<IOrvoPropertyList>(combo));
    UIComboClear(combo);
    for (const std::u16string& value : values)
        UIComboAdd(combo, value);
    if (UIComboCount(combo) > 0 && UIGetText(combo, ORVO_UIP_COMBO_TEXT).empty())
        UISetInt(combo, ORVO_UIP_ITEM_INDEX, 0);
    ListChanged(combo);
}

std::u16string TOrvoTunedexEditDialog::DataText() const {
    const TOrvoTunedexProviderClass& cls = SelectedClass();
    if (cls.HasAddress())
        return UIGetText(AddressEdit.get(), ORVO_UIP_TEXT);
    if (IsRadioBrowser(cls))
        return Format(u"%s;%d;%s", UIGetText(ServerCombo.get(), ORVO_UIP_COMBO_TEXT),
                      UIGetInt(KindCombo.get(), ORVO_UIP_ITEM_INDEX, 0),
                      UIGetText(ValueCombo.get(), ORVO_UIP_COMBO_TEXT));
    return {};
}

void TOrvoTunedexEditDialog::LoadProvider(std::u16string_view providerId) {
    std::unique_ptr<TOrvoTunedexProvider> provider = Catalog->LoadProvider(providerId);
    if (!provider)
        throw EArgumentError(u"Tunedex: catalog not found");
    const TOrvoTunedexProviderClass& cls = provider->ClassType();
    UISetInt(ClassCombo.get(), ORVO_UIP_ITEM_INDEX, TOrvoTunedexProviderRepository::IndexOf(cls));
    ClassChanged(ClassCombo.get());
    UISetText(TitleEdit.get(), ORVO_UIP_TEXT, provider->Title);
    UISetText(AddressEdit.get(), ORVO_UIP_TEXT, provider->Data);
    if (IsRadioBrowser(cls)) {
        const TOrvoTunedexRadioBrowser::TAddress address =
            TOrvoTunedexRadioBrowser::SplitAddress(provider->Data);
        UISetInt(KindCombo.get(), ORVO_UIP_ITEM_INDEX, address.Kind);
        UISetText(ServerCombo.get(), ORVO_UIP_COMBO_TEXT, address.Server);
        UISetText(ValueCombo.get(), ORVO_UIP_COMBO_TEXT, address.Value);
    }
    KeptDate = provider->Date;
    EditedID = std::u16string(providerId);
    Validate();
}

void TOrvoTunedexEditDialog::Save(IUnknown*) {
    try {
        const TOrvoTunedexProviderClass& cls = SelectedClass();
        // The Radio Browser settings are stored separated by ";", so one inside a box would cut
        // what follows it off.
        if (IsRadioBrowser(cls))
            for (const auto& [box, name] :
                 {std::pair{ServerCombo.get(), u"server"}, {ValueCombo.get(), u"value"}})
                if (UIGetText(box, ORVO_UIP_COMBO_TEXT).find(u';') != std::u16string::npos)
                    throw EArgumentError(Format(u"The Radio Browser %s cannot contain \";\"", name));
        std::unique_ptr<TOrvoTunedexProvider> provider =
            cls.Create(UIGetText(TitleEdit.get(), ORVO_UIP_TEXT), DataText(), KeptDate);
        // The settings make the identifier, so saving these over another catalogue's would
        // silently replace that one.
        const std::u16string id = provider->ID();
        if (id != EditedID)
            if (const std::unique_ptr<TOrvoTunedexProvider> existing = Catalog->LoadProvider(id))
                throw EArgumentError(
                    Format(u"The catalogue \"%s\" already has these settings", existing->Title));
        Catalog->ProviderUpdate(provider.get(), EditedID);
        Catalog->EntriesUpdate(provider->ID());
        Saved = true;
        UICloseForm(Form.get());
    } catch (const std::exception& e) {
        UIShowMessage(UIWindowHandle(Form.get()), UIGetText(Form.get(), ORVO_UIP_CAPTION),
                      ExceptionMessage(e), ORVO_MSG_ICON_WARNING);
    }
}

void TOrvoTunedexEditDialog::OpenHomePage(IUnknown*) {
    ShellOpenAddress(SelectedClass().HomePageURL());
}

// ---- the catalogue manager

// Hands the tree list's events to the dialog; the form raises none once disposed of, which
// happens before the dialog goes.
class TOrvoTunedexManagingDialog::TListHandler
    : public TOrvoInterfaces<TOrvoUICustomEventAdapter, IOrvoUITreeListEvents> {
public:
    explicit TListHandler(TOrvoTunedexManagingDialog* dialog) : FDialog(dialog) {}

    HRESULT ORVO_CALL ColumnClick(IUnknown*, int32_t) override { return S_OK; }
    HRESULT ORVO_CALL NodeExpanded(IUnknown*, IOrvoUITreeListNode*) override { return S_OK; }
    HRESULT ORVO_CALL NodeCollapsed(IUnknown*, IOrvoUITreeListNode*) override { return S_OK; }
    HRESULT ORVO_CALL NodeClick(IUnknown*, IOrvoUITreeListNode*) override { return S_OK; }
    HRESULT ORVO_CALL NodeDblClick(IUnknown* sender, IOrvoUITreeListNode* node) override {
        return Dispatch([&] {
            if (node)
                FDialog->Edit(sender);
        });
    }
    HRESULT ORVO_CALL SelectionChanged(IUnknown*) override {
        return Dispatch([&] { FDialog->UpdateButtons(); });
    }
    HRESULT ORVO_CALL ContextPopup(IUnknown*, IOrvoUITreeListNode*) override { return S_OK; }
    HRESULT ORVO_CALL KeyPress(IUnknown*, uint32_t) override { return S_OK; }

private:
    TOrvoTunedexManagingDialog* FDialog;
};

namespace {
constexpr int32_t kDateColumnWidth = 120;
constexpr int32_t kCountColumnWidth = 56;
constexpr int32_t kButtonHeight = 25;
} // namespace

void TOrvoTunedexManagingDialog::Execute(TOrvoWindowHandle ownerWindow, TOrvoStationCatalog& catalog) {
    TOrvoTunedexManagingDialog dialog(ownerWindow, catalog);
    UIShowModal(dialog.Form.get());
}

TOrvoTunedexManagingDialog::TOrvoTunedexManagingDialog(TOrvoWindowHandle ownerWindow,
                                                       TOrvoStationCatalog& catalog)
    : Catalog(&catalog), FListening(catalog.Listeners(), this) {
    try {
        Build(ownerWindow);
        PopulateProviders();
    } catch (...) {
        FLifetime.Revoke();
        UIDisposeForm(Form.get());
        throw;
    }
}

TOrvoTunedexManagingDialog::~TOrvoTunedexManagingDialog() {
    FLifetime.Revoke();
    UIDisposeForm(Form.get());
}

void TOrvoTunedexManagingDialog::Build(TOrvoWindowHandle ownerWindow) {
    auto handler = [this](void (TOrvoTunedexManagingDialog::*method)(IUnknown*)) {
        return UINotifyEvent([this, method](IUnknown* sender) { (this->*method)(sender); });
    };
    Form = UICreateForm(ownerWindow, u"frmTunedexManager");
    UISetConstraints(Form.get(), 620, 480);
    UISetInt(Form.get(), ORVO_UIP_BORDER, kFormBorderSizeable);
    UISetBool(Form.get(), ORVO_UIP_AUTOSIZE, true);
    UISetInt(Form.get(), ORVO_UIP_POSITION, kPositionCentred);

    ComPtr<IOrvoUIControl> body = UICreateControl(Form.get(), nullptr, ORVO_UI_BRAND_BOX);
    UISetPlacement(body.get(), UIPlacement(ORVO_UI_ALIGN_CLIENT, 0, UIMargins(0)));
    UICreateControl(Form.get(), body.get(), ORVO_UI_BUTTON, u"B2",
                    UINotifyEvent([this](IUnknown*) { UICloseForm(Form.get()); }));

    TreeList = UICreateControl(Form.get(), body.get(), ORVO_UI_TREE_LIST, {},
                               MakeInterfaced<TListHandler>(this).As<IUnknown>());
    UISetPlacement(TreeList.get(), UIPlacement(ORVO_UI_ALIGN_CLIENT, 0, UIMargins(0)));
    UITreeListAddColumn(TreeList.get());
    for (const int32_t width : {kDateColumnWidth, kCountColumnWidth}) {
        ComPtr<IOrvoUITreeListColumn> column = UITreeListAddColumn(TreeList.get());
        UISetBool(column.get(), ORVO_UIP_COLUMN_STRETCH, false);
        UISetInt(column.get(), ORVO_UIP_COLUMN_WIDTH, width);
    }
    UISetBool(TreeList.get(), ORVO_UIP_ROW_SELECT, true);

    ComPtr<IOrvoUIControl> panel = UICreateControl(Form.get(), body.get(), ORVO_UI_PANEL);
    UISetPlacement(panel.get(), UIPlacement(ORVO_UI_ALIGN_RIGHT, 100, UIMargins(8, 0, 0, 0)));
    UISetInt(panel.get(), ORVO_UIP_BORDER, 0);
    auto button = [&](std::u16string_view name, int32_t gapAbove,
                      void (TOrvoTunedexManagingDialog::*method)(IUnknown*)) {
        ComPtr<IOrvoUIControl> made =
            UICreateControl(Form.get(), panel.get(), ORVO_UI_BUTTON, name, handler(method));
        UISetPlacement(made.get(),
                       UIPlacement(ORVO_UI_ALIGN_TOP, kButtonHeight, UIMargins(0, gapAbove, 0, 6)));
        return made;
    };
    button(u"B3", 0, &TOrvoTunedexManagingDialog::Add);
    EditButton = button(u"B6", 0, &TOrvoTunedexManagingDialog::Edit);
    RefreshButton = button(u"B1", 0, &TOrvoTunedexManagingDialog::Refresh);
    RemoveButton = button(u"B4", 12, &TOrvoTunedexManagingDialog::Remove);
    ResetButton = button(u"B5", 12, &TOrvoTunedexManagingDialog::Reset);
}

std::u16string TOrvoTunedexManagingDialog::UpdatingID() const {
    std::lock_guard guard(FUpdatingLock);
    return FUpdatingID;
}

void TOrvoTunedexManagingDialog::PopulateProviders() {
    const std::u16string updating = UpdatingID();
    {
        const TOrvoUpdateScope update(UIRequire<IOrvoUITreeList>(TreeList.get()));
        ComPtr<IOrvoUITreeListNode> root = UITreeListRoot(TreeList.get());
        root->DeleteChildren();
        Catalog->EnumProviders([&](TOrvoTunedexProvider& provider) {
            const std::u16string id = provider.ID();
            const bool busy = id == updating;
            UITreeNodeSetValues(UITreeNodeAddChild(root.get()).get(),
                                {provider.Title, busy ? LocalizedText(u"Tunedex\\S1") : provider.DateAsText(),
                                 busy ? std::u16string() : IntToStr(provider.Count), id});
        });
    }
    UpdateButtons();
}

void TOrvoTunedexManagingDialog::UpdateButtons() {
    ComPtr<IOrvoUITreeList> list = UIRequire<IOrvoUITreeList>(TreeList.get());
    const bool selected = list->SelectedCount() > 0;
    UISetBool(EditButton.get(), ORVO_UIP_ENABLED, selected);
    UISetBool(RefreshButton.get(), ORVO_UIP_ENABLED, selected);
    UISetBool(RemoveButton.get(), ORVO_UIP_ENABLED, selected);
    UISetBool(ResetButton.get(), ORVO_UIP_ENABLED, list->RowCount() > 0);
}

std::u16string TOrvoTunedexManagingDialog::SelectedID() const {
    ComPtr<IOrvoUITreeListNode> node = UITreeListFocused(TreeList.get());
    return node ? UITreeNodeValue(node.get(), 3) : std::u16string();
}

void TOrvoTunedexManagingDialog::Add(IUnknown*) {
    if (TOrvoTunedexEditDialog::Execute(UIWindowHandle(Form.get()), *Catalog, {}))
        PopulateProviders();
}

void TOrvoTunedexManagingDialog::Edit(IUnknown*) {
    const std::u16string id = SelectedID();
    if (!id.empty() && TOrvoTunedexEditDialog::Execute(UIWindowHandle(Form.get()), *Catalog, id))
        PopulateProviders();
}

void TOrvoTunedexManagingDialog::Refresh(IUnknown*) {
    Catalog->EntriesUpdate(SelectedID());
}

void TOrvoTunedexManagingDialog::Remove(IUnknown*) {
    const std::u16string id = SelectedID();
    if (id.empty())
        return;
    Catalog->ProviderUpdate(nullptr, id);
    PopulateProviders();
}

void TOrvoTunedexManagingDialog::Reset(IUnknown*) {
    Catalog->Reset();
    PopulateProviders();
}

void TOrvoTunedexManagingDialog::QueuePopulate() {
    TNuvMainThread::Run(
        [dialog = FLifetime.Ref(this)] {
            if (const auto self = dialog.Lock())
                self->PopulateProviders();
        },
        false);
}

void TOrvoTunedexManagingDialog::CatalogChanged() {
    QueuePopulate();
}

void TOrvoTunedexManagingDialog::ProviderUpdateStarted(std::u16string_view providerId) {
    {
        std::lock_guard guard(FUpdatingLock);
        FUpdatingID = providerId;
    }
    QueuePopulate();
}

void TOrvoTunedexManagingDialog::AsyncUpdateFinished() {
    {
        std::lock_guard guard(FUpdatingLock);
        FUpdatingID.clear();
    }
    QueuePopulate();
}
