#pragma once
// A provider class of the tests' own, so that refreshing runs through the real download, parse,
// transaction and notification code. Its document has one station per line:
//   name|address[|genre|country|tags|format|bitrate|home page|logo|description]
// Blank lines and lines beginning with "#" are skipped; a line without "|" is malformed and
// fails the whole document, as a parser error would; a line "!reason" stops the document there
// as a parser that cannot read on does.

#include "nuv/Nuv.Exceptions.h"
#include "nuv/Nuv.Streams.h"
#include "nuv/Nuv.Strings.h"
#include "plugin/Orvo.Tunedex.Core.h"

#include <initializer_list>
#include <string>
#include <string_view>

namespace testsupport {

class TTestLineProvider : public TOrvoTunedexProvider {
public:
    static const TOrvoTunedexProviderClass& Class() {
        static const TOrvoTunedexProviderClassOf<TTestLineProvider> cls(u"TTestLineProvider");
        return cls;
    }
    static std::u16string DisplayName() { return u"@Tunedex\\TestLines"; }
    static bool HasAddress() { return true; }
    static std::u16string SupportedFormats() { return u"name|address lines"; }

    const TOrvoTunedexProviderClass& ClassType() const override { return Class(); }
    std::u16string DocumentURL() const override { return Data; }

    using TOrvoTunedexProvider::AsyncFetch;
    void AsyncFetch(TNuvStream& stream, std::u16string_view contentType,
                    const TOrvoStationReceiver& receiver) override {
        LastContentType = contentType;
        if (const auto* file = dynamic_cast<const TNuvFileStream*>(&stream))
            LastFileName = file->FileName();
        const std::string document = stream.ReadAll();
        TOrvoRadioStationInfo station;
        size_t lineNumber = 0;
        for (size_t at = 0; at < document.size();) {
            size_t end = document.find('\n', at);
            if (end == std::string::npos)
                end = document.size();
            std::string_view line(document.data() + at, end - at);
            at = end + 1;
            ++lineNumber;
            if (!line.empty() && line.back() == '\r')
                line.remove_suffix(1);
            if (line.empty() || line.front() == '#')
                continue;
            if (line.front() == '!')
                throw EOrvoTunedexDocumentError(FromUtf8(line.substr(1)));
            if (line.find('|') == std::string_view::npos)
                throw EStreamError(Format(u"Malformed line %d", lineNumber));
            station.Reset();
            std::u16string* texts[] = {&station.Name, &station.FileName,   &station.Genre, &station.Country,
                                       &station.Tags, &station.FileFormat, nullptr,        &station.HomeURL,
                                       &station.Logo, &station.Description};
            size_t field = 0;
            for (size_t from = 0; from <= line.size() && field < std::size(texts); ++field) {
                size_t bar = line.find('|', from);
                if (bar == std::string_view::npos)
                    bar = line.size();
                const std::string_view value = line.substr(from, bar - from);
                if (texts[field])
                    *texts[field] = FromUtf8(value);
                else
                    station.Bitrate = int32_t(StrToIntDef(FromUtf8(value), 0));
                from = bar + 1;
            }
            receiver(station);
        }
    }

    // The document line of a station, every field written.
    static std::string Line(const TOrvoRadioStationInfo& s) {
        return ToUtf8(s.Name + u"|" + s.FileName + u"|" + s.Genre + u"|" + s.Country + u"|" + s.Tags + u"|" +
                      s.FileFormat + u"|" + IntToStr(s.Bitrate) + u"|" + s.HomeURL + u"|" + s.Logo + u"|" +
                      s.Description) +
               "\n";
    }

    // The content type the last document was parsed with, and the file it was read from.
    std::u16string LastContentType;
    std::string LastFileName;
};

// Registers provider classes for one test and forgets every class afterwards.
class TRegisteredProviders {
public:
    explicit TRegisteredProviders(std::initializer_list<const TOrvoTunedexProviderClass*> classes) {
        TOrvoTunedexProviderRepository::Clear();
        for (const TOrvoTunedexProviderClass* cls : classes)
            TOrvoTunedexProviderRepository::RegisterProvider(*cls);
    }
    ~TRegisteredProviders() { TOrvoTunedexProviderRepository::Clear(); }
    TRegisteredProviders(const TRegisteredProviders&) = delete;
    TRegisteredProviders& operator=(const TRegisteredProviders&) = delete;
};

} // namespace testsupport
