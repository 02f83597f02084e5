#pragma once
// The per-start checks for starts below 2^64, in 64-bit arithmetic. Each follows exactly the
// counting of check_start / check_start_fused and hands over to the U128 stage at its loop
// head as soon as a 3n+1 would leave 64 bits, so verdicts and step counts are identical.
#include <cstdint>

#include "engine/check_start.hpp"
#include "wideint/u128.hpp"

namespace pelorin {

// Largest odd-step input whose 3n+1 stays below 2^64.
inline constexpr std::uint64_t kMax3nPlus1Input64 = 0x5555555555555554ull;

// check_start (s, shortcut on) for 2 <= s < 2^64.
inline bool walk_shortcut_u64(std::uint64_t s, std::uint64_t& steps, bool& escalated) {
    std::uint64_t n = s;
    std::uint64_t st = 0;
    while (n >= s) {
        if (n & 1) {
            if (n > kMax3nPlus1Input64) {
                steps += st;
                return continue_check(U128{s, 0}, U128{n, 0}, true, steps, escalated);
            }
            n = 3 * n + 1;
            ++st;
        }
        const unsigned z = ctz64(n);
        n >>= z;
        st += z;
    }
    steps += st;
    return true;
}

// check_start (s, shortcut off) for 2 <= s < 2^64: one step per map application.
inline bool walk_plain_u64(std::uint64_t s, std::uint64_t& steps, bool& escalated) {
    std::uint64_t n = s;
    std::uint64_t st = 0;
    while (n >= s) {
        if (n & 1) {
            if (n > kMax3nPlus1Input64) {
                steps += st;
                return continue_check(U128{s, 0}, U128{n, 0}, false, steps, escalated);
            }
            n = 3 * n + 1;
        } else {
            n >>= 1;
        }
        ++st;
    }
    steps += st;
    return true;
}

}  // namespace pelorin
