#pragma once
// What verifying one start means: follow the 3x+1 map until the value falls strictly
// below the start, counting steps, widening from U128 to U256 to BigUint as needed.
#include <cstdint>

#include "wideint/u128.hpp"

namespace pelorin {

// true: s fell below itself; false: invalid start (s = 0). steps is added to; escalated is
// set when the BigUint stage was needed. With shortcut, runs of halvings in the U128 stage
// are taken at once and compared only at their end.
bool check_start(U128 s, bool shortcut, std::uint64_t& steps, bool& escalated);

// Same verdicts and step counts as check_start without shortcut; odd steps fused as (3n+1)/2.
bool check_start_fused(U128 s, std::uint64_t& steps, bool& escalated);

// The U128 stage of check_start resumed at its loop head with current value n (the fast
// 64-bit walks hand over here when a value would leave 64 bits).
bool continue_check(U128 s, U128 n, bool shortcut, std::uint64_t& steps, bool& escalated);

}  // namespace pelorin
