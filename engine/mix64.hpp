#pragma once
// The per-start checksum every backend pays for: mix64(mix64(s.hi) ^ s.lo), with mix64 the
// SplitMix64 finaliser. mix64(0) = 0, so a start below 2^64 has checksum mix64(s.lo).
#include <cstdint>

#include "wideint/u128.hpp"

namespace pelorin {

inline constexpr std::uint64_t kMix64M1 = 0xbf58476d1ce4e5b9ull;
inline constexpr std::uint64_t kMix64M2 = 0x94d049bb133111ebull;

// mix64 from its first product on; the aligned checksum kernels enter here.
PELORIN_HD constexpr std::uint64_t mix64_from_product(std::uint64_t y) {
    y = (y ^ (y >> 27)) * kMix64M2;
    return y ^ (y >> 31);
}

PELORIN_HD constexpr std::uint64_t mix64(std::uint64_t z) { return mix64_from_product((z ^ (z >> 30)) * kMix64M1); }

PELORIN_HD constexpr std::uint64_t start_checksum(U128 s) { return mix64(mix64(s.hi) ^ s.lo); }

}  // namespace pelorin
