// The PostgreSQL engine's reports: status figures, workers, the export of validated units and
// the whole snapshot, each read from one snapshot of the database.
#include "server/store/bound_text.hpp"
#include "server/store/ids.hpp"
#include "server/store/postgres_store.hpp"
#include "server/store/postgres_store_rows.hpp"
#include "server/store/store_limits.hpp"
#include "server/store/wide_math.hpp"
#include "wideint/decimal.hpp"

namespace pelorin::server {
namespace {

using namespace postgres_rows;
using Tx = pqxx::transaction_base;

void count_units(Tx& tx, std::int64_t campaign, std::int64_t now, UnitCounts& counts) {
    for (const pqxx::row& r : tx.exec_params(
             "SELECT CASE WHEN lease_expires_ms > $1 THEN 'leased' ELSE state END AS shown, COUNT(*) FROM units "
             "WHERE campaign_id = $2 GROUP BY shown",
             now, campaign)) {
        const std::string state = text(r[0]);
        const std::int64_t n = int64(r[1]);
        if (state == "open") counts.open = n;
        else if (state == "leased") counts.leased = n;
        else if (state == "pending") counts.pending = n;
        else if (state == "validated") counts.validated = n;
        else if (state == "set_aside") counts.set_aside = n;
    }
}

// c: id, name, range_begin, range_end, unit_size, next_begin, exhausted, paused.
CampaignFigures campaign_figures(Tx& tx, const pqxx::row& c, std::int64_t now) {
    const std::int64_t id = int64(c[0]);
    CampaignFigures f;
    f.name = text(c[1]);
    f.range = range_of(text(c[2]), text(c[3]));
    f.unit_size = parse_unit_size(text(c[4]));
    f.paused = boolean(c[7]);
    count_units(tx, id, now, f.units);
    f.units_total = units_in(f.range, f.unit_size);

    // Every unit but the campaign's last has the full size.
    const pqxx::result last = tx.exec_params(
        "SELECT CASE WHEN lease_expires_ms > $1 THEN 'leased' ELSE state END FROM units WHERE campaign_id = $2 "
        "AND range_end = $3",
        now, id, text(c[3]));
    if (!last.empty()) {
        const std::string shown = text(last[0][0]);
        f.last_unit_state = shown == "leased" ? UnitState::leased : stored_state(shown);
    }
    f.starts_validated = starts_by_state(f).validated;

    // The lowest start not in a validated unit: an unsettled unit's, else the frontier.
    const pqxx::row low =
        tx.exec_params1("SELECT MIN(range_begin) FROM units WHERE campaign_id = $1 AND state <> 'validated'", id);
    const std::string frontier = boolean(c[6]) ? text(c[3]) : text(c[5]);
    const std::string below = low[0].is_null() || frontier < text(low[0]) ? frontier : text(low[0]);
    const StoredBound b = bound_from_text(below);
    f.validated_below = end_to_decimal(b.value, b.is_2_128);

    const pqxx::row hour = tx.exec_params1(
        "SELECT COUNT(*), SUM(CASE WHEN range_end = $1 THEN 1 ELSE 0 END) FROM units WHERE campaign_id = $2 "
        "AND state = 'validated' AND validated_ms > $3",
        text(c[3]), id, now - kThroughputWindowMs);
    f.units_validated_last_hour = int64(hour[0]);
    f.starts_validated_last_hour = starts_in_units(f.units_validated_last_hour, f.unit_size,
                                                   int64(hour[1]) > 0 ? last_unit_size(f.range, f.unit_size) : 0);
    return f;
}

}  // namespace

namespace postgres_rows {

WorkerFigures worker_figures(const pqxx::row& s) {
    WorkerFigures w;
    w.worker_id = worker_name(int64(s[0]));
    w.nickname = text(s[1]);
    w.address = text(s[2]);
    w.registered_ms = int64(s[3]);
    w.last_seen_ms = int64(s[4]);
    w.banned = boolean(s[5]);
    if (!s[6].is_null()) w.benchmark = Benchmark{text(s[7]), text(s[6]), text(s[8]), real(s[9])};
    w.results_validated = int64(s[10]);
    w.results_rejected = int64(s[11]);
    w.results_pending = int64(s[12]);
    w.validated_since_fault = int64(s[13]);
    w.last_fault_ms = int64(s[14]);
    return w;
}

const char* const kWorkerColumns =
    "SELECT w.id, w.nickname, w.address, w.registered_ms, w.last_seen_ms, w.banned, w.benchmark_backend, "
    "w.benchmark_build_hash, w.benchmark_profile, w.benchmark_rate, "
    "(SELECT COUNT(*) FROM results r WHERE r.worker_id = w.id AND r.status = 'validated'), "
    "(SELECT COUNT(*) FROM results r WHERE r.worker_id = w.id AND r.status = 'rejected'), "
    "(SELECT COUNT(*) FROM results r WHERE r.worker_id = w.id AND r.status = 'pending'), "
    "(SELECT COUNT(*) FROM results r WHERE r.worker_id = w.id AND r.status = 'validated' AND r.copied "
    "AND r.received_ms > w.last_fault_ms), w.last_fault_ms FROM workers w ";

}  // namespace postgres_rows

StatusFigures PostgresStore::status() {
    return pool_.run(PostgresPool::Kind::read, [](Tx& tx) {
        StatusFigures out;
        out.now_ms = now_ms(tx);
        for (const pqxx::row& c : tx.exec(
                 "SELECT id, name, range_begin, range_end, unit_size, next_begin, exhausted, paused FROM campaigns "
                 "ORDER BY id"))
            out.campaigns.push_back(campaign_figures(tx, c, out.now_ms));
        for (const pqxx::row& w :
             tx.exec_params(std::string(kWorkerColumns) + "WHERE w.last_seen_ms > $1 ORDER BY w.id",
                            out.now_ms - kThroughputWindowMs))
            out.active_workers.push_back(worker_figures(w));
        return out;
    });
}

std::vector<WorkerFigures> PostgresStore::workers() {
    return pool_.run(PostgresPool::Kind::read, [](Tx& tx) {
        std::vector<WorkerFigures> out;
        for (const pqxx::row& w : tx.exec(std::string(kWorkerColumns) + "ORDER BY w.id")) out.push_back(worker_figures(w));
        return out;
    });
}

void PostgresStore::export_validated(const std::function<void(const ExportRow&)>& row) {
    // Rows are gathered first and handed out after the transaction: a transaction that runs
    // again must not hand any out twice.
    const std::vector<ExportRow> rows = pool_.run(PostgresPool::Kind::read, [](Tx& tx) {
        std::vector<ExportRow> out;
        for (const pqxx::row& s : tx.exec(
                 "SELECT c.name, u.range_begin, u.range_end, r.worker_id, u.validated_ms, r.record FROM units u "
                 "JOIN campaigns c ON c.id = u.campaign_id JOIN results r ON r.id = u.canonical_result_id "
                 "WHERE u.state = 'validated' ORDER BY c.id, u.range_begin"))
            out.push_back(ExportRow{text(s[0]), range_of(text(s[1]), text(s[2])), worker_name(int64(s[3])), int64(s[4]),
                                    text(s[5])});
        return out;
    });
    for (const ExportRow& r : rows) row(r);
}

StoreSnapshot PostgresStore::snapshot() {
    return pool_.run(PostgresPool::Kind::read, [](Tx& tx) {
        const std::int64_t now = now_ms(tx);
        StoreSnapshot out;
        out.next_lease_number = int64(tx.exec1("SELECT COALESCE(MAX(id), 0) + 1 FROM leases")[0]);
        for (const pqxx::row& c : tx.exec(
                 "SELECT id, name, range_begin, range_end, unit_size, paused, next_begin, exhausted FROM campaigns "
                 "ORDER BY id")) {
            CampaignView view;
            view.name = text(c[1]);
            view.range = range_of(text(c[2]), text(c[3]));
            view.unit_size = parse_unit_size(text(c[4]));
            view.paused = boolean(c[5]);
            view.next_begin = bound_from_text(text(c[6])).value;
            view.exhausted = boolean(c[7]);
            for (const pqxx::row& u : tx.exec_params(
                     "SELECT id, range_begin, range_end, CASE WHEN lease_expires_ms > $1 THEN 'leased' ELSE state END, "
                     "lease_id FROM units WHERE campaign_id = $2 ORDER BY range_begin",
                     now, int64(c[0]))) {
                UnitView unit;
                unit.index = view.units.size();
                unit.range = range_of(text(u[1]), text(u[2]));
                const std::string shown = text(u[3]);
                unit.state = shown == "leased" ? UnitState::leased : stored_state(shown);
                const std::int64_t current = int64(u[4]);
                for (const pqxx::row& l : tx.exec_params(
                         "SELECT id, worker_id, state, proof_hash, starts_per_second, progress, leased_ms, heartbeat_ms, "
                         "expires_ms FROM leases WHERE unit_id = $1 ORDER BY id",
                         int64(u[0]))) {
                    LeaseView lease;
                    lease.lease_id = lease_name(int64(l[0]));
                    lease.worker_id = worker_name(int64(l[1]));
                    const bool live = text(l[2]) == "active" && int64(l[0]) == current && int64(l[8]) > now;
                    lease.state = text(l[2]) == "completed" ? "completed" : live ? "active" : "expired";
                    lease.proof_hash = text(l[3]);
                    lease.starts_per_second = real(l[4]);
                    lease.progress = text(l[5]);
                    lease.leased_ms = int64(l[6]);
                    lease.heartbeat_ms = int64(l[7]);
                    unit.leases.push_back(std::move(lease));
                }
                for (const pqxx::row& r : tx.exec_params(
                         "SELECT lease_id, worker_id, status, audit, reason, received_ms, body FROM results "
                         "WHERE unit_id = $1 ORDER BY id",
                         int64(u[0])))
                    unit.results.push_back(ResultView{lease_name(int64(r[0])), worker_name(int64(r[1])),
                                                      result_status_from(text(r[2])), text(r[3]), text(r[4]),
                                                      int64(r[5]), text(r[6])});
                view.units.push_back(std::move(unit));
            }
            out.campaigns.push_back(std::move(view));
        }
        return out;
    });
}

}  // namespace pelorin::server
