#include "tools/dev-coordinator/secure_random.hpp"

#include <openssl/rand.h>

#include <stdexcept>
#include <vector>

namespace pelorin::devcoord {

std::string random_hex(std::size_t byte_count) {
    std::vector<unsigned char> bytes(byte_count);
    if (byte_count > 0 && RAND_bytes(bytes.data(), static_cast<int>(byte_count)) != 1)
        throw std::runtime_error("secure random generator failed");
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(2 * byte_count);
    for (unsigned char b : bytes) {
        out.push_back(kDigits[b >> 4]);
        out.push_back(kDigits[b & 15]);
    }
    return out;
}

}  // namespace pelorin::devcoord
