#pragma once
// 128-bit unsigned value as two 64-bit limbs: the type of starts, range bounds and the
// fast trajectory stage. Everything here is inline and allocation-free.
#include <bit>
#include <cstdint>

#include "wideint/host_device.hpp"

namespace pelorin {

struct U128 {
    std::uint64_t lo = 0;
    std::uint64_t hi = 0;
};

PELORIN_HD constexpr bool operator==(U128 a, U128 b) { return a.lo == b.lo && a.hi == b.hi; }
PELORIN_HD constexpr bool operator<(U128 a, U128 b) { return a.hi < b.hi || (a.hi == b.hi && a.lo < b.lo); }

PELORIN_HD constexpr unsigned ctz64(std::uint64_t x) {
#if defined(__CUDA_ARCH__)
    return x == 0 ? 64u : static_cast<unsigned>(__ffsll(static_cast<long long>(x)) - 1);
#else
    return static_cast<unsigned>(std::countr_zero(x));  // 64 for 0
#endif
}

// a + x; when the sum does not fit, *overflow is set and the result must not be used.
PELORIN_HD constexpr U128 add_u64(U128 a, std::uint64_t x, bool* overflow = nullptr) {
    U128 r{a.lo + x, a.hi};
    bool over = false;
    if (r.lo < a.lo) {
        if (a.hi == ~std::uint64_t{0}) over = true;
        else r.hi = a.hi + 1;
    }
    if (overflow != nullptr) *overflow = over;
    return r;
}

// n := 3n+1 when the result is below 2^128; returns false and leaves n unchanged otherwise.
// The test is exact: 3*lo is formed as lo + 2*lo, carrying 0, 1 or 2 into the high limb.
PELORIN_HD constexpr bool three_n_plus_one_fits(U128& n) {
    const std::uint64_t twice = n.lo << 1;
    const std::uint64_t thrice = twice + n.lo;
    const std::uint64_t carry = (n.lo >> 63) + (thrice < twice ? 1u : 0u);
    const std::uint64_t max = ~std::uint64_t{0};
    if (n.hi > (max - carry) / 3) return false;
    std::uint64_t hi = 3 * n.hi + carry;
    const std::uint64_t lo = thrice + 1;
    if (lo == 0) {
        if (hi == max) return false;
        ++hi;
    }
    n = U128{lo, hi};
    return true;
}

// Shift right by k, 0 <= k < 128.
PELORIN_HD constexpr U128 shift_right(U128 a, unsigned k) {
    if (k == 0) return a;
    if (k >= 64) return U128{a.hi >> (k - 64), 0};
    return U128{(a.lo >> k) | (a.hi << (64 - k)), a.hi >> k};
}

PELORIN_HD constexpr unsigned trailing_zeros(U128 a) {
    return a.lo != 0 ? ctz64(a.lo) : 64 + ctz64(a.hi);
}

PELORIN_HD constexpr bool is_odd(U128 a) { return (a.lo & 1) != 0; }

}  // namespace pelorin
