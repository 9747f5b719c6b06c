// A catalogue document parser on any bytes: it hands over stations, each with a stream address,
// and either ends normally or raises its document error with a reason; nothing else escapes.
// CUSTOM_PARSER names the parser class (JSON, XML, SPI or XSL), so one source serves all four.

#include "nuv/Nuv.Streams.h"
#include "plugin/Orvo.Tunedex.Providers.Custom.h"

#include <cstddef>
#include <cstdint>

#define CUSTOM_CLASS_OF(name) TOrvoTunedexParser##name
#define CUSTOM_CLASS(name) CUSTOM_CLASS_OF(name)

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TNuvMemoryStream stream(data, size);
    auto parser = CUSTOM_CLASS(CUSTOM_PARSER)::Class().Create(
        nullptr,
        [](const TOrvoRadioStationInfo& station) {
            if (station.FileName.empty())
                __builtin_trap();
        },
        TNuvWebURL::ParseHttp(u"http://fuzz.example:8000/dir/status.xsl?x=/y"));
    try {
        parser->Parse(stream);
    } catch (const EOrvoTunedexDocumentError& e) {
        if (e.Message().empty())
            __builtin_trap();
    }
    return 0;
}
