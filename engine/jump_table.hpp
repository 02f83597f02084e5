#pragma once
// Eight iterations of x -> (3x+1)/2 | x/2 at once, chosen by the low 8 bits of x: every x with
// x mod 256 = l becomes 3^k * (x >> 8) + add in 8 + k map steps (k odd iterations among the
// eight). Every value on the way is at least x / 2^margin, so a walk may take the jump whole
// when x >> margin is still at or above its start: no comparison inside it could end the walk.
// Built at compile time.
#include <array>
#include <cstdint>

namespace pelorin {

inline constexpr unsigned kJumpBits = 8;
inline constexpr std::uint64_t kJumpSize = std::uint64_t{1} << kJumpBits;

struct Jump {
    std::uint16_t mul;    // 3^k
    std::uint16_t add;    // the class's own value after the eight iterations, below 3^8
    std::uint8_t margin;  // smallest m with 2^m * 3^k_i >= 2^i after every iteration i
    std::uint8_t steps;   // 8 + k
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
        table[l] = Jump{static_cast<std::uint16_t>(pow3), static_cast<std::uint16_t>(x), static_cast<std::uint8_t>(margin),
                        static_cast<std::uint8_t>(kJumpBits + k)};
    }
    return table;
}();

// Inside a jump from x every 3y+1 is below 2 * 3^8 / 2^7 * x < 2^7 * x, so a value whose top
// 7 bits are clear stays within its width.
inline constexpr unsigned kJumpHeadroomBits = 7;

}  // namespace pelorin
