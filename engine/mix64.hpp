#pragma once
// The per-start checksum every backend pays for: mix64(mix64(s.hi) ^ s.lo), with mix64 the
// SplitMix64 finaliser. mix64(0) = 0, so a start below 2^64 has checksum mix64(s.lo).
#include <cstdint>

#include "wideint/u128.hpp"

namespace pelorin {

PELORIN_HD constexpr std::uint64_t mix64(std::uint64_t z) {
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}

PELORIN_HD constexpr std::uint64_t start_checksum(U128 s) { return mix64(mix64(s.hi) ^ s.lo); }

}  // namespace pelorin
