#pragma once
// The public Xiph directory as a catalogue: one fixed XML listing of the streams that servers
// announce to the directory, read with the generic XML catalogue parser.

#include "plugin/Orvo.Tunedex.Core.h"

#include <string>
#include <string_view>

// Has no settings: every catalogue of this class is the same one, under a fixed identifier.
//
// Thread-safety: a provider object belongs to one thread at a time; the class operations may be
// called from any thread.
class TOrvoTunedexXiphDirectory : public TOrvoTunedexProvider {
public:
    static constexpr std::u16string_view FixedID = u"Xiph.Dir";
    static constexpr std::u16string_view ListingAddress = u"http://dir.xiph.org/yp.xml";
    static constexpr std::u16string_view DirectoryHomePage = u"http://dir.xiph.org/";
    // Names another listing address, so that tests can serve the listing from loopback; the
    // identifier stays FixedID whatever the address.
    static constexpr const char* ListingVariable = "TUNEDEX_XIPH_LISTING";

    static const TOrvoTunedexProviderClass& Class();
    const TOrvoTunedexProviderClass& ClassType() const override { return Class(); }
    static std::u16string DisplayName() { return u"Xiph Directory"; }
    static std::u16string HomePageURL() { return std::u16string(DirectoryHomePage); }

    // ListingAddress, unless ListingVariable names another.
    std::u16string DocumentURL() const override;
    std::u16string ID() const override { return std::u16string(FixedID); }
    using TOrvoTunedexProvider::AsyncFetch;
    // The XML catalogue parser; the content type is not looked at.
    void AsyncFetch(TNuvStream& stream, std::u16string_view contentType,
                    const TOrvoStationReceiver& receiver) override;
};
