#pragma once
// Whether a result that passed its checks must be confirmed by a copy from another worker:
// every result of a worker until it has new_worker_results validated since its last fault
// (adaptive replication: a fault starts the count again), a random share after that, and any
// result that came faster than the worker's own benchmark allows (by the policy's slack).
#include <cstdint>

#include "server/server_policy.hpp"
#include "server/store/store_types.hpp"

namespace pelorin::server {

// `draw` is a uniform random number in [0, 1) (secure_random's random_fraction).
bool needs_confirmation(const TrustPolicy& policy, const CompletionContext& context, std::uint64_t unit_starts,
                        double draw);

}  // namespace pelorin::server
