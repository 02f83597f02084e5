#pragma once
// The flags that set a ServerPolicy, the same in both programs (each with its own defaults).
#include <CLI/CLI.hpp>

#include "server/server_policy.hpp"

namespace pelorin::server {

// Adds --lease-timeout, --difficulty-bits, --recompute-budget, --new-worker-results,
// --replication-share, --fast-result-slack, --set-aside-after, --register-rate, --worker-rate, --max-body-bytes,
// --read-timeout, --connection-deadline and --threads to `app`, writing into `policy`, whose
// values are the defaults shown.
void add_policy_flags(CLI::App& app, ServerPolicy& policy);

}  // namespace pelorin::server
