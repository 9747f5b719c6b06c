#include "host/Orvo.Host.Menus.h"

#include "host/Orvo.Host.Core.h"
#include "host/Orvo.Host.Localization.h"
#include "host/Orvo.Host.MusicLibrary.UI.h"
#include "host/Orvo.Host.String.h"
#include "nuv/Nuv.Streams.h"
#include "sdk/apiWrappers.Streams.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

ComPtr<TOrvoStreamAdapter> Bytes(const std::string& bytes) {
    auto stream = std::make_unique<TNuvMemoryStream>();
    stream->Write(bytes.data(), int64_t(bytes.size()));
    stream->Seek(0, TNuvSeekOrigin::Begin);
    return TOrvoStreamAdapter::Create(std::move(stream));
}

// The signature and a header chunk for the size, then `rest`.
std::string Png(uint32_t width, uint32_t height, uint32_t headerLength = 13) {
    std::string png = "\x89PNG\r\n\x1a\n";
    const auto be = [&](uint32_t n) {
        for (int shift : {24, 16, 8, 0})
            png += char((n >> shift) & 0xFF);
    };
    be(headerLength);
    png += "IHDR";
    be(width);
    be(height);
    png += std::string("\x08\x06\x00\x00\x00", 5);
    be(0); // the checksum is the drawing's business
    return png;
}

TEST(HostImage, KeepsPngImagesAndRefusesAnythingElse) {
    ComPtr<TOrvoHostImage> image = TOrvoHostImage::Create();
    int32_t width = -1, height = -1;
    ASSERT_EQ(image->GetSize(&width, &height), S_OK);
    EXPECT_EQ(width, 0);
    EXPECT_EQ(height, 0);
    ASSERT_EQ(image->LoadFromStream(Bytes(Png(24, 16)).get()), S_OK);
    image->GetSize(&width, &height);
    EXPECT_EQ(width, 24);
    EXPECT_EQ(height, 16);

    struct Case {
        const char* What;
        std::string Bytes;
    };
    const Case refused[] = {
        {"empty", ""},
        {"no signature", "GIF89a" + Png(1, 1).substr(6)},
        {"truncated header", Png(5, 5).substr(0, 24)},
        {"another first chunk", Png(5, 5, 12)},
        {"no width", Png(0, 5)},
        {"a size out of range", Png(0x80000000u, 5)},
    };
    for (const Case& c : refused) {
        EXPECT_EQ(image->LoadFromStream(Bytes(c.Bytes).get()), E_FAIL) << c.What;
        image->GetSize(&width, &height);
        EXPECT_EQ(width, 24) << c.What << ": the image stays as it was";
    }
    EXPECT_EQ(image->LoadFromStream(nullptr), E_INVALIDARG);
    EXPECT_EQ(image->SetDPI(0), E_INVALIDARG);
    EXPECT_EQ(image->GetDPI(), 96);
}

TEST(HostMenus, ItemsAreNamedByTheirCaptionOrTheLanguageFile) {
    ComPtr<TOrvoHostCore> core = TOrvoHostCore::Create(u"/nonexistent/profile");
    ComPtr<TOrvoHostLocalization> texts = TOrvoHostLocalization::CreateDefault();
    ComPtr<TOrvoHostMenus> menus =
        TOrvoHostMenus::Create(*core, [&](std::u16string_view key) { return texts->Text(key); });
    core->RegisterService(IOrvoServiceMenuManager::IID, menus);
    ComPtr<IOrvoMenuItem> library;
    ASSERT_EQ(menus->BuiltInMenu(ORVO_MENU_MUSIC_LIBRARY, library.put()), S_OK);
    EXPECT_EQ(menus->BuiltInMenu(81, library.put()), E_INVALIDARG);
    EXPECT_THROW(menus->Show(81), EArgumentError);
    ASSERT_EQ(menus->BuiltInMenu(ORVO_MENU_MUSIC_LIBRARY, library.put()), S_OK);

    const auto add = [&](const char16_t* id, const char16_t* caption) {
        ComPtr<IOrvoMenuItem> item;
        EXPECT_EQ(core->MakeObject(IOrvoMenuItem::IID, item.put_void()), S_OK);
        item->SetValueAsObject(ORVO_MIP_ID, TOrvoHostString::Create(id).get());
        if (caption)
            item->SetValueAsObject(ORVO_MIP_CAPTION, TOrvoHostString::Create(caption).get());
        item->SetValueAsObject(ORVO_MIP_PARENT, library.get());
        EXPECT_EQ(core->AddExtension(IOrvoServiceMenuManager::IID, item.get()), S_OK);
    };
    add(u"Orvo.Tunedex.Actions.Edit", nullptr);
    add(u"Own.Caption", u"Mine");
    add(u"Unknown.Command", nullptr);
    const auto entries = menus->Show(ORVO_MENU_MUSIC_LIBRARY);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].Caption, u"Manage radio catalogs...");
    EXPECT_EQ(entries[1].Caption, u"Mine");
    EXPECT_EQ(entries[2].Caption, u"Unknown.Command");
    // Shown and usable until told otherwise, but with nothing to run.
    EXPECT_TRUE(entries[2].Enabled && entries[2].Visible);
    EXPECT_EQ(menus->Choose(u"Unknown.Command"), E_FAIL);
    EXPECT_EQ(menus->Choose(u"Not.There"), E_FAIL);
    core->ClearExtensions();
}

TEST(HostMusicLibraryUI, AnswersTheSelectedAndFocusedFiles) {
    ComPtr<TOrvoHostMusicLibraryUI> ui = TOrvoHostMusicLibraryUI::Create();
    ui->SelectFiles({u"a", u"b"}, u"b");
    ComPtr<IOrvoObjectList> files;
    ASSERT_EQ(ui->GetFiles(ORVO_MLUI_FILES_SELECTED, files.put()), S_OK);
    EXPECT_EQ(files->Count(), 2);
    ASSERT_EQ(ui->GetFiles(ORVO_MLUI_FILES_FOCUSED, files.put()), S_OK);
    ASSERT_EQ(files->Count(), 1);
    ComPtr<IOrvoString> focused;
    ASSERT_EQ(files->Get(0, IOrvoString::IID, focused.put_void()), S_OK);
    EXPECT_EQ(FromHostString(focused), u"b");
    EXPECT_EQ(ui->GetFiles(3, files.put()), E_INVALIDARG);
    EXPECT_FALSE(files);

    ComPtr<IOrvoMLFilterGroup> filter;
    ASSERT_EQ(ui->GetGroupingTreeFilter(filter.put()), S_OK);
    EXPECT_EQ(filter->Count(), 0) << "nothing selected: every row";
}

} // namespace
