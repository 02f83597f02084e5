#pragma once
// Range bounds as the store keeps them: decimal text padded with zeros to 39 digits, so that
// text order is number order and 2^128 (an end) has a place. Readable in any database tool.
#include <string>
#include <string_view>

#include "wideint/u128.hpp"

namespace pelorin::server {

std::string bound_text(U128 value, bool is_2_128 = false);

struct StoredBound {
    U128 value;
    bool is_2_128 = false;
};
// Throws std::runtime_error "damaged bound in the database: <text>".
StoredBound bound_from_text(std::string_view text);

}  // namespace pelorin::server
