#pragma once
// What the stations command shares with every other way the host asks for stations (the local
// web page): the request checked against the storage's fields as the command checks it, rows as
// JSON values, and the stations as a playlist written by the playlist library.
//
// Thread-safety: main thread, like the library browser.

#include "host/Orvo.Host.Cli.h"
#include "host/Orvo.Host.MusicLibrary.Browser.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The fields shown when none are asked for.
const std::vector<std::string>& DefaultStationFields();
// The fields a playlist entry is made of, in the storage's names.
const std::vector<std::u16string>& PlaylistExportFields();
// m3u, m3u8, pls or xspf.
bool IsPlaylistFormat(std::string_view format);
// Adds the field to the request unless it names it already: a field named twice is one column.
void AddRequestField(TOrvoHostMLRequest& request, std::u16string name);
// Raises EOrvoCliUsage with the words the command prints for a field the storage does not know,
// or a condition on a number field whose value is no whole number.
void CheckStationRequest(const TOrvoHostMLRequest& request, const std::vector<TOrvoHostMLField>& fields);
// What is wrong with the parts of a condition given as FIELD OP VALUE, when there are not three.
std::string WhereMistake(const std::vector<std::string>& where);
// For each of the names, whether the storage's field of that name is a number field.
std::vector<bool> NumberColumns(const std::vector<std::u16string>& names,
                                const std::vector<TOrvoHostMLField>& fields);
// The value as JSON: a number in a number column where the text is exactly a whole number, else
// the text.
void WriteJsonValue(rapidjson::Writer<rapidjson::StringBuffer>& writer, const std::u16string& value,
                    bool numberColumn);
// The rows as a playlist of the format, with every field of PlaylistExportFields() in the result;
// `homePage` gives a station's home page for the format that keeps it. Raises EOrvoCliUsage for
// a format without a writer.
std::string WriteStationPlaylist(const std::string& format, const TOrvoHostMLResult& result,
                                 const std::function<std::u16string(const std::u16string&)>& homePage);
