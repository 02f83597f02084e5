#pragma once
// Checksums of a run of starts by aligned pieces. On a piece of 2^b starts whose low limbs
// run from a multiple of 2^b (2^b >= 16), key ^ lo is K ^ i for one K and i < 2^b, and the
// first shift-xor of mix64 gives A ^ (i ^ (i >> 30)) with A = K ^ (K >> 30). i -> i ^ (i >> 30)
// permutes [0, 2^b), so as i runs over the piece the value runs over A_hi + j (A_hi: A with
// its low b bits cleared), and sum and xor ignore the order: the first product becomes
// origin + j * m1 with origin = A_hi * m1, a running add in place of a multiply per start.
// The vector kernels use this; the ends of a run keep the plain mix.
#include <cstdint>

#include "engine/checksum_span.hpp"

namespace pelorin {

// The smallest piece: one pass of the widest kernel.
inline constexpr unsigned kAlignedPieceMinBits = 4;

// Over j = 0 .. count - 1: sum and xor of mix64_from_product (origin + j * kMix64M1); count
// is a multiple of 2^kAlignedPieceMinBits.
using AlignedPieceFn = ChecksumPair (*)(std::uint64_t origin, std::uint64_t count);

// The running product's origin for the piece of 2^bits starts from lo = first (a multiple of
// 2^bits).
std::uint64_t aligned_piece_origin(std::uint64_t key, std::uint64_t first, unsigned bits);

// The checksums of lo = first .. first + count - 1 under key: aligned pieces by `piece`, the
// unaligned ends (fewer than 16 starts each) by `run`.
ChecksumPair checksum_by_pieces(std::uint64_t key, std::uint64_t first, std::uint64_t count, ChecksumSpanFn run,
                                AlignedPieceFn piece);

// The plain loop of AlignedPieceFn, the reference its vector forms are tested against.
ChecksumPair aligned_piece_scalar(std::uint64_t origin, std::uint64_t count);

}  // namespace pelorin
