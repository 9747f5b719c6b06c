#pragma once
// Playlist readers and writers, the receiver that readers deliver entries to, the text rules of
// the text-based formats, and the registry that picks a reader by a playlist's first bytes.
//
// A reader is used once: construct (over a file, a stream or bytes), optionally give it base
// folders or the playlist's own address, Load, then optionally TakePreimage/TakeSettings. A
// writer is driven as WriteHeader, then BeginGroup/WriteItem, then the playlist-level blocks,
// then Finish (or destruction, which finishes and swallows errors).
//
// Thread-safety: a reader or writer is used by one thread at a time. The registry is filled once,
// on first use, and is read-only afterwards, so any thread may use it.

#include "zan/Zan.FileInfo.h"

#include "nuv/Nuv.Exceptions.h"
#include "nuv/Nuv.Streams.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class TNuvXMLDocument;

// The longest file name or address an entry may have, in UTF-16 units. Real ones are far
// shorter; a longer line in a playlist is no name, and readers pass it over rather than copy it
// through every step of an entry.
constexpr size_t kZanMaxNameLength = 65536;

// Name=value lines of a settings block, in order; names compare ignoring ASCII case.
class TZanSettingsSection {
public:
    size_t Count() const { return FLines.size(); }
    const std::pair<std::u16string, std::u16string>& operator[](size_t index) const { return FLines[index]; }
    void Add(std::u16string_view name, std::u16string_view value) { FLines.emplace_back(name, value); }
    // The value of the last line; call only after Add.
    std::u16string& LastValue() { return FLines.back().second; }
    // The value of the first line of that name, or null.
    const std::u16string* Find(std::u16string_view name) const;
    void Clear() { FLines.clear(); }
    bool operator==(const TZanSettingsSection&) const = default;

private:
    std::vector<std::pair<std::u16string, std::u16string>> FLines;
};

// Converts file names between their form in a playlist and their full form.
class IZanPlaylistFilerContext {
public:
    virtual ~IZanPlaylistFilerContext() = default;
    virtual std::u16string ConvertFileName(const std::u16string& name) = 0;
};

// Where a reader delivers what it finds.
class IZanPlaylistItemsReceiver {
public:
    virtual ~IZanPlaylistItemsReceiver() = default;
    // A group of entries begins (before its first entry).
    virtual void AddGroup(const std::u16string& name, bool flag) = 0;
    // One entry: its resolved name, its info (none for a bare M3U line), its queue index or -1.
    virtual void AddItem(const std::u16string& fileName, std::shared_ptr<IZanFileInfo> info,
                         int32_t queueIndex) = 0;
};

// A receiver made of two closures (either may be empty).
class TZanPlaylistItemsCallback : public IZanPlaylistItemsReceiver {
public:
    using TOnGroup = std::function<void(const std::u16string& name, bool flag)>;
    using TOnItem = std::function<void(const std::u16string& fileName, std::shared_ptr<IZanFileInfo> info,
                                       int32_t queueIndex)>;
    explicit TZanPlaylistItemsCallback(TOnItem onItem, TOnGroup onGroup = {})
        : FOnItem(std::move(onItem)), FOnGroup(std::move(onGroup)) {}
    void AddGroup(const std::u16string& name, bool flag) override {
        if (FOnGroup)
            FOnGroup(name, flag);
    }
    void AddItem(const std::u16string& fileName, std::shared_ptr<IZanFileInfo> info,
                 int32_t queueIndex) override {
        if (FOnItem)
            FOnItem(fileName, std::move(info), queueIndex);
    }

private:
    TOnItem FOnItem;
    TOnGroup FOnGroup;
};

// ---------------------------------------------------------------------------------------------
// Text encodings of the text-based formats.

enum class TZanTextEncoding : uint8_t {
    None,        // no default: the legacy code page
    Legacy,      // the platform's legacy code page, single-byte or not
    Default8Bit, // the legacy code page when it is single-byte, else 7-bit ASCII
    Utf8,
    Utf16LE,
    Utf16BE,
};

// Decodes bytes: a byte-order mark chooses UTF-8 or UTF-16 (and is skipped), else `fallback`.
// Bytes invalid in the chosen encoding make the whole text decode again as Default8Bit, so
// decoding never fails. A UTF-16 text with an odd byte count loses its last byte.
std::u16string ZanDecodeText(std::string_view bytes, TZanTextEncoding fallback);
// Decodes UTF-8; false at the first invalid sequence.
bool ZanDecodeUtf8Strict(std::string_view bytes, std::u16string& text);
// Encodes text; Default8Bit and Legacy write '?' for characters the code page lacks.
std::string ZanEncodeText(std::u16string_view text, TZanTextEncoding encoding);

// ---------------------------------------------------------------------------------------------

class TZanPlaylistFiler {
public:
    virtual ~TZanPlaylistFiler();
    TZanPlaylistFiler(const TZanPlaylistFiler&) = delete;
    TZanPlaylistFiler& operator=(const TZanPlaylistFiler&) = delete;

    TNuvStream* Stream() const { return FStream; }
    // The playlist's file name; empty for a filer made over a stream.
    const std::u16string& FileName() const { return FFileName; }

protected:
    TZanPlaylistFiler(TNuvStream* stream, bool ownsStream, std::u16string fileName = {});
    TNuvStream* FStream;
    bool FOwnsStream;
    std::u16string FPath; // reader: the chosen base folder; writer: the base path
    std::u16string FFileName;
};

class TZanPlaylistReader : public TZanPlaylistFiler, public IZanPlaylistFilerContext {
public:
    // Opens the file (buffered, read-only) and takes its folder as base folder.
    explicit TZanPlaylistReader(const std::u16string& fileName);
    // Reads `stream` from its position; the stream is freed with the reader when `ownsStream`.
    TZanPlaylistReader(TNuvStream* stream, bool ownsStream);

    // Resolves a name as written in the playlist to a full name.
    virtual std::u16string ResolveFileName(const std::u16string& name);
    std::u16string ConvertFileName(const std::u16string& name) override { return ResolveFileName(name); }
    // Delivers every entry to the receiver (nothing happens without one) and fills the summary
    // where the format carries one.
    virtual void Load(TZanPlaylistSummary* summary, IZanPlaylistItemsReceiver* receiver) = 0;
    // The block kept for the host, or none; the caller takes it.
    virtual std::unique_ptr<TNuvXMLDocument> TakePreimage();
    virtual std::unique_ptr<TZanSettingsSection> TakeSettings();

    // A candidate folder for relative names; the latest added is tried first.
    void AddBaseFolder(const std::u16string& folder);
    // The playlist's own location: a web address makes relative names resolve against it as
    // links do (RFC 3986); a file name or file URI adds its folder as base folder.
    void SetBaseAddress(const std::u16string& address);
    // The web address set by SetBaseAddress, or empty.
    const std::u16string& BaseAddress() const { return FBaseAddress; }

private:
    std::vector<std::u16string> FBaseFolders;
    std::u16string FBaseAddress; // a web address to resolve against, when set
    bool FFolderChosen = false;
};

class TZanPlaylistTextReader : public TZanPlaylistReader {
public:
    // The whole stream is decoded on construction, with `defaultEncoding` when no byte-order mark
    // says otherwise (a subclass passes its own; see the constructors of the formats).
    TZanPlaylistTextReader(const std::u16string& fileName, TZanTextEncoding defaultEncoding);
    TZanPlaylistTextReader(TNuvStream* stream, bool ownsStream, TZanTextEncoding defaultEncoding);
    const std::u16string& Text() const { return FText; }

protected:
    std::u16string FText;

private:
    void Decode(TZanTextEncoding defaultEncoding);
};

class TZanPlaylistWriter : public TZanPlaylistFiler, public IZanPlaylistFilerContext {
public:
    // The form to store for a full name: relative to the base path when one is set.
    std::u16string ConvertFileName(const std::u16string& name) override;
    virtual bool SupportsExtensions() const { return false; }
    // The folder the playlist will live in; names below it are written relative to it.
    virtual void SetBasePath(const std::u16string& path);
    virtual void WriteHeader() {}
    virtual void BeginGroup(const std::u16string&, bool) {}
    virtual void WriteItem(const TZanCustomFileInfo& info, int32_t queueIndex) = 0;
    virtual void WritePreimage(const TNuvXMLDocument&) {}
    virtual void WriteSettings(const TZanSettingsSection&) {}
    virtual void WriteSummary(const TZanPlaylistSummary&) {}
    // Writes what ends the playlist; later calls do nothing. Stream errors propagate.
    void Finish();

    // Name relative to a base path as the writers store it (exposed for the formats' tests).
    static std::u16string MakeRelative(const std::u16string& basePath, const std::u16string& name);

protected:
    TZanPlaylistWriter(TNuvStream* stream, bool ownsStream, std::u16string fileName = {});
    // Destroying without Finish finishes quietly; a subclass with a trailer calls Finish in its
    // own destructor, while its parts still exist.
    void FinishQuietly() noexcept;
    virtual void DoFinish() {}

private:
    bool FFinished = false;
};

class TZanPlaylistTextWriter : public TZanPlaylistWriter {
public:
    // Writes the text and, when asked, CR LF.
    void WriteLine(std::u16string_view text, bool endLine = true);

protected:
    // Writes the encoding's byte-order mark unless `preamble` is false.
    TZanPlaylistTextWriter(TNuvStream* stream, bool ownsStream, TZanTextEncoding encoding, bool preamble);
    TZanTextEncoding FEncoding;
};

// ---------------------------------------------------------------------------------------------

// A reader or writer class as a value.
struct TZanPlaylistReaderClass {
    const char16_t* Name;
    std::unique_ptr<TZanPlaylistReader> (*FromStream)(TNuvStream* stream, bool ownsStream);
    std::unique_ptr<TZanPlaylistReader> (*FromFile)(const std::u16string& fileName);
};
struct TZanPlaylistWriterClass {
    const char16_t* Name;
    std::unique_ptr<TZanPlaylistWriter> (*FromStream)(TNuvStream* stream, bool ownsStream);
};

class TZanPlaylistFormats {
public:
    struct TFormatInfo {
        std::u16string FileMask; // "*.m3u;"
        std::u16string Signature;
        std::u16string Description;
        const TZanPlaylistReaderClass* ReaderClass = nullptr;
        const TZanPlaylistWriterClass* WriterClass = nullptr;
    };

    // An empty registry; ZanPlaylistFormats() is the one the program uses.
    TZanPlaylistFormats() = default;

    void Register(std::u16string fileMask, std::u16string description, std::u16string signature,
                  const TZanPlaylistReaderClass* readerClass, const TZanPlaylistWriterClass* writerClass);
    // Picks a reader by the stream's first 256 bytes and makes it over the stream (not owned,
    // read from position 0). False when no signature is found.
    bool Detect(TNuvStream& stream, std::unique_ptr<TZanPlaylistReader>& reader) const;
    // The first record whose signature occurs in the text.
    bool FindBySignature(std::u16string_view text, TFormatInfo& info) const;
    // The first record with a writer whose mask names the extension ("m3u", ".pls"), any case.
    bool FindByExtension(std::u16string_view extension, TFormatInfo& info) const;
    // The masks of the readable formats, in registration order: "*.m3u;*.m3u8;*.pls;*.xspf;".
    std::u16string GetReadableMasks() const;
    const std::vector<TFormatInfo>& Formats() const { return FFormats; }

private:
    std::vector<TFormatInfo> FFormats;
};

// The registry with M3U, M3U8, PLS and XSPF, in that order.
const TZanPlaylistFormats& ZanPlaylistFormats();

// Reads a playlist of any registered format from the stream (from its start; not owned), relative
// entries resolving against `baseAddress` (the playlist's own address or file name; may be
// empty). False when the format is not recognised; stream errors propagate.
bool ZanReadPlaylist(TNuvStream& stream, const std::u16string& baseAddress,
                     IZanPlaylistItemsReceiver& receiver, TZanPlaylistSummary* summary = nullptr);
