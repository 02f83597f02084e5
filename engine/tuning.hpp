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

// Walks take 12 iterations of x -> (3x+1)/2 | x/2 at a time where no comparison can fall
// inside: fewer loop passes than 8 or 10 at every height measured, and the 48 KB jump table
// stays in the level-2 cache.
inline constexpr unsigned kJumpBits = 12;
// The class table follows the proof table's open residues to 24 iterations: 47% of those
// starts then need no walk, and its 256 slices of 2,114 classes take 4.3 MB; at 28 it would
// take 69 MB for 12% more.
inline constexpr unsigned kDeepTableBits = 24;

// Starts of a block's checksums handed to the core before each walk (piece_stream.hpp), per
// kernel: about 140 instructions a slice. At 2^71 a block has some 620 walks, so 128 starts
// spread the AVX-512 checksum over the first 512 of them: 64 and 256 measured slower.
inline constexpr std::uint64_t kInterleaveStartsAvx512 = 128;
// AVX2 multiplies in 32-bit parts, some three instructions a start: 64 starts.
inline constexpr std::uint64_t kInterleaveStartsAvx2 = 64;
// Plain code takes some ten instructions a start: 32 starts.
inline constexpr std::uint64_t kInterleaveStartsScalar = 32;

// Known answers on [1, 101) that the self-test checks before timing a family.
inline constexpr std::uint64_t kSelfTestChecksumSum = 0xe2a5fa25472999f3ull;
inline constexpr std::uint64_t kSelfTestChecksumXor = 0xc0c53dd80785a299ull;
inline constexpr const char* kProofTableHash = "c1ef0c13ddffe84f90e9f8badb88525f82f9bed819a1e9533e40f96ce91e94b9";

}  // namespace pelorin
