#include "coordinator/random_hex.hpp"

#include <stdexcept>
#include <vector>

namespace pelorin {

std::string random_hex(std::size_t byte_count) {
    std::vector<unsigned char> bytes(byte_count);
    if (!secure_random_bytes(bytes.data(), bytes.size())) throw std::runtime_error("secure random generator failed");
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(2 * byte_count);
    for (unsigned char b : bytes) {
        text += kDigits[b >> 4];
        text += kDigits[b & 0xf];
    }
    return text;
}

}  // namespace pelorin
