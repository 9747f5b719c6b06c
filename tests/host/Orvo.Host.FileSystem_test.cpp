#include "host/Orvo.Host.Core.h"
#include "host/Orvo.Host.FileSystem.h"
#include "host/Orvo.Host.String.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A file system of a scheme that accepts one name, and records what it was asked.
class TTestFileSystem : public TOrvoInterfaces<TOrvoPropertyList, IOrvoFileSystemCommandOpenFileFolder> {
public:
    TTestFileSystem(std::u16string scheme, std::u16string accepted)
        : FScheme(std::move(scheme)), FAccepted(std::move(accepted)) {}

    HRESULT ORVO_CALL CanHandle(IOrvoString* fileName) override {
        Asked.push_back(FromHostString(fileName));
        return FromHostString(fileName) == FAccepted ? S_OK : E_FAIL;
    }
    HRESULT ORVO_CALL Handle(IOrvoString* fileName) override {
        Handled.push_back(FromHostString(fileName));
        return HandleResult;
    }

    std::vector<std::u16string> Asked, Handled;
    HRESULT HandleResult = S_OK;

protected:
    void* GetInterface(const TGUID& iid) override {
        // The extension is its property list, answered under the extension's identifier.
        if (iid == IOrvoExtensionFileSystem::IID)
            return static_cast<IOrvoPropertyList*>(this);
        return TOrvoInterfaces::GetInterface(iid);
    }
    void DoGetValue(int32_t propId, TOrvoPropValue& value, HRESULT& result) override {
        result = S_OK;
        if (propId == ORVO_FSP_SCHEME)
            value = FScheme;
        else if (propId == ORVO_FSP_FLAGS)
            value = int64_t(1);
        else
            TOrvoInterfaces::DoGetValue(propId, value, result);
    }
    ComPtr<IUnknown> DoGetValueAsObject(int32_t propId) override {
        TOrvoPropValue value;
        HRESULT result = S_OK;
        DoGetValue(propId, value, result);
        return Succeeded(result) ? ComPtr<IUnknown>(TOrvoHostString::Create(PropValueToText(value)))
                                 : nullptr;
    }

private:
    std::u16string FScheme, FAccepted;
};

TEST(HostFileSystems, HandsALinkToTheFileSystemOfItsSchemeThatAcceptsIt) {
    auto core = TOrvoHostCore::Create(u"/nonexistent/profile");
    auto service = TOrvoHostFileSystems::Create(*core);
    core->RegisterService(IOrvoServiceFileSystem::IID, service);
    auto other = MakeInterfaced<TTestFileSystem>(u"other", u"other://settings");
    auto tunedex = MakeInterfaced<TTestFileSystem>(u"tunedex", u"tunedex://settings");
    ASSERT_EQ(core->AddExtension(IOrvoServiceFileSystem::IID, static_cast<IOrvoPropertyList2*>(other.get())),
              S_OK);
    ASSERT_EQ(
        core->AddExtension(IOrvoServiceFileSystem::IID, static_cast<IOrvoPropertyList2*>(tunedex.get())),
        S_OK);

    EXPECT_EQ(service->OpenLink(u"tunedex://settings"), S_OK);
    EXPECT_EQ(tunedex->Handled, std::vector<std::u16string>{u"tunedex://settings"});
    EXPECT_TRUE(other->Asked.empty()); // not its scheme

    // Names the file system does not accept are not handled; the scheme matches in any case.
    for (const char16_t* name : {u"tunedex://Settings", u"tunedex://settings/", u"TUNEDEX://x", u"nothing",
                                 u"://settings", u"1tunedex://settings", u""})
        EXPECT_EQ(service->OpenLink(name), E_FAIL) << ToUtf8(name);
    EXPECT_EQ(tunedex->Handled.size(), 1u);
    EXPECT_EQ(tunedex->Asked.back(), u"TUNEDEX://x");

    // The file system's own answer is the host's.
    tunedex->HandleResult = E_UNEXPECTED;
    EXPECT_EQ(service->OpenLink(u"tunedex://settings"), E_UNEXPECTED);
    EXPECT_EQ(service->OpenLink(static_cast<IOrvoString*>(nullptr)), E_INVALIDARG);
    core->ClearExtensions();
}

TEST(HostFileSystems, ReadsTheSchemeOfAName) {
    EXPECT_EQ(TOrvoHostFileSystems::SchemeOf(u"tunedex://settings"), u"tunedex");
    EXPECT_EQ(TOrvoHostFileSystems::SchemeOf(u"a+b.c-d://x"), u"a+b.c-d");
    EXPECT_EQ(TOrvoHostFileSystems::SchemeOf(u"C:\\music"), u"");
    EXPECT_EQ(TOrvoHostFileSystems::SchemeOf(u"bad scheme://x"), u"");
}

} // namespace
