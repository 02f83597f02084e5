#pragma once
// The 2^24 class table: what the first 24 iterations of x -> (3x+1)/2 | x/2 do to each start
// that the 2^16 proof table leaves open. Such a start n = q * 2^24 + r is in one of three
// kinds, fixed by r alone (for n above every threshold, i.e. n >= 2^16):
//   fixed: n falls below itself and the shortcut walk meets its first odd value below n
//          within the 24 iterations: a known step count;
//   ctz:   n falls below itself, but the run of halvings still goes on at iteration 24, so
//          the count ends with the trailing zeros of 3^k * q + d, which depend on q;
//   open:  no descent within 24 iterations; the walk goes on from 3^k * q + d, 24 + k steps in.
// The record never sees this table: it only replaces walks by the counts they would give.
#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "engine/tuning.hpp"

namespace pelorin {

// Bits 16..23 of a start pick one of 256 slices; a whole 2^16 block lies in one slice.
inline constexpr unsigned kDeepSlices = 1u << (kDeepTableBits - 16);

enum class DeepKind : unsigned { fixed = 0, ctz = 1, open = 2 };
inline constexpr unsigned kDeepKinds = 3;

// One class: the 2^16 residue in bits 0..15, k (odd iterations among the 24, or before the
// stop for fixed) in bits 16..20, the kind in bits 21..22, and in bits 24..63 the step count
// (fixed) or d (ctz, open: the class's own residue after 24 iterations, below 2^39).
struct DeepClass {
    std::uint64_t bits;
    constexpr std::uint64_t residue() const { return bits & 0xffff; }
    constexpr unsigned k() const { return static_cast<unsigned>(bits >> 16) & 31u; }
    constexpr DeepKind kind() const { return static_cast<DeepKind>((bits >> 21) & 3u); }
    constexpr std::uint64_t value() const { return bits >> 24; }
};

// The open residues of the proof table: the classes of every slice.
inline constexpr std::size_t kDeepSliceClasses = 2114;

// One slice: its classes grouped by kind and by residue mod 9, each group ascending by residue.
struct DeepSlice {
    std::array<DeepClass, kDeepSliceClasses> classes;
    std::array<std::array<std::uint16_t, 10>, kDeepKinds> first;  // group (kind, v) is [first[kind][v], first[kind][v+1])
    struct FixedTotal {
        std::uint32_t count;
        std::uint32_t steps;
    };
    std::array<FixedTotal, 9> fixed_totals;  // per v: the fixed classes' count and summed steps

    std::span<const DeepClass> span(DeepKind kind, unsigned v) const {
        const auto& f = first[static_cast<unsigned>(kind)];
        return std::span<const DeepClass>(classes).subspan(f[v], f[v + 1] - f[v]);
    }
};

// Slice e, built on its first use (2,114 classes of at most 8 iterations beyond their 16-step
// fold, some 40 microseconds; other threads wait for it) and read-only afterwards. Slices are
// built one by one, so the pool's threads build the ones their blocks meet at the same time
// and a short range builds only its own; all 256 take 4.3 MB.
const DeepSlice& deep_slice(unsigned e);

// Lower-case hex SHA-256 of every slice's classes (each 8 bytes little-endian, slice after
// slice in table order): pins the table's content in the tests.
std::string deep_table_hash();

}  // namespace pelorin
