#include "nuv/Nuv.FileFormats.XML.Reader.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

// Writes every callback into the std::string the context points at.
class TLog : public TNuvXMLNodeLoader {
public:
    explicit TLog(TNuvXMLNameTable& names);
    void OnBegin(void*& context) override { Out(context) += "{"; }
    void OnAttributes(void* context, TNuvXMLTextReader& reader) override {
        Out(context) += ToUtf8(reader.QualifiedName());
    }
    void OnText(void* context, TNuvXMLTextReader& reader) override {
        Out(context).append("[").append(ToUtf8(reader.GetValue())).append("]");
    }
    void OnEnd(void* context) override { Out(context) += "}"; }

private:
    static std::string& Out(void* context) { return *static_cast<std::string*>(context); }
};

// Hands an element to the child named by its kind attribute.
class TSwitch : public TNuvXMLNodeLoader {
public:
    explicit TSwitch(TNuvXMLNameTable& names) : TNuvXMLNodeLoader(names) {
        SetAttributeSelector(u"kind");
        ChildLoaders().Add(u"one", NuvXMLLoaderClass<TLog>());
    }
};

TLog::TLog(TNuvXMLNameTable& names) : TNuvXMLNodeLoader(names) {
    TNuvXMLNodeLoaders& children = ChildLoaders();
    children.SetCapacity(4);
    children.AddText(
        u"a", [](void* context, const std::u16string&) { *static_cast<std::string*>(context) += "earlier"; });
    children.Add(u"a", NuvXMLLoaderClass<TLog>());
    children.Add(u"p", u"x", NuvXMLLoaderClass<TLog>());
    children.Add(u"s", NuvXMLLoaderClass<TSwitch>());
}

void Declare(TNuvXMLDocumentLoader& loader) {
    loader.Loaders().Add(u"r", NuvXMLLoaderClass<TLog>());
    loader.Loaders().AddText(
        u"boom", [](void*, const std::u16string& text) { throw std::runtime_error(ToUtf8(text)); });
}

std::string Load(TNuvXMLDocumentLoader& loader, const std::string& xml) {
    TNuvMemoryStream stream(xml.data(), xml.size());
    std::string log;
    loader.Load(&log, stream);
    return log;
}

} // namespace

TEST(XMLLoaders, CallbacksFollowTheDocument) {
    TNuvXMLDocumentLoader loader;
    Declare(loader);
    const struct {
        std::string xml, expected;
    } cases[] = {
        {"", ""},
        {"<q><r>x</r></q>", ""}, // no loader for the root: nothing, and no error
        {"<r>hi<!--c-->there<a/> <a>in</a></r>", "{r[hi][there]{a}{a[in]}}"},
        {"<r>t<a></r><a/>", "{r[t]{a"}, // the load stops quietly at the mismatch
        {"<r><s kind='one'>x<u>skipped</u></s><s>dropped<a/></s><s kind='two'><a/></s></r>", "{r{s[x]}}"},
        {"<r xmlns:p='urn:p' xmlns:q='urn:p'><p:x>1</p:x><q:x>2</q:x></r>", "{r{p:x[1]}}"},
        {"<r xml:space='preserve'> a <![CDATA[b]]></r>", "{r[ a ][b]}"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Load(loader, c.xml), c.expected) << c.xml;
    try {
        Load(loader, "<boom>stop</boom>");
        ADD_FAILURE() << "the callback's exception was swallowed";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "stop");
    }
}

TEST(XMLLoaders, ContextReplacedInOnBeginReachesTheChildren) {
    struct TScope : TNuvXMLNodeLoader {
        explicit TScope(TNuvXMLNameTable& names) : TNuvXMLNodeLoader(names) {
            ChildLoaders().AddText(u"v", [](void* context, const std::u16string& text) {
                *static_cast<std::string*>(context) += ToUtf8(text);
            });
        }
        std::string Inner;
        void OnBegin(void*& context) override { context = &Inner; }
    };
    TNuvXMLDocumentLoader loader;
    auto scope = std::make_unique<TScope>(loader.NameTable());
    const TScope& seen = *scope;
    loader.Loaders().Add(u"r", std::move(scope));
    EXPECT_EQ(Load(loader, "<r><v>1</v><v>2</v></r>"), "");
    EXPECT_EQ(seen.Inner, "12");
}

TEST(XMLLoaderThreads, OneTreeServesConcurrentLoads) {
    TNuvXMLDocumentLoader loader;
    Declare(loader);
    std::vector<std::thread> threads;
    std::vector<std::string> logs(4);
    for (size_t t = 0; t < logs.size(); ++t)
        threads.emplace_back([&, t] {
            const std::string n = std::to_string(t);
            for (int i = 0; i < 50; ++i)
                logs[t] += Load(loader, "<r><a>" + n + "</a><s kind='one'>" + n + "</s><n" + n + "/></r>");
        });
    for (auto& thread : threads)
        thread.join();
    for (size_t t = 0; t < logs.size(); ++t) {
        const std::string n = std::to_string(t);
        std::string expected;
        for (int i = 0; i < 50; ++i)
            expected += "{r{a[" + n + "]}{s[" + n + "]}}";
        EXPECT_EQ(logs[t], expected);
    }
}
