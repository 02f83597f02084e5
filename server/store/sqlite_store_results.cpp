// The SQLite engine's side of results: what a complete finds, recording a result, weighing
// a unit's results, and setting a worker's results aside.
#include <algorithm>
#include <map>
#include <set>
#include <stdexcept>

#include "server/store/ids.hpp"
#include "server/store/sqlite_store.hpp"
#include "server/store/sqlite_store_rows.hpp"
#include "server/store/unit_verdict.hpp"

namespace pelorin::server {
namespace sqlite_rows {

namespace {

std::vector<std::string> networks_of(SqliteDb& db, std::int64_t worker) {
    std::vector<std::string> out;
    SqliteStatement s = db.prepare("SELECT network FROM worker_networks WHERE worker_id = ?");
    s.bind(worker);
    while (s.step()) out.push_back(s.text(0));
    return out;
}

// The worker's fault time again from what still stands against it: its refused or outvoted
// results and the operator's invalidation.
void recount_fault(SqliteDb& db, std::int64_t worker) {
    db.prepare("UPDATE workers SET last_fault_ms = MAX(invalidated_ms, COALESCE((SELECT MAX(COALESCE(r.fault_ms, "
               "r.received_ms)) FROM results r WHERE r.worker_id = workers.id AND r.status = 'rejected'), 0)) "
               "WHERE id = ?")
        .bind(worker)
        .run();
}

// A worker just outvoted: every result of it validated without a copy since its last result a
// copy confirmed waits for a copy again.
void reopen_uncopied(SqliteDb& db, std::int64_t worker, std::int64_t now, unsigned set_aside_after) {
    std::vector<std::pair<std::int64_t, std::int64_t>> reopened;
    SqliteStatement s = db.prepare(
        "SELECT id, unit_id FROM results WHERE worker_id = ?1 AND status = 'validated' AND copied = 0 AND id > "
        "COALESCE((SELECT MAX(id) FROM results WHERE worker_id = ?1 AND status = 'validated' AND copied = 1), 0)");
    s.bind(worker);
    while (s.step()) reopened.emplace_back(s.int64(0), s.int64(1));
    for (const auto& [result, unit] : reopened) {
        db.prepare("UPDATE results SET needs_confirmation = 1 WHERE id = ?").bind(result).run();
        reweigh_unit(db, unit, now, set_aside_after, false);
    }
}

}  // namespace

Reweighed reweigh_unit(SqliteDb& db, std::int64_t unit_id, std::int64_t now, unsigned set_aside_after,
                       bool reach_back, bool every_refusal_counts) {
    SqliteStatement unit = db.prepare("SELECT state, counts_after_result FROM units WHERE id = ?");
    unit.bind(unit_id).step();
    Reweighed out;
    out.before = stored_state(unit.text(0));
    const std::int64_t counts_after = unit.int64(1);

    std::vector<WeighedResult> standing;
    std::map<std::int64_t, std::vector<std::string>> networks;
    SqliteStatement rs = db.prepare(
        "SELECT r.id, r.worker_id, r.status, r.needs_confirmation, r.comparable, r.passed, w.hardware_hash, "
        "EXISTS (SELECT 1 FROM results c WHERE c.worker_id = r.worker_id AND c.status = 'validated') "
        "FROM results r JOIN workers w ON w.id = r.worker_id "
        "WHERE r.unit_id = ? AND r.status <> 'invalidated' ORDER BY r.id");
    rs.bind(unit_id);
    while (rs.step()) {
        const std::int64_t worker = rs.int64(1);
        if (!networks.count(worker)) networks[worker] = networks_of(db, worker);
        WeighedResult r;
        r.id = rs.int64(0);
        r.worker_id = worker_name(worker);
        r.status = result_status_from(rs.text(2));
        r.needs_confirmation = rs.int64(3) != 0;
        r.comparable = rs.text(4);
        r.passed = rs.int64(5) != 0;
        r.worker = WorkerMarks{r.worker_id, rs.text(6), networks[worker]};
        r.counts_for_set_aside = (rs.int64(7) != 0 || every_refusal_counts) && r.id > counts_after;
        standing.push_back(std::move(r));
    }
    const UnitVerdict verdict = weigh_unit(standing, set_aside_after);
    out.after = verdict.state;
    out.validated = verdict.validated;
    out.outvoted = verdict.outvoted;
    out.newest_disagrees = verdict.newest_disagrees;
    const auto listed = [](const std::vector<std::int64_t>& ids, std::int64_t id) {
        return std::find(ids.begin(), ids.end(), id) != ids.end();
    };

    // Results still standing wait until the verdict counts them or refutes them; an outvoted
    // result no longer outvoted (its outvoters were set aside) stands again.
    db.prepare("UPDATE results SET status = 'pending', copied = 0 WHERE unit_id = ? AND status = 'validated'")
        .bind(unit_id)
        .run();
    std::set<std::int64_t> restored_workers, faulty_workers;
    for (const WeighedResult& r : standing) {
        if (!r.passed || r.status != ResultStatus::rejected || listed(verdict.outvoted, r.id)) continue;
        db.prepare("UPDATE results SET status = 'pending', reason = '', fault_ms = NULL WHERE id = ?").bind(r.id).run();
        restored_workers.insert(*worker_number(r.worker_id));
    }
    for (std::int64_t id : verdict.validated)
        db.prepare("UPDATE results SET status = 'validated', copied = ? WHERE id = ?").bind(verdict.copied, id).run();
    for (const WeighedResult& r : standing) {
        if (!listed(verdict.outvoted, r.id) || r.status == ResultStatus::rejected) continue;
        // Newly outvoted: its worker is at fault from now.
        db.prepare("UPDATE results SET status = 'rejected', reason = ?, fault_ms = ? WHERE id = ?")
            .bind(kOutvotedReason, now, r.id)
            .run();
        faulty_workers.insert(*worker_number(r.worker_id));
    }
    for (std::int64_t worker : faulty_workers)
        db.prepare("UPDATE workers SET last_fault_ms = MAX(last_fault_ms, ?) WHERE id = ?").bind(now, worker).run();
    for (std::int64_t worker : restored_workers)
        if (!faulty_workers.count(worker)) recount_fault(db, worker);

    if (verdict.state == UnitState::validated) {
        db.prepare("UPDATE units SET state = 'validated', canonical_result_id = ?, "
                   "validated_ms = CASE WHEN state = 'validated' THEN validated_ms ELSE ? END WHERE id = ?")
            .bind(verdict.canonical, now, unit_id)
            .run();
    } else {
        db.prepare("UPDATE units SET state = ?, canonical_result_id = NULL, validated_ms = NULL WHERE id = ?")
            .bind(unit_state_name(verdict.state), unit_id)
            .run();
    }
    if (reach_back)
        for (std::int64_t worker : faulty_workers) reopen_uncopied(db, worker, now, set_aside_after);
    return out;
}

}  // namespace sqlite_rows

namespace {

using namespace sqlite_rows;

LeaseRow read_lease(SqliteDb& db, std::int64_t lease, std::int64_t now) {
    LeaseRow row;
    SqliteStatement s = db.prepare(
        "SELECT l.worker_id, u.id, u.range_begin, u.range_end, u.state, "
        "u.lease_id IS l.id AND u.epoch = l.epoch, "
        "u.lease_id IS NOT NULL AND u.lease_id IS NOT l.id AND u.lease_expires_ms > ? AND NOT l.overtaken, "
        "l.starts_per_second, r.body, r.audit, r.id IS NOT NULL "
        "FROM leases l JOIN units u ON u.id = l.unit_id LEFT JOIN results r ON r.lease_id = l.id WHERE l.id = ?");
    if (!s.bind(now, lease).step()) return row;
    row.found = true;
    row.worker = s.int64(0);
    row.unit = s.int64(1);
    row.range = range_of(s.text(2), s.text(3));
    row.unit_state = stored_state(s.text(4));
    row.current = s.int64(5) != 0;
    row.other_live = s.int64(6) != 0;
    row.lease_rate = s.real(7);
    row.answered = s.int64(10) != 0;
    row.answered_body = s.text(8);
    row.answered_audit = s.text(9);
    return row;
}

}  // namespace

CompletionContext SqliteStore::completion_context(const std::string& worker_id, const std::string& lease_id) {
    const auto worker = worker_number(worker_id);
    const auto lease = lease_number(lease_id);
    CompletionContext out;
    if (!worker || !lease) return out;
    auto db = pool_.borrow();
    SqliteTransaction tx(*db, SqliteTransaction::Kind::read);
    const std::int64_t now = db->now_ms();
    const LeaseRow row = read_lease(*db, *lease, now);
    out.kind = standing_of(row, *worker);
    if (!row.found) return out;
    out.range = row.range;
    out.answered_body = row.answered_body;
    out.answered_audit = row.answered_audit;
    out.lease_starts_per_second = row.lease_rate;
    SqliteStatement first = db->prepare("SELECT MIN(leased_ms) FROM leases WHERE unit_id = ? AND worker_id = ?");
    first.bind(row.unit, *worker).step();
    out.elapsed_ms = now - first.int64(0);
    SqliteStatement w = db->prepare(
        "SELECT COALESCE(benchmark_rate, 0), (SELECT COUNT(*) FROM results r WHERE r.worker_id = workers.id "
        "AND r.status = 'validated' AND r.copied = 1 AND r.received_ms > workers.last_fault_ms) FROM workers WHERE id = ?");
    if (w.bind(*worker).step()) {
        out.benchmark_starts_per_second = w.real(0);
        out.validated_since_fault = w.int64(1);
    }
    tx.commit();
    return out;
}

SubmissionOutcome SqliteStore::submit_result(const Submission& submission) {
    using Kind = SubmissionOutcome::Kind;
    const auto worker = worker_number(submission.worker_id);
    const auto lease = lease_number(submission.lease_id);
    if (!worker || !lease) return SubmissionOutcome{};
    auto db = pool_.borrow();
    SqliteTransaction tx(*db);
    const std::int64_t now = db->now_ms();
    const LeaseRow row = read_lease(*db, *lease, now);
    switch (standing_of(row, *worker)) {
        case CompletionContext::Kind::unknown: return SubmissionOutcome{Kind::unknown, ""};
        case CompletionContext::Kind::other_worker: return SubmissionOutcome{Kind::other_worker, ""};
        case CompletionContext::Kind::answered:
            // The same complete again (its reply was lost) gets the same reply.
            if (row.answered_body == submission.body) return SubmissionOutcome{Kind::answered, row.answered_audit};
            return SubmissionOutcome{Kind::conflict, row.answered_audit};
        case CompletionContext::Kind::settled: return SubmissionOutcome{Kind::settled, ""};
        case CompletionContext::Kind::superseded: return SubmissionOutcome{Kind::superseded, ""};
        case CompletionContext::Kind::open: break;
    }

    db->prepare("INSERT INTO results (unit_id, lease_id, worker_id, received_ms, body, record, comparable, status, "
                "needs_confirmation, audit, reason, passed, fault_ms) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, '', ?, ?, ?)")
        .bind(row.unit, *lease, *worker, now, submission.body, submission.record, submission.comparable,
              submission.passed ? "pending" : "rejected", submission.needs_confirmation, submission.reason,
              submission.passed, submission.passed ? std::optional<std::int64_t>() : std::optional<std::int64_t>(now))
        .run();
    note_network(*db, *worker, submission.network);
    const std::int64_t result = db->last_insert_id();
    db->prepare("UPDATE leases SET state = 'completed', heartbeat_ms = ? WHERE id = ?").bind(now, *lease).run();
    // The unit's lease ends with this result when it was this one or one that has expired; a
    // lease that overtook this one (past its maximum age) goes on.
    db->prepare("UPDATE units SET lease_id = NULL, lease_worker_id = NULL, lease_expires_ms = NULL, "
                "lease_overdue_ms = NULL WHERE id = ? AND (lease_id IS ? OR lease_expires_ms <= ?)")
        .bind(row.unit, *lease, now)
        .run();
    db->prepare("UPDATE workers SET last_seen_ms = ?, last_fault_ms = CASE WHEN ? THEN last_fault_ms ELSE ? END "
                "WHERE id = ?")
        .bind(now, submission.passed, now, *worker)
        .run();
    const Reweighed weighed =
        reweigh_unit(*db, row.unit, now, submission.set_aside_after, true, submission.every_refusal_counts);
    const std::string audit = audit_of(submission, result, weighed);
    db->prepare("UPDATE results SET audit = ? WHERE id = ?").bind(audit, result).run();
    tx.commit();
    return SubmissionOutcome{Kind::recorded, audit, weighed.newest_disagrees};
}

std::optional<InvalidateOutcome> SqliteStore::invalidate_worker(const std::string& worker_id,
                                                                std::optional<std::int64_t> since_ms,
                                                                unsigned set_aside_after) {
    const auto worker = worker_number(worker_id);
    if (!worker) return std::nullopt;
    auto db = pool_.borrow();
    SqliteTransaction tx(*db);
    const std::int64_t now = db->now_ms();
    SqliteStatement known = db->prepare("SELECT 1 FROM workers WHERE id = ?");
    if (!known.bind(*worker).step()) return std::nullopt;
    const std::int64_t since = since_ms.value_or(INT64_MIN);

    std::vector<std::int64_t> units;
    SqliteStatement us = db->prepare(
        "SELECT DISTINCT unit_id FROM results WHERE worker_id = ? AND status <> 'invalidated' AND received_ms >= ? "
        "ORDER BY unit_id");
    us.bind(*worker, since);
    while (us.step()) units.push_back(us.int64(0));
    db->prepare("UPDATE results SET status = 'invalidated', reason = 'set aside by the operator' "
                "WHERE worker_id = ? AND status <> 'invalidated' AND received_ms >= ?")
        .bind(*worker, since)
        .run();
    InvalidateOutcome out;
    out.results = db->changes();
    db->prepare("UPDATE workers SET last_fault_ms = ?, invalidated_ms = ? WHERE id = ?").bind(now, now, *worker).run();
    for (std::int64_t unit : units) {
        const Reweighed weighed = reweigh_unit(*db, unit, now, set_aside_after);
        if (weighed.before != weighed.after) ++out.units;
    }
    tx.commit();
    return out;
}

}  // namespace pelorin::server
