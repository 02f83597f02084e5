#pragma once
// Reading back a file the program stored: all of it, or nothing.
#include <filesystem>
#include <optional>
#include <string>

namespace pelorin {

// The file's bytes; absent when it does not exist or cannot be read (a folder in its place
// included), which to its reader means nothing is stored.
std::optional<std::string> read_whole_file(const std::filesystem::path& path);

}  // namespace pelorin
