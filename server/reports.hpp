#pragma once
// What the operator's commands print: the status of the campaigns, the workers and the export
// of validated units, as text for a person and as JSON for scripts.
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "server/store/store_types.hpp"

namespace pelorin::server {

// Per campaign: range, unit size, units by state, starts validated, the validated prefix,
// the last hour's throughput and an estimate of the time left; then the workers active in
// the last hour.
std::string status_text(const StatusFigures& status);
// {"time":..,"campaigns":[{"name","begin","end","unit_size","paused","units":{"open",
// "leased","pending","validated","set_aside"},"units_total","starts_validated",
// "validated_below","starts_per_second","seconds_left"}],"active_workers":[...]}; wide
// numbers are decimal strings.
std::string status_json(const StatusFigures& status);
// One campaign's object of that JSON.
using ojson = nlohmann::ordered_json;
ojson campaign_json(const CampaignFigures& campaign);
// Compact JSON text; bytes that are not UTF-8 are replaced.
std::string json_text(const ojson& doc);

std::string workers_text(const std::vector<WorkerFigures>& workers);
std::string workers_json(const std::vector<WorkerFigures>& workers);

// One line per validated unit: "<campaign> <begin> <end> <worker> <time> <record>", or the
// JSON object {"campaign","begin","end","worker_id","validated_at","result"}.
std::string export_line(const ExportRow& row, bool json);

}  // namespace pelorin::server
