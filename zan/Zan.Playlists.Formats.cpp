#include "zan/Zan.FileFormats.M3U.h"
#include "zan/Zan.FileFormats.PLS.h"
#include "zan/Zan.FileFormats.XSPF.h"
#include "zan/Zan.Playlists.h"

const TZanPlaylistFormats& ZanPlaylistFormats() {
    static const TZanPlaylistFormats formats = [] {
        TZanPlaylistFormats made;
        made.Register(u"*.m3u;", u"M3U Playlists", u"#EXTM3U", &kM3UPlaylistReaderClass,
                      &kM3UPlaylistWriterClass);
        made.Register(u"*.m3u8;", u"M3U Playlists (Unicode)", u"#EXTM3U", &kM3UPlaylistReaderClass,
                      &kM3U8PlaylistWriterClass);
        made.Register(u"*.pls;", u"Winamp Playlists", u"[playlist]", &kPLSPlaylistReaderClass,
                      &kPLSPlaylistWriterClass);
        // The signature is the host part of the XSPF namespace.
        made.Register(u"*.xspf;", u"XML Sharable Playlists", u"xspf.org", &kXSPFReaderClass,
                      &kXSPFWriterClass);
        return made;
    }();
    return formats;
}

bool ZanReadPlaylist(TNuvStream& stream, const std::u16string& baseAddress,
                     IZanPlaylistItemsReceiver& receiver, TZanPlaylistSummary* summary) {
    std::unique_ptr<TZanPlaylistReader> reader;
    if (!ZanPlaylistFormats().Detect(stream, reader))
        return false;
    if (!baseAddress.empty())
        reader->SetBaseAddress(baseAddress);
    reader->Load(summary, &receiver);
    return true;
}
