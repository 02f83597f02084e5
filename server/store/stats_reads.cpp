#include "server/store/stats_reads.hpp"

#include "server/store/hourly_activity.hpp"
#include "server/store/ids.hpp"
#include "server/store/stored_values.hpp"
#include "server/store/wide_math.hpp"

namespace pelorin::server {
namespace {

using Values = std::vector<SqlReader::Value>;

// The stored state of a unit, or leased where the column says so.
UnitState shown_state(const std::string& shown) {
    return shown == "leased" ? UnitState::leased : stored_state(shown);
}

// A unit's results for the operator: who, how they stand and why; never the body.
std::vector<ResultView> results_of(SqlReader& reader, std::int64_t unit) {
    std::vector<ResultView> out;
    reader.each("SELECT lease_id, worker_id, status, audit, reason, received_ms FROM results WHERE unit_id = ? ORDER BY id",
                {unit}, [&](const SqlRow& r) {
                    out.push_back(ResultView{lease_name(r.int64(0)), worker_name(r.int64(1)),
                                             result_status_from(r.text(2)), r.text(3), r.text(4), r.int64(5), {}});
                });
    return out;
}

// How many rows `sql` counts (one row, one column).
std::int64_t count_of(SqlReader& reader, const std::string& sql, const Values& values) {
    std::int64_t n = 0;
    reader.each(sql, values, [&](const SqlRow& r) { n = r.int64(0); });
    return n;
}

// Units chosen by `where` (a condition on u with `values`), the one whose latest result came
// last first, and how many there are in all.
std::int64_t troubled_units(SqlReader& reader, std::int64_t now, const std::string& where, const Values& values,
                            int limit, std::vector<TroubledUnit>& out) {
    Values listed{now};
    listed.insert(listed.end(), values.begin(), values.end());
    listed.emplace_back(std::int64_t{limit});
    std::vector<std::pair<std::int64_t, TroubledUnit>> units;
    reader.each(
        "SELECT u.id, c.name, u.range_begin, u.range_end, CASE WHEN u.lease_expires_ms > ? THEN 'leased' ELSE u.state "
        "END FROM units u JOIN campaigns c ON c.id = u.campaign_id WHERE " +
            where +
            " ORDER BY (SELECT MAX(r.received_ms) FROM results r WHERE r.unit_id = u.id) DESC, u.id DESC LIMIT ?",
        listed, [&](const SqlRow& s) {
            units.emplace_back(s.int64(0),
                               TroubledUnit{s.text(1), range_of(s.text(2), s.text(3)), shown_state(s.text(4)), {}});
        });
    // Each unit's results are read once its list is complete: an engine reads one result at a time.
    for (auto& [id, unit] : units) {
        unit.results = results_of(reader, id);
        out.push_back(std::move(unit));
    }
    return count_of(reader, "SELECT COUNT(*) FROM units u WHERE " + where, values);
}

}  // namespace

std::optional<CampaignActivity> read_campaign_activity(SqlReader& reader, const ActivityQuery& query) {
    std::optional<std::int64_t> campaign;
    std::string begin, end, size_text;
    reader.each("SELECT id, range_begin, range_end, unit_size FROM campaigns WHERE name = ?", {query.campaign},
                [&](const SqlRow& c) {
                    campaign = c.int64(0);
                    begin = c.text(1);
                    end = c.text(2);
                    size_text = c.text(3);
                });
    if (!campaign) return std::nullopt;
    const std::uint64_t size = parse_unit_size(size_text);
    const std::uint64_t last_size = last_unit_size(range_of(begin, end), size);
    // Starts in `units` units of which `short_units` (0 or 1) is the campaign's last.
    const auto starts = [&](std::int64_t units, std::int64_t short_units) {
        return starts_in_units(units, size, short_units > 0 ? last_size : 0);
    };

    CampaignActivity out;
    out.now_ms = reader.now_ms();
    out.first_hour_ms = first_hour_start(out.now_ms, query.hours);
    HourlyActivity hours(out.first_hour_ms);
    reader.each(
        "SELECT validated_ms / 3600000, COUNT(*), SUM(CASE WHEN range_end = ? THEN 1 ELSE 0 END) FROM units "
        "WHERE campaign_id = ? AND state = 'validated' AND validated_ms >= ? GROUP BY validated_ms / 3600000",
        {end, *campaign, out.first_hour_ms},
        [&](const SqlRow& v) { hours.add_validated(v.int64(0) * kHourMs, v.int64(1), starts(v.int64(1), v.int64(2))); });
    reader.each(
        "SELECT l.worker_id, l.leased_ms, l.heartbeat_ms FROM leases l JOIN units u ON u.id = l.unit_id "
        "WHERE u.campaign_id = ? AND l.heartbeat_ms >= ?",
        {*campaign, out.first_hour_ms}, [&](const SqlRow& l) { hours.add_lease(l.int64(0), l.int64(1), l.int64(2)); });
    out.hours = hours.hours();

    // Every worker whose copy counted shares the credit; of two with as many units, the one
    // without the shorter last unit has more starts.
    reader.each(
        "SELECT r.worker_id, COUNT(*) AS units, SUM(CASE WHEN u.range_end = ? THEN 1 ELSE 0 END) AS short_units "
        "FROM results r JOIN units u ON u.id = r.unit_id WHERE u.campaign_id = ? AND r.status = 'validated' "
        "GROUP BY r.worker_id ORDER BY units DESC, short_units ASC, r.worker_id ASC LIMIT ?",
        {end, *campaign, std::int64_t{query.top_workers}}, [&](const SqlRow& top) {
            out.top_workers.push_back(
                WorkerCredit{worker_name(top.int64(0)), top.int64(1), starts(top.int64(1), top.int64(2))});
        });

    reader.each(
        "SELECT u.range_begin, u.range_end, r.worker_id, u.validated_ms FROM units u "
        "JOIN results r ON r.id = u.canonical_result_id WHERE u.campaign_id = ? AND u.state = 'validated' "
        "ORDER BY u.validated_ms DESC, u.range_begin DESC LIMIT ?",
        {*campaign, std::int64_t{query.latest_units}}, [&](const SqlRow& latest) {
            out.latest_units.push_back(
                ValidatedUnit{range_of(latest.text(0), latest.text(1)), worker_name(latest.int64(2)), latest.int64(3)});
        });
    return out;
}

OperatorFigures read_operator_figures(SqlReader& reader, const OperatorQuery& query) {
    OperatorFigures out;
    out.now_ms = reader.now_ms();
    const std::int64_t now = out.now_ms;
    out.set_aside_total = troubled_units(reader, now, "u.state = 'set_aside'", {}, query.limit, out.set_aside);
    // Copies disagree where two workers' checked results still wait on one unit (two that
    // agreed would have validated it), or where the copies that agreed outvoted one. Results
    // waiting for their checksums are not compared yet.
    out.mismatched_total = troubled_units(
        reader, now,
        "u.id IN (SELECT unit_id FROM results WHERE status = 'pending' "
        "AND id NOT IN (SELECT result_id FROM checksum_waits) GROUP BY unit_id "
        "HAVING COUNT(DISTINCT worker_id) > 1) "
        "OR u.id IN (SELECT unit_id FROM results WHERE status = 'rejected' AND reason = ?)",
        {std::string(kOutvotedReason)}, query.limit, out.mismatched);

    // A flag column is an integer on one engine and a boolean on the other: both read it as a condition.
    const std::string troubled = "w.banned OR w.last_fault_ms > 0";
    out.troubled_workers_total = count_of(reader, "SELECT COUNT(*) FROM workers w WHERE " + troubled, {});
    out.troubled_workers = reader.workers(troubled, "w.banned DESC, w.last_fault_ms DESC, w.id", query.limit);

    const std::int64_t since = now - query.window_ms;
    out.leases_completed = count_of(
        reader, "SELECT COUNT(*) FROM leases WHERE state = 'completed' AND heartbeat_ms > ? AND heartbeat_ms <= ?",
        {since, now});
    out.leases_expired = count_of(
        reader, "SELECT COUNT(*) FROM leases WHERE state = 'active' AND expires_ms > ? AND expires_ms <= ?", {since, now});

    reader.each(
        "SELECT COUNT(*), COUNT(DISTINCT r.unit_id), MIN(r.received_ms) FROM results r JOIN units u ON u.id = r.unit_id "
        "WHERE r.status = 'pending' AND u.state = 'pending'",
        {}, [&](const SqlRow& backlog) {
            out.results_pending = backlog.int64(0);
            out.units_pending = backlog.int64(1);
            if (!backlog.is_null(2)) out.oldest_pending_ms = backlog.int64(2);
        });
    return out;
}

}  // namespace pelorin::server
