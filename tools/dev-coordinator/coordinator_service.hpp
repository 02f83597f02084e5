#pragma once
// The coordinator's API without the network: registration, benchmarks, leases and results,
// with the ledger and the worker registry kept on disk after every change.
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "tools/dev-coordinator/ledger.hpp"
#include "tools/dev-coordinator/worker_registry.hpp"
#include "wideint/unit_range.hpp"

namespace pelorin::devcoord {

struct ServiceOptions {
    std::filesystem::path state_dir;
    UnitRange campaign;
    std::uint64_t unit_size = 0;
    // When the state folder already holds a ledger, the stored campaign is used; a campaign
    // given explicitly must then match it.
    bool campaign_explicit = false;
    unsigned difficulty_bits = 18;
    double lease_timeout_seconds = 120;
};

struct ApiRequest {
    std::string method;
    std::string path;
    std::vector<std::string> authorization;  // every Authorization header value
    std::string body;
};

struct ApiReply {
    int status = 200;
    std::string body;  // JSON text
};

class CoordinatorService {
public:
    // Loads the ledger and the workers from the state folder, or starts a fresh campaign.
    // Throws std::runtime_error when the stored campaign differs from an explicit one or a
    // file is damaged.
    explicit CoordinatorService(ServiceOptions options);

    ApiReply handle(const ApiRequest& request);

    std::string ledger_json();

    static std::filesystem::path ledger_path(const std::filesystem::path& state_dir);
    static std::filesystem::path workers_path(const std::filesystem::path& state_dir);

private:
    struct Challenge {
        std::string nonce;
        unsigned difficulty_bits = 0;
        std::int64_t created_ms = 0;
    };
    struct LeaseRef {
        UnitEntry* unit = nullptr;
        LeaseRecord* lease = nullptr;
    };

    ApiReply challenge();
    ApiReply register_worker(const std::string& body);
    ApiReply report_benchmark(WorkerRecord& worker, const std::string& body);
    ApiReply acquire(const WorkerRecord& worker, const std::string& body);
    ApiReply heartbeat(const WorkerRecord& worker, const std::string& lease_id, const std::string& body);
    ApiReply complete(std::unique_lock<std::mutex>& lock, const std::string& worker_id, const std::string& lease_id,
                      const std::string& body);

    // Leases whose last sign of life is older than the timeout go back to the pool.
    void expire_leases(std::int64_t now);
    LeaseRef find_lease(const std::string& lease_id);
    ApiReply lease_reply(const UnitEntry& unit, const LeaseRecord& lease) const;
    void save_ledger();
    void save_workers();

    ServiceOptions options_;
    std::mutex mutex_;
    Ledger ledger_;
    WorkerRegistry workers_;
    std::map<std::string, Challenge> challenges_;
    std::set<std::string> leases_in_check_;  // results being checked outside the lock
};

}  // namespace pelorin::devcoord
