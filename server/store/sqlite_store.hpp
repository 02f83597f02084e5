#pragma once
// The SQLite engine of the storage interface: one file, write-ahead log, one writer at a
// time (every change is a BEGIN IMMEDIATE transaction), the schema migrated at open.
#include <filesystem>

#include "server/store/sqlite_pool.hpp"
#include "server/store/store.hpp"

namespace pelorin::server {

class SqliteStore final : public Store {
public:
    // Opens or creates the file and migrates it to `schema_version` (the newest when
    // negative; tests ask for older ones). Throws std::runtime_error when the file cannot be
    // opened or its schema is newer than this program's.
    explicit SqliteStore(const std::filesystem::path& path, int schema_version = -1);

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
    std::optional<CampaignActivity> campaign_activity(const ActivityQuery& query) override;
    OperatorFigures operator_figures(const OperatorQuery& query) override;
    bool set_worker_banned(const std::string& worker_id, bool banned) override;
    std::optional<InvalidateOutcome> invalidate_worker(const std::string& worker_id, std::optional<std::int64_t> since_ms,
                                                       unsigned set_aside_after) override;
    void export_validated(const std::function<void(const ExportRow&)>& row) override;
    void backup_to(const std::filesystem::path& file) override;
    StoreSnapshot snapshot() override;

private:
    SqlitePool pool_;
};

}  // namespace pelorin::server
