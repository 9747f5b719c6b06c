#pragma once
// JSON answers of the page's API, written with RapidJSON's writer.

#include "host/Orvo.Host.Web.Server.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <functional>
#include <string>
#include <string_view>

using TOrvoHostJson = rapidjson::Writer<rapidjson::StringBuffer>;

inline void Text(TOrvoHostJson& json, std::string_view utf8) {
    json.String(utf8.data(), rapidjson::SizeType(utf8.size()));
}

inline void Text(TOrvoHostJson& json, const std::u16string& text) {
    Text(json, std::string_view(ToUtf8(text)));
}

// What `write` writes, as text.
inline std::string JsonText(const std::function<void(TOrvoHostJson& json)>& write) {
    rapidjson::StringBuffer buffer;
    TOrvoHostJson json(buffer);
    write(json);
    return buffer.GetString();
}

inline TOrvoHostWebResponse JsonAnswer(const std::function<void(TOrvoHostJson& json)>& write,
                                       int status = 200) {
    return {status, "application/json; charset=utf-8", JsonText(write), {}};
}
