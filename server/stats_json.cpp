#include "server/stats_json.hpp"

#include "server/reports.hpp"
#include "server/store/hourly_activity.hpp"
#include "server/store/wide_math.hpp"
#include "server/utc_time.hpp"
#include "wideint/decimal.hpp"

namespace pelorin::server {
namespace {

ojson range_members(const UnitRange& r) {
    return {{"begin", u128_to_decimal(r.begin)}, {"end", end_to_decimal(r.end, r.end_is_2_128)}};
}

ojson troubled_units(std::int64_t total, const std::vector<TroubledUnit>& units) {
    ojson list = ojson::array();
    for (const TroubledUnit& u : units) {
        ojson results = ojson::array();
        for (const ResultView& r : u.results)
            results.push_back({{"worker_id", r.worker_id},
                               {"standing", result_status_name(r.status)},
                               {"reason", r.reason},
                               {"audit", r.audit},
                               {"received_at", utc_text(r.received_ms)}});
        ojson unit = {{"campaign", u.campaign}};
        unit.update(range_members(u.range));
        unit["state"] = unit_state_name(u.state);
        unit["results"] = std::move(results);
        list.push_back(std::move(unit));
    }
    return {{"total", total}, {"units", list}};
}

}  // namespace

std::string summary_json(const StatusFigures& status) {
    ojson campaigns = ojson::array();
    for (const CampaignFigures& c : status.campaigns) {
        ojson j = campaign_json(c);
        const StartsByState s = starts_by_state(c);
        j["starts"] = {{"open", s.open},
                       {"leased", s.leased},
                       {"pending", s.pending},
                       {"validated", s.validated},
                       {"set_aside", s.set_aside}};
        j["starts_total"] = s.total;
        // An empty range has nothing left to check.
        j["share_validated"] = s.total == "0" ? 1.0 : decimal_to_double(s.validated) / decimal_to_double(s.total);
        campaigns.push_back(std::move(j));
    }
    return json_text({{"time", utc_text(status.now_ms)},
                 {"campaigns", campaigns},
                 {"active_workers", status.active_workers.size()}});
}

std::string activity_json(const std::string& campaign, const CampaignActivity& a) {
    ojson hours = ojson::array();
    auto next = a.hours.begin();
    for (std::int64_t h = a.first_hour_ms; h <= a.now_ms; h += kHourMs) {
        HourFigures figures;
        figures.start_ms = h;
        while (next != a.hours.end() && next->start_ms < h) ++next;
        if (next != a.hours.end() && next->start_ms == h) figures = *next;
        hours.push_back({{"start", utc_text(h)},
                         {"units_validated", figures.units_validated},
                         {"starts_validated", figures.starts_validated},
                         {"active_workers", figures.active_workers}});
    }
    ojson top = ojson::array();
    for (const WorkerCredit& w : a.top_workers)
        top.push_back({{"worker_id", w.worker_id}, {"units_validated", w.units_validated}, {"starts_validated", w.starts_validated}});
    ojson latest = ojson::array();
    for (const ValidatedUnit& u : a.latest_units) {
        ojson unit = range_members(u.range);
        unit["worker_id"] = u.worker_id;
        unit["validated_at"] = utc_text(u.validated_ms);
        latest.push_back(std::move(unit));
    }
    return json_text({{"campaign", campaign},
                 {"time", utc_text(a.now_ms)},
                 {"hours", hours},
                 {"top_workers", top},
                 {"latest_units", latest}});
}

std::string operator_json(const OperatorFigures& f, int window_hours, unsigned new_worker_results) {
    ojson workers = ojson::array();
    for (const WorkerFigures& w : f.troubled_workers)
        workers.push_back({{"worker_id", w.worker_id},
                           {"banned", w.banned},
                           {"last_fault_at", w.last_fault_ms > 0 ? ojson(utc_text(w.last_fault_ms)) : ojson(nullptr)},
                           {"results_validated", w.results_validated},
                           {"results_rejected", w.results_rejected},
                           {"results_pending", w.results_pending},
                           {"validated_since_fault", w.validated_since_fault},
                           {"results_copied", w.last_fault_ms > 0 && w.validated_since_fault <
                                                                         static_cast<std::int64_t>(new_worker_results)}});
    const std::int64_t ended = f.leases_completed + f.leases_expired;
    return json_text(
        {{"time", utc_text(f.now_ms)},
         {"set_aside", troubled_units(f.set_aside_total, f.set_aside)},
         {"mismatches", troubled_units(f.mismatched_total, f.mismatched)},
         {"workers", {{"total", f.troubled_workers_total}, {"workers", workers}}},
         {"leases",
          {{"window_hours", window_hours},
           {"completed", f.leases_completed},
           {"expired", f.leases_expired},
           {"expiry_rate", ended > 0 ? ojson(static_cast<double>(f.leases_expired) / static_cast<double>(ended))
                                     : ojson(nullptr)}}},
         {"backlog",
          {{"results_pending", f.results_pending},
           {"units_pending", f.units_pending},
           {"oldest_pending_at", f.oldest_pending_ms ? ojson(utc_text(*f.oldest_pending_ms)) : ojson(nullptr)}}}});
}

}  // namespace pelorin::server
