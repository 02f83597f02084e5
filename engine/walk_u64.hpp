#pragma once
// The shortcut and plain checks in native arithmetic: 64-bit while values fit, and a
// 128-bit walk where the compiler has a 128-bit integer. Each follows exactly the counting of
// check_start and hands over to its U128 stage (continue_check) at the loop head as soon as
// a 3n+1 would leave the native width, so verdicts and step counts are identical.
#include <cstdint>

#include "engine/check_start.hpp"
#include "wideint/u128.hpp"

namespace pelorin {

// Largest odd-step input whose 3n+1 stays below 2^64.
inline constexpr std::uint64_t kMax3nPlus1Input64 = 0x5555555555555554ull;

// check_start (s, shortcut on) resumed at its loop head with value n, for s <= n < 2^64.
inline void walk_shortcut_from_u64(std::uint64_t s, std::uint64_t n, std::uint64_t& steps, bool& escalated) {
    std::uint64_t st = 0;
    while (n >= s) {
        if (n & 1) {
            if (n > kMax3nPlus1Input64) {
                steps += st;
                continue_check(U128{s, 0}, U128{n, 0}, true, steps, escalated);
                return;
            }
            n = 3 * n + 1;
            ++st;
        }
        const unsigned z = ctz64(n);
        n >>= z;
        st += z;
    }
    steps += st;
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
using native_u128 = unsigned __int128;

inline native_u128 to_native(U128 v) { return (static_cast<native_u128>(v.hi) << 64) | v.lo; }
inline U128 from_native(native_u128 v) {
    return U128{static_cast<std::uint64_t>(v), static_cast<std::uint64_t>(v >> 64)};
}

// check_start (s, shortcut on) resumed at its loop head with value n >= s, in 128 bits.
inline void walk_shortcut_from_wide(U128 start, U128 value, std::uint64_t& steps, bool& escalated) {
    constexpr native_u128 kMaxInput = (~native_u128{0} - 1) / 3;  // largest n with 3n+1 < 2^128
    const native_u128 s = to_native(start);
    native_u128 n = to_native(value);
    std::uint64_t st = 0;
    while (n >= s) {
        if (n & 1) {
            if (n > kMaxInput) {
                steps += st;
                continue_check(start, from_native(n), true, steps, escalated);
                return;
            }
            n = 3 * n + 1;
            ++st;
        }
        const auto lo = static_cast<std::uint64_t>(n);
        const unsigned z = lo != 0 ? ctz64(lo) : 64 + ctz64(static_cast<std::uint64_t>(n >> 64));
        n >>= z;
        st += z;
    }
    steps += st;
}
#else
inline void walk_shortcut_from_wide(U128 start, U128 value, std::uint64_t& steps, bool& escalated) {
    continue_check(start, value, true, steps, escalated);
}
#endif

}  // namespace pelorin
