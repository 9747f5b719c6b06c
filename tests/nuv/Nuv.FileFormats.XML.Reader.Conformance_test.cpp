// The reader held to the W3C XML conformance suite, read in place from the public corpus: every
// standalone XML 1.0 test document, walked from the suite's own catalogue with the reader itself.

#include "nuv/Nuv.FileFormats.XML.Reader.h"

#include "nuv/Nuv.Strings.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

namespace {

namespace fs = std::filesystem;

std::string Bytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
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
    static const std::regex reference("&([A-Za-z_:][-A-Za-z0-9._:]*);");
    for (std::sregex_iterator it(text.begin(), text.end(), reference), end; it != end; ++it) {
        const std::string name = (*it)[1].str();
        if (name == "lt" || name == "gt" || name == "amp" || name == "apos" || name == "quot")
            continue;
        if (std::regex_search(text, std::regex("<!ENTITY\\s+" + name + "\\s")))
            return "uses general entities declared in the internal subset";
        return "undeclared entity references are kept as written, not rejected";
    }
    static const std::regex declarations("<!(ENTITY|ATTLIST|ELEMENT|NOTATION)");
    static const std::regex declarationSections(
        "^(2\\.3|2\\.8|3\\.2|3\\.3|4\\.1|4\\.2|4\\.4|4\\.5|4\\.7|NE08)");
    if (attribute("TYPE") == "not-wf" && std::regex_search(text, declarations) &&
        std::regex_search(sections, declarationSections))
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
            static const std::regex reference("&([-A-Za-z0-9._]+);");
            const std::string text = ToUtf8(reader.GetValue());
            for (std::sregex_iterator it(text.begin(), text.end(), reference), end; it != end; ++it) {
                auto found = catalogues.find((*it)[1].str());
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
    static const std::regex declaration("<!ENTITY\\s+([-A-Za-z0-9._]+)\\s+SYSTEM\\s+\"([^\"]+)\"\\s*>");
    for (std::sregex_iterator it(text.begin(), text.end(), declaration), end; it != end; ++it)
        catalogues[(*it)[1].str()] = suite / (*it)[2].str();
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
