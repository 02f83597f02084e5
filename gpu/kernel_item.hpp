#pragma once
// The kernel's per-item work, compiled for the device by nvcc and for the host by every
// compiler, so host tests run exactly the code the GPU runs: start selection (consecutive or
// through the survivor frontier), the sieve, the 128-bit walk, the counters, the overflow
// entry, and the per-block reduction.
#include <cstdint>

#include "engine/mix64.hpp"
#include "gpu/gpu_constants.hpp"
#include "gpu/gpu_records.hpp"
#include "wideint/host_device.hpp"
#include "wideint/u128.hpp"

namespace pelorin {

// The sixteen arguments of verify_kernel, in launch order.
struct KernelArgs {
    U128 begin;
    std::uint64_t count = 0;
    bool fast_steps = true;
    bool sieve = false;
    bool recursive = false;
    const std::uint64_t* table = nullptr;
    std::uint32_t k = 0;
    bool per_start = false;
    bool frontier = false;
    U128 frontier_base;
    const std::uint64_t* survivors = nullptr;
    std::uint64_t survivor_count = 0;
    std::uint64_t work_items = 0;
    GpuAggregate* aggregate = nullptr;
    OverflowState* queue = nullptr;
    std::uint64_t overflow_capacity = 0;
};

// One thread's counters over its share of the grid-stride loop.
struct ThreadCounters {
    std::uint64_t checked = 0, candidates = 0, steps = 0, overflows = 0, sum = 0, xor_ = 0;
    std::uint32_t invalid = 0;
};

// The block's shared arrays, one entry per thread.
struct BlockCounters {
    std::uint64_t s_checked[kMaxBlockSize];
    std::uint64_t s_candidates[kMaxBlockSize];
    std::uint64_t s_steps[kMaxBlockSize];
    std::uint64_t s_overflows[kMaxBlockSize];
    std::uint64_t s_sum[kMaxBlockSize];
    std::uint64_t s_xor[kMaxBlockSize];
    std::uint32_t s_invalid[kMaxBlockSize];
};
static_assert(sizeof(BlockCounters) == 26624);

// q * 2^k, wrapping modulo 2^128.
PELORIN_HD constexpr U128 block_offset(std::uint64_t q, std::uint32_t k) {
    if (k == 0) return U128{q, 0};
    if (k >= 64) return U128{0, k >= 128 ? 0 : q << (k - 64)};
    return U128{q << k, q >> (64 - k)};
}

PELORIN_HD constexpr U128 add_wide(U128 a, U128 b) {
    const std::uint64_t lo = a.lo + b.lo;
    return U128{lo, a.hi + b.hi + (lo < a.lo ? 1u : 0u)};
}

PELORIN_HD constexpr U128 add_offset(U128 a, std::uint64_t x) { return add_wide(a, U128{x, 0}); }

// begin <= n < begin + count, without forming begin + count (which may be 2^128).
PELORIN_HD constexpr bool offset_inside(U128 n, U128 begin, std::uint64_t count) {
    if (n < begin) return false;
    const std::uint64_t lo = n.lo - begin.lo;
    const std::uint64_t hi = n.hi - begin.hi - (n.lo < begin.lo ? 1u : 0u);
    return hi == 0 && lo < count;
}

// n mod 9 in {2, 4, 5, 8}, with 2^64 = 7 (mod 9).
PELORIN_HD constexpr bool mod9_sieved(U128 n) {
    const unsigned m = static_cast<unsigned>((n.lo % 9 + 7 * (n.hi % 9)) % 9);
    return m == 2 || m == 4 || m == 5 || m == 8;
}

// Even, or mod 9 sieved, or above the finite descent threshold of its residue mod 2^k.
PELORIN_HD constexpr bool recursive_sieved(U128 n, const std::uint64_t* table, std::uint32_t k) {
    if (!is_odd(n) || mod9_sieved(n)) return true;
    const std::uint64_t mask = k >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << k) - 1;
    const std::uint64_t e = table[n.lo & mask];
    return e != kNoDescent && (n.hi != 0 || n.lo > e);
}

// Walks x = start until x < start. true when it fell below (at once for 0 and 1); false when
// an odd x had 3x+1 >= 2^128, with that x in out. steps and odd_steps are added to; the
// overflowing 3x+1 counts as an odd step but not as a step. With fast_steps each move strips
// a whole run of zero bits and the comparison is made only between moves.
PELORIN_HD constexpr bool verify_device(U128 start, bool fast_steps, std::uint64_t& steps, std::uint64_t& odd_steps,
                                        U128& out) {
    if (start.hi == 0 && start.lo <= 1) return true;
    U128 x = start;
    while (!(x < start)) {
        if (is_odd(x)) {
            ++odd_steps;
            if (!three_n_plus_one_fits(x)) {
                out = x;
                return false;
            }
            ++steps;
            if (fast_steps) {
                const unsigned z = trailing_zeros(x);
                x = shift_right(x, z);
                steps += z;
            }
        } else if (fast_steps) {
            const unsigned z = trailing_zeros(x);
            x = shift_right(x, z);
            steps += z;
        } else {
            x = shift_right(x, 1);
            ++steps;
        }
    }
    return true;
}

// Slot for one overflow entry: one global atomic per overflowing start on the device.
PELORIN_HD inline std::uint64_t reserve_overflow_slot(GpuAggregate* aggregate) {
#if defined(__CUDA_ARCH__)
    return atomicAdd(reinterpret_cast<unsigned long long*>(&aggregate->queued), 1ull);
#else
    return aggregate->queued++;  // host runs are sequential
#endif
}

// Work item i of the launch.
PELORIN_HD inline void run_item(const KernelArgs& a, std::uint64_t i, ThreadCounters& t) {
    U128 n;
    if (a.frontier) {
        const std::uint64_t q = i / a.survivor_count;
        const std::uint64_t r = a.survivors[i - q * a.survivor_count];
        n = add_offset(add_wide(a.frontier_base, block_offset(q, a.k)), r);
        if (!offset_inside(n, a.begin, a.count)) return;
    } else {
        n = add_offset(a.begin, i);
        ++t.checked;
    }
    const std::uint64_t h = start_checksum(n);
    if (a.per_start) {
        t.sum += h;
        t.xor_ ^= h;
    }
    if (n.hi == 0 && n.lo == 1) return;
    if (a.sieve) {
        if (a.recursive ? recursive_sieved(n, a.table, a.k) : (!is_odd(n) || mod9_sieved(n))) return;
    }
    ++t.candidates;
    if (!a.per_start) {
        t.sum += h;
        t.xor_ ^= h;
    }
    if (n.hi == 0 && n.lo == 0) return;
    std::uint64_t s = 0, o = 0;
    U128 x;
    if (verify_device(n, a.fast_steps, s, o, x)) {
        t.steps += s;
        return;
    }
    ++t.overflows;
    const std::uint64_t slot = reserve_overflow_slot(a.aggregate);
    if (slot >= a.overflow_capacity) {
        t.invalid = 1;
        return;
    }
    a.queue[slot] = OverflowState{n, x, s, o};
}

// Advances a grid-stride index; false when the next index would reach total. Testing before
// adding keeps i + stride from wrapping past 2^64 on ranges of nearly 2^64 items.
PELORIN_HD constexpr bool next_index(std::uint64_t& i, std::uint64_t stride, std::uint64_t total) {
    if (total - i <= stride) return false;
    i += stride;
    return true;
}

// One thread's grid-stride loop from item first.
PELORIN_HD inline void run_thread(const KernelArgs& a, std::uint64_t first, std::uint64_t stride, ThreadCounters& t) {
    const std::uint64_t total = a.frontier ? a.work_items : a.count;
    if (first >= total) return;
    std::uint64_t i = first;
    do {
        run_item(a, i, t);
    } while (next_index(i, stride, total));
}

PELORIN_HD inline void store_counters(BlockCounters& b, unsigned t, const ThreadCounters& c) {
    b.s_checked[t] = c.checked;
    b.s_candidates[t] = c.candidates;
    b.s_steps[t] = c.steps;
    b.s_overflows[t] = c.overflows;
    b.s_sum[t] = c.sum;
    b.s_xor[t] = c.xor_;
    b.s_invalid[t] = c.invalid;
}

// One reduction pass for thread t < stride: fold entry t + stride into entry t.
PELORIN_HD inline void reduce_pass(BlockCounters& b, unsigned t, unsigned stride) {
    const unsigned u = t + stride;
    b.s_checked[t] += b.s_checked[u];
    b.s_candidates[t] += b.s_candidates[u];
    b.s_steps[t] += b.s_steps[u];
    b.s_overflows[t] += b.s_overflows[u];
    b.s_sum[t] += b.s_sum[u];
    b.s_xor[t] ^= b.s_xor[u];
    b.s_invalid[t] |= b.s_invalid[u];
}

// Thread 0 adds the block's totals to the aggregate: one atomic per counter per block.
PELORIN_HD inline void publish_block(const BlockCounters& b, GpuAggregate* a) {
#if defined(__CUDA_ARCH__)
    using ull = unsigned long long;
    atomicAdd(reinterpret_cast<ull*>(&a->checked), static_cast<ull>(b.s_checked[0]));
    atomicAdd(reinterpret_cast<ull*>(&a->candidates), static_cast<ull>(b.s_candidates[0]));
    atomicAdd(reinterpret_cast<ull*>(&a->steps), static_cast<ull>(b.s_steps[0]));
    atomicAdd(reinterpret_cast<ull*>(&a->overflows), static_cast<ull>(b.s_overflows[0]));
    atomicAdd(reinterpret_cast<ull*>(&a->checksum_sum), static_cast<ull>(b.s_sum[0]));
    atomicXor(reinterpret_cast<ull*>(&a->checksum_xor), static_cast<ull>(b.s_xor[0]));
    if (b.s_invalid[0] != 0) atomicExch(&a->invalid, 1u);
#else
    a->checked += b.s_checked[0];
    a->candidates += b.s_candidates[0];
    a->steps += b.s_steps[0];
    a->overflows += b.s_overflows[0];
    a->checksum_sum += b.s_sum[0];
    a->checksum_xor ^= b.s_xor[0];
    if (b.s_invalid[0] != 0) a->invalid = 1;
#endif
}

}  // namespace pelorin
