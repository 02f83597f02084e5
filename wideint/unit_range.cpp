#include "wideint/unit_range.hpp"

#include <stdexcept>

namespace pelorin {

std::uint64_t unit_size(const UnitRange& range) {
    const U128 b = range.begin;
    U128 diff;
    if (range.end_is_2_128) {
        // 2^128 - b = (~b) + 1; b = 0 gives 2^128 itself.
        if (b.lo == 0 && b.hi == 0) throw std::overflow_error("single work unit is larger than uint64");
        diff = add_u64(U128{~b.lo, ~b.hi}, 1);
    } else {
        const U128 e = range.end;
        if (e == b) return 0;
        if (e < b) throw std::invalid_argument("range end is below begin");
        diff.lo = e.lo - b.lo;
        diff.hi = e.hi - b.hi - (e.lo < b.lo ? 1 : 0);
    }
    if (diff.hi != 0) throw std::overflow_error("single work unit is larger than uint64");
    return diff.lo;
}

UnitRange sub_range(const UnitRange& range, std::uint64_t offset, std::uint64_t count) {
    UnitRange piece;
    piece.begin = add_u64(range.begin, offset);
    piece.end = add_u64(piece.begin, count, &piece.end_is_2_128);
    // A carry out of the top limb can only be a sum of exactly 2^128; it is stored flagged,
    // with zero limbs, as every range ending at 2^128 is.
    if (piece.end_is_2_128) piece.end = U128{};
    return piece;
}

}  // namespace pelorin
