#include "server/metered_store.hpp"

#include <type_traits>

namespace pelorin::server {

MeteredStore::MeteredStore(Store& inner, Metrics& metrics) : inner_(inner), metrics_(metrics) {}

void MeteredStore::record(const char* operation, std::chrono::steady_clock::time_point began, bool failed) {
    metrics_.time_database(operation, std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count(),
                           failed);
}

template <typename Call>
auto MeteredStore::timed(const char* operation, Call&& call) -> decltype(call()) {
    const auto began = std::chrono::steady_clock::now();
    try {
        if constexpr (std::is_void_v<decltype(call())>) {
            call();
            record(operation, began, false);
        } else {
            auto result = call();
            record(operation, began, false);
            return result;
        }
    } catch (...) {
        record(operation, began, true);
        throw;
    }
}

int MeteredStore::schema_version() {
    return timed("schema_version", [&] { return inner_.schema_version(); });
}
bool MeteredStore::healthy(std::string& reason) {
    // A database that does not answer is a false here, not an exception.
    const auto began = std::chrono::steady_clock::now();
    const bool ok = inner_.healthy(reason);
    record("healthy", began, !ok);
    return ok;
}
void MeteredStore::add_campaign(const CampaignDefinition& definition) {
    timed("add_campaign", [&] { inner_.add_campaign(definition); });
}
ReopenOutcome MeteredStore::reopen_set_aside(const std::string& name, unsigned set_aside_after) {
    return timed("reopen_set_aside", [&] { return inner_.reopen_set_aside(name, set_aside_after); });
}

void MeteredStore::set_campaign_paused(const std::string& name, bool paused) {
    timed("set_campaign_paused", [&] { inner_.set_campaign_paused(name, paused); });
}
std::vector<CampaignDefinition> MeteredStore::campaigns() {
    return timed("campaigns", [&] { return inner_.campaigns(); });
}
void MeteredStore::add_challenge(const Challenge& challenge, std::int64_t lifetime_ms, std::int64_t max_open) {
    timed("add_challenge", [&] { inner_.add_challenge(challenge, lifetime_ms, max_open); });
}
std::optional<Challenge> MeteredStore::find_challenge(const std::string& id) {
    return timed("find_challenge", [&] { return inner_.find_challenge(id); });
}
std::optional<std::string> MeteredStore::register_worker(const Registration& registration) {
    return timed("register_worker", [&] { return inner_.register_worker(registration); });
}
std::optional<WorkerAuth> MeteredStore::worker_by_token_hash(const std::string& token_hash) {
    return timed("worker_by_token_hash", [&] { return inner_.worker_by_token_hash(token_hash); });
}
void MeteredStore::record_benchmark(const std::string& worker_id, const Benchmark& benchmark) {
    timed("record_benchmark", [&] { inner_.record_benchmark(worker_id, benchmark); });
}
ClaimOutcome MeteredStore::claim_unit(const ClaimRequest& request) {
    return timed("claim_unit", [&] { return inner_.claim_unit(request); });
}
HeartbeatOutcome MeteredStore::heartbeat(const std::string& worker_id, const std::string& lease_id,
                                         std::uint64_t progress, std::int64_t lease_timeout_ms) {
    return timed("heartbeat", [&] { return inner_.heartbeat(worker_id, lease_id, progress, lease_timeout_ms); });
}
CompletionContext MeteredStore::completion_context(const std::string& worker_id, const std::string& lease_id) {
    return timed("completion_context", [&] { return inner_.completion_context(worker_id, lease_id); });
}
SubmissionOutcome MeteredStore::submit_result(const Submission& submission) {
    return timed("submit_result", [&] { return inner_.submit_result(submission); });
}
StatusFigures MeteredStore::status() {
    return timed("status", [&] { return inner_.status(); });
}
std::vector<WorkerFigures> MeteredStore::workers() {
    return timed("workers", [&] { return inner_.workers(); });
}
std::optional<CampaignActivity> MeteredStore::campaign_activity(const ActivityQuery& query) {
    return timed("campaign_activity", [&] { return inner_.campaign_activity(query); });
}
OperatorFigures MeteredStore::operator_figures(const OperatorQuery& query) {
    return timed("operator_figures", [&] { return inner_.operator_figures(query); });
}
bool MeteredStore::set_worker_banned(const std::string& worker_id, bool banned) {
    return timed("set_worker_banned", [&] { return inner_.set_worker_banned(worker_id, banned); });
}
std::optional<InvalidateOutcome> MeteredStore::invalidate_worker(const std::string& worker_id,
                                                                 std::optional<std::int64_t> since_ms,
                                                                 unsigned set_aside_after) {
    return timed("invalidate_worker", [&] { return inner_.invalidate_worker(worker_id, since_ms, set_aside_after); });
}
void MeteredStore::export_validated(const std::function<void(const ExportRow&)>& row) {
    timed("export_validated", [&] { inner_.export_validated(row); });
}
void MeteredStore::backup_to(const std::filesystem::path& file) {
    timed("backup_to", [&] { inner_.backup_to(file); });
}
StoreSnapshot MeteredStore::snapshot() {
    return timed("snapshot", [&] { return inner_.snapshot(); });
}

}  // namespace pelorin::server
