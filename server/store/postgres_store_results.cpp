// The PostgreSQL engine's side of results: what a complete finds, recording a result,
// weighing a unit's results, and setting a worker's results aside.
#include <algorithm>
#include <map>
#include <set>

#include "server/store/ids.hpp"
#include "server/store/postgres_store.hpp"
#include "server/store/postgres_store_rows.hpp"
#include "server/store/unit_verdict.hpp"

namespace pelorin::server {

using Tx = pqxx::transaction_base;

namespace postgres_rows {

namespace {

std::vector<std::string> networks_of(Tx& tx, std::int64_t worker) {
    std::vector<std::string> out;
    for (const pqxx::row& r : tx.exec_params("SELECT network FROM worker_networks WHERE worker_id = $1", worker))
        out.push_back(text(r[0]));
    return out;
}

// The worker's fault time again from what still stands against it: its refused or outvoted
// results and the operator's invalidation.
void recount_fault(Tx& tx, std::int64_t worker) {
    tx.exec_params(
        "UPDATE workers SET last_fault_ms = GREATEST(invalidated_ms, COALESCE((SELECT MAX(COALESCE(r.fault_ms, "
        "r.received_ms)) FROM results r WHERE r.worker_id = workers.id AND r.status = 'rejected'), 0)) WHERE id = $1",
        worker);
}

// A worker just outvoted: every result of it validated without a copy since its last result a
// copy confirmed waits for a copy again. Their units are locked in id order first.
void reopen_uncopied(Tx& tx, std::int64_t worker, std::int64_t now, unsigned set_aside_after) {
    std::vector<std::pair<std::int64_t, std::int64_t>> reopened;
    for (const pqxx::row& r : tx.exec_params(
             "SELECT id, unit_id FROM results WHERE worker_id = $1 AND status = 'validated' AND NOT copied AND id > "
             "COALESCE((SELECT MAX(id) FROM results WHERE worker_id = $1 AND status = 'validated' AND copied), 0) "
             "ORDER BY unit_id",
             worker))
        reopened.emplace_back(int64(r[0]), int64(r[1]));
    for (const auto& [result, unit] : reopened) {
        tx.exec_params("SELECT 1 FROM units WHERE id = $1 FOR UPDATE", unit);
        tx.exec_params("UPDATE results SET needs_confirmation = true WHERE id = $1", result);
        reweigh_unit(tx, unit, now, set_aside_after, false);
    }
}

}  // namespace

Reweighed reweigh_unit(Tx& tx, std::int64_t unit_id, std::int64_t now, unsigned set_aside_after, bool reach_back,
                       bool every_refusal_counts) {
    Reweighed out;
    const pqxx::row unit = tx.exec_params1("SELECT state, counts_after_result FROM units WHERE id = $1", unit_id);
    out.before = stored_state(text(unit[0]));
    const std::int64_t counts_after = int64(unit[1]);
    std::vector<WeighedResult> standing;
    std::map<std::int64_t, std::vector<std::string>> networks;
    for (const pqxx::row& row : tx.exec_params(
             "SELECT r.id, r.worker_id, r.status, r.needs_confirmation, r.comparable, r.passed, w.hardware_hash, "
             "EXISTS (SELECT 1 FROM results c WHERE c.worker_id = r.worker_id AND c.status = 'validated') "
             "FROM results r JOIN workers w ON w.id = r.worker_id "
             "WHERE r.unit_id = $1 AND r.status <> 'invalidated' ORDER BY r.id",
             unit_id)) {
        const std::int64_t worker = int64(row[1]);
        if (!networks.count(worker)) networks[worker] = networks_of(tx, worker);
        WeighedResult r;
        r.id = int64(row[0]);
        r.worker_id = worker_name(worker);
        r.status = result_status_from(text(row[2]));
        r.needs_confirmation = boolean(row[3]);
        r.comparable = text(row[4]);
        r.passed = boolean(row[5]);
        r.worker = WorkerMarks{r.worker_id, text(row[6]), networks[worker]};
        r.counts_for_set_aside = (boolean(row[7]) || every_refusal_counts) && r.id > counts_after;
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
    tx.exec_params("UPDATE results SET status = 'pending', copied = false WHERE unit_id = $1 AND status = 'validated'",
                   unit_id);
    std::set<std::int64_t> restored_workers, faulty_workers;
    for (const WeighedResult& r : standing) {
        if (!r.passed || r.status != ResultStatus::rejected || listed(verdict.outvoted, r.id)) continue;
        tx.exec_params("UPDATE results SET status = 'pending', reason = '', fault_ms = NULL WHERE id = $1", r.id);
        restored_workers.insert(*worker_number(r.worker_id));
    }
    for (std::int64_t id : verdict.validated)
        tx.exec_params("UPDATE results SET status = 'validated', copied = $1 WHERE id = $2", verdict.copied, id);
    for (const WeighedResult& r : standing) {
        if (!listed(verdict.outvoted, r.id) || r.status == ResultStatus::rejected) continue;
        // Newly outvoted: its worker is at fault from now.
        tx.exec_params("UPDATE results SET status = 'rejected', reason = $1, fault_ms = $2 WHERE id = $3",
                       std::string(kOutvotedReason), now, r.id);
        faulty_workers.insert(*worker_number(r.worker_id));
    }
    for (std::int64_t worker : faulty_workers)
        tx.exec_params("UPDATE workers SET last_fault_ms = GREATEST(last_fault_ms, $1) WHERE id = $2", now, worker);
    for (std::int64_t worker : restored_workers)
        if (!faulty_workers.count(worker)) recount_fault(tx, worker);

    if (verdict.state == UnitState::validated)
        tx.exec_params(
            "UPDATE units SET state = 'validated', canonical_result_id = $1, "
            "validated_ms = CASE WHEN state = 'validated' THEN validated_ms ELSE $2 END WHERE id = $3",
            verdict.canonical, now, unit_id);
    else
        tx.exec_params("UPDATE units SET state = $1, canonical_result_id = NULL, validated_ms = NULL WHERE id = $2",
                       std::string(unit_state_name(verdict.state)), unit_id);
    if (reach_back)
        for (std::int64_t worker : faulty_workers) reopen_uncopied(tx, worker, now, set_aside_after);
    return out;
}

}  // namespace postgres_rows

namespace {

using namespace postgres_rows;

LeaseRow read_lease(Tx& tx, std::int64_t lease, std::int64_t now) {
    LeaseRow row;
    const pqxx::result r = tx.exec_params(
        "SELECT l.worker_id, u.id, u.range_begin, u.range_end, u.state, "
        "COALESCE(u.lease_id = l.id AND u.epoch = l.epoch, false), "
        "COALESCE(u.lease_id <> l.id AND u.lease_expires_ms > $1 AND NOT l.overtaken, false), "
        "l.starts_per_second, r.body, r.audit, r.id IS NOT NULL "
        "FROM leases l JOIN units u ON u.id = l.unit_id LEFT JOIN results r ON r.lease_id = l.id WHERE l.id = $2",
        now, lease);
    if (r.empty()) return row;
    const pqxx::row s = r[0];
    row.found = true;
    row.worker = int64(s[0]);
    row.unit = int64(s[1]);
    row.range = range_of(text(s[2]), text(s[3]));
    row.unit_state = stored_state(text(s[4]));
    row.current = boolean(s[5]);
    row.other_live = boolean(s[6]);
    row.lease_rate = real(s[7]);
    row.answered = boolean(s[10]);
    row.answered_body = text(s[8]);
    row.answered_audit = text(s[9]);
    return row;
}

}  // namespace

CompletionContext PostgresStore::completion_context(const std::string& worker_id, const std::string& lease_id) {
    const auto worker = worker_number(worker_id);
    const auto lease = lease_number(lease_id);
    if (!worker || !lease) return CompletionContext{};
    return pool_.run(PostgresPool::Kind::read, [&](Tx& tx) {
        CompletionContext out;
        const std::int64_t now = now_ms(tx);
        const LeaseRow row = read_lease(tx, *lease, now);
        out.kind = standing_of(row, *worker);
        if (!row.found) return out;
        out.range = row.range;
        out.answered_body = row.answered_body;
        out.answered_audit = row.answered_audit;
        out.lease_starts_per_second = row.lease_rate;
        out.elapsed_ms = now - int64(tx.exec_params1("SELECT MIN(leased_ms) FROM leases WHERE unit_id = $1 AND worker_id = $2",
                                                     row.unit, *worker)[0]);
        const pqxx::result w = tx.exec_params(
            "SELECT COALESCE(benchmark_rate, 0), (SELECT COUNT(*) FROM results r WHERE r.worker_id = workers.id "
            "AND r.status = 'validated' AND r.copied AND r.received_ms > workers.last_fault_ms) FROM workers WHERE id = $1",
            *worker);
        if (!w.empty()) {
            out.benchmark_starts_per_second = real(w[0][0]);
            out.validated_since_fault = int64(w[0][1]);
        }
        return out;
    });
}

SubmissionOutcome PostgresStore::submit_result(const Submission& submission) {
    using Kind = SubmissionOutcome::Kind;
    const auto worker = worker_number(submission.worker_id);
    const auto lease = lease_number(submission.lease_id);
    if (!worker || !lease) return SubmissionOutcome{};
    return pool_.run(PostgresPool::Kind::write, [&](Tx& tx) {
        const std::int64_t now = now_ms(tx);
        // The unit's row is locked before the lease is read: two completes of one unit (a
        // repeat, or a copy from another instance) take turns, and the second sees the first.
        if (!lock_unit_of_lease(tx, *lease)) return SubmissionOutcome{Kind::unknown, ""};
        const LeaseRow row = read_lease(tx, *lease, now);
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

        const std::int64_t result = int64(tx.exec_params1(
            "INSERT INTO results (unit_id, lease_id, worker_id, received_ms, body, record, comparable, status, "
            "needs_confirmation, audit, reason, passed, fault_ms) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, '', $10, "
            "$11, CASE WHEN $11 THEN NULL ELSE $4::bigint END) RETURNING id",
            row.unit, *lease, *worker, now, submission.body, submission.record, submission.comparable,
            std::string(submission.passed ? "pending" : "rejected"), submission.needs_confirmation, submission.reason,
            submission.passed)[0]);
        note_network(tx, *worker, submission.network);
        tx.exec_params("UPDATE leases SET state = 'completed', heartbeat_ms = $1 WHERE id = $2", now, *lease);
        // The unit's lease ends with this result when it was this one or one that has expired;
        // a lease that overtook this one (past its maximum age) goes on.
        tx.exec_params(
            "UPDATE units SET lease_id = NULL, lease_worker_id = NULL, lease_expires_ms = NULL, lease_overdue_ms = NULL "
            "WHERE id = $1 AND (lease_id IS NULL OR lease_id = $2 OR lease_expires_ms <= $3)",
            row.unit, *lease, now);
        tx.exec_params(
            "UPDATE workers SET last_seen_ms = $1, last_fault_ms = CASE WHEN $2 THEN last_fault_ms ELSE $1 END "
            "WHERE id = $3",
            now, submission.passed, *worker);
        const Reweighed weighed =
            reweigh_unit(tx, row.unit, now, submission.set_aside_after, true, submission.every_refusal_counts);
        const std::string audit = audit_of(submission, result, weighed);
        tx.exec_params("UPDATE results SET audit = $1 WHERE id = $2", audit, result);
        return SubmissionOutcome{Kind::recorded, audit, weighed.newest_disagrees};
    });
}

std::optional<InvalidateOutcome> PostgresStore::invalidate_worker(const std::string& worker_id,
                                                                  std::optional<std::int64_t> since_ms,
                                                                  unsigned set_aside_after) {
    const auto worker = worker_number(worker_id);
    if (!worker) return std::nullopt;
    return pool_.run(PostgresPool::Kind::write, [&](Tx& tx) -> std::optional<InvalidateOutcome> {
        const std::int64_t now = now_ms(tx);
        if (tx.exec_params("SELECT 1 FROM workers WHERE id = $1 FOR UPDATE", *worker).empty()) return std::nullopt;
        const std::int64_t since = since_ms.value_or(INT64_MIN);
        // The units are locked in id order first, as every change to a unit's results is made
        // under its row lock.
        std::vector<std::int64_t> units;
        for (const pqxx::row& r : tx.exec_params(
                 "SELECT id FROM units WHERE id IN (SELECT unit_id FROM results WHERE worker_id = $1 "
                 "AND status <> 'invalidated' AND received_ms >= $2) ORDER BY id FOR UPDATE",
                 *worker, since))
            units.push_back(int64(r[0]));
        InvalidateOutcome out;
        out.results = static_cast<std::int64_t>(
            tx.exec_params("UPDATE results SET status = 'invalidated', reason = 'set aside by the operator' "
                           "WHERE worker_id = $1 AND status <> 'invalidated' AND received_ms >= $2",
                           *worker, since)
                .affected_rows());
        tx.exec_params("UPDATE workers SET last_fault_ms = $1, invalidated_ms = $1 WHERE id = $2", now, *worker);
        for (std::int64_t unit : units) {
            const Reweighed weighed = reweigh_unit(tx, unit, now, set_aside_after);
            if (weighed.before != weighed.after) ++out.units;
        }
        return out;
    });
}

}  // namespace pelorin::server
