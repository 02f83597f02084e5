#pragma once
// The network an address belongs to, as the key the store compares workers on: the address
// with its host bits cleared to the operator's prefix (IPv4 /24 and IPv6 /64 by default), so
// two registrations behind one router or in one hosting subnet count as one network.
#include <string>

namespace pelorin::server {

struct NetworkPrefixes {
    bool compare = true;  // false: networks are not compared (every worker is the operator's own)
    int ipv4_bits = 24;
    int ipv6_bits = 64;
};

// "4:198.51.100.0/24" or "6:20010db8000000000000000000000000/64"; an IPv4-mapped IPv6 address
// counts as its IPv4 address. Empty when networks are not compared; the address itself
// ("?:" + text) when it is neither form, so only the same text matches it.
std::string network_key(const std::string& address, const NetworkPrefixes& prefixes);

// "24,64" or "off" read into prefixes; false for any other text.
bool parse_network_prefixes(const std::string& text, NetworkPrefixes& prefixes);
std::string network_prefixes_text(const NetworkPrefixes& prefixes);

}  // namespace pelorin::server
