#pragma once
// Reading back a file the program stored: all of it, or nothing.
#include <filesystem>
#include <optional>
#include <string>

namespace pelorin {

// The file's bytes; absent when it does not exist or cannot be read (a folder in its place
// included), which to its reader means nothing is stored.
std::optional<std::string> read_whole_file(const std::filesystem::path& path);

// A small file of the program's own: its bytes when it holds at most `limit` of them. A larger
// one is not read beyond that: a file grown huge (damage, a mistake) costs no memory or time.
struct SmallFile {
    std::optional<std::string> bytes;  // absent: missing or unreadable (as read_whole_file), or too large
    bool too_large = false;
};
SmallFile read_small_file(const std::filesystem::path& path, std::size_t limit);

}  // namespace pelorin
