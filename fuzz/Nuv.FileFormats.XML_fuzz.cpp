// Any bytes given to the XML document loaders end quietly: no crash, no read past the input, no
// allocation beyond what the input can describe. XML_DOCUMENT_MAGIC, when defined, is put in
// front of the input, so one source serves the text form and both binary forms. A loaded
// document is saved in both forms again, which walks every node it built.

#include "nuv/Nuv.FileFormats.XML.Reader.h"
#include "nuv/Nuv.FileFormats.XML.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

// A small loader tree, as the catalogue readers declare them.
class TAny : public TNuvXMLNodeLoader {
public:
    explicit TAny(TNuvXMLNameTable& names) : TNuvXMLNodeLoader(names) {
        ChildLoaders().SetDefault(NuvXMLLoaderClass<TAny>());
        ChildLoaders().AddText(u"title", [](void* context, const std::u16string& text) {
            *static_cast<size_t*>(context) += text.size();
        });
    }
    void OnAttributes(void* context, TNuvXMLTextReader& reader) override {
        std::u16string value;
        if (reader.TryGetAttribute(u"href", value))
            *static_cast<size_t*>(context) += value.size();
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string input;
#ifdef XML_DOCUMENT_MAGIC
    input = XML_DOCUMENT_MAGIC;
#else
    // The binary forms have targets of their own.
    if (size >= 4 && (std::memcmp(data, "SXML", 4) == 0 || std::memcmp(data, "BXML", 4) == 0))
        return 0;
    static TNuvXMLDocumentLoader* loader = [] {
        auto* made = new TNuvXMLDocumentLoader;
        made->Loaders().SetDefault(NuvXMLLoaderClass<TAny>());
        return made;
    }();
    size_t seen = 0;
    TNuvMemoryStream text(data, size);
    loader->Load(&seen, text);
#endif
    input.append(reinterpret_cast<const char*>(data), size);
    TNuvMemoryStream stream(input.data(), input.size());
    TNuvXMLDocument document;
    document.AllowMultipleRoots = size > 0 && (data[size - 1] & 1);
    document.LoadFromStream(stream);
    TNuvMemoryStream binary, xml;
    document.SaveToStream(binary, TNuvXMLDocument::SaveBinary);
    if (document.Count() <= 1)
        document.SaveToStream(xml, TNuvXMLDocument::SaveText | TNuvXMLDocument::SaveIndented);
    binary.SetPosition(0);
    TNuvXMLDocument again;
    again.AllowMultipleRoots = document.AllowMultipleRoots;
    again.LoadFromStream(binary);
    if (again.Count() != document.Count())
        __builtin_trap(); // what was saved in the binary form must load again
    return 0;
}
