#pragma once
// The residue sieve: parity, the residue mod 9, and the 2^16 descent-threshold table whose
// SHA-256 identifies the proof a result was computed with.
#include <cstdint>
#include <span>
#include <string>

#include "wideint/u128.hpp"

namespace pelorin {

inline constexpr unsigned kProofTableBits = 16;
inline constexpr std::uint64_t kProofTableSize = std::uint64_t{1} << kProofTableBits;
inline constexpr std::uint64_t kOpenResidue = ~std::uint64_t{0};  // no descent within 16 iterations

// t(r) for r = 0 .. 2^16-1: n = r (mod 2^16) with n > t(r) falls below itself. Built once.
std::span<const std::uint64_t> proof_table();
// Lower-case hex SHA-256 of the table's bytes (little-endian entries in residue order).
const std::string& proof_table_hash();

// The descent threshold for 2^bits residues (bits <= 24), built by the rule of the proof
// table; kOpenResidue marks residues that need a walk.
std::uint64_t descent_threshold(std::uint64_t r, unsigned bits);

// s mod 9 from the limbs, using 2^64 = 7 (mod 9).
constexpr unsigned mod9(U128 s) { return static_cast<unsigned>((7 * (s.hi % 9) + s.lo % 9) % 9); }
// Odd residues mod 9 in {2, 4, 5, 8} descend: bit r of this mask.
inline constexpr unsigned kMod9ExcludedMask = (1u << 2) | (1u << 4) | (1u << 5) | (1u << 8);

// The sieve predicate; with_table only for "record-recursive".
bool excluded(U128 s, bool with_table);

}  // namespace pelorin
