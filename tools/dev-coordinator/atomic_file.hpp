#pragma once
// Whole-file replacement that never leaves a half-written file behind: the text goes to
// a temporary file beside the target, is flushed to disk, and replaces the target in one
// rename; the folder is flushed too, so the rename survives a crash.
#include <filesystem>
#include <string>
#include <string_view>

namespace pelorin::devcoord {

// Writes text to path (owner read/write only). Throws std::runtime_error
// "cannot write <path>: <reason>"; the previous content of path is then unchanged.
void write_file_atomically(const std::filesystem::path& path, std::string_view text);

// Reads the whole file into text; false when there is no such file. Throws
// std::runtime_error "cannot read <path>" when it exists but cannot be read.
bool read_file(const std::filesystem::path& path, std::string& text);

}  // namespace pelorin::devcoord
