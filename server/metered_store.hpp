#pragma once
// A store that times every operation of the one it wraps and counts the ones that fail, for
// the metrics (database time and errors by operation); otherwise it passes everything through.
#include <chrono>

#include "server/metrics.hpp"
#include "server/store/store.hpp"

namespace pelorin::server {

class MeteredStore final : public Store {
public:
    MeteredStore(Store& inner, Metrics& metrics);

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
    // Runs `call` on the inner store, timed under `operation`; an exception is counted and
    // goes on to the caller.
    template <typename Call>
    auto timed(const char* operation, Call&& call) -> decltype(call());
    void record(const char* operation, std::chrono::steady_clock::time_point began, bool failed);

    Store& inner_;
    Metrics& metrics_;
};

}  // namespace pelorin::server
