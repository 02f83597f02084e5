#pragma once
// How long a lease may hold its unit before the unit is also handed to another worker: a
// worker that heartbeats and never completes cannot hold a unit forever.
#include <cstdint>

namespace pelorin::server {

// fixed_ms when the operator set one (> 0); otherwise kLeaseMaxAgeSlack times the unit's
// time at the rate the worker sent, within [kLeaseMaxAgeFloorMs, kLeaseMaxAgeCeilingMs].
std::int64_t lease_max_age_ms(std::int64_t fixed_ms, std::uint64_t unit_starts, double starts_per_second);

}  // namespace pelorin::server
