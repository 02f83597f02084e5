#pragma once
// 256-bit unsigned value, four limbs least significant first: the first widening of a
// trajectory that leaves 128 bits. Inline and allocation-free.
#include <cstdint>

#include "wideint/u128.hpp"

namespace pelorin {

struct U256 {
    std::uint64_t limb[4] = {0, 0, 0, 0};

    PELORIN_HD static constexpr U256 from(U128 v) {
        U256 r;
        r.limb[0] = v.lo;
        r.limb[1] = v.hi;
        return r;
    }
};

// In place; false when a carry leaves the top limb (the limbs then hold the wrapped value).
PELORIN_HD constexpr bool three_n_plus_one(U256& n) {
    std::uint64_t carry = 1;
    for (auto& x : n.limb) {
        const std::uint64_t twice = x << 1;
        const std::uint64_t thrice = twice + x;
        std::uint64_t out = (x >> 63) + (thrice < twice ? 1u : 0u);
        const std::uint64_t sum = thrice + carry;
        out += sum < thrice ? 1u : 0u;
        x = sum;
        carry = out;
    }
    return carry == 0;
}

PELORIN_HD constexpr void halve(U256& n) {
    for (int i = 0; i < 3; ++i) n.limb[i] = (n.limb[i] >> 1) | (n.limb[i + 1] << 63);
    n.limb[3] >>= 1;
}

PELORIN_HD constexpr bool is_odd(const U256& n) { return (n.limb[0] & 1) != 0; }

// n < s, the U128 extended with zero limbs.
PELORIN_HD constexpr bool less_than(const U256& n, U128 s) {
    if (n.limb[3] != 0 || n.limb[2] != 0) return false;
    return n.limb[1] < s.hi || (n.limb[1] == s.hi && n.limb[0] < s.lo);
}

}  // namespace pelorin
