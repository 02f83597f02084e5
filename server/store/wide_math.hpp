#pragma once
// Counts of starts and units for the status figures, exact at every width (a campaign may
// hold 2^128 starts), as decimal text.
#include <cstdint>
#include <string>

#include "wideint/unit_range.hpp"

namespace pelorin::server {

// Units a range makes in units of unit_size (the last may be shorter).
std::string units_in(const UnitRange& range, std::uint64_t unit_size);

// Starts in `count` units of unit_size, where the last of them has last_size starts instead
// when last_size is not 0.
std::string starts_in_units(std::int64_t count, std::uint64_t unit_size, std::uint64_t last_size);

// The same as a double, for rates and estimates.
double decimal_to_double(const std::string& digits);

}  // namespace pelorin::server
