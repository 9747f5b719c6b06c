#pragma once
// Reading playlists from bytes into plain records the tests compare.

#include "zan/Zan.Playlists.h"

#include "nuv/Nuv.Streams.h"
#include "nuv/Nuv.Strings.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace zantest {

struct TEntry {
    std::u16string Name;
    bool HasInfo = false;
    std::u16string Title, Artist, Album, Comment, Genre, Link, Format, Custom;
    uint32_t Duration = 0;
    int32_t Bitrate = 0;
    int32_t QueueIndex = -1;
    bool State = true;
};

struct TPlaylist {
    bool Detected = false;
    std::vector<TEntry> Entries;
    std::vector<std::pair<std::u16string, bool>> Groups; // with the index of the entry that follows
    std::vector<size_t> GroupAt;
};

inline TEntry Entry(const std::u16string& name, const std::shared_ptr<IZanFileInfo>& info,
                    int32_t queueIndex) {
    TEntry entry;
    entry.Name = name;
    entry.QueueIndex = queueIndex;
    if (info) {
        const TZanCustomFileInfo& data = *info->GetData();
        entry.HasInfo = true;
        entry.Title = data.GetValue(zitTitle);
        entry.Artist = data.GetValue(zitArtist);
        entry.Album = data.GetValue(zitAlbum);
        entry.Comment = data.GetValue(zitComment);
        entry.Genre = data.GetValue(zitGenre);
        entry.Link = data.GetValue(zitLink);
        entry.Duration = data.StreamInfo().Duration;
        entry.Bitrate = data.StreamInfo().Bitrate;
        if (auto item = dynamic_cast<const TZanPlaylistItem*>(&data)) {
            entry.Format = item->Format();
            entry.Custom = item->Custom();
            entry.State = item->StateFlag();
        }
    }
    return entry;
}

// A receiver that records entries and groups into `out`.
inline TZanPlaylistItemsCallback Recorder(TPlaylist& out) {
    return TZanPlaylistItemsCallback(
        [&out](const std::u16string& name, std::shared_ptr<IZanFileInfo> info, int32_t queueIndex) {
            out.Entries.push_back(Entry(name, info, queueIndex));
        },
        [&out](const std::u16string& name, bool flag) {
            out.Groups.emplace_back(name, flag);
            out.GroupAt.push_back(out.Entries.size());
        });
}

inline void Collect(TZanPlaylistReader& reader, TPlaylist& out, TZanPlaylistSummary* summary = nullptr) {
    auto receiver = Recorder(out);
    reader.Load(summary, &receiver);
}

// Reads the bytes with the registry's choice, or with `readerClass` when one is given.
inline TPlaylist Read(const std::string& bytes, const TZanPlaylistReaderClass* readerClass = nullptr,
                      const std::u16string& baseAddress = {}) {
    TPlaylist out;
    TNuvMemoryStream stream(bytes.data(), bytes.size());
    if (!readerClass) {
        // As the catalogue reads a downloaded playlist.
        auto receiver = Recorder(out);
        out.Detected = ZanReadPlaylist(stream, baseAddress, receiver);
        return out;
    }
    auto reader = readerClass->FromStream(&stream, false);
    out.Detected = true;
    if (!baseAddress.empty())
        reader->SetBaseAddress(baseAddress);
    Collect(*reader, out);
    return out;
}

inline std::string FileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Bytes a writer of `writerClass` produces for the items, driven as a caller would.
template <typename Fill> std::string Write(const TZanPlaylistWriterClass& writerClass, Fill&& fill) {
    TNuvMemoryStream stream;
    {
        auto writer = writerClass.FromStream(&stream, false);
        writer->WriteHeader();
        fill(*writer);
        writer->Finish();
    }
    return std::string(stream.View());
}

} // namespace zantest
