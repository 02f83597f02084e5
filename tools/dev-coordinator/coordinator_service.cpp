#include "tools/dev-coordinator/coordinator_service.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <stdexcept>

#include "tools/dev-coordinator/atomic_file.hpp"
#include "tools/dev-coordinator/limits.hpp"
#include "tools/dev-coordinator/proof_of_work.hpp"
#include "tools/dev-coordinator/result_check.hpp"
#include "tools/dev-coordinator/secure_random.hpp"
#include "wideint/decimal.hpp"

namespace pelorin::devcoord {
namespace {

using ojson = nlohmann::ordered_json;

constexpr std::string_view kLeasesPrefix = "/api/v1/leases/";

std::int64_t now_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

ApiReply reply(int status, const ojson& body) {
    return ApiReply{status, body.dump(-1, ' ', false, ojson::error_handler_t::replace)};
}

ApiReply error(int status, const std::string& message) { return reply(status, ojson{{"error", message}}); }

// The request body as a JSON object, or nothing when it is not one.
bool parse_object(const std::string& body, ojson& doc) {
    doc = ojson::parse(body, nullptr, false);
    return !doc.is_discarded() && doc.is_object();
}

std::string string_member(const ojson& doc, const char* key) {
    const auto it = doc.find(key);
    return it != doc.end() && it->is_string() ? it->get<std::string>() : std::string();
}

bool same_range(const UnitRange& a, const UnitRange& b) {
    return a.begin == b.begin && a.end_is_2_128 == b.end_is_2_128 && (a.end_is_2_128 || a.end == b.end);
}

std::string range_text(const UnitRange& r) {
    return "[" + u128_to_decimal(r.begin) + ", " + end_to_decimal(r.end, r.end_is_2_128) + ")";
}

bool is_decimal(const std::string& text) {
    return !text.empty() && text.size() <= 20 && std::all_of(text.begin(), text.end(), [](char c) {
        return c >= '0' && c <= '9';
    });
}

// The lease id of /api/v1/leases/<id>/<action>; the id may be empty.
bool lease_path(const std::string& path, const std::string& action, std::string& lease_id) {
    const std::string suffix = "/" + action;
    if (path.size() < kLeasesPrefix.size() + suffix.size() || path.compare(0, kLeasesPrefix.size(), kLeasesPrefix) != 0 ||
        path.compare(path.size() - suffix.size(), suffix.size(), suffix) != 0)
        return false;
    lease_id = path.substr(kLeasesPrefix.size(), path.size() - kLeasesPrefix.size() - suffix.size());
    return lease_id.find('/') == std::string::npos;
}

}  // namespace

std::filesystem::path CoordinatorService::ledger_path(const std::filesystem::path& state_dir) {
    return state_dir / "ledger.json";
}

std::filesystem::path CoordinatorService::workers_path(const std::filesystem::path& state_dir) {
    return state_dir / "workers.json";
}

CoordinatorService::CoordinatorService(ServiceOptions options) : options_(std::move(options)) {
    std::string text;
    if (read_file(ledger_path(options_.state_dir), text)) {
        ledger_ = ledger_from_json(text);
        if (options_.campaign_explicit &&
            (!same_range(ledger_.campaign, options_.campaign) || ledger_.unit_size != options_.unit_size))
            throw std::runtime_error("the state folder holds the campaign " + range_text(ledger_.campaign) +
                                     " in units of " + std::to_string(ledger_.unit_size) +
                                     " starts; give the same --begin, --end and --unit-size or another --state-dir");
    } else {
        ledger_ = new_ledger(options_.campaign, options_.unit_size);
        save_ledger();
    }
    if (read_file(workers_path(options_.state_dir), text)) workers_ = workers_from_json(text);
}

std::string CoordinatorService::ledger_json() {
    std::lock_guard lock(mutex_);
    return ledger_to_json(ledger_);
}

void CoordinatorService::save_ledger() { write_file_atomically(ledger_path(options_.state_dir), ledger_to_json(ledger_)); }

void CoordinatorService::save_workers() {
    write_file_atomically(workers_path(options_.state_dir), workers_to_json(workers_));
}

ApiReply CoordinatorService::handle(const ApiRequest& request) {
    std::unique_lock lock(mutex_);
    const std::string& method = request.method;
    const std::string& path = request.path;
    if (path == "/healthz") {
        if (method != "GET") return error(405, "use GET");
        return reply(200, ojson{{"status", "ok"}});
    }
    if (path == "/api/v1/register/challenge") {
        if (method != "GET") return error(405, "use GET");
        return challenge();
    }
    if (path == "/api/v1/workers/register") {
        if (method != "POST") return error(405, "use POST");
        return register_worker(request.body);
    }
    if (path.rfind("/api/v1/", 0) != 0) return error(404, "no such endpoint");

    // Everything else belongs to a registered worker.
    if (request.authorization.empty()) return error(401, "missing bearer token");
    if (request.authorization.size() > 1) return error(401, "more than one Authorization header");
    const std::string& auth = request.authorization.front();
    static constexpr std::string_view kBearer = "Bearer ";
    if (auth.size() <= kBearer.size() || auth.compare(0, kBearer.size(), kBearer) != 0)
        return error(401, "Authorization is not a bearer token");
    WorkerRecord* worker = find_by_token(workers_, auth.substr(kBearer.size()));
    if (worker == nullptr) return error(401, "unknown bearer token");

    std::string lease_id;
    if (path == "/api/v1/benchmarks") {
        if (method != "POST") return error(405, "use POST");
        return report_benchmark(*worker, request.body);
    }
    if (path == "/api/v1/leases/acquire") {
        if (method != "POST") return error(405, "use POST");
        return acquire(*worker, request.body);
    }
    if (lease_path(path, "heartbeat", lease_id)) {
        if (method != "PUT") return error(405, "use PUT");
        return heartbeat(*worker, lease_id, request.body);
    }
    if (lease_path(path, "complete", lease_id)) {
        if (method != "POST") return error(405, "use POST");
        const std::string worker_id = worker->worker_id;
        return complete(lock, worker_id, lease_id, request.body);
    }
    return error(404, "no such endpoint");
}

ApiReply CoordinatorService::challenge() {
    const std::int64_t now = now_ms();
    std::erase_if(challenges_, [now](const auto& item) { return now - item.second.created_ms > kChallengeLifetimeMs; });
    while (challenges_.size() >= kMaxOpenChallenges) {
        auto oldest = std::min_element(challenges_.begin(), challenges_.end(), [](const auto& a, const auto& b) {
            return a.second.created_ms < b.second.created_ms;
        });
        challenges_.erase(oldest);
    }
    const std::string id = "c-" + random_hex(12);
    Challenge c{random_hex(16), options_.difficulty_bits, now};
    challenges_[id] = c;
    return reply(200, ojson{{"challenge_id", id}, {"nonce", c.nonce}, {"difficulty_bits", c.difficulty_bits}});
}

ApiReply CoordinatorService::register_worker(const std::string& body) {
    ojson doc;
    if (!parse_object(body, doc)) return error(400, "request body is not a JSON object");
    const std::string challenge_id = string_member(doc, "challenge_id");
    const std::string solution = string_member(doc, "solution");
    if (challenge_id.empty() || solution.empty()) return error(400, "challenge_id and solution are required strings");
    const auto it = challenges_.find(challenge_id);
    if (it == challenges_.end() || now_ms() - it->second.created_ms > kChallengeLifetimeMs)
        return error(403, "unknown, used or expired challenge");
    if (!proof_of_work_holds(it->second.nonce, solution, it->second.difficulty_bits))
        return error(403, "proof of work does not reach " + std::to_string(it->second.difficulty_bits) + " zero bits");
    challenges_.erase(it);

    // The same client registering again (it lost its token) keeps its worker id, so that
    // it is handed back the lease it holds; its old token stops working.
    const std::string client_id = string_member(doc, "client_id");
    WorkerRecord* worker = find_by_client_id(workers_, client_id);
    if (worker == nullptr) {
        WorkerRecord fresh;
        fresh.worker_id = "w-" + std::to_string(workers_.next_worker_number++);
        fresh.client_id = client_id;
        workers_.workers.push_back(std::move(fresh));
        worker = &workers_.workers.back();
    }
    worker->token = random_hex(32);
    worker->nickname = string_member(doc, "nickname");
    worker->hardware_hash = string_member(doc, "hardware_hash");
    worker->build_hash = string_member(doc, "build_hash");
    worker->registered_ms = now_ms();
    save_workers();
    return reply(200, ojson{{"worker_id", worker->worker_id}, {"token", worker->token}});
}

ApiReply CoordinatorService::report_benchmark(WorkerRecord& worker, const std::string& body) {
    ojson doc;
    if (!parse_object(body, doc)) return error(400, "request body is not a JSON object");
    worker.has_benchmark = true;
    worker.benchmark_backend = string_member(doc, "backend");
    worker.benchmark_build_hash = string_member(doc, "build_hash");
    worker.benchmark_profile = string_member(doc, "profile");
    const auto rate = doc.find("starts_per_second");
    worker.benchmark_starts_per_second = rate != doc.end() && rate->is_number() ? rate->get<double>() : 0.0;
    save_workers();
    return reply(200, ojson{{"status", "recorded"}});
}

void CoordinatorService::expire_leases(std::int64_t now) {
    const auto timeout_ms = static_cast<std::int64_t>(options_.lease_timeout_seconds * 1000.0);
    bool changed = false;
    for (UnitEntry& unit : ledger_.units) {
        if (unit.state != UnitState::leased) continue;
        LeaseRecord& lease = unit.leases.back();
        if (leases_in_check_.count(lease.lease_id) != 0 || now - lease.heartbeat_ms <= timeout_ms) continue;
        lease.state = LeaseState::expired;
        unit.state = UnitState::open;
        changed = true;
    }
    if (changed) save_ledger();
}

CoordinatorService::LeaseRef CoordinatorService::find_lease(const std::string& lease_id) {
    for (UnitEntry& unit : ledger_.units)
        for (LeaseRecord& lease : unit.leases)
            if (lease.lease_id == lease_id) return LeaseRef{&unit, &lease};
    return LeaseRef{};
}

ApiReply CoordinatorService::lease_reply(const UnitEntry& unit, const LeaseRecord& lease) const {
    return reply(200, ojson{{"lease_id", lease.lease_id},
                            {"begin", u128_to_decimal(unit.range.begin)},
                            {"end", end_to_decimal(unit.range.end, unit.range.end_is_2_128)},
                            {"complete", false}});
}

ApiReply CoordinatorService::acquire(const WorkerRecord& worker, const std::string& body) {
    ojson doc;
    if (!parse_object(body, doc)) return error(400, "request body is not a JSON object");
    const std::int64_t now = now_ms();
    expire_leases(now);

    // A worker that asks again while it holds a lease gets that lease back, so it resumes.
    for (UnitEntry& unit : ledger_.units) {
        if (unit.state != UnitState::leased || unit.leases.back().worker_id != worker.worker_id) continue;
        unit.leases.back().heartbeat_ms = now;
        save_ledger();
        return lease_reply(unit, unit.leases.back());
    }

    UnitEntry* unit = nullptr;
    for (UnitEntry& u : ledger_.units)
        if (u.state == UnitState::open) {
            unit = &u;
            break;
        }
    if (unit == nullptr) {
        UnitRange range;
        if (carve_unit(ledger_, range)) {
            UnitEntry fresh;
            fresh.index = ledger_.units.size();
            fresh.range = range;
            ledger_.units.push_back(std::move(fresh));
            unit = &ledger_.units.back();
        }
    }
    if (unit == nullptr) {
        const bool all_settled = std::none_of(ledger_.units.begin(), ledger_.units.end(),
                                              [](const UnitEntry& u) { return u.state == UnitState::leased; });
        if (all_settled) return reply(200, ojson{{"complete", true}});
        return error(503, "every remaining unit is leased; ask again later");
    }

    LeaseRecord lease;
    lease.lease_id = "lease-" + std::to_string(ledger_.next_lease_number++);
    lease.worker_id = worker.worker_id;
    lease.proof_hash = string_member(doc, "proof_hash");
    const auto rate = doc.find("starts_per_second");
    lease.starts_per_second = rate != doc.end() && rate->is_number() ? rate->get<double>() : 0.0;
    lease.leased_ms = lease.heartbeat_ms = now;
    unit->leases.push_back(std::move(lease));
    unit->state = UnitState::leased;
    save_ledger();
    return lease_reply(*unit, unit->leases.back());
}

ApiReply CoordinatorService::heartbeat(const WorkerRecord& worker, const std::string& lease_id, const std::string& body) {
    const std::int64_t now = now_ms();
    expire_leases(now);
    const LeaseRef ref = find_lease(lease_id);
    if (ref.lease == nullptr) return error(404, "unknown lease " + lease_id);
    if (ref.lease->worker_id != worker.worker_id) return error(403, "lease " + lease_id + " belongs to another worker");
    if (ref.lease->state == LeaseState::expired) return error(409, "lease " + lease_id + " expired");
    if (ref.lease->state == LeaseState::completed) return error(409, "lease " + lease_id + " is already completed");
    ojson doc;
    if (!parse_object(body, doc)) return error(400, "request body is not a JSON object");
    const std::string progress = string_member(doc, "progress");
    if (!is_decimal(progress)) return error(400, "progress must be a decimal string");
    if (std::stoull(progress) > unit_size(ref.unit->range)) return error(400, "progress is beyond the end of the unit");
    ref.lease->progress = progress;
    ref.lease->heartbeat_ms = now;
    save_ledger();
    return reply(200, ojson{{"lease_id", lease_id}, {"progress", progress}});
}

ApiReply CoordinatorService::complete(std::unique_lock<std::mutex>& lock, const std::string& worker_id,
                                      const std::string& lease_id, const std::string& body) {
    const std::int64_t now = now_ms();
    expire_leases(now);
    LeaseRef ref = find_lease(lease_id);
    if (ref.lease == nullptr) return error(404, "unknown lease " + lease_id);
    if (ref.lease->worker_id != worker_id) return error(403, "lease " + lease_id + " belongs to another worker");
    auto verdict_reply = [&lease_id](const std::string& verdict) {
        return reply(200, ojson{{"lease_id", lease_id}, {"accepted", verdict == "accepted"}, {"audit", verdict}});
    };
    if (ref.lease->state == LeaseState::completed) {
        // A repeated complete (its reply was lost) gets the verdict it already had.
        for (const Submission& s : ref.unit->submissions)
            if (s.lease_id == lease_id) return verdict_reply(s.verdict);
    }
    if (ref.lease->state == LeaseState::expired) return error(409, "lease " + lease_id + " expired");
    if (leases_in_check_.count(lease_id) != 0) return error(409, "a result for lease " + lease_id + " is being checked");

    // The checksum recomputation takes a while for a large unit: other requests go on
    // meanwhile, and the lease cannot expire while its result is checked.
    const UnitRange range = ref.unit->range;
    leases_in_check_.insert(lease_id);
    lock.unlock();
    Verdict verdict;
    try {
        verdict = check_result(range, body);
    } catch (...) {
        lock.lock();
        leases_in_check_.erase(lease_id);
        throw;
    }
    lock.lock();
    leases_in_check_.erase(lease_id);

    ref = find_lease(lease_id);
    Submission submission{lease_id, worker_id, body, verdict.text, now_ms()};
    ref.unit->submissions.push_back(std::move(submission));
    ref.lease->state = LeaseState::completed;
    ref.lease->heartbeat_ms = now_ms();
    if (verdict.accepted) {
        ref.unit->state = UnitState::accepted;
    } else {
        const auto rejected = static_cast<std::size_t>(
            std::count_if(ref.unit->submissions.begin(), ref.unit->submissions.end(),
                          [](const Submission& s) { return s.verdict != "accepted"; }));
        ref.unit->state = rejected >= kMaxRejectedSubmissions ? UnitState::set_aside : UnitState::open;
    }
    save_ledger();
    return verdict_reply(verdict.text);
}

}  // namespace pelorin::devcoord
