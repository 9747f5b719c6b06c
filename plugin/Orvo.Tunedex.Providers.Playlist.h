#pragma once
// A playlist at an address the user gives (M3U, M3U8, PLS or XSPF) as a catalogue: one station
// per entry. Relative entries are resolved against the playlist's own address as links are
// (RFC 3986), and against its folder for a playlist on disk; absolute entries stay as written.

#include "plugin/Orvo.Tunedex.Core.h"
#include "zan/Zan.Playlists.h"

#include <memory>
#include <string>
#include <string_view>

// Data: the playlist's address or file path as the user typed it.
//
// Thread-safety: a provider object belongs to one thread at a time; the class operations may be
// called from any thread.
class TOrvoTunedexPlaylistBasedProvider : public TOrvoTunedexProvider {
public:
    // Turns the entries a playlist reader delivers into stations for one receiver.
    class THandler : public IZanPlaylistItemsReceiver {
    public:
        explicit THandler(TOrvoStationReceiver receiver) : FReceiver(std::move(receiver)) {}
        void AddGroup(const std::u16string&, bool) override {}
        void AddItem(const std::u16string& fileName, std::shared_ptr<IZanFileInfo> info,
                     int32_t queueIndex) override;

    private:
        TOrvoStationReceiver FReceiver;
    };

    static const TOrvoTunedexProviderClass& Class();
    const TOrvoTunedexProviderClass& ClassType() const override { return Class(); }
    static std::u16string DisplayName() { return u"@Tunedex\\RemotePlaylist"; }
    static bool HasAddress() { return true; }
    // The file masks of every readable playlist format.
    static std::u16string SupportedFormats();

    std::u16string DocumentURL() const override { return Data; }
    using TOrvoTunedexProvider::AsyncFetch;
    // Reads the playlist whatever the content type; a document of no known playlist format
    // gives no stations and no error.
    void AsyncFetch(TNuvStream& stream, std::u16string_view contentType,
                    const TOrvoStationReceiver& receiver) override;
};
