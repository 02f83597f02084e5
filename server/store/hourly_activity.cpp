#include "server/store/hourly_activity.hpp"

#include <algorithm>

namespace pelorin::server {
namespace {

std::int64_t hour_of(std::int64_t ms) { return ms - ((ms % kHourMs) + kHourMs) % kHourMs; }

}  // namespace

std::int64_t first_hour_start(std::int64_t now_ms, int hours) {
    return hour_of(now_ms) - static_cast<std::int64_t>(std::max(hours, 1) - 1) * kHourMs;
}

HourlyActivity::HourlyActivity(std::int64_t first_hour_ms) : first_hour_ms_(first_hour_ms) {}

void HourlyActivity::add_validated(std::int64_t hour_ms, std::int64_t units, const std::string& starts) {
    HourFigures& h = hours_[hour_ms];
    h.start_ms = hour_ms;
    h.units_validated = units;
    h.starts_validated = starts;
}

void HourlyActivity::add_lease(std::int64_t worker, std::int64_t from_ms, std::int64_t to_ms) {
    for (std::int64_t h = std::max(hour_of(from_ms), first_hour_ms_); h <= hour_of(to_ms); h += kHourMs)
        workers_[h].insert(worker);
}

std::vector<HourFigures> HourlyActivity::hours() const {
    std::map<std::int64_t, HourFigures> all = hours_;
    for (const auto& [hour, workers] : workers_) {
        HourFigures& h = all[hour];
        h.start_ms = hour;
        h.active_workers = static_cast<std::int64_t>(workers.size());
    }
    std::vector<HourFigures> out;
    for (const auto& [hour, figures] : all)
        if (hour >= first_hour_ms_) out.push_back(figures);
    return out;
}

}  // namespace pelorin::server
