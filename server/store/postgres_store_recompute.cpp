// The PostgreSQL engine's side of recomputation in spans: a result put to wait, the next unit
// to advance (SKIP LOCKED, so instances never wait on each other), a span added under the
// unit's row lock (and the waiting results judged when it ends the unit), the backlog.
#include <stdexcept>

#include "server/store/checksum_waits.hpp"
#include "server/store/postgres_store.hpp"
#include "server/store/postgres_store_rows.hpp"

namespace pelorin::server {

using Tx = pqxx::transaction_base;

namespace postgres_rows {

std::optional<Checksums> recomputed_checksums(Tx& tx, std::int64_t unit_id) {
    const pqxx::result r =
        tx.exec_params("SELECT checksum_sum, checksum_xor FROM recomputations WHERE unit_id = $1 AND finished", unit_id);
    if (r.empty()) return std::nullopt;
    return Checksums{stored_u64(text(r[0][0]), "checksum"), stored_u64(text(r[0][1]), "checksum")};
}

void wait_for_checksums(Tx& tx, std::int64_t unit_id, std::int64_t result_id, const Checksums& given, std::int64_t now) {
    tx.exec_params("INSERT INTO recomputations (unit_id, created_ms) VALUES ($1, $2) ON CONFLICT (unit_id) DO NOTHING",
                   unit_id, now);
    tx.exec_params("INSERT INTO checksum_waits (result_id, unit_id, checksum_sum, checksum_xor) VALUES ($1, $2, $3, $4)",
                   result_id, unit_id, stored_u64_text(given.sum), stored_u64_text(given.xor_));
}

}  // namespace postgres_rows

using namespace postgres_rows;

std::optional<RecomputeJob> PostgresStore::claim_recomputation(std::int64_t hold_ms) {
    return pool_.run(PostgresPool::Kind::write, [&](Tx& tx) -> std::optional<RecomputeJob> {
        const std::int64_t now = now_ms(tx);
        const pqxx::result r = tx.exec_params(
            "SELECT r.unit_id, u.range_begin, u.range_end, r.done, r.checksum_sum, r.checksum_xor FROM recomputations r "
            "JOIN units u ON u.id = r.unit_id WHERE NOT r.finished AND r.held_until_ms <= $1 "
            "ORDER BY r.last_span_ms, r.unit_id LIMIT 1 FOR UPDATE OF r SKIP LOCKED",
            now);
        if (r.empty()) return std::nullopt;
        RecomputeJob job;
        job.unit = int64(r[0][0]);
        job.range = range_of(text(r[0][1]), text(r[0][2]));
        job.done = stored_u64(text(r[0][3]), "recomputation progress");
        job.so_far = Checksums{stored_u64(text(r[0][4]), "checksum"), stored_u64(text(r[0][5]), "checksum")};
        tx.exec_params("UPDATE recomputations SET held_until_ms = $1 WHERE unit_id = $2", now + hold_ms, job.unit);
        return job;
    });
}

SpanOutcome PostgresStore::record_recomputation(const RecomputeJob& job, std::uint64_t starts, const Checksums& span,
                                                unsigned set_aside_after) {
    return pool_.run(PostgresPool::Kind::write, [&](Tx& tx) {
        const std::int64_t now = now_ms(tx);
        SpanOutcome out;
        // The unit's row first, as every change to a unit's results is made under it; then the
        // recomputation's, so two instances that computed the same span take turns and the
        // second finds it recorded.
        const pqxx::result unit =
            tx.exec_params("SELECT range_begin, range_end FROM units WHERE id = $1 FOR UPDATE", job.unit);
        if (unit.empty()) return out;
        const pqxx::result r = tx.exec_params(
            "SELECT done, checksum_sum, checksum_xor, finished FROM recomputations WHERE unit_id = $1 FOR UPDATE", job.unit);
        if (r.empty() || boolean(r[0][3]) || stored_u64(text(r[0][0]), "recomputation progress") != job.done) return out;
        const std::uint64_t size = unit_size(range_of(text(unit[0][0]), text(unit[0][1])));
        if (starts == 0 || starts > size - job.done) throw std::logic_error("a recomputed span runs past its unit");
        const Checksums total{stored_u64(text(r[0][1]), "checksum") + span.sum,
                              stored_u64(text(r[0][2]), "checksum") ^ span.xor_};
        out.kind = SpanOutcome::Kind::recorded;
        out.finished = job.done + starts == size;
        tx.exec_params(
            "UPDATE recomputations SET done = $1, checksum_sum = $2, checksum_xor = $3, finished = $4, held_until_ms = 0, "
            "last_span_ms = $5 WHERE unit_id = $6",
            stored_u64_text(job.done + starts), stored_u64_text(total.sum), stored_u64_text(total.xor_), out.finished,
            now, job.unit);
        if (!out.finished) return out;
        const pqxx::result waiting = tx.exec_params(
            "SELECT w.result_id, r.worker_id, w.checksum_sum, w.checksum_xor FROM checksum_waits w "
            "JOIN results r ON r.id = w.result_id WHERE w.unit_id = $1 AND r.status = 'pending' ORDER BY w.result_id",
            job.unit);
        tx.exec_params("DELETE FROM checksum_waits WHERE unit_id = $1", job.unit);
        for (const pqxx::row& w : waiting) {
            const std::string refusal = checksum_refusal(
                Checksums{stored_u64(text(w[2]), "checksum"), stored_u64(text(w[3]), "checksum")}, total);
            if (refusal.empty()) {
                ++out.results_matched;
                continue;
            }
            ++out.results_refused;
            tx.exec_params("UPDATE results SET status = 'rejected', reason = $1 WHERE id = $2", refusal, int64(w[0]));
            tx.exec_params("UPDATE workers SET last_fault_ms = $1 WHERE id = $2", now, int64(w[1]));
        }
        reweigh_unit(tx, job.unit, now, set_aside_after);
        return out;
    });
}

RecomputeBacklog PostgresStore::recompute_backlog() {
    return pool_.run(PostgresPool::Kind::read, [](Tx& tx) {
        RecomputeBacklog out;
        out.results = int64(tx.exec(
            "SELECT COUNT(*) FROM checksum_waits w JOIN results r ON r.id = w.result_id WHERE r.status = 'pending'")[0][0]);
        for (const pqxx::row& u : tx.exec("SELECT u.range_begin, u.range_end, r.done FROM recomputations r "
                                          "JOIN units u ON u.id = r.unit_id WHERE NOT r.finished")) {
            ++out.units;
            out.starts += static_cast<double>(unit_size(range_of(text(u[0]), text(u[1]))) -
                                              stored_u64(text(u[2]), "recomputation progress"));
        }
        return out;
    });
}

}  // namespace pelorin::server
