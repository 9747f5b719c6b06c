#include "plugin/Orvo.Tunedex.Providers.XiphDir.h"

#include "nuv/Nuv.Strings.h"
#include "plugin/Orvo.Tunedex.Providers.Custom.h"

#include <cstdlib>

const TOrvoTunedexProviderClass& TOrvoTunedexXiphDirectory::Class() {
    static const TOrvoTunedexProviderClassOf<TOrvoTunedexXiphDirectory> cls(u"TOrvoTunedexXiphDirectory");
    return cls;
}

std::u16string TOrvoTunedexXiphDirectory::DocumentURL() const {
    if (const char* other = std::getenv(ListingVariable); other && *other)
        return FromUtf8(other);
    return std::u16string(ListingAddress);
}

void TOrvoTunedexXiphDirectory::AsyncFetch(TNuvStream& stream, std::u16string_view,
                                           const TOrvoStationReceiver& receiver) {
    TOrvoTunedexParser::ParseDocument(TOrvoTunedexParserXML::Class(), stream,
                                      TNuvWebURL::ParseHttp(DocumentURL()), this, receiver);
}
