#pragma once
// The two records the kernel shares byte for byte with the host: the 64-byte aggregate of a
// launch and one 48-byte entry of the overflow queue. Offsets are part of the format.
#include <cstddef>
#include <cstdint>

#include "wideint/u128.hpp"

namespace pelorin {

struct GpuAggregate {
    std::uint64_t checked = 0;       // starts visited (not counted in frontier mode)
    std::uint64_t candidates = 0;    // starts that passed the sieve and were walked
    std::uint64_t steps = 0;         // steps of the candidates finished on the device
    std::uint64_t overflows = 0;     // candidates whose walk left 128 bits
    std::uint64_t checksum_sum = 0;  // modulo 2^64
    std::uint64_t checksum_xor = 0;
    std::uint64_t queued = 0;        // overflow slots reserved; may pass the capacity
    std::uint32_t invalid = 0;       // 1 when an overflowing start found no free slot
    std::uint32_t padding = 0;
};

struct OverflowState {
    U128 start;
    U128 odd_value;            // odd value whose 3x+1 would pass 2^128 - 1
    std::uint64_t steps;       // steps before that 3x+1
    std::uint64_t odd_steps;   // 3x+1 steps attempted, the overflowing one included
};

static_assert(sizeof(U128) == 16 && offsetof(U128, lo) == 0 && offsetof(U128, hi) == 8);
static_assert(sizeof(GpuAggregate) == 64);
static_assert(offsetof(GpuAggregate, checked) == 0);
static_assert(offsetof(GpuAggregate, candidates) == 8);
static_assert(offsetof(GpuAggregate, steps) == 16);
static_assert(offsetof(GpuAggregate, overflows) == 24);
static_assert(offsetof(GpuAggregate, checksum_sum) == 32);
static_assert(offsetof(GpuAggregate, checksum_xor) == 40);
static_assert(offsetof(GpuAggregate, queued) == 48);
static_assert(offsetof(GpuAggregate, invalid) == 56);
static_assert(sizeof(OverflowState) == 48);
static_assert(offsetof(OverflowState, start) == 0);
static_assert(offsetof(OverflowState, odd_value) == 16);
static_assert(offsetof(OverflowState, steps) == 32);
static_assert(offsetof(OverflowState, odd_steps) == 40);

}  // namespace pelorin
