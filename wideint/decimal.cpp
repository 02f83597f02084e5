#include "wideint/decimal.hpp"

#include <algorithm>

namespace pelorin {

// Repeated division by 10^9 over 32-bit half-limbs: portable (no 128-bit type) and exact.
std::string limbs_to_decimal(std::vector<std::uint64_t> limbs) {
    while (!limbs.empty() && limbs.back() == 0) limbs.pop_back();
    if (limbs.empty()) return "0";
    std::vector<std::uint32_t> half;
    for (auto l : limbs) {
        half.push_back(static_cast<std::uint32_t>(l));
        half.push_back(static_cast<std::uint32_t>(l >> 32));
    }
    while (!half.empty() && half.back() == 0) half.pop_back();
    std::string digits;
    constexpr std::uint32_t kBase = 1000000000u;
    while (!half.empty()) {
        std::uint64_t rem = 0;
        for (auto it = half.rbegin(); it != half.rend(); ++it) {
            const std::uint64_t cur = (rem << 32) | *it;
            *it = static_cast<std::uint32_t>(cur / kBase);
            rem = cur % kBase;
        }
        while (!half.empty() && half.back() == 0) half.pop_back();
        for (int i = 0; i < 9; ++i) {
            digits.push_back(static_cast<char>('0' + rem % 10));
            rem /= 10;
            if (half.empty() && rem == 0) break;
        }
    }
    std::reverse(digits.begin(), digits.end());
    return digits;
}

std::string u128_to_decimal(U128 value) { return limbs_to_decimal({value.lo, value.hi}); }

std::string end_to_decimal(U128 value, bool end_is_2_128) {
    return end_is_2_128 ? std::string(kTwoPow128Decimal) : u128_to_decimal(value);
}

}  // namespace pelorin
