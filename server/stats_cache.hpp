#pragma once
// The stats endpoints' replies kept for a few seconds, so that the refreshes of many visitors
// share one set of database reads. Bounded in entries: beyond the limit the oldest go.
#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace pelorin::server {

class StatsCache {
public:
    StatsCache(std::chrono::steady_clock::duration lifetime, std::size_t max_entries);
    // The body kept under `key` within its lifetime, or nothing.
    std::optional<std::string> find(const std::string& key);
    void keep(const std::string& key, const std::string& body);

private:
    struct Entry {
        std::chrono::steady_clock::time_point at;
        std::string body;
    };
    std::chrono::steady_clock::duration lifetime_;
    std::size_t max_entries_;
    std::mutex mutex_;
    std::map<std::string, Entry> entries_;
};

}  // namespace pelorin::server
