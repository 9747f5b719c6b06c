#pragma once
// Catalogue documents whose shape is not fixed: JSON lists of stations under all kinds of member
// names, ad-hoc XML directories, SPI service information and the status pages of streaming
// servers. A parser turns a stream of (key, text) pairs and nested scopes into stations through
// the base class TOrvoTunedexParser and the keyword table that maps document keys to station
// fields; every station it completes goes at once to the receiver.
//
// Thread-safety: a parser belongs to the thread that parses one document and is then destroyed.
// The keyword table is constant data, read from any thread without locks.

#include "nuv/Nuv.Web.h"
#include "plugin/Orvo.Tunedex.Core.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class TNuvStream;
class TOrvoTunedexParser;

// Document keys and the station fields they fill. Keys are compared exactly, letter case included.
class TOrvoTunedexKeywords {
public:
    TOrvoTunedexKeywords() = delete;

    enum TTarget : uint8_t {
        ktNone,
        ktBitrate,
        ktName,
        ktCountry,
        ktDescription,
        ktFileFormat,
        ktGenre,
        ktFileName,
        ktHomeURL,
        ktLogo,
        // The text replaces the folder relative addresses are resolved against.
        ktFolder,
        // The key's whole value, and everything inside it, is ignored.
        ktSkip,
    };
    struct TCode {
        TTarget Target = ktNone;
        // The value's separators become ";".
        bool Split = false;
        // The value is added to the field's ";"-separated list instead of replacing it.
        bool Merge = false;
        bool operator==(const TCode&) const = default;
    };

    // The code of a key; a key not in the table whose text contains "image" fills the logo, any
    // other fills nothing.
    static TCode Lookup(std::u16string_view key);
    // The same for a key given as UTF-8 bytes, without converting it.
    static TCode Lookup(std::string_view key);
    static bool IsSkipped(std::u16string_view key) { return Lookup(key).Target == ktSkip; }
};

// A parser class as a value: its name and how to make a parser of it.
class TOrvoTunedexParserClass {
public:
    using TFactory = std::unique_ptr<TOrvoTunedexParser> (*)(TOrvoTunedexProvider* provider,
                                                             const TOrvoStationReceiver& receiver,
                                                             const TNuvWebURL& address);
    constexpr TOrvoTunedexParserClass(std::u16string_view name, TFactory factory)
        : FName(name), FFactory(factory) {}
    std::u16string_view Name() const { return FName; }
    std::unique_ptr<TOrvoTunedexParser> Create(TOrvoTunedexProvider* provider,
                                               const TOrvoStationReceiver& receiver,
                                               const TNuvWebURL& address) const {
        return FFactory(provider, receiver, address);
    }

private:
    std::u16string_view FName;
    TFactory FFactory;
};

// The station assembly every parser shares. A document is read as values (SetValue) inside nested
// scopes (BeginObject, EndObject): a scope starts from a copy of the station around it, and a scope
// that sets a new stream address ends as one station while the values set inside it vanish with
// it; a scope that sets no address leaves its values to the scope around it.
//
// Failures: a document that cannot be read raises EOrvoTunedexDocumentError with the reason, and
// so does one that stops at an error (then after the stations read before it); exceptions of the
// receiver leave Parse unchanged.
class TOrvoTunedexParser {
public:
    // Scopes nested deeper than this are not opened: their values and everything inside them are
    // ignored, so a hostile document can neither exhaust the stack nor make a station copy per level.
    static constexpr size_t kMaxScopeDepth = 256;

    // `address` is the document's address (its header lines are ignored); `provider` is not owned
    // and may be null.
    TOrvoTunedexParser(TOrvoTunedexProvider* provider, TOrvoStationReceiver receiver,
                       const TNuvWebURL& address);
    virtual ~TOrvoTunedexParser();
    TOrvoTunedexParser(const TOrvoTunedexParser&) = delete;
    TOrvoTunedexParser& operator=(const TOrvoTunedexParser&) = delete;

    // Reads the document from the stream's start.
    virtual void Parse(TNuvStream& stream) = 0;

    // Makes a parser of the class, parses the stream with it and destroys it.
    static void ParseDocument(const TOrvoTunedexParserClass& cls, TNuvStream& stream,
                              const TNuvWebURL& address, TOrvoTunedexProvider* provider,
                              const TOrvoStationReceiver& receiver);

    // Scheme, "://", host and ":port" (when above 0) of the document's address.
    const std::u16string& SiteRoot() const { return FSiteRoot; }
    // The document's address up to and including its last ":", "\" or "/".
    const std::u16string& DocumentFolder() const { return FDocumentFolder; }
    TOrvoTunedexProvider* Provider() const { return FProvider; }
    // The station being assembled.
    TOrvoRadioStationInfo& Station() { return FStation; }

    // Stores the text in the field the key names (see TOrvoTunedexKeywords).
    void SetValue(std::u16string_view key, std::u16string_view text);
    void SetValue(TOrvoTunedexKeywords::TCode code, std::u16string_view text);
    // The same, taking over the text where it is stored as it is.
    void SetValue(TOrvoTunedexKeywords::TCode code, std::u16string&& text);
    // Opens a scope: the current station is saved and keeps its values.
    void BeginObject();
    // Closes a scope: when it changed the stream address, emits the station and returns to the
    // saved one; otherwise keeps the current values. Without an open scope, emits the station.
    void EndObject();
    // Completes the current station (addresses resolved, format and bit rate filled in) and hands
    // it to the receiver; nothing without a stream address. The station is not cleared.
    void EmitStation();
    // Scopes open now, the ignored ones beyond kMaxScopeDepth included.
    size_t ScopeDepth() const { return FSavedCount + FIgnoredScopes; }
    // Stations handed to the receiver so far.
    size_t Emitted() const { return FEmitted; }

    // An address relative to the document made absolute; "" and addresses with a scheme and "://"
    // stay, "www." gets "http://", "/..." the site root, "./..." and anything else the folder.
    std::u16string ResolveAddress(std::u16string_view text) const;
    // The upper-case text after the name's last "." that follows its last space, "\\", "/" or
    // ":", or ""; for an address with a scheme and "://" only the part before its first "?" counts.
    static std::u16string AddressExtension(std::u16string_view name);
    // The first of " / ", "/", "|" and ", " that the text holds becomes ";" everywhere.
    static std::u16string SplitSeparators(std::u16string_view text);
    // The list with the text appended as an item, unless it is one already.
    static std::u16string MergeKeyList(std::u16string_view list, std::u16string_view text);
    // A media type or format name as a short format: "aacp" gives "AAC+", "mpeg" and "mpeg3" "MP3",
    // anything of up to 5 characters its upper case, anything longer "".
    static std::u16string NormalizeFormat(std::u16string_view text);
    // The number whose digits end nearest before `end` (the whole text for npos), when it lies
    // between 8 and 768; else 0.
    static int32_t ParseBitrate(std::u16string_view text, size_t end = std::u16string_view::npos);

private:
    // The station's text field of a target, or null.
    std::u16string* TextField(TOrvoTunedexKeywords::TTarget target);

    TOrvoStationReceiver FReceiver;
    std::u16string FSiteRoot;
    std::u16string FDocumentFolder;
    TOrvoTunedexProvider* FProvider;
    // The saved stations are the first FSavedCount.
    std::vector<TOrvoRadioStationInfo> FSaved;
    size_t FSavedCount = 0;
    TOrvoRadioStationInfo FStation;
    size_t FIgnoredScopes = 0;
    size_t FEmitted = 0;
};

// JSON: objects are scopes, arrays repeat their key for every element, every other value is
// stored under its member name. A document that is not JSON raises EOrvoTunedexDocumentError.
class TOrvoTunedexParserJSON : public TOrvoTunedexParser {
public:
    using TOrvoTunedexParser::TOrvoTunedexParser;
    static const TOrvoTunedexParserClass& Class();
    void Parse(TNuvStream& stream) override;
};

// Generic XML: an element with text and without an "id" or "format" attribute is a value of its
// parent, named by its lower-cased name; every other element is a scope. Malformed XML ends the
// document with EOrvoTunedexDocumentError naming the place, after the stations read before it.
class TOrvoTunedexParserXML : public TOrvoTunedexParser {
public:
    using TOrvoTunedexParser::TOrvoTunedexParser;
    static const TOrvoTunedexParserClass& Class();
    void Parse(TNuvStream& stream) override;

    class TLoader;

private:
    // The loader of the innermost element whose scope is not opened yet.
    TLoader* FPending = nullptr;
};

// SPI service information: one station per audio stream bearer of a service, with the service's
// names, description, link and widest image as logo. Bearers of broadcast systems (an identifier
// such as "dab:..." or "fm:...") are no stream addresses and give no station.
class TOrvoTunedexParserSPI : public TOrvoTunedexParser {
public:
    using TOrvoTunedexParser::TOrvoTunedexParser;
    static const TOrvoTunedexParserClass& Class();
    void Parse(TNuvStream& stream) override;

    // What a service's audio bearer gives; kept until the service ends, so each station carries
    // everything the service declares, wherever its bearers stand.
    struct TBearer {
        std::u16string FileName;
        std::u16string FileFormat;
        int32_t Bitrate = 0;
    };
    std::vector<TBearer>& Bearers() { return FBearers; }
    // Emits one station per bearer of the service just read, then clears the station.
    void EndService();

private:
    std::vector<TBearer> FBearers;
};

// A streaming server's status page: the page is cut into one block per mount point, and each
// block's values are read by their labels, in English and in Russian.
class TOrvoTunedexParserXSL : public TOrvoTunedexParser {
public:
    using TOrvoTunedexParser::TOrvoTunedexParser;
    static const TOrvoTunedexParserClass& Class();
    void Parse(TNuvStream& stream) override;

    // The page's text: a byte-order mark chooses UTF-8 or UTF-16; without one the bytes are UTF-8
    // unless they are not valid UTF-8, in which case the legacy 8-bit code page decodes them all.
    static std::u16string DecodePage(std::string_view bytes);
    // Reads the stations of a page already decoded.
    void ParseText(std::u16string_view page);
};

// A catalogue at any address the user types: the parser is chosen from the response's content
// type and the document's first bytes. A streaming server's status page is read from the server's
// JSON status first, and from the page itself only when that gives no station.
//
// Data: the address as typed, possibly followed by request header lines after a CR LF.
//
// Thread-safety: a provider object belongs to one thread at a time; the class operations may be
// called from any thread.
class TOrvoTunedexCustomProvider : public TOrvoTunedexProvider {
public:
    static const TOrvoTunedexProviderClass& Class();
    const TOrvoTunedexProviderClass& ClassType() const override { return Class(); }
    static std::u16string DisplayName() { return u"@Tunedex\\CustomCatalog"; }
    static bool HasAddress() { return true; }
    static std::u16string SupportedFormats() { return u"JSON, XML, XSL"; }

    std::u16string DocumentURL() const override { return Data; }
    using TOrvoTunedexProvider::AsyncFetch;
    // A document no parser is chosen for gives no stations and no error.
    void AsyncFetch(TNuvStream& stream, std::u16string_view contentType,
                    const TOrvoStationReceiver& receiver) override;

    // The parser class for the content type and the document's first 1024 bytes, or null; the
    // stream is left at its start.
    static const TOrvoTunedexParserClass* ChooseParser(std::u16string_view contentType, TNuvStream& stream);
    // The address of the JSON status beside a status page: "/status.xsl" gives
    // "/status-json.xsl", the root "/json.xsl"; header lines stay with it.
    static TNuvWebURL StatusAddress(const TNuvWebURL& page);
};
