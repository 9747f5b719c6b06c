#pragma once
// PLS playlists: the INI-style "[playlist]" section with FileN, TitleN and LengthN keys.
//
// Thread-safety: a reader or writer is used by one thread at a time.

#include "zan/Zan.Playlists.h"

class TPLSPlaylistReader : public TZanPlaylistReader {
public:
    explicit TPLSPlaylistReader(const std::u16string& fileName) : TZanPlaylistReader(fileName) {}
    TPLSPlaylistReader(TNuvStream* stream, bool ownsStream) : TZanPlaylistReader(stream, ownsStream) {}
    // Text without a byte-order mark is read in the legacy code page. NumberOfEntries says how
    // many entries there are, missing keys included, but never more than the section has lines,
    // so a false count cannot make work out of nothing. Without NumberOfEntries the highest FileN
    // counts.
    void Load(TZanPlaylistSummary* summary, IZanPlaylistItemsReceiver* receiver) override;
};

// Writes the legacy 8-bit code page; the entry count and version follow the last entry when the
// writer finishes.
class TPLSPlaylistWriter : public TZanPlaylistTextWriter {
public:
    TPLSPlaylistWriter(TNuvStream* stream, bool ownsStream);
    ~TPLSPlaylistWriter() override;
    void WriteHeader() override;
    void WriteItem(const TZanCustomFileInfo& info, int32_t queueIndex) override;

protected:
    void DoFinish() override;

private:
    int32_t FCount = 0;
};

extern const TZanPlaylistReaderClass kPLSPlaylistReaderClass;
extern const TZanPlaylistWriterClass kPLSPlaylistWriterClass;
