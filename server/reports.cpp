#include "server/reports.hpp"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <sstream>

#include "server/store/store_limits.hpp"
#include "server/store/wide_math.hpp"
#include "server/utc_time.hpp"
#include "wideint/decimal.hpp"

namespace pelorin::server {
namespace {


std::string begin_text(const UnitRange& r) { return u128_to_decimal(r.begin); }
std::string end_text(const UnitRange& r) { return end_to_decimal(r.end, r.end_is_2_128); }

// Starts per second validated over the last hour.
double throughput(const CampaignFigures& c) {
    return decimal_to_double(c.starts_validated_last_hour) * 1000.0 / static_cast<double>(kThroughputWindowMs);
}

// Seconds until every start is validated at the last hour's pace; 0 once every start is
// (however long ago that was), negative when unknown.
double seconds_left(const CampaignFigures& c) {
    const std::string left = decimal_difference(range_starts(c.range), c.starts_validated);
    if (left == "0") return 0;
    const double rate = throughput(c);
    if (!(rate > 0)) return -1;
    return decimal_to_double(left) / rate;
}

std::string duration_text(double seconds) {
    if (seconds < 0) return "unknown (nothing validated in the last hour)";
    if (seconds == 0) return "none, every start is validated";
    if (seconds < 3600) return std::to_string(static_cast<long long>(std::ceil(seconds / 60))) + " min";
    if (seconds < 86400 * 3) return std::to_string(static_cast<long long>(std::llround(seconds / 3600))) + " h";
    const double days = seconds / 86400;
    if (days < 3650) return std::to_string(static_cast<long long>(std::llround(days))) + " days";
    char text[32];
    std::snprintf(text, sizeof text, "%.3g years", days / 365.25);
    return text;
}

std::string rate_text(double rate) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3g", rate);
    return text;
}

ojson worker_object(const WorkerFigures& w) {
    ojson j = {{"worker_id", w.worker_id},
               {"nickname", w.nickname},
               {"address", w.address},
               {"registered_at", utc_text(w.registered_ms)},
               {"last_seen", utc_text(w.last_seen_ms)},
               {"banned", w.banned},
               {"results_validated", w.results_validated},
               {"results_rejected", w.results_rejected},
               {"results_pending", w.results_pending},
               {"validated_since_fault", w.validated_since_fault}};
    if (w.benchmark)
        j["benchmark"] = {{"backend", w.benchmark->backend},
                          {"profile", w.benchmark->profile},
                          {"build_hash", w.benchmark->build_hash},
                          {"starts_per_second", w.benchmark->starts_per_second}};
    else
        j["benchmark"] = nullptr;
    return j;
}

std::string worker_line(const WorkerFigures& w) {
    std::ostringstream out;
    out << w.worker_id << "  " << (w.nickname.empty() ? "-" : w.nickname) << "  " << (w.address.empty() ? "-" : w.address)
        << "  last seen " << utc_text(w.last_seen_ms) << "  validated " << w.results_validated << ", rejected "
        << w.results_rejected << ", pending " << w.results_pending;
    if (w.benchmark) out << "  benchmark " << w.benchmark->backend << " " << rate_text(w.benchmark->starts_per_second) << " starts/s";
    if (w.banned) out << "  BANNED";
    return out.str();
}

}  // namespace

std::string json_text(const ojson& doc) { return doc.dump(-1, ' ', false, ojson::error_handler_t::replace); }

std::string status_text(const StatusFigures& status) {
    std::ostringstream out;
    out << "Status at " << utc_text(status.now_ms) << "\n";
    if (status.campaigns.empty()) out << "No campaign yet: add one with pelorin-coordinator campaign add\n";
    for (const CampaignFigures& c : status.campaigns) {
        const UnitCounts& u = c.units;
        out << "\nCampaign " << c.name << "  [" << begin_text(c.range) << ", " << end_text(c.range) << ")  in units of "
            << c.unit_size << " starts  " << (c.paused ? "PAUSED" : "running") << "\n";
        out << "  units: " << u.validated << " validated, " << u.pending << " pending, " << u.leased << " leased, "
            << u.open << " open, " << u.set_aside << " set aside, of " << c.units_total << "\n";
        if (u.set_aside > 0)
            out << "  not complete while " << u.set_aside << " units are set aside: they wait for the operator "
                << "(look at them, then pelorin-coordinator campaign reopen " << c.name << "); workers meanwhile "
                << "are told to ask again later\n";
        out << "  starts validated: " << c.starts_validated << "; every start below " << c.validated_below
            << " is in a validated unit\n";
        out << "  last hour: " << c.units_validated_last_hour << " units, " << rate_text(throughput(c))
            << " starts/s; time left: " << duration_text(seconds_left(c)) << "\n";
    }
    out << "\nWorkers active in the last hour: " << status.active_workers.size() << "\n";
    for (const WorkerFigures& w : status.active_workers) out << "  " << worker_line(w) << "\n";
    return out.str();
}

ojson campaign_json(const CampaignFigures& c) {
    const double left = seconds_left(c);
    return {{"name", c.name},
            {"begin", begin_text(c.range)},
            {"end", end_text(c.range)},
            {"unit_size", std::to_string(c.unit_size)},
            {"paused", c.paused},
            {"units",
             {{"open", c.units.open},
              {"leased", c.units.leased},
              {"pending", c.units.pending},
              {"validated", c.units.validated},
              {"set_aside", c.units.set_aside}}},
            {"units_total", c.units_total},
            {"starts_validated", c.starts_validated},
            {"validated_below", c.validated_below},
            {"units_validated_last_hour", c.units_validated_last_hour},
            {"starts_per_second", throughput(c)},
            {"seconds_left", left < 0 ? ojson(nullptr) : ojson(left)}};
}

std::string status_json(const StatusFigures& status) {
    ojson campaigns = ojson::array();
    for (const CampaignFigures& c : status.campaigns) campaigns.push_back(campaign_json(c));
    ojson workers = ojson::array();
    for (const WorkerFigures& w : status.active_workers) workers.push_back(worker_object(w));
    return json_text({{"time", utc_text(status.now_ms)}, {"campaigns", campaigns}, {"active_workers", workers}}) + "\n";
}

std::string workers_text(const std::vector<WorkerFigures>& workers) {
    std::string out;
    for (const WorkerFigures& w : workers) out += worker_line(w) + "\n";
    if (workers.empty()) out = "No worker has registered yet\n";
    return out;
}

std::string workers_json(const std::vector<WorkerFigures>& workers) {
    ojson all = ojson::array();
    for (const WorkerFigures& w : workers) all.push_back(worker_object(w));
    return json_text({{"workers", all}}) + "\n";
}

std::string export_line(const ExportRow& row, bool json) {
    if (!json)
        return row.campaign + " " + begin_text(row.range) + " " + end_text(row.range) + " " + row.worker_id + " " +
               utc_text(row.validated_ms) + " " + row.record + "\n";
    // The record goes in as the worker sent it.
    const std::string head = json_text({{"campaign", row.campaign},
                                   {"begin", begin_text(row.range)},
                                   {"end", end_text(row.range)},
                                   {"worker_id", row.worker_id},
                                   {"validated_at", utc_text(row.validated_ms)}});
    return head.substr(0, head.size() - 1) + ",\"result\":" + row.record + "}\n";
}

}  // namespace pelorin::server
