#include "plugin/Orvo.Tunedex.Providers.Playlist.h"

#include "plugin/Orvo.Tunedex.Providers.Custom.h"
#include "zan/Zan.FileInfo.h"

const TOrvoTunedexProviderClass& TOrvoTunedexPlaylistBasedProvider::Class() {
    static const TOrvoTunedexProviderClassOf<TOrvoTunedexPlaylistBasedProvider> cls(
        u"TOrvoTunedexPlaylistBasedProvider");
    return cls;
}

std::u16string TOrvoTunedexPlaylistBasedProvider::SupportedFormats() {
    return ZanPlaylistFormats().GetReadableMasks();
}

void TOrvoTunedexPlaylistBasedProvider::AsyncFetch(TNuvStream& stream, std::u16string_view,
                                                   const TOrvoStationReceiver& receiver) {
    // Header lines after the address belong to the request, not to the base of relative entries.
    const std::u16string address = Data.substr(0, Data.find_first_of(u"\r\n"));
    THandler handler(receiver);
    ZanReadPlaylist(stream, address, handler);
}

void TOrvoTunedexPlaylistBasedProvider::THandler::AddItem(const std::u16string& fileName,
                                                          std::shared_ptr<IZanFileInfo> info, int32_t) {
    TOrvoRadioStationInfo station;
    station.FileName = fileName;
    if (TZanCustomFileInfo* data = info ? info->GetData() : nullptr) {
        station.Bitrate = data->StreamInfo().Bitrate;
        station.Description = data->GetValue(zitComment);
        station.FileFormat = TOrvoTunedexParser::AddressExtension(fileName);
        station.Genre = data->GetValue(zitGenre);
        station.Name = data->GetValue(zitTitle);
        const std::u16string& link = data->GetValue(zitLink);
        (IsImageLink(link) ? station.Logo : station.HomeURL) = link;
    }
    FReceiver(station);
}
