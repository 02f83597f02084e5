#pragma once
// The PostgreSQL engine of the storage interface, for several server instances on one
// database: every operation one short transaction on a pooled connection, times from the
// database's now(), a unit claimed with FOR UPDATE SKIP LOCKED (instances never wait on each
// other's claims), units made at a campaign's frontier by whichever instance wins a
// transaction-level advisory lock, the schema migrated at open.
#include <string>

#include "server/store/postgres_pool.hpp"
#include "server/store/store.hpp"

namespace pelorin::server {

class PostgresStore final : public Store {
public:
    // Connects to `url` (a libpq URI) and migrates the database to `schema_version` (the
    // newest when negative; tests ask for older ones). Throws std::runtime_error when the
    // database cannot be reached or its schema is newer than this program's.
    explicit PostgresStore(const std::string& url, int schema_version = -1);

    int schema_version() override;
    bool healthy(std::string& reason) override;

    void add_campaign(const CampaignDefinition& definition) override;
    void set_campaign_paused(const std::string& name, bool paused) override;
    ReopenOutcome reopen_set_aside(const std::string& name, unsigned set_aside_after) override;
    std::vector<CampaignDefinition> campaigns() override;

    void add_challenge(const Challenge& challenge, std::int64_t lifetime_ms, std::int64_t max_open) override;
    std::optional<Challenge> find_challenge(const std::string& id) override;
    std::optional<std::string> register_worker(const Registration& registration) override;
    std::optional<WorkerAuth> worker_by_token_hash(const std::string& token_hash) override;
    void record_benchmark(const std::string& worker_id, const Benchmark& benchmark) override;

    ClaimOutcome claim_unit(const ClaimRequest& request) override;
    HeartbeatOutcome heartbeat(const std::string& worker_id, const std::string& lease_id, std::uint64_t progress,
                               std::int64_t lease_timeout_ms) override;
    CompletionContext completion_context(const std::string& worker_id, const std::string& lease_id) override;
    SubmissionOutcome submit_result(const Submission& submission) override;

    StatusFigures status() override;
    std::vector<WorkerFigures> workers() override;
    bool set_worker_banned(const std::string& worker_id, bool banned) override;
    std::optional<InvalidateOutcome> invalidate_worker(const std::string& worker_id, std::optional<std::int64_t> since_ms,
                                                       unsigned set_aside_after) override;
    void export_validated(const std::function<void(const ExportRow&)>& row) override;
    // Throws std::runtime_error naming pg_dump and pg_basebackup: PostgreSQL's own tools copy it.
    void backup_to(const std::filesystem::path& file) override;
    StoreSnapshot snapshot() override;

    std::optional<CampaignActivity> campaign_activity(const ActivityQuery& query) override;
    OperatorFigures operator_figures(const OperatorQuery& query) override;

private:
    PostgresPool pool_;
};

}  // namespace pelorin::server
