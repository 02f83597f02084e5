#pragma once
// Whether a campaign's units can ever be recomputed under a budget: a unit whose
// recomputation would take longer than kRecomputeMaxWaitSeconds is said so at `campaign add`
// and when `serve` starts, rather than left to wait unnoticed.
#include <optional>
#include <string>

#include "server/store/store_types.hpp"

namespace pelorin::server {

// The warning for a campaign whose units take too long to recompute at `cores` (> 0) of a
// core doing `core_starts_per_second`; nothing when they fit. budget_text names the budget
// as the operator set it ("0.25 cores", "the default 0.25 cores").
std::optional<std::string> recompute_reach_warning(const CampaignDefinition& campaign, double cores,
                                                   double core_starts_per_second, const std::string& budget_text);

// A span of seconds for people: "40 minutes", "3.2 hours", "12 days", "5e+03 years".
std::string duration_text(double seconds);

}  // namespace pelorin::server
