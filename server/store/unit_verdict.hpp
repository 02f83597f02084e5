#pragma once
// How a unit stands, given every result it has received: the one rule of validation, used
// by every engine inside the transaction that records a result or sets results aside.
//
// Results that passed the server's checks are grouped by agreement (copies_agree). A group
// with results of two different workers validates the unit. A single group validates it as
// soon as one of its results needs no confirmation. Otherwise the unit waits as pending for
// a copy from another worker; when copies disagree, a further worker settles it. A unit is
// set aside when the results refused by a check, or the copies that all disagree with each
// other, reach the set-aside threshold; with no result standing it is open again. A result
// whose checksums still wait for their recomputation is neither counted nor refuted: it only
// keeps the unit pending.
#include <cstdint>
#include <string>
#include <vector>

#include "server/store/store_types.hpp"

namespace pelorin::server {

struct WeighedResult {
    std::int64_t id = 0;
    std::string worker_id;
    ResultStatus status = ResultStatus::pending;  // invalidated results are left out by the caller
    bool needs_confirmation = false;
    std::string comparable;
    bool awaits_checksums = false;  // its checksums are not yet compared with the unit's starts
};

struct UnitVerdict {
    UnitState state = UnitState::open;  // open, pending, validated or set_aside
    std::int64_t canonical = 0;         // validated: the result that stands for the unit
    std::vector<std::int64_t> validated;  // results now counted
    std::vector<std::int64_t> outvoted;   // results the agreeing copies refute
    std::vector<std::string> faulty_workers;  // the workers of the outvoted results
    // The last result given passed the checks and agrees with none of the copies before it:
    // a replication mismatch, when that result has just come in.
    bool newest_disagrees = false;
};

UnitVerdict weigh_unit(const std::vector<WeighedResult>& results, unsigned set_aside_after);

}  // namespace pelorin::server
