#pragma once
// Where a lease stands when its complete arrives, and the reply a recorded result gets: the
// same rules on every engine, applied to what the engine read inside its transaction.
#include <cstdint>
#include <string>
#include <vector>

#include "server/store/store_types.hpp"
#include "wideint/unit_range.hpp"

namespace pelorin::server {

// A lease and its unit as a complete sees them; read once before the result is checked and
// again inside the transaction that records it.
struct LeaseRow {
    bool found = false;
    std::int64_t worker = 0;
    std::int64_t unit = 0;
    UnitRange range;
    UnitState unit_state = UnitState::open;
    bool current = false;     // the unit's lease is this one
    bool other_live = false;  // the unit has a live lease that is not this one
    double lease_rate = 0;
    bool answered = false;
    std::string answered_body;
    std::string answered_audit;
};

// The standing of the lease for a complete by `worker`: unknown, another worker's, answered,
// its unit settled, superseded by a live lease of someone else, or open (a late result counts
// while nobody else holds the unit).
CompletionContext::Kind standing_of(const LeaseRow& row, std::int64_t worker);

// A unit's results weighed again (weigh_unit) and written back: the state before and after,
// and which results now count or were outvoted.
struct Reweighed {
    UnitState before = UnitState::open;
    UnitState after = UnitState::open;
    std::vector<std::int64_t> validated;
    std::vector<std::int64_t> outvoted;
    bool newest_disagrees = false;  // the unit's latest result agrees with none before it
};

// The reply's audit text for the result `result` of `submission`, given how its unit was
// weighed: accepted, pending, rejected (by a check or by the agreeing copies) or set aside.
std::string audit_of(const Submission& submission, std::int64_t result, const Reweighed& weighed);

}  // namespace pelorin::server
