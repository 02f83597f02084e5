#pragma once
// The range of starts of one unit or chunk: begin inclusive, end exclusive, where the end
// may be 2^128 (flagged, limbs zero).
#include <cstdint>

#include "wideint/u128.hpp"

namespace pelorin {

struct UnitRange {
    U128 begin;
    U128 end;
    bool end_is_2_128 = false;
};

// Number of starts. Throws std::invalid_argument "range end is below begin" and
// std::overflow_error "single work unit is larger than uint64".
std::uint64_t unit_size(const UnitRange& range);

// Starts [offset, offset + count) of `range`, for offset + count <= unit_size(range). A piece
// that ends where the range ends at 2^128 carries the flag.
UnitRange sub_range(const UnitRange& range, std::uint64_t offset, std::uint64_t count);

}  // namespace pelorin
