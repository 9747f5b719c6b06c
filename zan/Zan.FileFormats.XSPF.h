#pragma once
// XSPF version 1 playlists, with the host's extension blocks: per-track technical data and state,
// groups of tracks, and the playlist-level settings, summary and "preimage" (an XML subtree kept
// for the host).
//
// Thread-safety: a reader or writer is used by one thread at a time; the loader tree behind every
// reader is shared by all threads and keeps no state of a load.

#include "zan/Zan.Playlists.h"

#include "nuv/Nuv.FileFormats.XML.Writer.h"

#include <memory>
#include <utility>
#include <vector>

// The web origin of the host's namespace and extension addresses.
inline constexpr std::u16string_view kXSPFHostOrigin = u"https://orvo.tunedex.org";
inline constexpr std::u16string_view kXSPFNamespace = u"http://xspf.org/ns/0/";

class EOrvoXSPFError : public Exception {
public:
    using Exception::Exception;
};

// "Unexpected state: %d (%s)".
class EOrvoXSPFUnexpectedState : public EOrvoXSPFError {
public:
    EOrvoXSPFUnexpectedState(int state, std::u16string_view text);
};

struct TXSPFSchema {
    // A file URI or path as written in a playlist to a path: percent escapes decoded (as UTF-8
    // where they form it), addresses in URL form left alone.
    static std::u16string URIToPath(std::u16string_view text);
    // A path to the form a playlist stores: a file URI, or the relative name with '/' separators
    // when `relative`. A '%' is escaped so that reading never decodes what was not encoded.
    static std::u16string PathToURI(std::u16string_view path, bool relative);
};

class TXSPFReader : public TZanPlaylistReader {
public:
    explicit TXSPFReader(const std::u16string& fileName);
    TXSPFReader(TNuvStream* stream, bool ownsStream);
    ~TXSPFReader() override;

    // Malformed XML ends the load quietly with the entries before the fault; without a receiver
    // the load stops at the track list.
    void Load(TZanPlaylistSummary* summary, IZanPlaylistItemsReceiver* receiver) override;
    std::u16string ResolveFileName(const std::u16string& name) override;
    // Raise EOrvoXSPFError "Content was not loaded" before Load. The preimage declares on its
    // top element the prefixes it uses from the playlist element (the host's "orvo" aside, which
    // every playlist declares), so that it stands on its own when written again.
    std::unique_ptr<TNuvXMLDocument> TakePreimage() override;
    std::unique_ptr<TZanSettingsSection> TakeSettings() override;

private:
    friend struct TXSPFLoaderAccess;
    bool FLoaded = false;
    std::u16string FCurrentFolder, FStoredFolder;
    int FRelocation = 0; // 0 none or decided against, 1 undecided, 2 relocate
    std::unique_ptr<TNuvXMLDocument> FPreimage;
    std::unique_ptr<TZanSettingsSection> FSettings;
    // Namespace declarations of the playlist element, for prefixes the preimage uses but does not
    // declare itself.
    std::vector<std::pair<std::u16string, std::u16string>> FDeclarations;
};

class TXSPFWriter : public TZanPlaylistWriter {
public:
    TXSPFWriter(TNuvStream* stream, bool ownsStream, std::u16string fileName = {});
    ~TXSPFWriter() override;

    std::u16string ConvertFileName(const std::u16string& name) override;
    bool SupportsExtensions() const override { return true; }
    void WriteHeader() override;
    void BeginGroup(const std::u16string& name, bool flag) override;
    // Raises EOrvoXSPFUnexpectedState after a playlist-level block.
    void WriteItem(const TZanCustomFileInfo& info, int32_t queueIndex) override;
    // Raises ENuvXMLException when the subtree's names are not namespace-well-formed (a prefix
    // it never declares); nothing can be written after that.
    void WritePreimage(const TNuvXMLDocument& document) override;
    void WriteSettings(const TZanSettingsSection& lines) override;
    void WriteSummary(const TZanPlaylistSummary& summary) override;

protected:
    void DoFinish() override;

private:
    void CloseTrackList();
    void WriteProps(std::u16string_view application, const TZanSettingsSection& lines);
    int FGroupState = 0; // 0 none, 1 flag true, 2 flag false
    std::u16string FGroupName;
    int FTrackListState = 0; // 0 not started, 1 open, 2 closed
    bool FHeaderWritten = false;
    std::unique_ptr<TNuvXMLWriter> FWriter;
};

extern const TZanPlaylistReaderClass kXSPFReaderClass;
extern const TZanPlaylistWriterClass kXSPFWriterClass;
