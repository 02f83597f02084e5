// The SQLite engine's reads for the public page and the operator's view: a campaign's hours,
// top workers and latest units; set-aside and mismatched units, workers at fault, lease
// endings and the validation backlog. Plain SQL that any engine can run as written.
#include "server/store/bound_text.hpp"
#include "server/store/hourly_activity.hpp"
#include "server/store/ids.hpp"
#include "server/store/sqlite_store.hpp"
#include "server/store/sqlite_store_rows.hpp"
#include "server/store/wide_math.hpp"

namespace pelorin::server {
namespace {

using namespace sqlite_rows;

// A unit's results for the operator: who, how they stand and why; never the body.
std::vector<ResultView> results_of(SqliteDb& db, std::int64_t unit) {
    std::vector<ResultView> out;
    SqliteStatement r = db.prepare(
        "SELECT lease_id, worker_id, status, audit, reason, received_ms FROM results WHERE unit_id = ? ORDER BY id");
    r.bind(unit);
    while (r.step())
        out.push_back(ResultView{lease_name(r.int64(0)), worker_name(r.int64(1)), result_status_from(r.text(2)),
                                 r.text(3), r.text(4), r.int64(5), {}});
    return out;
}

// Units chosen by `where` (a condition on u with parameters bound after now), the one whose
// latest result came last first, and how many there are in all.
template <typename... Values>
std::int64_t troubled_units(SqliteDb& db, std::int64_t now, const std::string& where, int limit,
                            std::vector<TroubledUnit>& out, const Values&... values) {
    SqliteStatement count = db.prepare("SELECT COUNT(*) FROM units u WHERE " + where);
    count.bind(values...).step();
    SqliteStatement s = db.prepare(
        "SELECT u.id, c.name, u.range_begin, u.range_end, CASE WHEN u.lease_expires_ms > ? THEN 'leased' ELSE u.state "
        "END FROM units u JOIN campaigns c ON c.id = u.campaign_id WHERE " +
        where +
        " ORDER BY (SELECT MAX(r.received_ms) FROM results r WHERE r.unit_id = u.id) DESC, u.id DESC LIMIT ?");
    s.bind(now, values..., limit);
    while (s.step()) {
        const std::string shown = s.text(4);
        out.push_back(TroubledUnit{s.text(1), range_of(s.text(2), s.text(3)),
                                   shown == "leased" ? UnitState::leased : stored_state(shown), results_of(db, s.int64(0))});
    }
    return count.int64(0);
}

}  // namespace

std::optional<CampaignActivity> SqliteStore::campaign_activity(const ActivityQuery& query) {
    auto db = pool_.borrow();
    SqliteTransaction tx(*db, SqliteTransaction::Kind::read);
    SqliteStatement c = db->prepare("SELECT id, range_begin, range_end, unit_size FROM campaigns WHERE name = ?");
    if (!c.bind(query.campaign).step()) return std::nullopt;
    const std::int64_t campaign = c.int64(0);
    const std::string end = c.text(2);
    const std::uint64_t size = parse_unit_size(c.text(3));
    const std::uint64_t last_size = last_unit_size(range_of(c.text(1), end), size);
    // Starts in `units` units of which `short_units` (0 or 1) is the campaign's last.
    const auto starts = [&](std::int64_t units, std::int64_t short_units) {
        return starts_in_units(units, size, short_units > 0 ? last_size : 0);
    };

    CampaignActivity out;
    out.now_ms = db->now_ms();
    out.first_hour_ms = first_hour_start(out.now_ms, query.hours);
    HourlyActivity hours(out.first_hour_ms);
    SqliteStatement v = db->prepare(
        "SELECT validated_ms / 3600000, COUNT(*), SUM(CASE WHEN range_end = ? THEN 1 ELSE 0 END) FROM units "
        "WHERE campaign_id = ? AND state = 'validated' AND validated_ms >= ? GROUP BY validated_ms / 3600000");
    v.bind(end, campaign, out.first_hour_ms);
    while (v.step()) hours.add_validated(v.int64(0) * kHourMs, v.int64(1), starts(v.int64(1), v.int64(2)));
    SqliteStatement l = db->prepare(
        "SELECT l.worker_id, l.leased_ms, l.heartbeat_ms FROM leases l JOIN units u ON u.id = l.unit_id "
        "WHERE u.campaign_id = ? AND l.heartbeat_ms >= ?");
    l.bind(campaign, out.first_hour_ms);
    while (l.step()) hours.add_lease(l.int64(0), l.int64(1), l.int64(2));
    out.hours = hours.hours();

    // Every worker whose copy counted shares the credit; of two with as many units, the one
    // without the shorter last unit has more starts.
    SqliteStatement top = db->prepare(
        "SELECT r.worker_id, COUNT(*) AS units, SUM(CASE WHEN u.range_end = ? THEN 1 ELSE 0 END) AS short_units "
        "FROM results r JOIN units u ON u.id = r.unit_id WHERE u.campaign_id = ? AND r.status = 'validated' "
        "GROUP BY r.worker_id ORDER BY units DESC, short_units ASC, r.worker_id ASC LIMIT ?");
    top.bind(end, campaign, query.top_workers);
    while (top.step())
        out.top_workers.push_back(WorkerCredit{worker_name(top.int64(0)), top.int64(1), starts(top.int64(1), top.int64(2))});

    SqliteStatement latest = db->prepare(
        "SELECT u.range_begin, u.range_end, r.worker_id, u.validated_ms FROM units u "
        "JOIN results r ON r.id = u.canonical_result_id WHERE u.campaign_id = ? AND u.state = 'validated' "
        "ORDER BY u.validated_ms DESC, u.range_begin DESC LIMIT ?");
    latest.bind(campaign, query.latest_units);
    while (latest.step())
        out.latest_units.push_back(
            ValidatedUnit{range_of(latest.text(0), latest.text(1)), worker_name(latest.int64(2)), latest.int64(3)});
    tx.commit();
    return out;
}

OperatorFigures SqliteStore::operator_figures(const OperatorQuery& query) {
    auto db = pool_.borrow();
    SqliteTransaction tx(*db, SqliteTransaction::Kind::read);
    OperatorFigures out;
    out.now_ms = db->now_ms();
    const std::int64_t now = out.now_ms;
    out.set_aside_total = troubled_units(*db, now, "u.state = 'set_aside'", query.limit, out.set_aside);
    // Copies disagree where two workers' results still wait on one unit (two that agreed
    // would have validated it), or where the copies that agreed outvoted one.
    out.mismatched_total = troubled_units(
        *db, now,
        "u.id IN (SELECT unit_id FROM results WHERE status = 'pending' GROUP BY unit_id "
        "HAVING COUNT(DISTINCT worker_id) > 1) "
        "OR u.id IN (SELECT unit_id FROM results WHERE status = 'rejected' AND reason = ?)",
        query.limit, out.mismatched, kOutvotedReason);

    const std::string troubled = "WHERE w.banned <> 0 OR w.last_fault_ms > 0 ";
    SqliteStatement count = db->prepare("SELECT COUNT(*) FROM workers w " + troubled);
    count.step();
    out.troubled_workers_total = count.int64(0);
    SqliteStatement w = db->prepare(worker_columns() + troubled + "ORDER BY w.banned DESC, w.last_fault_ms DESC, w.id LIMIT ?");
    w.bind(query.limit);
    while (w.step()) out.troubled_workers.push_back(worker_figures(w));

    const std::int64_t since = now - query.window_ms;
    SqliteStatement completed =
        db->prepare("SELECT COUNT(*) FROM leases WHERE state = 'completed' AND heartbeat_ms > ? AND heartbeat_ms <= ?");
    completed.bind(since, now).step();
    out.leases_completed = completed.int64(0);
    SqliteStatement expired =
        db->prepare("SELECT COUNT(*) FROM leases WHERE state = 'active' AND expires_ms > ? AND expires_ms <= ?");
    expired.bind(since, now).step();
    out.leases_expired = expired.int64(0);

    SqliteStatement backlog = db->prepare(
        "SELECT COUNT(*), COUNT(DISTINCT r.unit_id), MIN(r.received_ms) FROM results r JOIN units u ON u.id = r.unit_id "
        "WHERE r.status = 'pending' AND u.state = 'pending'");
    backlog.step();
    out.results_pending = backlog.int64(0);
    out.units_pending = backlog.int64(1);
    if (!backlog.is_null(2)) out.oldest_pending_ms = backlog.int64(2);
    tx.commit();
    return out;
}

}  // namespace pelorin::server
