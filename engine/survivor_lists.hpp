#pragma once
// The sieve's survivors form a fixed pattern modulo 2^16 * 9, so a block of 2^16 starts is
// verified by listing them instead of testing every start. For a block whose base is
// m (mod 9), survivors(table, m) lists, ascending, the residues r < 2^16 for which base + r
// is odd, has a residue mod 9 outside {2, 4, 5, 8} and (with the table) an open entry.
// Valid only for blocks above the largest finite table entry, i.e. every block but the first.
#include <array>
#include <cstdint>
#include <span>

namespace pelorin {

std::span<const std::uint16_t> survivors(bool with_table, unsigned base_mod9);

// A survivor of the table sieve, with its first 16 iterations of x -> (3x+1)/2 | x/2 folded
// into one affine step: n = q * 2^16 + residue goes to 3^k * q + offset in 16 + k map steps,
// and (its residue being open) no value on the way falls below n. Every 3x+1 on the way stays
// below 2^128 when n's high limb is below 2^fit_bits.
struct TableSurvivor {
    std::uint32_t offset;
    std::uint16_t residue;
    std::uint8_t k;
    std::uint8_t fit_bits;
};
std::span<const TableSurvivor> table_survivors(unsigned base_mod9);

// 3^k for k = 0 .. 24, the odd iterations a fold of up to 24 iterations can hold.
inline constexpr std::array<std::uint64_t, 25> kPow3 = [] {
    std::array<std::uint64_t, 25> p{};
    p[0] = 1;
    for (std::size_t i = 1; i < p.size(); ++i) p[i] = 3 * p[i - 1];
    return p;
}();
constexpr std::uint64_t pow3(unsigned k) { return kPow3[k]; }

}  // namespace pelorin
