#pragma once
// Accepted input forms of starts, range ends and counters.
// Errors: std::invalid_argument for "empty integer", "only 2^k notation is supported",
// "invalid power expression", "empty arbitrary-width integer",
// "invalid arbitrary-width integer"; std::overflow_error for
// "integer exceeds 128 bits or is malformed".
#include <string_view>

#include "wideint/biguint.hpp"
#include "wideint/u128.hpp"

namespace pelorin {

struct EndBound {
    U128 value;
    bool end_is_2_128 = false;
};

U128 parse_u128(std::string_view text);
EndBound parse_end_bound(std::string_view text);
BigUint parse_biguint(std::string_view text);

}  // namespace pelorin
