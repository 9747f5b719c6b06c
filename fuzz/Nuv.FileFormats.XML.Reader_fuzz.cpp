// Any bytes given to the XML reader end in a node stream or one ENuvXMLException. The first byte
// picks the settings, so the fuzzer also explores fragments, non-namespace reading and the limits.

#include "nuv/Nuv.FileFormats.XML.Reader.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const uint8_t options = data[0];
    TNuvXMLReaderSettings settings;
    settings.Conformance = TNuvXMLConformance(options % 3);
    settings.NamespaceAware = !(options & 0x04);
    settings.ValidateCharacters = !(options & 0x08);
    settings.SkipWhitespace = options & 0x10;
    settings.SkipComments = options & 0x20;
    if (options & 0x40)
        settings.MaxCharactersInDocument = 64;
    if (options & 0x80)
        settings.DefaultEncoding = u"ISO-8859-5";
    TNuvMemoryStream stream(data + 1, size - 1);
    TNuvXMLTextReader reader(settings, &stream);
    try {
        while (reader.Read()) {
            (void)reader.QualifiedName();
            (void)reader.GetValue();
            (void)reader.LookupNamespace(reader.Prefix());
            while (reader.MoveToNextAttribute()) {
                (void)reader.QualifiedName();
                (void)reader.GetValue();
            }
            std::u16string value;
            reader.TryGetAttribute(u"x:y", value);
            reader.MoveToElement();
        }
    } catch (const ENuvXMLException&) {
    }
    return 0;
}
