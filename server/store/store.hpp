#pragma once
// The storage interface of the campaign server. Every operation is one transaction on the
// database, so several server instances can share one database; times of leases, expiries
// and results come from the database's clock. No engine's SQL shows above this interface.
// Failures of the database itself are std::runtime_error with the engine's text.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "server/store/store_types.hpp"

namespace pelorin::server {

class Store {
public:
    virtual ~Store() = default;

    // The schema version this database is at.
    virtual int schema_version() = 0;
    // A round trip to the database that takes and gives back the write lock; false (with the
    // reason) when it does not answer.
    virtual bool healthy(std::string& reason) = 0;

    // Campaigns. add_campaign throws std::invalid_argument "a campaign named <name> exists";
    // set_campaign_paused throws std::invalid_argument "no campaign named <name>".
    virtual void add_campaign(const CampaignDefinition& definition) = 0;
    virtual void set_campaign_paused(const std::string& name, bool paused) = 0;
    virtual std::vector<CampaignDefinition> campaigns() = 0;
    // The campaign's set-aside units go back to the pool: the refusals and disagreeing copies
    // they had no longer count toward setting them aside (their results still count toward
    // validation). Throws std::invalid_argument "no campaign named <name>".
    virtual ReopenOutcome reopen_set_aside(const std::string& name, unsigned set_aside_after) = 0;

    // Registration. A challenge lives lifetime_ms on the database's clock; beyond max_open
    // challenges the oldest are forgotten.
    virtual void add_challenge(const Challenge& challenge, std::int64_t lifetime_ms, std::int64_t max_open) = 0;
    virtual std::optional<Challenge> find_challenge(const std::string& id) = 0;
    // Uses up the challenge and registers the worker (a known client_id keeps its worker id
    // and gets the new token); nothing when the challenge is unknown, used or expired.
    virtual std::optional<std::string> register_worker(const Registration& registration) = 0;
    virtual std::optional<WorkerAuth> worker_by_token_hash(const std::string& token_hash) = 0;
    virtual void record_benchmark(const std::string& worker_id, const Benchmark& benchmark) = 0;

    // Leases. A worker holds at most one live lease; asking again returns it, prolonged.
    virtual ClaimOutcome claim_unit(const ClaimRequest& request) = 0;
    virtual HeartbeatOutcome heartbeat(const std::string& worker_id, const std::string& lease_id,
                                       std::uint64_t progress, std::int64_t lease_timeout_ms) = 0;
    virtual CompletionContext completion_context(const std::string& worker_id, const std::string& lease_id) = 0;
    // Records the result and weighs it with the unit's other results; the lease's standing is
    // checked again inside the transaction.
    virtual SubmissionOutcome submit_result(const Submission& submission) = 0;

    // The operator's view and tools. ban and unban return false for an unknown worker; a
    // banned worker's live leases end at once.
    virtual StatusFigures status() = 0;
    virtual std::vector<WorkerFigures> workers() = 0;
    virtual bool set_worker_banned(const std::string& worker_id, bool banned) = 0;
    // Sets aside the worker's results received at or after since_ms (all when absent) and
    // weighs their units again (set_aside_after as for results); the worker counts as faulty
    // from now on. Nothing for an unknown worker.
    virtual std::optional<InvalidateOutcome> invalidate_worker(const std::string& worker_id,
                                                               std::optional<std::int64_t> since_ms,
                                                               unsigned set_aside_after) = 0;
    // Every validated unit, in campaign and range order, with the result that stands for it.
    virtual void export_validated(const std::function<void(const ExportRow&)>& row) = 0;
    // A consistent copy of the database in a new file (std::invalid_argument when the file
    // exists); engines without one throw std::runtime_error naming their own tools.
    virtual void backup_to(const std::filesystem::path& file) = 0;

    virtual StoreSnapshot snapshot() = 0;

    // --- The public page's reads (read-only, one read transaction each) ---
    // Besides these, status() fills CampaignFigures::last_unit_state (for exact starts by
    // state) and workers() and status() fill WorkerFigures::last_fault_ms; submit_result
    // sets SubmissionOutcome::copies_disagree (for the mismatch counter).

    // One campaign over its last query.hours whole UTC hours on the database's clock (the
    // current one included; first_hour_ms is the oldest's start): per hour that saw anything,
    // the units validated (by validated time) and their starts, and the workers that held a
    // lease of the campaign at some time in it (from its grant to its last heartbeat or
    // result); the query.top_workers workers with most validated results in the campaign
    // (every agreeing copy counts; most starts first, then the lower worker number), and the
    // query.latest_units validated units, the latest first, with the worker whose result
    // stands for each. Nothing for an unknown campaign.
    virtual std::optional<CampaignActivity> campaign_activity(const ActivityQuery& query) = 0;
    // The operator's watch list over every campaign: set-aside units, and units whose copies
    // disagree (two workers' results pending on one unit, or a result outvoted), each with
    // every result (bodies left out) and a total beyond query.limit; workers banned or with a
    // fault (banned first, then the latest fault); leases that ended in the last
    // query.window_ms with a result or by running out; results pending a copy, their units
    // and the oldest one's time.
    virtual OperatorFigures operator_figures(const OperatorQuery& query) = 0;
};

}  // namespace pelorin::server
