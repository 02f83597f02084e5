#pragma once
// The instance's own counters for monitoring, written in the Prometheus text exposition
// format (version 0.0.4): requests by endpoint and status with their latency, results by
// verdict, replication mismatches, registrations, rate-limited requests, the checksums
// recomputed, and the database's time and errors by operation. Each instance counts its own; gauges that describe the
// campaign (units by state, live leases) come from the store when the text is written.
#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "server/store/store_types.hpp"

namespace pelorin::server {

// A histogram of seconds over fixed bucket bounds.
struct SecondsHistogram {
    static constexpr std::array<double, 12> kBounds = {0.001, 0.0025, 0.005, 0.01, 0.025, 0.05,
                                                       0.1,   0.25,   0.5,   1,    2.5,   10};
    std::array<std::uint64_t, kBounds.size()> buckets{};  // observations <= each bound (not cumulative)
    std::uint64_t count = 0;
    double sum = 0;
    void observe(double seconds);
};

// The exposition format's media type.
inline constexpr const char* kMetricsContentType = "text/plain; version=0.0.4; charset=utf-8";

class Metrics {
public:
    Metrics();

    // endpoint: the route's pattern (route_label), never the raw path, so lease ids do not
    // make a series each.
    void count_request(const std::string& endpoint, int status, double seconds);
    // verdict: "accepted", "pending", "rejected" or "set_aside".
    void count_result(const std::string& verdict);
    void count_mismatch();
    // A result's checksums compared with its unit's starts ("matched" or "refused"), or weighed
    // without that because recomputation is switched off ("unchecked").
    void count_checksum_check(const std::string& outcome);
    // Starts recomputed in the background, and the checksum kernel's speed as last learnt.
    void count_recomputed_starts(std::uint64_t starts, double core_starts_per_second);
    void count_registration();
    // limit: "registration" or "worker".
    void count_rate_limited(const std::string& limit);
    void time_database(const std::string& operation, double seconds, bool failed);

    // The exposition text. With the store's figures, the gauges of units by campaign and
    // state and of live leases, and database_up 1; without them (the database failed),
    // database_up 0. With the backlog, the gauges of the recomputation still to do.
    std::string exposition(const std::optional<StatusFigures>& status,
                           const std::optional<RecomputeBacklog>& backlog = std::nullopt) const;

private:
    mutable std::mutex mutex_;
    std::map<std::pair<std::string, int>, std::uint64_t> requests_;
    std::map<std::string, SecondsHistogram> request_seconds_;
    std::map<std::string, std::uint64_t> results_;
    std::uint64_t mismatches_ = 0;
    std::map<std::string, std::uint64_t> checksum_checks_;
    std::uint64_t recomputed_starts_ = 0;
    double recompute_rate_ = 0;
    std::uint64_t registrations_ = 0;
    std::map<std::string, std::uint64_t> rate_limited_;
    std::map<std::string, SecondsHistogram> database_seconds_;
    std::map<std::string, std::uint64_t> database_errors_;
};

// The verdict a result's audit text names ("accepted", "pending: ...", "rejected: ...",
// "set aside: ...").
std::string verdict_of_audit(const std::string& audit);

// A label value as the exposition format writes it: backslash, double quote and line feed
// escaped.
std::string label_value(const std::string& text);

}  // namespace pelorin::server
