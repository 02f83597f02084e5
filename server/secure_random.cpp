#include "server/secure_random.hpp"

#include <openssl/rand.h>

#include <cstdint>
#include <stdexcept>
#include <vector>

namespace pelorin::server {
namespace {

void fill(unsigned char* bytes, std::size_t count) {
    if (count > 0 && RAND_bytes(bytes, static_cast<int>(count)) != 1)
        throw std::runtime_error("secure random generator failed");
}

}  // namespace

std::string random_hex(std::size_t byte_count) {
    std::vector<unsigned char> bytes(byte_count);
    fill(bytes.data(), byte_count);
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(2 * byte_count);
    for (unsigned char b : bytes) {
        out.push_back(kDigits[b >> 4]);
        out.push_back(kDigits[b & 15]);
    }
    return out;
}

double random_fraction() {
    unsigned char bytes[8];
    fill(bytes, sizeof bytes);
    std::uint64_t v = 0;
    for (unsigned char b : bytes) v = (v << 8) | b;
    return static_cast<double>(v >> 11) / 9007199254740992.0;  // 53 bits over 2^53
}

}  // namespace pelorin::server
