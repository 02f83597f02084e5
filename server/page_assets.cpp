#include "server/page_assets.hpp"

#include <map>

#include "sha256/sha256.hpp"

namespace pelorin::server {
namespace {

const char* content_type_of(std::string_view name) {
    const auto ends = [&](std::string_view suffix) {
        return name.size() >= suffix.size() && name.substr(name.size() - suffix.size()) == suffix;
    };
    if (ends(".html")) return "text/html; charset=utf-8";
    if (ends(".css")) return "text/css; charset=utf-8";
    if (ends(".js")) return "text/javascript; charset=utf-8";
    if (ends(".svg")) return "image/svg+xml";
    return "application/octet-stream";
}

// Built once, on first use: the files never change while the program runs.
std::map<std::string, PageAsset, std::less<>> make_assets() {
    std::map<std::string, PageAsset, std::less<>> assets;
    for (std::size_t i = 0; i < kEmbeddedFileCount; ++i) {
        const EmbeddedFile& f = kEmbeddedFiles[i];
        const std::string_view body(reinterpret_cast<const char*>(f.bytes), f.size);
        const std::string name = f.name;
        const std::string path = name == "index.html" ? "/" : "/assets/" + name;
        assets[path] = PageAsset{body, content_type_of(name), "\"" + sha256_hex(body) + "\""};
    }
    return assets;
}

}  // namespace

const PageAsset* find_page_asset(std::string_view path) {
    static const auto assets = make_assets();
    const auto it = assets.find(path);
    return it == assets.end() ? nullptr : &it->second;
}

}  // namespace pelorin::server
