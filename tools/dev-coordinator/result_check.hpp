#pragma once
// The check every completed unit passes before the coordinator counts it as verified.
#include <string>
#include <string_view>
#include <vector>

#include "wideint/unit_range.hpp"

namespace pelorin::devcoord {

// A proof table whose results this coordinator can check, and how its checksums are made.
struct ProofScheme {
    std::string hash;     // lower-case hex SHA-256 of the table
    std::string backend;  // the backend family that uses it, for messages and the ledger
};

// Every table the coordinator knows. New backends (GPU tables, survivor-frontier
// accounting) are taught here and nowhere else.
const std::vector<ProofScheme>& known_proof_schemes();

struct Verdict {
    bool accepted = false;
    std::string text;  // "accepted", or "rejected: " and the first reason found
};

// Checks the body of a complete request ({"result":{...}}) against the unit it completes:
// every member of the record present with its type, checked equal to the unit's size, a
// known proof hash, counters that add up, valid true, and both checksums equal to a
// recomputation over the unit's starts (the most expensive step, so the last).
Verdict check_result(const UnitRange& unit, std::string_view body);

}  // namespace pelorin::devcoord
