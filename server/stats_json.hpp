#pragma once
// The JSON of the stats endpoints that the public page reads (/api/v1/stats/...). Counts of
// starts are exact decimal strings at every width; nothing names a volunteer beyond the
// worker id (no address, nickname, hardware or token).
#include <string>

#include "server/store/store_types.hpp"

namespace pelorin::server {

// /api/v1/stats/summary: every campaign as `status --json` shows it, plus its starts by
// state, the range's starts and the share validated; the count of workers active in the
// last hour.
std::string summary_json(const StatusFigures& status);

// /api/v1/stats/campaign: the hours from activity.first_hour_ms to now, every one of them
// (zeros included), the top workers and the latest units.
std::string activity_json(const std::string& campaign, const CampaignActivity& activity);

// /api/v1/stats/operator: set-aside and mismatched units with their results' standing and
// reasons, workers at fault or banned (whether their results are copied again, by
// new_worker_results), lease endings in the window with the expiry rate, and the backlog.
std::string operator_json(const OperatorFigures& figures, int window_hours, unsigned new_worker_results);

}  // namespace pelorin::server
