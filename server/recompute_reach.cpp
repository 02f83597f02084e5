#include "server/recompute_reach.hpp"

#include <cstdio>

#include "server/limits.hpp"

namespace pelorin::server {

std::string duration_text(double seconds) {
    const struct {
        double size;
        const char* name;
    } units[] = {{365.25 * 86400, "year"}, {86400, "day"}, {3600, "hour"}, {60, "minute"}, {1, "second"}};
    for (const auto& u : units)
        if (seconds >= u.size || u.size == 1) {
            char number[32];
            std::snprintf(number, sizeof number, "%.3g", seconds / u.size);
            return std::string(number) + " " + u.name + (std::string(number) == "1" ? "" : "s");
        }
    return {};
}

std::optional<std::string> recompute_reach_warning(const CampaignDefinition& campaign, double cores,
                                                   double core_starts_per_second, const std::string& budget_text) {
    const double seconds = static_cast<double>(campaign.unit_size) / core_starts_per_second / cores;
    if (seconds <= kRecomputeMaxWaitSeconds) return std::nullopt;
    return "campaign " + campaign.name + ": a unit of " + std::to_string(campaign.unit_size) +
           " starts takes about " + duration_text(seconds) + " to recompute at " + budget_text + " here (more than " +
           duration_text(kRecomputeMaxWaitSeconds) +
           "), and its results wait that long for their verdict: use smaller units or a larger --recompute-budget";
}

}  // namespace pelorin::server
