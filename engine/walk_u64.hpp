#pragma once
// The shortcut and plain checks in native arithmetic: 64-bit while values fit, and a
// 128-bit walk where the compiler has a 128-bit integer. Each follows exactly the counting of
// check_start and hands over to its U128 stage (continue_check) at the loop head as soon as
// a 3n+1 would leave the native width, so verdicts and step counts are identical.
#include <cstdint>

#include "engine/check_start.hpp"
#include "engine/jump_table.hpp"
#include "wideint/u128.hpp"

namespace pelorin {

// Largest odd-step input whose 3n+1 stays below 2^64.
inline constexpr std::uint64_t kMax3nPlus1Input64 = 0x5555555555555554ull;

// Whether x keeps the headroom that holds every value of a jump from it within the width, and
// whether x / 2^margin is still at or above the start s, so that no comparison can fall inside.
inline bool jump_fits(std::uint64_t x) { return (x >> (64 - kJumpHeadroomBits)) == 0; }
inline bool jump_clear(std::uint64_t x, std::uint64_t s, unsigned margin) { return (x >> margin) >= s; }

#if defined(__SIZEOF_INT128__)
using native_u128 = unsigned __int128;

inline native_u128 to_native(U128 v) { return (static_cast<native_u128>(v.hi) << 64) | v.lo; }
inline U128 from_native(native_u128 v) {
    return U128{static_cast<std::uint64_t>(v), static_cast<std::uint64_t>(v >> 64)};
}

// The same in 128 bits; the second test reads the high limbs alone, which only errs towards a
// single pass.
inline bool jump_fits(native_u128 x) { return jump_fits(static_cast<std::uint64_t>(x >> 64)); }
inline bool jump_clear(native_u128 x, native_u128 s, unsigned margin) {
    return (static_cast<std::uint64_t>(x >> 64) >> margin) > static_cast<std::uint64_t>(s >> 64);
}
#endif

// Divides the even x > 0 by all its factors of two; returns how many.
inline unsigned strip_twos(std::uint64_t& x) {
    const unsigned z = ctz64(x);
    x >>= z;
    return z;
}

#if defined(__SIZEOF_INT128__)
inline unsigned strip_twos(native_u128& x) {
    const auto lo = static_cast<std::uint64_t>(x);
    if (lo == 0) [[unlikely]] {
        const unsigned z = 64 + ctz64(static_cast<std::uint64_t>(x >> 64));
        x >>= z;
        return z;
    }
    // The count is below 64 here, so two limb shifts do: the compiler's 128-bit shift by a
    // variable count also tests for counts of 64 and more (3% faster at 2^71 without).
    const unsigned z = ctz64(lo);
    const auto hi = static_cast<std::uint64_t>(x >> 64);
    x = (static_cast<native_u128>(hi >> z) << 64) | ((lo >> z) | (hi << 1 << (63 - z)));
    return z;
}
#endif

// The shortcut walk of check_start in the native unsigned type N (64 or 128 bits), from its
// loop head with value x >= s. kJumpBits iterations are taken at once from the jump table while
// jump_fits and jump_clear; otherwise one pass: 3x+1 if x is odd, then all its factors of two, then the
// comparison. Returns true once x < s; false, with x odd and st counted up to it, when the
// next 3x+1 would leave N.
template <class N>
inline bool walk_jumping(N s, N& x, std::uint64_t& st) {
    constexpr N kMaxInput = (~N{0} - 1) / 3;  // largest x with 3x+1 in N
    for (;;) {
        if (jump_fits(x)) {  // only then the table: near the top of the range it is never used
            const std::uint64_t l = static_cast<std::uint64_t>(x) & (kJumpSize - 1);
            if (jump_clear(x, s, kJumpMargins[l])) {
                const Jump& j = kJumps[l];
                x = (x >> kJumpBits) * j.mul + j.add;
                st += j.steps;
                continue;
            }
        }
        // 3x+1 without a branch on the parity, which after a jump is even or odd at random.
        const N odd = x & 1;
        if (x > kMaxInput && odd != 0) return false;
        x += (2 * x + 1) & (N{0} - odd);
        st += static_cast<std::uint64_t>(odd);
        st += strip_twos(x);
        if (x < s) return true;
    }
}

// check_start (s, shortcut on) resumed at its loop head with value n, for s <= n < 2^64.
inline void walk_shortcut_from_u64(std::uint64_t s, std::uint64_t n, std::uint64_t& steps, bool& escalated) {
    std::uint64_t st = 0;
    const bool fell = walk_jumping(s, n, st);
    steps += st;
    if (!fell) continue_check(U128{s, 0}, U128{n, 0}, true, steps, escalated);
}

// check_start (s, shortcut on) for 2 <= s < 2^64.
inline void walk_shortcut_u64(std::uint64_t s, std::uint64_t& steps, bool& escalated) {
    walk_shortcut_from_u64(s, s, steps, escalated);
}

// check_start (s, shortcut off) for 2 <= s < 2^64: one step per map application.
inline void walk_plain_u64(std::uint64_t s, std::uint64_t& steps, bool& escalated) {
    std::uint64_t n = s;
    std::uint64_t st = 0;
    while (n >= s) {
        if (n & 1) {
            if (n > kMax3nPlus1Input64) {
                steps += st;
                continue_check(U128{s, 0}, U128{n, 0}, false, steps, escalated);
                return;
            }
            n = 3 * n + 1;
        } else {
            n >>= 1;
        }
        ++st;
    }
    steps += st;
}

#if defined(__SIZEOF_INT128__)
// check_start (s, shortcut on) resumed at its loop head with value n >= s, in 128 bits.
inline void walk_shortcut_from_wide(U128 start, U128 value, std::uint64_t& steps, bool& escalated) {
    native_u128 n = to_native(value);
    std::uint64_t st = 0;
    const bool fell = walk_jumping(to_native(start), n, st);
    steps += st;
    if (!fell) continue_check(start, from_native(n), true, steps, escalated);
}
#else
inline void walk_shortcut_from_wide(U128 start, U128 value, std::uint64_t& steps, bool& escalated) {
    continue_check(start, value, true, steps, escalated);
}
#endif

}  // namespace pelorin
