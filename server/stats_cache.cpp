#include "server/stats_cache.hpp"

#include <algorithm>

namespace pelorin::server {

StatsCache::StatsCache(std::chrono::steady_clock::duration lifetime, std::size_t max_entries)
    : lifetime_(lifetime), max_entries_(max_entries) {}

std::optional<std::string> StatsCache::find(const std::string& key) {
    std::lock_guard lock(mutex_);
    const auto it = entries_.find(key);
    if (it == entries_.end() || std::chrono::steady_clock::now() - it->second.at >= lifetime_) return std::nullopt;
    return it->second.body;
}

void StatsCache::keep(const std::string& key, const std::string& body) {
    if (max_entries_ == 0) return;
    std::lock_guard lock(mutex_);
    const auto now = std::chrono::steady_clock::now();
    if (entries_.size() >= max_entries_ && entries_.find(key) == entries_.end()) {
        const auto oldest = std::min_element(entries_.begin(), entries_.end(),
                                             [](const auto& a, const auto& b) { return a.second.at < b.second.at; });
        entries_.erase(oldest);
    }
    entries_[key] = Entry{now, body};
}

}  // namespace pelorin::server
