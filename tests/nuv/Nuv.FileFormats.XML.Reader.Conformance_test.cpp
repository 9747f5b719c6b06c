// The reader held to the W3C XML conformance suite, read in place from the public corpus: every
// standalone XML 1.0 test document, walked from the suite's own catalogue with the reader itself.

#include "nuv/Nuv.FileFormats.XML.Reader.h"

#include "nuv/Nuv.Strings.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace {

namespace fs = std::filesystem;

std::string Bytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool IsNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == ':' || c == '.' || c == '-';
}

// The names of the "&name;" references in a text.
std::vector<std::string> EntityReferences(const std::string& text) {
    std::vector<std::string> names;
    for (size_t at = text.find('&'); at != std::string::npos; at = text.find('&', at + 1)) {
        size_t end = at + 1;
        while (end < text.size() && IsNameChar(text[end]))
            ++end;
        if (end > at + 1 && end < text.size() && text[end] == ';' && !std::isdigit(text[at + 1]) &&
            text[at + 1] != '-' && text[at + 1] != '.')
            names.push_back(text.substr(at + 1, end - at - 1));
    }
    return names;
}

// The name and the text after each "<!ENTITY" declaration's keyword, white space skipped.
std::vector<std::pair<std::string, size_t>> EntityDeclarations(const std::string& text) {
    std::vector<std::pair<std::string, size_t>> found;
    static const std::string keyword = "<!ENTITY";
    for (size_t at = text.find(keyword); at != std::string::npos; at = text.find(keyword, at + 1)) {
        size_t p = at + keyword.size();
        while (p < text.size() && std::isspace(static_cast<unsigned char>(text[p])))
            ++p;
        size_t end = p;
        while (end < text.size() && IsNameChar(text[end]))
            ++end;
        if (end > p && end < text.size() && std::isspace(static_cast<unsigned char>(text[end])))
            found.emplace_back(text.substr(p, end - p), end);
    }
    return found;
}

// Why a document is left out, or "" when it counts. Each reason is a category of the suite, not a
// file: what the reader by design does not do.
std::string Exclusion(const std::map<std::string, std::string>& test, const std::string& bytes) {
    auto attribute = [&](const char* name) {
        auto it = test.find(name);
        return it == test.end() ? std::string() : it->second;
    };
    const std::string recommendation = attribute("RECOMMENDATION");
    if (recommendation == "XML1.1" || recommendation == "NS1.1" || attribute("VERSION") == "1.1")
        return "XML 1.1 and Namespaces 1.1 are other languages";
    const std::string edition = attribute("EDITION");
    if (!edition.empty() && edition.find('4') == std::string::npos)
        return "names of the fifth edition: the reader keeps the first four editions' character classes";
    if (!attribute("ENTITIES").empty() && attribute("ENTITIES") != "none")
        return "not standalone: needs external entities";
    const std::string sections = attribute("SECTIONS");
    if (recommendation == "NS1.0" && sections == "4" && attribute("TYPE") == "not-wf")
        return "an undeclared prefix stands for itself instead of being an error";
    std::string text;
    for (char c : bytes)
        if (c)
            text += c;
    // The internal subset is skipped, not processed: the entities it declares are never known.
    const auto declared = EntityDeclarations(text);
    for (const std::string& name : EntityReferences(text)) {
        if (name == "lt" || name == "gt" || name == "amp" || name == "apos" || name == "quot")
            continue;
        for (const auto& declaration : declared)
            if (declaration.first == name)
                return "uses general entities declared in the internal subset";
        return "undeclared entity references are kept as written, not rejected";
    }
    bool declarations = false;
    for (const char* keyword : {"<!ENTITY", "<!ATTLIST", "<!ELEMENT", "<!NOTATION"})
        declarations |= text.find(keyword) != std::string::npos;
    bool declarationSection = false;
    for (const char* prefix : {"2.3", "2.8", "3.2", "3.3", "4.1", "4.2", "4.4", "4.5", "4.7", "NE08"})
        declarationSection |= sections.rfind(prefix, 0) == 0;
    if (attribute("TYPE") == "not-wf" && declarations && declarationSection)
        return "the fault lies in a markup declaration of the internal subset, which is skipped, not parsed";
    return {};
}

struct TTally {
    int NotWf = 0, Rejected = 0, Valid = 0, Read = 0, Excluded = 0;
    std::map<std::string, int> Reasons;
    std::vector<std::string> Misses;
};

// Reads a document to its end; "" when it read, else the error.
std::string ReadDocument(const fs::path& file, bool namespaces) {
    TNuvBufferedFileStream stream(file.string(), TNuvFileMode::OpenRead);
    TNuvXMLReaderSettings settings;
    settings.NamespaceAware = namespaces;
    TNuvXMLTextReader reader(settings, &stream);
    try {
        while (reader.Read())
            while (reader.MoveToNextAttribute())
                reader.GetValue();
    } catch (const ENuvXMLException& e) {
        return e.what();
    }
    return {};
}

// Walks one catalogue: TEST elements under TESTCASES, whose xml:base moves the folder, and entity
// references naming further catalogues.
void WalkCatalogue(const fs::path& file, const fs::path& base,
                   const std::map<std::string, fs::path>& catalogues, TTally& tally) {
    TNuvBufferedFileStream stream(file.string(), TNuvFileMode::OpenRead);
    // The parts are external entities: several TEST elements side by side.
    TNuvXMLReaderSettings settings;
    settings.Conformance = TNuvXMLConformance::Fragment;
    TNuvXMLTextReader reader(settings, &stream);
    std::vector<fs::path> bases{base};
    while (reader.Read()) {
        const auto type = reader.NodeType();
        if (type == TNuvXMLNodeType::Element && reader.LocalName() == u"TESTCASES") {
            std::u16string xmlBase;
            reader.TryGetAttribute(u"xml:base", xmlBase);
            bases.push_back(bases.back() / ToUtf8(xmlBase));
            if (reader.IsEmptyElement())
                bases.pop_back();
        } else if (type == TNuvXMLNodeType::EndElement && reader.LocalName() == u"TESTCASES") {
            bases.pop_back();
        } else if (type == TNuvXMLNodeType::Text) {
            for (const std::string& name : EntityReferences(ToUtf8(reader.GetValue()))) {
                auto found = catalogues.find(name);
                if (found != catalogues.end())
                    WalkCatalogue(found->second, bases.back(), catalogues, tally);
            }
        } else if (type == TNuvXMLNodeType::Element && reader.LocalName() == u"TEST") {
            std::map<std::string, std::string> test;
            while (reader.MoveToNextAttribute())
                test[ToUtf8(reader.LocalName())] = ToUtf8(reader.GetValue());
            const std::string kind = test["TYPE"];
            if (kind != "valid" && kind != "invalid" && kind != "not-wf")
                continue;
            const fs::path document = bases.back() / test["URI"];
            if (!fs::exists(document))
                continue;
            const std::string reason = Exclusion(test, Bytes(document));
            if (!reason.empty()) {
                ++tally.Excluded;
                ++tally.Reasons[reason];
                continue;
            }
            const std::string error = ReadDocument(document, test["NAMESPACE"] != "no");
            if (kind == "not-wf") {
                ++tally.NotWf;
                if (!error.empty())
                    ++tally.Rejected;
                else
                    tally.Misses.push_back(test["ID"] + " (not-wf, read), sections " + test["SECTIONS"]);
            } else {
                ++tally.Valid;
                if (error.empty())
                    ++tally.Read;
                else
                    tally.Misses.push_back(test["ID"] + " (" + kind + "): " + error);
            }
        }
    }
}

TEST(XMLConformance, SuiteDocumentsReadOrAreRejected) {
    const fs::path suite = testsupport::CorpusDir() / "xmlconf";
    const fs::path catalogue = suite / "xmlconf.xml";
    if (!fs::exists(catalogue))
        GTEST_SKIP() << "the XML conformance suite is not at " << suite;
    // The catalogue names its parts as external entities of its internal subset, which the reader
    // skips; they are taken from the declarations' text.
    std::map<std::string, fs::path> catalogues;
    const std::string text = Bytes(catalogue);
    for (const auto& [name, after] : EntityDeclarations(text)) {
        const size_t open = text.find('"', after);
        const size_t close = open == std::string::npos ? open : text.find('"', open + 1);
        if (close != std::string::npos)
            catalogues[name] = suite / text.substr(open + 1, close - open - 1);
    }
    // One part's folder is misnamed in the catalogue.
    for (auto& [name, path] : catalogues)
        if (!fs::exists(path) && fs::exists(suite / "eduni/misc" / path.filename()))
            path = suite / "eduni/misc" / path.filename();

    TTally tally;
    WalkCatalogue(catalogue, suite, catalogues, tally);
    for (const auto& miss : tally.Misses)
        std::fprintf(stderr, "miss: %s\n", miss.c_str());
    for (const auto& [reason, count] : tally.Reasons)
        std::fprintf(stderr, "excluded %d: %s\n", count, reason.c_str());
    std::printf("XMLCONF not-wf rejected=%d/%d valid read=%d/%d excluded=%d\n", tally.Rejected, tally.NotWf,
                tally.Read, tally.Valid, tally.Excluded);
    std::fflush(stdout);
    EXPECT_GT(tally.NotWf, 0);
    EXPECT_EQ(tally.Read, tally.Valid);
    EXPECT_GE(tally.Rejected * 100, tally.NotWf * 95);
}

} // namespace
