#include "tools/dev-coordinator/worker_registry.hpp"

#include <nlohmann/json.hpp>

#include <stdexcept>

namespace pelorin::devcoord {
namespace {

using ojson = nlohmann::ordered_json;

constexpr const char* kFormat = "pelorin-dev-workers-v1";

}  // namespace

WorkerRecord* find_by_token(WorkerRegistry& registry, const std::string& token) {
    if (token.empty()) return nullptr;
    for (WorkerRecord& w : registry.workers)
        if (w.token == token) return &w;
    return nullptr;
}

WorkerRecord* find_by_client_id(WorkerRegistry& registry, const std::string& client_id) {
    if (client_id.empty()) return nullptr;
    for (WorkerRecord& w : registry.workers)
        if (w.client_id == client_id) return &w;
    return nullptr;
}

std::string workers_to_json(const WorkerRegistry& registry) {
    ojson workers = ojson::array();
    for (const WorkerRecord& w : registry.workers) {
        ojson j = {{"worker_id", w.worker_id},         {"token", w.token},
                   {"client_id", w.client_id},         {"nickname", w.nickname},
                   {"hardware_hash", w.hardware_hash}, {"build_hash", w.build_hash},
                   {"registered_ms", w.registered_ms}};
        if (w.has_benchmark)
            j["benchmark"] = {{"backend", w.benchmark_backend},
                              {"build_hash", w.benchmark_build_hash},
                              {"profile", w.benchmark_profile},
                              {"starts_per_second", w.benchmark_starts_per_second}};
        workers.push_back(std::move(j));
    }
    const ojson doc = {{"format", kFormat},
                       {"next_worker_number", registry.next_worker_number},
                       {"workers", std::move(workers)}};
    return doc.dump(1, ' ', false, ojson::error_handler_t::replace) + "\n";
}

WorkerRegistry workers_from_json(const std::string& text) {
    try {
        const ojson doc = ojson::parse(text);
        if (doc.at("format").get<std::string>() != kFormat) throw std::runtime_error("unknown format");
        WorkerRegistry registry;
        registry.next_worker_number = doc.at("next_worker_number").get<std::uint64_t>();
        for (const ojson& j : doc.at("workers")) {
            WorkerRecord w;
            w.worker_id = j.at("worker_id").get<std::string>();
            w.token = j.at("token").get<std::string>();
            w.client_id = j.at("client_id").get<std::string>();
            w.nickname = j.at("nickname").get<std::string>();
            w.hardware_hash = j.at("hardware_hash").get<std::string>();
            w.build_hash = j.at("build_hash").get<std::string>();
            w.registered_ms = j.at("registered_ms").get<std::int64_t>();
            if (const auto b = j.find("benchmark"); b != j.end()) {
                w.has_benchmark = true;
                w.benchmark_backend = b->at("backend").get<std::string>();
                w.benchmark_build_hash = b->at("build_hash").get<std::string>();
                w.benchmark_profile = b->at("profile").get<std::string>();
                w.benchmark_starts_per_second = b->at("starts_per_second").get<double>();
            }
            registry.workers.push_back(std::move(w));
        }
        return registry;
    } catch (const std::exception& e) {
        throw std::runtime_error(std::string("worker file is damaged: ") + e.what());
    }
}

}  // namespace pelorin::devcoord
