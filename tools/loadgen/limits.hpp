#pragma once
// The load tool's fixed limits, each with its reason.
#include <chrono>
#include <cstdint>

namespace pelorin::loadgen {

// Thousands of simulated workers solve their puzzles on one thread: 2^20 hashes is about a
// second each, beyond that a run would do nothing but hash. Test servers ask for a few bits.
inline constexpr std::uint64_t kMaxDifficultyBits = 20;
// The run looks at its timers at least this often while transfers are in flight.
inline constexpr std::chrono::milliseconds kPollInterval{20};

}  // namespace pelorin::loadgen
