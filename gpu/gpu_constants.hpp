#pragma once
// Tuning constants and fixed sizes of the GPU backend, each with its reason.
#include <cstdint>

namespace pelorin {

// Overflowing starts are rare (values near 2^128); 2^20 entries cover any realistic chunk.
inline constexpr std::uint64_t kOverflowCapacity = std::uint64_t{1} << 20;
// Bytes of the device queue: capacity times the 48-byte entry.
inline constexpr std::uint64_t kOverflowQueueBytes = kOverflowCapacity * 48;
// The block reduction works in shared arrays of this many entries, halving its stride.
inline constexpr std::uint32_t kMaxBlockSize = 512;
// Enough resident blocks per multiprocessor to hide latency; the kernel loops over the rest.
inline constexpr std::uint32_t kBlocksPerMultiprocessor = 8;
// Descent table widths: below 12 bits the sieve is weak, above 24 the table passes 128 MiB.
inline constexpr unsigned kMinSieveBits = 12;
inline constexpr unsigned kMaxSieveBits = 24;
// Work items of one launch at most. The kernel adds steps in 64 bits (per thread, per block and
// in the aggregate), so a launch's total could wrap only if its walks averaged 2^32 steps each,
// walks that stay between their start and 2^128 for four billion steps; a call of more items
// runs several launches.
inline constexpr std::uint64_t kMaxLaunchItems = std::uint64_t{1} << 32;
// Descent-table entry of a residue that needs a walk.
inline constexpr std::uint64_t kNoDescent = ~std::uint64_t{0};

}  // namespace pelorin
