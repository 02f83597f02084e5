#pragma once
// Counts of starts and units for the status figures, exact at every width (a campaign may
// hold 2^128 starts), as decimal text.
#include <cstdint>
#include <string>

#include "server/store/store_types.hpp"
#include "wideint/unit_range.hpp"

namespace pelorin::server {

// Units a range makes in units of unit_size (the last may be shorter).
std::string units_in(const UnitRange& range, std::uint64_t unit_size);

// Starts in `count` units of unit_size, where the last of them has last_size starts instead
// when last_size is not 0.
std::string starts_in_units(std::int64_t count, std::uint64_t unit_size, std::uint64_t last_size);

// The same as a double, for rates and estimates.
double decimal_to_double(const std::string& digits);

// Exact arithmetic on decimal texts without leading zeros: a + b, a - b (a >= b; throws
// std::logic_error otherwise), and a <=> b.
std::string decimal_sum(const std::string& a, const std::string& b);
std::string decimal_difference(const std::string& a, const std::string& b);
int decimal_compare(const std::string& a, const std::string& b);

// Starts in the range (up to 2^128), and in its last unit (the others have unit_size).
std::string range_starts(const UnitRange& range);
std::uint64_t last_unit_size(const UnitRange& range, std::uint64_t unit_size);

// A campaign's starts by the state of the unit they lie in, exactly; starts beyond the units
// made so far are open.
struct StartsByState {
    std::string open, leased, pending, validated, set_aside;
    std::string total;
};
StartsByState starts_by_state(const CampaignFigures& campaign);

}  // namespace pelorin::server
