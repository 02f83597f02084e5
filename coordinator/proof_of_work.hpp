#pragma once
// The registration challenge: find the first counter whose candidate (the nonce followed by
// the counter in decimal) has a SHA-256 digest with enough leading zero bits.
#include <cstdint>
#include <string>
#include <string_view>

namespace pelorin {

// A digest has 256 bits; a challenge asking for more could never be met.
inline constexpr std::uint64_t kMaxDifficultyBits = 256;

// Leading zero bits of a lower-case hex digest, counted digit by digit from the first.
unsigned leading_zero_bits(std::string_view hex_digest);

std::string proof_candidate(std::string_view nonce, std::uint64_t counter);

// The first counter from 0 up whose candidate's digest has at least `difficulty_bits`
// leading zero bits. Throws std::runtime_error at once when `difficulty_bits` exceeds 256.
std::uint64_t solve_challenge(std::string_view nonce, std::uint64_t difficulty_bits);

}  // namespace pelorin
