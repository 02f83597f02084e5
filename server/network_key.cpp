#include "server/network_key.hpp"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>

namespace pelorin::server {
namespace {

// Keeps the first `bits` bits of the bytes and clears the rest.
template <std::size_t N>
void clear_host_bits(std::array<unsigned char, N>& bytes, int bits) {
    for (std::size_t i = 0; i < N; ++i) {
        const int kept = bits - static_cast<int>(i) * 8;
        if (kept >= 8) continue;
        bytes[i] = kept <= 0 ? 0 : static_cast<unsigned char>(bytes[i] & (0xFF << (8 - kept)));
    }
}

std::string ipv4_key(std::array<unsigned char, 4> b, int bits) {
    clear_host_bits(b, bits);
    char text[40];
    std::snprintf(text, sizeof text, "4:%u.%u.%u.%u/%d", b[0], b[1], b[2], b[3], bits);
    return text;
}

bool parse_bits(const std::string& text, int max, int& out) {
    if (text.empty() || text.size() > 3) return false;
    int v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    if (v > max) return false;
    out = v;
    return true;
}

}  // namespace

std::string network_key(const std::string& address, const NetworkPrefixes& prefixes) {
    if (!prefixes.compare) return {};
    std::array<unsigned char, 4> v4{};
    if (inet_pton(AF_INET, address.c_str(), v4.data()) == 1) return ipv4_key(v4, prefixes.ipv4_bits);
    std::array<unsigned char, 16> v6{};
    if (inet_pton(AF_INET6, address.c_str(), v6.data()) == 1) {
        static constexpr unsigned char kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
        if (std::equal(kMapped, kMapped + 12, v6.begin()))
            return ipv4_key({v6[12], v6[13], v6[14], v6[15]}, prefixes.ipv4_bits);
        clear_host_bits(v6, prefixes.ipv6_bits);
        std::string key = "6:";
        static constexpr char kHex[] = "0123456789abcdef";
        for (unsigned char c : v6) {
            key += kHex[c >> 4];
            key += kHex[c & 15];
        }
        return key + "/" + std::to_string(prefixes.ipv6_bits);
    }
    return "?:" + address;
}

bool parse_network_prefixes(const std::string& text, NetworkPrefixes& prefixes) {
    if (text == "off") {
        prefixes.compare = false;
        return true;
    }
    const auto comma = text.find(',');
    NetworkPrefixes p;
    if (comma == std::string::npos || !parse_bits(text.substr(0, comma), 32, p.ipv4_bits) ||
        !parse_bits(text.substr(comma + 1), 128, p.ipv6_bits))
        return false;
    prefixes = p;
    return true;
}

std::string network_prefixes_text(const NetworkPrefixes& prefixes) {
    if (!prefixes.compare) return "off";
    return std::to_string(prefixes.ipv4_bits) + "," + std::to_string(prefixes.ipv6_bits);
}

}  // namespace pelorin::server
