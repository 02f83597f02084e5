#pragma once
// "avx2-experimental": four starts at a time in the lanes of a 256-bit vector, one map step
// per iteration. Chunks reaching 2^64, and processors without AVX2, take the scalar "ctz"
// loop instead and keep the backend name.
#include <cstdint>
#include <string>

#include "state/unit_result.hpp"
#include "wideint/unit_range.hpp"

namespace pelorin {

UnitResult verify_chunk_avx2(const UnitRange& range, std::uint64_t offset, std::uint64_t count, const std::string& name);

namespace detail {
// The four-lane loop itself, for chunks wholly below 2^64 on an AVX2 processor.
void verify_lanes_avx2(std::uint64_t first, std::uint64_t count, UnitResult& result);
// The same loop written for one lane at a time: the reference the vector loop is tested against.
void verify_lanes_portable(std::uint64_t first, std::uint64_t count, UnitResult& result);
}  // namespace detail

}  // namespace pelorin
