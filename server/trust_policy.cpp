#include "server/trust_policy.hpp"

#include <algorithm>

#include "server/limits.hpp"

namespace pelorin::server {

bool needs_confirmation(const TrustPolicy& policy, const CompletionContext& context, std::uint64_t unit_starts,
                        double draw) {
    if (context.validated_since_fault < static_cast<std::int64_t>(policy.new_worker_results)) return true;
    if (draw < policy.replication_share) return true;
    if (!(policy.fast_result_slack > 0)) return false;
    // The worker's claim on its speed (capped again: rows stored before claims were capped),
    // against the time from its first lease of the unit to this complete on the database's
    // clock, which the worker cannot set.
    const double claimed = context.benchmark_starts_per_second > 0 ? context.benchmark_starts_per_second
                                                                   : context.lease_starts_per_second;
    if (!(claimed > 0)) return true;  // nothing to judge the speed by
    const double rate = std::min(claimed, kMaxClaimedStartsPerSecond);
    const double expected_ms = static_cast<double>(unit_starts) / rate * 1000.0;
    return static_cast<double>(context.elapsed_ms) * policy.fast_result_slack < expected_ms;
}

}  // namespace pelorin::server
