#pragma once
// The local web page's files, compiled into the host from its web folder: each with its path
// below that folder ("index.html", "img/logo.png") and its content type.

#include <span>
#include <string_view>

struct TOrvoHostWebFile {
    std::string_view Path;
    std::string_view ContentType;
    std::string_view Bytes;
};

// Every file, in no particular order.
std::span<const TOrvoHostWebFile> OrvoHostWebFiles();

// The file at `path` (no leading '/'), or null.
inline const TOrvoHostWebFile* FindWebFile(std::string_view path) {
    for (const TOrvoHostWebFile& file : OrvoHostWebFiles())
        if (file.Path == path)
            return &file;
    return nullptr;
}
