// Any bytes given to the playlist readers end in entries or none: no crash, no hang, no read
// past the input, no allocation far beyond it. PLAYLIST_READER chooses the way in: 0 the
// registry's detection, 1 M3U, 2 PLS, 3 XSPF. Entries found are written again as M3U8 and XSPF,
// which walks every value the readers stored.

#include "zan/Zan.FileFormats.M3U.h"
#include "zan/Zan.FileFormats.PLS.h"
#include "zan/Zan.FileFormats.XSPF.h"

#include "nuv/Nuv.FileFormats.XML.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#ifndef PLAYLIST_READER
#define PLAYLIST_READER 0
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TNuvMemoryStream input(data, size);
    std::unique_ptr<TZanPlaylistReader> reader;
#if PLAYLIST_READER == 0
    if (!ZanPlaylistFormats().Detect(input, reader))
        return 0;
#elif PLAYLIST_READER == 1
    reader = std::make_unique<TM3UPlaylistReader>(&input, false);
#elif PLAYLIST_READER == 2
    reader = std::make_unique<TPLSPlaylistReader>(&input, false);
#else
    reader = std::make_unique<TXSPFReader>(&input, false);
#endif
    reader->SetBaseAddress(u"http://host/a/b/list?x=1");
    std::vector<std::shared_ptr<IZanFileInfo>> infos;
    TZanPlaylistItemsCallback receiver(
        [&](const std::u16string&, std::shared_ptr<IZanFileInfo> info, int32_t) {
            if (info)
                infos.push_back(std::move(info));
        },
        [](const std::u16string&, bool) {});
    TZanPlaylistSummary summary;
    try {
        reader->Load(&summary, &receiver);
    } catch (const ENuvXMLDocument&) {
        // A preimage block with two top-level elements: documented, and what came before stays.
    }
    std::unique_ptr<TNuvXMLDocument> preimage = reader->TakePreimage();
    std::unique_ptr<TZanSettingsSection> settings = reader->TakeSettings();

    TNuvMemoryStream output;
    {
        TM3U8PlaylistWriter m3u(&output, false);
        m3u.WriteHeader();
        for (const auto& info : infos)
            m3u.WriteItem(*info->GetData(), -1);
        m3u.Finish();
    }
    {
        TXSPFWriter xspf(&output, false);
        xspf.WriteHeader();
        for (const auto& info : infos)
            xspf.WriteItem(*info->GetData(), 0);
        try {
            if (preimage)
                xspf.WritePreimage(*preimage);
        } catch (const ENuvXMLException&) {
            // A preimage whose prefixes no declaration binds: refused, as documented.
            return 0;
        }
        if (settings)
            xspf.WriteSettings(*settings);
        xspf.WriteSummary(summary);
        xspf.Finish();
    }
    return 0;
}
