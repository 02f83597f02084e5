#pragma once
// What an operator may set about the server's behaviour, with the campaign server's defaults
// and the development coordinator's. The flags that set them are in policy_flags.hpp.
#include <cstddef>
#include <cstdint>

#include "server/network_key.hpp"

namespace pelorin::server {

struct TrustPolicy {
    // Cores' worth of checksum recomputation; negative: every result is recomputed.
    double recompute_budget_cores = 0.25;
    // Every result of a worker is copied by another until it has this many validated in a
    // row since its last fault.
    unsigned new_worker_results = 10;
    // After that, this share of its results, drawn at random.
    double replication_share = 0.05;
    // Results that come faster than the worker's own benchmark allows, by more than this
    // factor, are copied too (0: never). The benchmark is a short run at start-up: on a
    // machine that was busy then, the units that follow can run twice as fast or more.
    double fast_result_slack = 3.0;
    // A unit is set aside after this many refused results (or this many disagreeing copies)
    // from established workers.
    unsigned set_aside_after = 3;
    // Workers on one network (by these prefixes) never copy each other's results.
    NetworkPrefixes networks;
};

struct ServerPolicy {
    std::int64_t lease_timeout_ms = 600'000;
    // A unit held this long is also handed to another worker, while the first may still
    // complete it; 0: adaptive, from the unit's size and the rate the worker sends
    // (store/lease_age.hpp).
    std::int64_t lease_max_age_ms = 0;
    // Whether a unit refused to a worker waits one lease time-out for other workers before it
    // may go back to that worker (the development coordinator hands it straight back: its tests
    // drive one worker through refusals).
    bool refused_units_wait = true;
    // Whether only established workers' refusals set a unit aside, and set-aside units keep a
    // campaign from completing until the operator reopens them (the development coordinator:
    // every refusal counts and a set-aside unit is settled, as its tests expect).
    bool set_aside_waits_for_operator = true;
    unsigned difficulty_bits = 18;
    TrustPolicy trust;
    // Requests per minute: registration (challenge and register) per address, and every
    // call of a worker but complete per worker; 0 switches a limit off.
    double register_per_minute = 10;
    double worker_per_minute = 120;
    std::size_t max_body_bytes = 64 * 1024;
    // A connection waiting this long for the client to send or take data is cut, and every
    // connection is cut this long after its TLS handshake began (0: never).
    int read_timeout_seconds = 10;
    int connection_deadline_seconds = 60;
    std::size_t threads = 32;
};

// The campaign server: replication of new workers and a random share, a quarter core of
// recomputation, limits against abuse.
ServerPolicy production_policy();

// The development coordinator: every result recomputed, no replication, no rate limits, no
// connection deadline (its scripted faults stall replies on purpose), a two-minute lease.
ServerPolicy development_policy();

}  // namespace pelorin::server
