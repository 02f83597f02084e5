#pragma once
// "avx2-experimental": four starts at a time in the lanes of a 256-bit vector, one map step
// per iteration. Chunks reaching 2^64 take the scalar "ctz" loop instead and keep the backend
// name; processors without AVX2 (with BMI1 and BMI2) run the same four-lane loop written one
// lane at a time, so the record never depends on the processor.
#include <cstdint>
#include <string>

#include "state/unit_result.hpp"
#include "wideint/unit_range.hpp"

namespace pelorin {

UnitResult verify_chunk_avx2(const UnitRange& range, std::uint64_t offset, std::uint64_t count, const std::string& name);

namespace detail {
// The four-lane loop itself, for chunks wholly below 2^64 on an AVX2 processor.
void verify_lanes_avx2(std::uint64_t first, std::uint64_t count, UnitResult& result);
// The same loop written for one lane at a time: the loop of processors without AVX2, and the
// reference the vector loop is tested against.
void verify_lanes_portable(std::uint64_t first, std::uint64_t count, UnitResult& result);

using LanesFn = void (*)(std::uint64_t first, std::uint64_t count, UnitResult& result);
// The loop for a processor with or without AVX2, and the one chosen once for this processor.
LanesFn lanes_kernel_for(bool avx2);
LanesFn lanes_kernel();
}  // namespace detail

}  // namespace pelorin
