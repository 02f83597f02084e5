#pragma once
// Decimal output of every width: no sign, no leading zeros, zero as "0".
#include <cstdint>
#include <string>
#include <vector>

#include "wideint/u128.hpp"

namespace pelorin {

// The exclusive end 2^128, which a U128 cannot hold.
inline constexpr const char* kTwoPow128Decimal = "340282366920938463463374607431768211456";

std::string limbs_to_decimal(std::vector<std::uint64_t> limbs);  // least significant first
std::string u128_to_decimal(U128 value);
std::string end_to_decimal(U128 value, bool end_is_2_128);

}  // namespace pelorin
