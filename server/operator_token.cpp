#include "server/operator_token.hpp"

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "server/limits.hpp"
#include "sha256/sha256.hpp"

namespace pelorin::server {

std::string operator_token_hash(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream all;
    if (!in || !(all << in.rdbuf())) throw std::invalid_argument("cannot read the operator token file " + file.string());
    std::string token = all.str();
    const auto first = token.find_first_not_of(" \t\r\n");
    token = first == std::string::npos ? "" : token.substr(first, token.find_last_not_of(" \t\r\n") - first + 1);
    if (token.size() < kMinOperatorTokenBytes)
        throw std::invalid_argument("the operator token in " + file.string() + " is shorter than " +
                                    std::to_string(kMinOperatorTokenBytes) + " characters");
    return sha256_hex(token);
}

}  // namespace pelorin::server
