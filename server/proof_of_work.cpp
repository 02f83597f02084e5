#include "server/proof_of_work.hpp"

#include "sha256/sha256.hpp"

namespace pelorin::server {

unsigned leading_zero_bits(std::string_view hex_digest) {
    unsigned zeros = 0;
    for (char c : hex_digest) {
        int v = -1;
        if (c >= '0' && c <= '9') v = c - '0';
        else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
        if (v < 0) return zeros;
        if (v == 0) {
            zeros += 4;
            continue;
        }
        return zeros + (v >= 8 ? 0 : v >= 4 ? 1 : v >= 2 ? 2 : 3);
    }
    return zeros;
}

bool proof_of_work_holds(std::string_view nonce, std::string_view solution, unsigned difficulty_bits) {
    // The worker counts with an unsigned 64-bit counter: at most 20 digits.
    if (solution.empty() || solution.size() > 20) return false;
    for (char c : solution)
        if (c < '0' || c > '9') return false;
    std::string candidate(nonce);
    candidate += solution;
    return leading_zero_bits(sha256_hex(candidate)) >= difficulty_bits;
}

}  // namespace pelorin::server
