#pragma once
// The operator token (--operator-token-file): a secret the operator keeps in a file of their
// own, which opens the operator's view and data on the workers' port. The server keeps only
// its SHA-256.
#include <filesystem>
#include <string>

namespace pelorin::server {

// The SHA-256 of the token in `file`: its text without the line break and blanks around it.
// Throws std::invalid_argument "cannot read the operator token file <file>" or "the operator
// token in <file> is shorter than <n> characters".
std::string operator_token_hash(const std::filesystem::path& file);

}  // namespace pelorin::server
