#include "coordinator/proof_of_work.hpp"

#include <stdexcept>

#include "sha256/sha256.hpp"

namespace pelorin {

unsigned leading_zero_bits(std::string_view hex_digest) {
    unsigned zeros = 0;
    for (char c : hex_digest) {
        const unsigned value = c >= '0' && c <= '9' ? static_cast<unsigned>(c - '0') : static_cast<unsigned>(c - 'a' + 10);
        if (value == 0) {
            zeros += 4;
            continue;
        }
        return zeros + (value == 1 ? 3 : value <= 3 ? 2 : value <= 7 ? 1 : 0);
    }
    return zeros;
}

std::string proof_candidate(std::string_view nonce, std::uint64_t counter) {
    return std::string(nonce) + std::to_string(counter);
}

void require_reachable_difficulty(std::uint64_t difficulty_bits) {
    if (difficulty_bits > kMaxDifficultyBits) {
        throw std::runtime_error("Registration challenge asks for " + std::to_string(difficulty_bits) +
                                 " leading zero bits; a SHA-256 digest has only 256");
    }
}

std::uint64_t solve_challenge(std::string_view nonce, std::uint64_t difficulty_bits, std::stop_token stop) {
    require_reachable_difficulty(difficulty_bits);
    for (std::uint64_t counter = 0;; ++counter) {
        if (counter % kStopCheckCounters == 0 && stop.stop_requested()) throw std::runtime_error("Stopped");
        if (leading_zero_bits(sha256_hex(proof_candidate(nonce, counter))) >= difficulty_bits) return counter;
    }
}

}  // namespace pelorin
