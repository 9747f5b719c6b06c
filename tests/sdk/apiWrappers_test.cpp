#include "sdk/apiWrappers.h"

#include "host/Orvo.Host.Core.h"
#include "host/Orvo.Host.Localization.h"
#include "host/Orvo.Host.MessageDispatcher.h"
#include "host/Orvo.Host.String.h"
#include "nuv/Nuv.Log.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>
#include <vector>

namespace {

struct ITestProbe : IUnknown {
    static constexpr TGUID IID = OrvoTag("TestProbe");
    virtual int32_t ORVO_CALL Value() = 0;
};

std::atomic<int> GProbesAlive{0};

class TProbe : public TOrvoInterfaces<TInterfacedObjectEx, ITestProbe> {
public:
    explicit TProbe(ComPtr<IUnknown>* handOut = nullptr) {
        ++GProbesAlive;
        // A constructor that hands out and drops a reference must not destroy the object.
        if (handOut) {
            ComPtr<IUnknown> self = QueryAs<IUnknown>(static_cast<ITestProbe*>(this));
            self.Reset();
        }
    }
    ~TProbe() override { --GProbesAlive; }
    int32_t ORVO_CALL Value() override { return 42; }
};

TEST(OrvoTag, SpellsTheTagInTheIdentifierBytes) {
    constexpr TGUID ml = OrvoTag("ORVOSrvML");
    static_assert(ml.Data1 == 0x4F52564F && ml.Data2 == 0x5372 && ml.Data3 == 0x764D);
    const TGUID expected{0x4F52564F, 0x5372, 0x764D, {0x4C, 0, 0, 0, 0, 0, 0, 0}};
    EXPECT_TRUE(ml == expected);
    constexpr TGUID longest = OrvoTag("ORVOMLAlbArtPrv2");
    EXPECT_EQ(longest.Data4[7], '2');
    EXPECT_FALSE(OrvoTag("ORVOSrvML") == OrvoTag("ORVOSrvMUI"));
}

TEST(InterfacedObject, LivesExactlyAsLongAsItsReferences) {
    ComPtr<IUnknown> handOut;
    {
        auto probe = MakeInterfaced<TProbe>(&handOut);
        EXPECT_EQ(GProbesAlive, 1);
        EXPECT_EQ(probe->RefCount(), 1);
        ComPtr<ITestProbe> asProbe = probe.As<ITestProbe>();
        ASSERT_TRUE(asProbe);
        EXPECT_EQ(asProbe->Value(), 42);
        EXPECT_EQ(probe->RefCount(), 2);
        ComPtr<IUnknown> unknown = asProbe.As<IUnknown>();
        EXPECT_EQ(probe->RefCount(), 3);
    }
    EXPECT_EQ(GProbesAlive, 0);
}

TEST(InterfacedObject, AnswersNoInterfaceForWhatItDoesNotImplement) {
    auto probe = MakeInterfaced<TProbe>();
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(probe->QueryInterface(IOrvoString::IID, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(probe->RefCount(), 1);
}

TEST(InterfacedObject, DestroyingAReferencedObjectRaisesInvalidPointerAndKeepsIt) {
    auto probe = MakeInterfaced<TProbe>();
    ComPtr<TProbe> other = probe;
    try {
        DestroyInterfaced(probe);
        FAIL() << "no exception";
    } catch (const EInvalidPointer& e) {
        EXPECT_EQ(e.Message(), u"Invalid Pointer");
    }
    EXPECT_TRUE(probe);
    EXPECT_EQ(GProbesAlive, 1);
    other.Reset();
    DestroyInterfaced(probe);
    EXPECT_FALSE(probe);
    EXPECT_EQ(GProbesAlive, 0);
}

TEST(InterfacedObjectDeathTest, DeletingAReferencedObjectAborts) {
    EXPECT_DEATH(
        {
            auto probe = MakeInterfaced<TProbe>();
            delete probe.get();
        },
        "Invalid Pointer");
}

TEST(InterfacedObjectThreads, ReleasesFromManyThreadsDestroyOnce) {
    for (int round = 0; round < 20; ++round) {
        auto probe = MakeInterfaced<TProbe>();
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([copy = probe] {
                for (int i = 0; i < 1000; ++i)
                    ComPtr<TProbe> again = copy;
            });
        probe.Reset();
        for (auto& thread : threads)
            thread.join();
        EXPECT_EQ(GProbesAlive, 0);
    }
}

// ---- wrappers against an in-process core

class HostWrappers : public ::testing::Test {
protected:
    void SetUp() override {
        FCore = TOrvoHostCore::Create(u"/profile");
        TOrvoAPIWrappers::Initialize(FCore.get());
    }
    void TearDown() override { TOrvoAPIWrappers::Finalize(); }
    ComPtr<TOrvoHostCore> FCore;
};

TEST(GuardedHostCall, AnswersTheBodysResultAndNoErrorCrossesIntoTheHost) {
    EXPECT_EQ(GuardedHostCall(u"x: ", [] { return S_OK; }), S_OK);
    EXPECT_EQ(GuardedHostCall(u"x: ", [] { return E_FAIL; }), E_FAIL);
    EXPECT_EQ(GuardedHostCall(u"x: ", []() -> HRESULT { throw EInvalidOperation(u"refused"); }),
              E_UNEXPECTED);
    EXPECT_EQ(GuardedHostCall(u"x: ", []() -> HRESULT { throw std::bad_alloc(); }), E_UNEXPECTED);
    EXPECT_EQ(GuardedHostCall(u"x: ", []() -> HRESULT { throw 42; }), E_UNEXPECTED);
}

TEST(HostWrappersUninitialized, RaiseOrAnswerNothing) {
    TOrvoAPIWrappers::Finalize();
    try {
        HostCore();
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), u"Plugin was not initialized");
    }
    ComPtr<IOrvoServiceMUI> mui;
    EXPECT_FALSE(QueryService(mui));
    EXPECT_EQ(LocalizedText(u"Tunedex\\T1"), u"");
    EXPECT_EQ(MainWindowHandle(), 0u);
    EXPECT_THROW(ToHostString(u"x"), EInvalidOperation);
}

TEST_F(HostWrappers, HostStringsRoundTripTexts) {
    const std::u16string texts[] = {u"", u"Radio", std::u16string(u"a\0b", 3), u"\U0001F4FB Ünïcode"};
    for (const auto& text : texts)
        EXPECT_EQ(FromHostString(ToHostString(text)), text);
    EXPECT_EQ(FromHostString(nullptr), u"");
}

TEST_F(HostWrappers, FailedObjectCreationRaisesWithTheCode) {
    FCore->UnregisterObject(IOrvoString::IID);
    try {
        ToHostString(u"x");
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), u"Cannot create object (-2147467262)");
    }
}

TEST_F(HostWrappers, RaiseIfFailedOnlyForNegativeCodes) {
    EXPECT_NO_THROW(RaiseIfFailed(S_OK));
    EXPECT_NO_THROW(RaiseIfFailed(S_FALSE));
    try {
        RaiseIfFailed(E_FAIL);
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), u"-2147467259");
    }
}

TEST_F(HostWrappers, LocalisationFallsBackToEmptyTexts) {
    // Without the service: empty text, and an empty host string rather than null.
    EXPECT_EQ(LocalizedText(u"Tunedex\\T1"), u"");
    ComPtr<IOrvoString> missing = LocalizedHostText(u"Tunedex\\Nothing");
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->CharCount(), 0);
    ComPtr<IOrvoString> text;
    EXPECT_EQ(LookupKey(u"Tunedex\\T1", text), E_NOINTERFACE);

    FCore->RegisterService(IOrvoServiceMUI::IID,
                           TOrvoHostLocalization::Create("[Tunedex]\nT1=Country\nS4=Formats: %s\n"));
    EXPECT_EQ(LocalizedText(u"Tunedex\\T1"), u"Country");
    EXPECT_EQ(LocalizedText(u"tunedex\\t1"), u"Country");
    EXPECT_EQ(LocalizedText(u"Tunedex\\T9"), u"");
    EXPECT_EQ(FromHostString(LocalizedHostText(u"Tunedex\\T1")), u"Country");
    ASSERT_TRUE(LocalizedHostText(u"Tunedex\\T9"));
    EXPECT_EQ(FromHostString(LocalizedFormat(u"Tunedex\\S4", u"M3U, PLS")), u"Formats: M3U, PLS");
}

TEST_F(HostWrappers, MainWindowComesFromTheMessageDispatcher) {
    EXPECT_EQ(SendMessageToHost(ORVO_MSG_GET_MAIN_WINDOW, 0, nullptr), E_NOINTERFACE);
    EXPECT_EQ(MainWindowHandle(), 0u);
    FCore->RegisterService(IOrvoServiceMessageDispatcher::IID,
                           TOrvoHostMessageDispatcher::Create(0x123456789ABCull));
    EXPECT_EQ(MainWindowHandle(), 0x123456789ABCull);
}

// ---- property lists

// Answers property 1 as a number, 2 as a text, 3 with an error, and stores sets in FStored.
class TSampleList : public TOrvoPropertyList {
public:
    TOrvoPropValue FNumber = int64_t(7);
    TOrvoPropValue FStored;
    bool FLocked = false;

protected:
    bool CanAccess(HRESULT& result) override {
        result = FLocked ? E_FAIL : S_OK;
        return !FLocked;
    }
    void DoGetValue(int32_t propId, TOrvoPropValue& value, HRESULT& result) override {
        result = S_OK;
        switch (propId) {
        case 1:
            value = FNumber;
            break;
        case 2:
            value = std::u16string(u"Jazz FM");
            break;
        case 3:
            throw Exception(u"broken");
        default:
            TOrvoPropertyList::DoGetValue(propId, value, result);
        }
    }
    void DoSetValue(int32_t propId, const TOrvoPropValue& value, HRESULT& result) override {
        if (propId == 3)
            throw Exception(u"broken");
        FStored = value;
        result = S_OK;
    }
};

// The property lists answer through the same guard as every other boundary call: what is
// raised inside is logged, and the host gets E_UNEXPECTED.
TEST(GuardedHostCall, LogsWhatItCatchesAlsoForPropertyLists) {
    testsupport::TScopedFolder folder;
    const std::string path = (folder.Path() / "guard.log").string();
    NuvLogSetFile(path);
    EXPECT_EQ(GuardedHostCall(u"x: ", []() -> HRESULT { throw EInvalidOperation(u"refused"); }),
              E_UNEXPECTED);
    EXPECT_EQ(GuardedHostCall(u"x: ", []() -> HRESULT { throw 42; }), E_UNEXPECTED);
    auto list = MakeInterfaced<TSampleList>();
    int32_t value = 1;
    EXPECT_EQ(list->GetValueAsInt32(3, &value), E_UNEXPECTED);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(list->SetValueAsInt32(3, 1), E_UNEXPECTED);
    NuvLogSetFile("");
    std::ifstream in(path);
    std::vector<std::string> messages;
    for (std::string line; std::getline(in, line);)
        messages.push_back(line.substr(line.find(']') + 2));
    EXPECT_EQ(messages,
              (std::vector<std::string>{"x: refused", "x: An unknown error was raised", "broken", "broken"}));
}

TEST_F(HostWrappers, PropertyListThatAnswersNothingRejectsEveryRead) {
    auto list = MakeInterfaced<TOrvoPropertyList>();
    double f = 1;
    int32_t i = 1;
    int64_t l = 1;
    void* object = nullptr;
    TOrvoVariant variant{};
    EXPECT_EQ(list->GetValueAsFloat(5, &f), E_INVALIDARG);
    EXPECT_EQ(list->GetValueAsInt32(5, &i), E_INVALIDARG);
    EXPECT_EQ(list->GetValueAsInt64(5, &l), E_INVALIDARG);
    EXPECT_EQ(list->GetValueAsObject(5, IOrvoString::IID, &object), E_INVALIDARG);
    EXPECT_EQ(list->GetValueAsObject(0, IUnknown::IID, &object), E_INVALIDARG);
    EXPECT_EQ(list->GetValueAsVariant(5, &variant), E_INVALIDARG);
    EXPECT_EQ(variant.Kind, TOrvoVariant::Empty);
    EXPECT_EQ(list->SetValueAsInt32(5, 1), E_INVALIDARG);
    EXPECT_EQ(list->Reset(), E_NOTIMPL);
    EXPECT_EQ(list->SetValueAsObject(5, FCore.get()), E_NOTIMPL);
}

TEST_F(HostWrappers, PropertyZeroCarriesTheCustomObject) {
    auto list = MakeInterfaced<TOrvoPropertyList>();
    auto probe = MakeInterfaced<TProbe>();
    EXPECT_EQ(list->SetValueAsObject(0, static_cast<ITestProbe*>(probe.get())), S_OK);
    ComPtr<ITestProbe> back;
    EXPECT_EQ(list->GetValueAsObject(0, ITestProbe::IID, back.put_void()), S_OK);
    EXPECT_EQ(back.get(), static_cast<ITestProbe*>(probe.get()));
    EXPECT_TRUE(ReadObjectProp(list.get(), 0));
    // The requested interface must exist on the stored object.
    ComPtr<IOrvoString> wrong;
    EXPECT_EQ(list->GetValueAsObject(0, IOrvoString::IID, wrong.put_void()), E_NOINTERFACE);
}

TEST_F(HostWrappers, PropertyListConvertsAndGuardsValues) {
    auto list = MakeInterfaced<TSampleList>();
    IOrvoPropertyList* plain = list.get();
    EXPECT_EQ(ReadIntProp(plain, 1, -1), 7);
    EXPECT_EQ(ReadTextProp(plain, 1), u"7");
    EXPECT_EQ(ReadTextProp(plain, 2), u"Jazz FM");
    EXPECT_EQ(ReadIntProp(plain, 2, -1), -1); // a text that is no number
    EXPECT_EQ(ReadIntProp(plain, 3, -1), -1);
    EXPECT_EQ(ReadIntProp(plain, 9, -1), -1);

    int32_t i = 0;
    EXPECT_EQ(plain->GetValueAsInt32(3, &i), E_UNEXPECTED);
    list->FNumber = int64_t(1) << 40;
    EXPECT_EQ(plain->GetValueAsInt32(1, &i), E_UNEXPECTED); // out of range, not truncated
    int64_t l = 0;
    EXPECT_EQ(plain->GetValueAsInt64(1, &l), S_OK);
    EXPECT_EQ(l, int64_t(1) << 40);
    list->FNumber = 2.5;
    EXPECT_EQ(plain->GetValueAsInt32(1, &i), S_OK);
    EXPECT_EQ(i, 2);
    list->FNumber = std::u16string(u" 12 ");
    double f = 0;
    EXPECT_EQ(plain->GetValueAsFloat(1, &f), S_OK);
    EXPECT_EQ(f, 12.0);

    TOrvoVariant variant{};
    ASSERT_EQ(list->GetValueAsVariant(2, &variant), S_OK);
    ASSERT_EQ(variant.Kind, TOrvoVariant::Text);
    EXPECT_EQ(FromHostString(ComPtr<IOrvoString>::Attach(variant.AsText)), u"Jazz FM");

    WriteIntProp(plain, 4, 5);
    EXPECT_EQ(std::get<int64_t>(list->FStored), 5);
    WriteBoolProp(plain, 4, true);
    EXPECT_EQ(std::get<int64_t>(list->FStored), 1);
    WriteTextProp(plain, 4, u"News");
    EXPECT_EQ(std::get<std::u16string>(list->FStored), u"News");
    try {
        WriteIntProp(plain, 3, 1);
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), u"-2147418113");
    }

    list->FLocked = true;
    EXPECT_EQ(plain->GetValueAsInt32(1, &i), E_FAIL);
    EXPECT_EQ(plain->SetValueAsInt32(1, 1), E_FAIL);
}

TEST_F(HostWrappers, PropertyAccessorsOnANullList) {
    EXPECT_EQ(ReadIntProp(nullptr, 1, 33), 33);
    EXPECT_EQ(ReadTextProp(nullptr, 1), u"");
    EXPECT_FALSE(ReadObjectProp(nullptr, 1));
    const std::function<void()> writes[] = {
        [] { WriteIntProp(nullptr, 1, 1); },
        [] { WriteBoolProp(nullptr, 1, true); },
        [] { WriteTextProp(nullptr, 1, u"x"); },
        [] { WriteObjectProp(nullptr, 1, nullptr); },
    };
    for (const auto& write : writes) {
        try {
            write();
            ADD_FAILURE() << "no exception";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), u"PropList is nil");
        }
    }
}

TEST(PropValue, ConvertsNumbersAndNumericTexts) {
    struct Case {
        TOrvoPropValue Value;
        bool Converts;
        int64_t Expected;
    };
    const Case cases[] = {
        {std::monostate(), true, 0},
        {int64_t(-5), true, -5},
        {3.5, true, 4},
        {-2.5, true, -2},
        {std::u16string(u"42"), true, 42},
        {std::u16string(u"1e3"), true, 1000},
        {std::u16string(u"abc"), false, 0},
        {std::u16string(u""), false, 0},
        {1e300, false, 0},
    };
    for (const auto& c : cases) {
        if (c.Converts)
            EXPECT_EQ(PropValueToInt64(c.Value), c.Expected) << ToUtf8(PropValueToText(c.Value));
        else
            EXPECT_THROW(PropValueToInt64(c.Value), EArgumentError) << ToUtf8(PropValueToText(c.Value));
    }
    EXPECT_EQ(PropValueToText(0.25), u"0.25");
}

} // namespace
