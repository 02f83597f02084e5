#include "server/server_policy.hpp"

namespace pelorin::server {

ServerPolicy production_policy() { return ServerPolicy{}; }

ServerPolicy development_policy() {
    ServerPolicy p;
    p.lease_timeout_ms = 120'000;
    p.refused_units_wait = false;
    p.set_aside_waits_for_operator = false;
    p.trust.recompute_budget_cores = -1;
    p.trust.new_worker_results = 0;
    p.trust.replication_share = 0;
    p.trust.fast_result_slack = 0;
    p.register_per_minute = 0;
    p.worker_per_minute = 0;
    p.max_body_bytes = 1 << 20;
    p.connection_deadline_seconds = 0;
    p.threads = 16;
    return p;
}

}  // namespace pelorin::server
