#pragma once
// The engine's tuning constants, each with the reason for its value.
#include <cstdint>

namespace pelorin {

// The tuning range starts at 2^32: above every finite table threshold and the first block,
// so it measures the fast path that real units take.
inline constexpr std::uint64_t kTuningBegin = std::uint64_t{1} << 32;
// 2^26 starts: long enough for a stable rate, short enough that start-up stays under a second.
inline constexpr std::uint64_t kTuningStarts = std::uint64_t{1} << 26;
// Chunks of 2^16 starts match the sieve's block, so no chunk splits a survivor list, and
// give the pool enough pieces to balance uneven walks.
inline constexpr std::uint64_t kSelectionChunkStarts = 65536;

// Known answers on [1, 101) that the self-test checks before timing a family.
inline constexpr std::uint64_t kSelfTestChecksumSum = 0xe2a5fa25472999f3ull;
inline constexpr std::uint64_t kSelfTestChecksumXor = 0xc0c53dd80785a299ull;
inline constexpr const char* kProofTableHash = "c1ef0c13ddffe84f90e9f8badb88525f82f9bed819a1e9533e40f96ce91e94b9";

}  // namespace pelorin
