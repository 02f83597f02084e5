#pragma once
// SHA-256 (FIPS 180-4) over a whole byte string; digests as 64 lower-case hex digits.
#include <string>
#include <string_view>
#include <filesystem>

namespace pelorin {

std::string sha256_hex(std::string_view bytes);
// Throws std::runtime_error "cannot hash <path>" when the file cannot be opened.
std::string sha256_file_hex(const std::filesystem::path& path);

}  // namespace pelorin
