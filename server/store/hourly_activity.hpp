#pragma once
// A campaign's activity hour by hour, built from what every engine reads the same way: units
// validated per hour, and the spans of leases (from the grant to the last heartbeat or the
// result), so a worker busy on one unit for three hours counts in each of them.
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "server/store/store_types.hpp"

namespace pelorin::server {

inline constexpr std::int64_t kHourMs = 3'600'000;

// The start of the oldest of `hours` whole UTC hours that end with the one holding now_ms.
std::int64_t first_hour_start(std::int64_t now_ms, int hours);

class HourlyActivity {
public:
    explicit HourlyActivity(std::int64_t first_hour_ms);
    // `units` validated in the hour starting at hour_ms, holding `starts` (decimal).
    void add_validated(std::int64_t hour_ms, std::int64_t units, const std::string& starts);
    // A worker held a lease from from_ms to to_ms; hours before the first are left out.
    void add_lease(std::int64_t worker, std::int64_t from_ms, std::int64_t to_ms);
    // The hours that saw anything, oldest first.
    std::vector<HourFigures> hours() const;

private:
    std::int64_t first_hour_ms_;
    std::map<std::int64_t, HourFigures> hours_;
    std::map<std::int64_t, std::set<std::int64_t>> workers_;
};

}  // namespace pelorin::server
