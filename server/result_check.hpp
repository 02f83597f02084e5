#pragma once
// The checks a completed unit's record passes before it is weighed with other copies: its
// structure against the unit (every step but the checksums), and the checksums against a
// recomputation over the unit's starts when the budget allows one.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "wideint/unit_range.hpp"

namespace pelorin::server {

// A proof table whose results this server can check, and how its checksums are made.
struct ProofScheme {
    std::string hash;     // lower-case hex SHA-256 of the table
    std::string backend;  // the backend family that uses it, for messages
};

// Every table the server knows. New backends (GPU tables, survivor-frontier accounting) are
// taught here and nowhere else.
const std::vector<ProofScheme>& known_proof_schemes();

struct StructureCheck {
    bool passed = false;
    std::string reason;  // the first flaw found, when not passed
    std::uint64_t checksum_sum = 0;
    std::uint64_t checksum_xor = 0;
};

// The members of the result record, in the record's order.
const std::vector<std::string>& result_record_members();

// The first member of `result` that is not a member of the result record (its name cut to
// a readable length), or nothing.
std::optional<std::string> foreign_member(const nlohmann::ordered_json& result);

// The record with only the result record's members, in the record's order.
nlohmann::ordered_json normalised_record(const nlohmann::ordered_json& result);

// Every member of the record present with its type, checked equal to the unit's size, a
// known proof hash, no survivor-frontier accounting, counters within the unit that add up,
// finite times of at least 0, valid true. A reason names the member at fault, never the value
// it should have: a refusal must not teach a forger the answer.
StructureCheck check_structure(const UnitRange& unit, const nlohmann::ordered_json& result);

// Empty when the record's checksums equal a recomputation over the unit's starts, else the
// reason (the member that differs, not the recomputed value). The most expensive check: it
// walks every start's checksum.
std::string checksum_mismatch(const UnitRange& unit, std::uint64_t checksum_sum, std::uint64_t checksum_xor);

}  // namespace pelorin::server
