#pragma once
// M3U playlists with their extended directives (#EXTINF with duration, attributes and title,
// #EXTGRP, #EXTALBUMARTURL): one reader for ".m3u" and ".m3u8", a writer in the legacy 8-bit
// code page and one in UTF-8.
//
// Thread-safety: a reader or writer is used by one thread at a time.

#include "zan/Zan.Playlists.h"

class TM3UPlaylistReader : public TZanPlaylistTextReader {
public:
    // Text without a byte-order mark is read as UTF-8 (else the 8-bit code page where it is not).
    explicit TM3UPlaylistReader(const std::u16string& fileName);
    TM3UPlaylistReader(TNuvStream* stream, bool ownsStream);
    void Load(TZanPlaylistSummary* summary, IZanPlaylistItemsReceiver* receiver) override;
};

class TM3UPlaylistWriter : public TZanPlaylistTextWriter {
public:
    // Writes the legacy 8-bit code page; characters it lacks become '?'.
    TM3UPlaylistWriter(TNuvStream* stream, bool ownsStream);
    void WriteHeader() override;
    void WriteItem(const TZanCustomFileInfo& info, int32_t queueIndex) override;

protected:
    TM3UPlaylistWriter(TNuvStream* stream, bool ownsStream, TZanTextEncoding encoding);
};

// UTF-8 without a byte-order mark.
class TM3U8PlaylistWriter : public TM3UPlaylistWriter {
public:
    TM3U8PlaylistWriter(TNuvStream* stream, bool ownsStream);
};

extern const TZanPlaylistReaderClass kM3UPlaylistReaderClass;
extern const TZanPlaylistWriterClass kM3UPlaylistWriterClass;
extern const TZanPlaylistWriterClass kM3U8PlaylistWriterClass;

// The text as one line: CR, LF and the Unicode line and paragraph separators become spaces, so
// that a value can never start a line of its own.
std::u16string ZanOneLine(std::u16string_view text);
