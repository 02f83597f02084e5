#pragma once
// The registration challenge: find the first counter whose candidate (the nonce followed by
// the counter in decimal) has a SHA-256 digest with enough leading zero bits.
#include <cstdint>
#include <stop_token>
#include <string>
#include <string_view>

namespace pelorin {

// A digest has 256 bits; a challenge asking for more could never be met.
inline constexpr std::uint64_t kMaxDifficultyBits = 256;

// The search looks at its stop request once per this many counters: a few milliseconds of
// hashing, so a stop ends it at once without costing the search anything measurable.
inline constexpr std::uint64_t kStopCheckCounters = std::uint64_t{1} << 15;

// Leading zero bits of a lower-case hex digest, counted digit by digit from the first.
unsigned leading_zero_bits(std::string_view hex_digest);

std::string proof_candidate(std::string_view nonce, std::uint64_t counter);

// Throws std::runtime_error "Registration challenge asks for <bits> leading zero bits; a
// SHA-256 digest has only 256" when no counter could ever meet `difficulty_bits`.
void require_reachable_difficulty(std::uint64_t difficulty_bits);

// The first counter from 0 up whose candidate's digest has at least `difficulty_bits`
// leading zero bits; refuses an unreachable difficulty at once. Throws std::runtime_error
// "Stopped" when `stop` is requested before a solution is found.
std::uint64_t solve_challenge(std::string_view nonce, std::uint64_t difficulty_bits, std::stop_token stop);

}  // namespace pelorin
