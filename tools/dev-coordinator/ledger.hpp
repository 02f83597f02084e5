#pragma once
// The ledger: the campaign, every unit handed out, each lease of it and each result
// received with its verdict. It is the coordinator's memory across restarts.
#include <cstdint>
#include <string>
#include <vector>

#include "wideint/unit_range.hpp"

namespace pelorin::devcoord {

enum class LeaseState { active, expired, completed };
enum class UnitState { open, leased, accepted, set_aside };

struct LeaseRecord {
    std::string lease_id;
    std::string worker_id;
    std::string proof_hash;        // as sent with the acquire request
    double starts_per_second = 0;  // likewise
    std::string progress = "0";    // the last heartbeat's offset, as sent
    std::int64_t leased_ms = 0;    // Unix time in milliseconds
    std::int64_t heartbeat_ms = 0; // last sign of life: the acquire or a heartbeat
    LeaseState state = LeaseState::active;
};

struct Submission {
    std::string lease_id;
    std::string worker_id;
    std::string received;  // the request body, byte for byte
    std::string verdict;   // "accepted" or "rejected: ..."
    std::int64_t received_ms = 0;
};

struct UnitEntry {
    std::uint64_t index = 0;
    UnitRange range;
    UnitState state = UnitState::open;
    std::vector<LeaseRecord> leases;  // the last one is the current lease when state is leased
    std::vector<Submission> submissions;
};

struct Ledger {
    UnitRange campaign;
    std::uint64_t unit_size = 0;
    U128 next_begin;          // the first start not yet handed out as part of a unit,
    bool exhausted = false;   // unless every start has been (the cursor may stand at 2^128)
    std::uint64_t next_lease_number = 1;
    std::vector<UnitEntry> units;
};

// A fresh ledger for a campaign. Throws std::invalid_argument "range end is below begin"
// and "unit size must be at least 1".
Ledger new_ledger(const UnitRange& campaign, std::uint64_t unit_size);

// Carves the next unit off the cursor, or returns false when the campaign is exhausted.
bool carve_unit(Ledger& ledger, UnitRange& unit);

const char* unit_state_text(UnitState state);
const char* lease_state_text(LeaseState state);

// The ledger as JSON text (the file's form, also served at /dev/ledger), and back.
// ledger_from_json throws std::runtime_error "ledger file is damaged: <detail>".
std::string ledger_to_json(const Ledger& ledger);
Ledger ledger_from_json(const std::string& text);

// One line per unit with its state and verdict, then totals.
std::string ledger_summary(const Ledger& ledger);

}  // namespace pelorin::devcoord
