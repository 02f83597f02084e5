// The SQLite engine's reports: status figures, workers, the export of validated units and
// the whole snapshot.
#include "server/store/store_limits.hpp"
#include "server/store/bound_text.hpp"
#include "server/store/ids.hpp"
#include "server/store/sqlite_store.hpp"
#include "server/store/sqlite_store_rows.hpp"
#include "server/store/wide_math.hpp"
#include "wideint/decimal.hpp"

namespace pelorin::server {
namespace {

using namespace sqlite_rows;

void count_units(SqliteDb& db, std::int64_t campaign, std::int64_t now, UnitCounts& counts) {
    SqliteStatement s = db.prepare(
        "SELECT CASE WHEN lease_expires_ms > ? THEN 'leased' ELSE state END AS shown, COUNT(*) FROM units "
        "WHERE campaign_id = ? GROUP BY shown");
    s.bind(now, campaign);
    while (s.step()) {
        const std::string state = s.text(0);
        const std::int64_t n = s.int64(1);
        if (state == "open") counts.open = n;
        else if (state == "leased") counts.leased = n;
        else if (state == "pending") counts.pending = n;
        else if (state == "validated") counts.validated = n;
        else if (state == "set_aside") counts.set_aside = n;
    }
}

CampaignFigures campaign_figures(SqliteDb& db, SqliteStatement& c, std::int64_t now) {
    const std::int64_t id = c.int64(0);
    CampaignFigures f;
    f.name = c.text(1);
    f.range = range_of(c.text(2), c.text(3));
    f.unit_size = parse_unit_size(c.text(4));
    f.paused = c.int64(7) != 0;
    count_units(db, id, now, f.units);
    f.units_total = units_in(f.range, f.unit_size);

    // Every unit but the campaign's last has the full size.
    SqliteStatement last = db.prepare(
        "SELECT CASE WHEN lease_expires_ms > ? THEN 'leased' ELSE state END FROM units WHERE campaign_id = ? "
        "AND range_end = ?");
    if (last.bind(now, id, c.text(3)).step()) {
        const std::string shown = last.text(0);
        f.last_unit_state = shown == "leased" ? UnitState::leased : stored_state(shown);
    }
    f.starts_validated = starts_by_state(f).validated;

    // The lowest start not in a validated unit: an unsettled unit's, else the frontier.
    SqliteStatement low = db.prepare("SELECT MIN(range_begin) FROM units WHERE campaign_id = ? AND state <> 'validated'");
    low.bind(id).step();
    const std::string frontier = c.int64(6) != 0 ? c.text(3) : c.text(5);
    const std::string below = low.is_null(0) || frontier < low.text(0) ? frontier : low.text(0);
    const StoredBound b = bound_from_text(below);
    f.validated_below = end_to_decimal(b.value, b.is_2_128);

    SqliteStatement hour = db.prepare(
        "SELECT COUNT(*), SUM(CASE WHEN range_end = ? THEN 1 ELSE 0 END) FROM units WHERE campaign_id = ? "
        "AND state = 'validated' AND validated_ms > ?");
    hour.bind(c.text(3), id, now - kThroughputWindowMs).step();
    f.units_validated_last_hour = hour.int64(0);
    f.starts_validated_last_hour = starts_in_units(f.units_validated_last_hour, f.unit_size,
                                                   hour.int64(1) > 0 ? last_unit_size(f.range, f.unit_size) : 0);
    return f;
}

}  // namespace

namespace sqlite_rows {

WorkerFigures worker_figures(SqliteStatement& s) {
    WorkerFigures w;
    w.worker_id = worker_name(s.int64(0));
    w.nickname = s.text(1);
    w.address = s.text(2);
    w.registered_ms = s.int64(3);
    w.last_seen_ms = s.int64(4);
    w.banned = s.int64(5) != 0;
    if (!s.is_null(6)) w.benchmark = Benchmark{s.text(7), s.text(6), s.text(8), s.real(9)};
    w.results_validated = s.int64(10);
    w.results_rejected = s.int64(11);
    w.results_pending = s.int64(12);
    w.validated_since_fault = s.int64(13);
    w.last_fault_ms = s.int64(14);
    return w;
}

std::string worker_columns() {
    return "SELECT w.id, w.nickname, w.address, w.registered_ms, w.last_seen_ms, w.banned, w.benchmark_backend, "
           "w.benchmark_build_hash, w.benchmark_profile, w.benchmark_rate, "
           "(SELECT COUNT(*) FROM results r WHERE r.worker_id = w.id AND r.status = 'validated'), "
           "(SELECT COUNT(*) FROM results r WHERE r.worker_id = w.id AND r.status = 'rejected'), "
           "(SELECT COUNT(*) FROM results r WHERE r.worker_id = w.id AND r.status = 'pending'), "
           "(SELECT COUNT(*) FROM results r WHERE r.worker_id = w.id AND r.status = 'validated' AND r.copied = 1 "
           "AND r.received_ms > w.last_fault_ms), w.last_fault_ms FROM workers w ";
}

}  // namespace sqlite_rows

StatusFigures SqliteStore::status() {
    auto db = pool_.borrow();
    SqliteTransaction tx(*db, SqliteTransaction::Kind::read);
    StatusFigures out;
    out.now_ms = db->now_ms();
    SqliteStatement c = db->prepare(
        "SELECT id, name, range_begin, range_end, unit_size, next_begin, exhausted, paused FROM campaigns ORDER BY id");
    while (c.step()) out.campaigns.push_back(campaign_figures(*db, c, out.now_ms));
    SqliteStatement w = db->prepare(worker_columns() + "WHERE w.last_seen_ms > ? ORDER BY w.id");
    w.bind(out.now_ms - kThroughputWindowMs);
    while (w.step()) out.active_workers.push_back(worker_figures(w));
    tx.commit();
    return out;
}

std::vector<WorkerFigures> SqliteStore::workers() {
    auto db = pool_.borrow();
    SqliteTransaction tx(*db, SqliteTransaction::Kind::read);
    std::vector<WorkerFigures> out;
    SqliteStatement w = db->prepare(worker_columns() + "ORDER BY w.id");
    while (w.step()) out.push_back(worker_figures(w));
    tx.commit();
    return out;
}

void SqliteStore::export_validated(const std::function<void(const ExportRow&)>& row) {
    auto db = pool_.borrow();
    SqliteTransaction tx(*db, SqliteTransaction::Kind::read);
    SqliteStatement s = db->prepare(
        "SELECT c.name, u.range_begin, u.range_end, r.worker_id, u.validated_ms, r.record FROM units u "
        "JOIN campaigns c ON c.id = u.campaign_id JOIN results r ON r.id = u.canonical_result_id "
        "WHERE u.state = 'validated' ORDER BY c.id, u.range_begin");
    while (s.step()) row(ExportRow{s.text(0), range_of(s.text(1), s.text(2)), worker_name(s.int64(3)), s.int64(4), s.text(5)});
    tx.commit();
}

StoreSnapshot SqliteStore::snapshot() {
    auto db = pool_.borrow();
    SqliteTransaction tx(*db, SqliteTransaction::Kind::read);
    const std::int64_t now = db->now_ms();
    StoreSnapshot out;
    SqliteStatement next = db->prepare("SELECT COALESCE(MAX(id), 0) + 1 FROM leases");
    next.step();
    out.next_lease_number = next.int64(0);
    SqliteStatement c = db->prepare(
        "SELECT id, name, range_begin, range_end, unit_size, paused, next_begin, exhausted FROM campaigns ORDER BY id");
    while (c.step()) {
        CampaignView view;
        view.name = c.text(1);
        view.range = range_of(c.text(2), c.text(3));
        view.unit_size = parse_unit_size(c.text(4));
        view.paused = c.int64(5) != 0;
        view.next_begin = bound_from_text(c.text(6)).value;
        view.exhausted = c.int64(7) != 0;
        SqliteStatement u = db->prepare(
            "SELECT id, range_begin, range_end, CASE WHEN lease_expires_ms > ? THEN 'leased' ELSE state END, lease_id "
            "FROM units WHERE campaign_id = ? ORDER BY range_begin");
        u.bind(now, c.int64(0));
        while (u.step()) {
            UnitView unit;
            unit.index = view.units.size();
            unit.range = range_of(u.text(1), u.text(2));
            const std::string shown = u.text(3);
            unit.state = shown == "leased" ? UnitState::leased : stored_state(shown);
            const std::int64_t current = u.is_null(4) ? 0 : u.int64(4);
            SqliteStatement l = db->prepare(
                "SELECT id, worker_id, state, proof_hash, starts_per_second, progress, leased_ms, heartbeat_ms, "
                "expires_ms FROM leases WHERE unit_id = ? ORDER BY id");
            l.bind(u.int64(0));
            while (l.step()) {
                LeaseView lease;
                lease.lease_id = lease_name(l.int64(0));
                lease.worker_id = worker_name(l.int64(1));
                const bool live = l.text(2) == "active" && l.int64(0) == current && l.int64(8) > now;
                lease.state = l.text(2) == "completed" ? "completed" : live ? "active" : "expired";
                lease.proof_hash = l.text(3);
                lease.starts_per_second = l.real(4);
                lease.progress = l.text(5);
                lease.leased_ms = l.int64(6);
                lease.heartbeat_ms = l.int64(7);
                unit.leases.push_back(std::move(lease));
            }
            SqliteStatement r = db->prepare(
                "SELECT lease_id, worker_id, status, audit, reason, received_ms, body FROM results WHERE unit_id = ? "
                "ORDER BY id");
            r.bind(u.int64(0));
            while (r.step())
                unit.results.push_back(ResultView{lease_name(r.int64(0)), worker_name(r.int64(1)),
                                                  result_status_from(r.text(2)), r.text(3), r.text(4), r.int64(5),
                                                  r.text(6)});
            view.units.push_back(std::move(unit));
        }
        out.campaigns.push_back(std::move(view));
    }
    tx.commit();
    return out;
}

}  // namespace pelorin::server
