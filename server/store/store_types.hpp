#pragma once
// The values that cross the storage interface: campaigns, workers, leases, results and the
// figures of the operator's commands. Plain data, the same for every engine.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "wideint/unit_range.hpp"

namespace pelorin::server {

// A unit's state as the operator sees it. `leased` is never stored: a unit is leased while
// it has a lease whose expiry lies ahead on the database's clock.
enum class UnitState { open, leased, pending, validated, set_aside };
// "open", "leased", "pending", "validated", "set_aside".
const char* unit_state_name(UnitState state);

// A result's standing: waiting for a copy to agree, counted, refused (by a check or by the
// copies that agreed against it), or set aside by the operator.
enum class ResultStatus { pending, validated, rejected, invalidated };
const char* result_status_name(ResultStatus status);
// Throws std::runtime_error "unknown result status <text>".
ResultStatus result_status_from(const std::string& text);

// The reason a result refuted by the copies that agree is given; a check's refusal names its
// check instead. Every engine writes and reads this text.
inline constexpr const char* kOutvotedReason = "disagrees with the copies that agree";

struct CampaignDefinition {
    std::string name;
    UnitRange range;
    std::uint64_t unit_size = 0;
};

struct Challenge {
    std::string id;
    std::string nonce;
    unsigned difficulty_bits = 0;
};

struct Registration {
    std::string challenge_id;
    std::string client_id;  // a client registering again keeps its worker id
    std::string nickname;
    std::string hardware_hash;
    std::string build_hash;
    std::string address;     // where the registration came from
    std::string token_hash;  // SHA-256 of the new token; the token itself is never stored
    std::string network;     // the address's network key (network_key.hpp); empty: not compared
};

struct WorkerAuth {
    std::string worker_id;
    bool banned = false;
};

struct Benchmark {
    std::string build_hash;
    std::string backend;
    std::string profile;
    double starts_per_second = 0;
};

struct ClaimRequest {
    std::string worker_id;
    double starts_per_second = 0;  // as the worker sent them with the request
    std::string proof_hash;
    std::int64_t lease_timeout_ms = 0;
    // A unit this worker's result was refused on goes to other workers for this long before it
    // may come back to this worker: a worker that computes wrongly, and asks again the moment it
    // is refused, would otherwise take the same unit again and again and hold up the campaign.
    std::int64_t refused_hold_ms = 0;
    // After this long a lease's unit is also handed to another worker, while this one may still
    // complete it; 0: from the unit's size and starts_per_second (lease_age.hpp).
    std::int64_t lease_max_age_ms = 0;
    // Set-aside units settle a campaign like validated ones (the development coordinator's
    // tests); otherwise they keep it from completing until the operator reopens them.
    bool set_aside_settles = false;
    // The network key of the address the request came from (empty: networks not compared).
    // A unit that awaits a copy goes only to a worker independent of every worker with a
    // result standing on it (independence.hpp).
    std::string network;
};

struct ClaimOutcome {
    // granted: a lease (perhaps the one the worker already holds); busy: work remains but
    // none this worker may take now; complete: every campaign is settled.
    enum class Kind { granted, busy, complete } kind = Kind::busy;
    std::string lease_id;
    UnitRange range;
    // busy: what holds the campaign up is units set aside, which only the operator reopens.
    bool waits_for_operator = false;
};

struct HeartbeatOutcome {
    enum class Kind { alive, unknown, other_worker, expired, completed, beyond_unit } kind = Kind::unknown;
};

// What a complete needs to know before its result is checked outside any transaction.
struct CompletionContext {
    enum class Kind { open, unknown, other_worker, answered, superseded, settled } kind = Kind::unknown;
    UnitRange range;
    // answered: the body that was received for this lease and the reply it got.
    std::string answered_body;
    std::string answered_audit;
    // Milliseconds on the database's clock since this worker was first handed this unit
    // (a resumed unit counts from its first lease), and the rates to judge them by.
    std::int64_t elapsed_ms = 0;
    double benchmark_starts_per_second = 0;  // 0 when the worker reported none
    double lease_starts_per_second = 0;
    // Results of this worker validated since its last fault and confirmed by an independent
    // worker's copy (the new-worker rule): a result validated alone earns no trust.
    std::int64_t validated_since_fault = 0;
};

// A result as the server judged it, handed to the store to record and to weigh against the
// unit's other results.
struct Submission {
    std::string worker_id;
    std::string lease_id;
    std::string body;        // the request body, byte for byte
    std::string record;      // the result object, compact JSON ("" when there is none)
    std::string comparable;  // the members copies are compared on (result_check's form)
    bool passed = false;     // every check the server ran held
    std::string reason;      // why not, when it did not
    bool needs_confirmation = false;
    unsigned set_aside_after = 3;
    std::string network;     // the network key of the address the complete came from
    // Every worker's refusals count toward setting a unit aside, not only established ones'
    // (the development coordinator's tests drive one new worker through refusals).
    bool every_refusal_counts = false;
};

struct SubmissionOutcome {
    // recorded or answered (the same body again): `audit` is the reply; conflict: this lease
    // already has another result; the others as CompletionContext.
    enum class Kind { recorded, answered, conflict, unknown, other_worker, superseded, settled } kind = Kind::unknown;
    std::string audit;
    // recorded: the result passed the checks and disagrees with every copy of the unit before
    // it (a replication mismatch; UnitVerdict::newest_disagrees).
    bool copies_disagree = false;
};

struct UnitCounts {
    std::int64_t open = 0;
    std::int64_t leased = 0;
    std::int64_t pending = 0;
    std::int64_t validated = 0;
    std::int64_t set_aside = 0;
};

struct CampaignFigures {
    std::string name;
    UnitRange range;
    std::uint64_t unit_size = 0;
    bool paused = false;
    UnitCounts units;                 // units made so far
    std::string units_total;          // decimal: units the whole range makes
    std::string starts_validated;     // decimal
    std::string validated_below;      // decimal: every start below it lies in a validated unit
    std::int64_t units_validated_last_hour = 0;
    std::string starts_validated_last_hour;  // decimal
    // The state of the campaign's last unit, the one that may be shorter than the others,
    // once it is made (starts_by_state needs it to count exactly).
    std::optional<UnitState> last_unit_state;
};

struct WorkerFigures {
    std::string worker_id;
    std::string nickname;
    std::string address;
    std::int64_t registered_ms = 0;
    std::int64_t last_seen_ms = 0;
    bool banned = false;
    std::optional<Benchmark> benchmark;
    std::int64_t results_validated = 0;
    std::int64_t results_rejected = 0;
    std::int64_t results_pending = 0;
    std::int64_t validated_since_fault = 0;  // confirmed by an independent copy, since its last fault
    std::int64_t last_fault_ms = 0;  // when a result of it was last refused or outvoted; 0: never
};

struct StatusFigures {
    std::int64_t now_ms = 0;  // the database's clock when the figures were taken
    std::vector<CampaignFigures> campaigns;
    std::vector<WorkerFigures> active_workers;  // seen in the last hour
};

struct ExportRow {
    std::string campaign;
    UnitRange range;
    std::string worker_id;
    std::int64_t validated_ms = 0;
    std::string record;  // the result object as received
};

struct ReopenOutcome {
    std::int64_t units = 0;  // set-aside units reopened
};

struct InvalidateOutcome {
    std::int64_t results = 0;  // results set aside
    std::int64_t units = 0;    // units whose standing changed
};

// Everything the store holds about work, for the development coordinator's view and the
// storage tests.
struct LeaseView {
    std::string lease_id;
    std::string worker_id;
    std::string state;  // "active", "expired" or "completed"
    std::string proof_hash;
    double starts_per_second = 0;
    std::string progress;
    std::int64_t leased_ms = 0;
    std::int64_t heartbeat_ms = 0;
};

struct ResultView {
    std::string lease_id;
    std::string worker_id;
    ResultStatus status = ResultStatus::pending;
    std::string audit;  // the reply the worker was given
    std::string reason;
    std::int64_t received_ms = 0;
    std::string body;
};

struct UnitView {
    std::uint64_t index = 0;  // position in its campaign, from 0
    UnitRange range;
    UnitState state = UnitState::open;
    std::vector<LeaseView> leases;
    std::vector<ResultView> results;
};

struct CampaignView {
    std::string name;
    UnitRange range;
    std::uint64_t unit_size = 0;
    bool paused = false;
    U128 next_begin;
    bool exhausted = false;
    std::vector<UnitView> units;
};

struct StoreSnapshot {
    std::int64_t next_lease_number = 1;
    std::vector<CampaignView> campaigns;
};

// One campaign's recent activity, for the public page: hour by hour, who validated most,
// and the units validated last.
struct ActivityQuery {
    std::string campaign;
    int hours = 168;        // the current hour and the ones before it, on the database's clock
    int top_workers = 10;
    int latest_units = 10;
};

struct HourFigures {
    std::int64_t start_ms = 0;  // a whole UTC hour
    std::int64_t units_validated = 0;
    std::string starts_validated = "0";  // decimal
    std::int64_t active_workers = 0;     // workers that held a lease of the campaign in the hour
};

struct WorkerCredit {
    std::string worker_id;
    std::int64_t units_validated = 0;  // units it returned a validated result of (copies count)
    std::string starts_validated;      // decimal
};

struct ValidatedUnit {
    UnitRange range;
    std::string worker_id;  // the result that stands for the unit
    std::int64_t validated_ms = 0;
};

struct CampaignActivity {
    std::int64_t now_ms = 0;
    std::int64_t first_hour_ms = 0;  // the start of the oldest hour asked for
    std::vector<HourFigures> hours;  // only the hours that saw anything, oldest first
    std::vector<WorkerCredit> top_workers;   // most starts first, then the lower worker id
    std::vector<ValidatedUnit> latest_units;  // the latest first
};

// What an operator watches for: units set aside, copies that disagree, workers at fault or
// banned, leases that run out, and results waiting for a copy.
struct OperatorQuery {
    std::int64_t window_ms = 86'400'000;  // how far back lease endings are counted
    int limit = 50;                        // units and workers listed, the latest first
};

struct TroubledUnit {
    std::string campaign;
    UnitRange range;
    UnitState state = UnitState::open;
    std::vector<ResultView> results;  // every result, oldest first, bodies left out
};

struct OperatorFigures {
    std::int64_t now_ms = 0;
    std::int64_t set_aside_total = 0;
    std::vector<TroubledUnit> set_aside;  // by their last result, the latest first
    // Units whose copies disagree (or disagreed, where a copy was outvoted).
    std::int64_t mismatched_total = 0;
    std::vector<TroubledUnit> mismatched;
    // Workers with a fault (last_fault_ms) or banned; banned first, then the latest fault.
    std::int64_t troubled_workers_total = 0;
    std::vector<WorkerFigures> troubled_workers;
    // Leases that ended within the window: with a result, or by running out.
    std::int64_t leases_completed = 0;
    std::int64_t leases_expired = 0;
    // Results that passed and wait for a copy, their units, and when the oldest came.
    std::int64_t results_pending = 0;
    std::int64_t units_pending = 0;
    std::optional<std::int64_t> oldest_pending_ms;
};

}  // namespace pelorin::server
