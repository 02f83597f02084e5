#include "server/store/lease_age.hpp"

#include <algorithm>
#include <cmath>

#include "server/store/store_limits.hpp"

namespace pelorin::server {

std::int64_t lease_max_age_ms(std::int64_t fixed_ms, std::uint64_t unit_starts, double starts_per_second) {
    if (fixed_ms > 0) return fixed_ms;
    if (!(starts_per_second > 0) || !std::isfinite(starts_per_second)) return kLeaseMaxAgeCeilingMs;
    const double ms = kLeaseMaxAgeSlack * static_cast<double>(unit_starts) / starts_per_second * 1000.0;
    if (!(ms < static_cast<double>(kLeaseMaxAgeCeilingMs))) return kLeaseMaxAgeCeilingMs;
    return std::max(kLeaseMaxAgeFloorMs, static_cast<std::int64_t>(ms));
}

}  // namespace pelorin::server
