#pragma once
// Registered workers and their bearer tokens, kept in the state folder so that a worker
// stays known across restarts of the coordinator.
#include <cstdint>
#include <string>
#include <vector>

namespace pelorin::devcoord {

struct WorkerRecord {
    std::string worker_id;
    std::string token;
    std::string client_id;
    std::string nickname;
    std::string hardware_hash;
    std::string build_hash;
    std::int64_t registered_ms = 0;
    // The last benchmark report, when one came.
    bool has_benchmark = false;
    std::string benchmark_backend;
    std::string benchmark_build_hash;
    std::string benchmark_profile;
    double benchmark_starts_per_second = 0;
};

struct WorkerRegistry {
    std::uint64_t next_worker_number = 1;
    std::vector<WorkerRecord> workers;
};

// The worker with this token, or nullptr. An empty token matches nobody.
WorkerRecord* find_by_token(WorkerRegistry& registry, const std::string& token);
WorkerRecord* find_by_client_id(WorkerRegistry& registry, const std::string& client_id);

// File form and back; workers_from_json throws std::runtime_error
// "worker file is damaged: <detail>".
std::string workers_to_json(const WorkerRegistry& registry);
WorkerRegistry workers_from_json(const std::string& text);

}  // namespace pelorin::devcoord
