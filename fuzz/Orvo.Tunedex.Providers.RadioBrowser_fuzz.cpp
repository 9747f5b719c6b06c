// The Radio Browser station list parser on any bytes: it either hands over stations or raises its
// document error with a reason, and nothing else.

#include "nuv/Nuv.Streams.h"
#include "plugin/Orvo.Tunedex.Providers.RadioBrowser.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TNuvMemoryStream stream(data, size);
    size_t stations = 0;
    try {
        TOrvoTunedexRadioBrowser::ParseStations(stream, [&](const TOrvoRadioStationInfo& station) {
            ++stations;
            // Tags come as a key list: no comma survives.
            if (station.Tags.find(u',') != std::u16string::npos)
                __builtin_trap();
        });
    } catch (const EOrvoTunedexDocumentError& e) {
        // Refused before any station, and always with a reason.
        if (stations != 0 || e.Message().empty())
            __builtin_trap();
    }
    // The editor's walk over value lists reads the same documents quietly.
    size_t objects = 0;
    TOrvoTunedexRadioBrowser::ForEachObject(stream, [&](const TNuvJSONNode&) { ++objects; });
    if (objects < stations)
        __builtin_trap();
    return 0;
}
