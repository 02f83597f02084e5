#pragma once
// b = kJumpBits iterations of x -> (3x+1)/2 | x/2 at once, chosen by the low b bits of x:
// every x with x mod 2^b = l becomes 3^k * (x >> b) + add in b + k map steps (k odd iterations
// among the b). Every value on the way is at least x / 2^margin, so a walk may take the jump
// whole when x >> margin is still at or above its start: no comparison inside it could end
// the walk. Built at compile time.
#include <array>
#include <cstdint>

#include "engine/tuning.hpp"

namespace pelorin {

inline constexpr std::uint64_t kJumpSize = std::uint64_t{1} << kJumpBits;

struct Jump {
    std::uint32_t mul;    // 3^k
    std::uint32_t add;    // l after its b iterations, below 3^b
    std::uint8_t margin;  // smallest m with 2^m * 3^k_i >= 2^i after every iteration i
    std::uint8_t steps;   // b + k
};

inline constexpr std::array<Jump, kJumpSize> kJumps = [] {
    std::array<Jump, kJumpSize> table{};
    for (std::uint64_t l = 0; l < kJumpSize; ++l) {
        std::uint64_t x = l, pow3 = 1;
        unsigned k = 0, margin = 0;
        for (unsigned i = 1; i <= kJumpBits; ++i) {
            if (x & 1) {
                x = (3 * x + 1) / 2;
                pow3 *= 3;
                ++k;
            } else {
                x /= 2;
            }
            while ((pow3 << margin) < (std::uint64_t{1} << i)) ++margin;
        }
        table[l] = Jump{static_cast<std::uint32_t>(pow3), static_cast<std::uint32_t>(x), static_cast<std::uint8_t>(margin),
                        static_cast<std::uint8_t>(kJumpBits + k)};
    }
    return table;
}();

// The margins alone, 4 KB that stay in the level-1 cache: the walk's test whether to jump
// waits on this load.
inline constexpr std::array<std::uint8_t, kJumpSize> kJumpMargins = [] {
    std::array<std::uint8_t, kJumpSize> m{};
    for (std::uint64_t l = 0; l < kJumpSize; ++l) m[l] = kJumps[l].margin;
    return m;
}();

// Inside a jump from x every 3y+1 is below about 2 * 3^b / 2^(b-1) * x (b = kJumpBits), so a
// value whose top bits are clear by that factor stays within its width.
inline constexpr unsigned kJumpHeadroomBits = [] {
    std::uint64_t p3 = 1;
    for (unsigned i = 0; i < kJumpBits; ++i) p3 *= 3;
    unsigned g = 0;
    while ((std::uint64_t{1} << (g + kJumpBits - 1)) < 2 * p3) ++g;
    return g;
}();

}  // namespace pelorin
