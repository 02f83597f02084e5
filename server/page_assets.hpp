#pragma once
// The public page's files as the server sends them: index.html at "/", the rest under
// "/assets/", each with its type and an ETag. They are embedded in the program at build time
// (cmake/embed_files.cmake), with Debian's Chart.js among them, so the page needs nothing
// from anywhere else.
#include <cstddef>
#include <string>
#include <string_view>

namespace pelorin::server {

// A file as the build step writes it.
struct EmbeddedFile {
    const char* name;
    const unsigned char* bytes;
    std::size_t size;
};
extern const EmbeddedFile kEmbeddedFiles[];
extern const std::size_t kEmbeddedFileCount;

struct PageAsset {
    std::string_view body;
    const char* content_type;
    std::string etag;  // "\"<SHA-256 of the body>\""
};

// The asset served at `path` ("/", "/assets/page.js", ...); nothing for any other path.
const PageAsset* find_page_asset(std::string_view path);

}  // namespace pelorin::server
