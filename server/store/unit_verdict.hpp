#pragma once
// How a unit stands, given every result it has received: the one rule of validation, used
// by every engine inside the transaction that records a result or sets results aside.
//
// Results that passed the server's checks (an outvoted one passed them too) are grouped by
// agreement (copies_agree). A group holding results of two independent workers
// (independence.hpp) validates the unit, and those results are confirmed by a copy. A single
// group validates it as soon as one of its results needs no confirmation. Otherwise the unit
// waits as pending for a copy from an independent worker; when copies disagree, a further
// worker settles it. A unit is set aside when the results refused by a check, or the groups of
// copies that all disagree with each other, reach the set-aside threshold; only results that
// count toward setting aside are counted (those of established workers since the operator
// last reopened the unit), so throwaway registrations cannot set a unit aside. With no result
// standing the unit is open again.
#include <cstdint>
#include <string>
#include <vector>

#include "server/store/independence.hpp"
#include "server/store/store_types.hpp"

namespace pelorin::server {

struct WeighedResult {
    std::int64_t id = 0;
    std::string worker_id;
    ResultStatus status = ResultStatus::pending;  // invalidated results are left out by the caller
    bool needs_confirmation = false;
    std::string comparable;
    bool passed = true;  // false: refused by a check (an outvoted result passed them)
    WorkerMarks worker;  // its worker's registration, hardware and networks
    // Counts toward setting the unit aside: its worker is established (has a validated result,
    // which a new worker gets only through an independent copy), and it came after the unit was
    // last reopened.
    bool counts_for_set_aside = true;
};

struct UnitVerdict {
    UnitState state = UnitState::open;  // open, pending, validated or set_aside
    std::int64_t canonical = 0;         // validated: the result that stands for the unit
    std::vector<std::int64_t> validated;  // results now counted
    bool copied = false;                  // validated: by the agreement of independent workers
    std::vector<std::int64_t> outvoted;   // results the agreeing copies refute
    std::vector<std::string> faulty_workers;  // the workers of the outvoted results
    // The last result given passed the checks and agrees with none of the copies before it:
    // a replication mismatch, when that result has just come in.
    bool newest_disagrees = false;
};

UnitVerdict weigh_unit(const std::vector<WeighedResult>& results, unsigned set_aside_after);

}  // namespace pelorin::server
