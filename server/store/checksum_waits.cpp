#include "server/store/checksum_waits.hpp"

#include <stdexcept>

namespace pelorin::server {

std::string checksum_refusal(const Checksums& given, const Checksums& unit) {
    if (given.sum != unit.sum) return "checksum_sum does not match the unit's starts";
    if (given.xor_ != unit.xor_) return "checksum_xor does not match the unit's starts";
    return {};
}

std::string stored_u64_text(std::uint64_t value) { return std::to_string(value); }

std::uint64_t stored_u64(const std::string& text, const char* what) {
    std::uint64_t v = 0;
    bool ok = !text.empty() && text.size() <= 20;
    for (char c : text) {
        if (!ok) break;
        const unsigned d = static_cast<unsigned>(c - '0');
        if (c < '0' || c > '9' || v > (UINT64_MAX - d) / 10) ok = false;
        else v = v * 10 + d;
    }
    if (!ok) throw std::runtime_error(std::string("damaged ") + what + " in the database: " + text);
    return v;
}

}  // namespace pelorin::server
