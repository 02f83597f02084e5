// The SQLite engine's side of recomputation in spans: a result put to wait, the next unit to
// advance, a span added (and the waiting results judged when it ends the unit), the backlog.
#include <stdexcept>

#include "server/store/checksum_waits.hpp"
#include "server/store/sqlite_store.hpp"
#include "server/store/sqlite_store_rows.hpp"

namespace pelorin::server {
namespace sqlite_rows {

std::optional<Checksums> recomputed_checksums(SqliteDb& db, std::int64_t unit_id) {
    SqliteStatement s = db.prepare("SELECT checksum_sum, checksum_xor FROM recomputations WHERE unit_id = ? AND finished = 1");
    if (!s.bind(unit_id).step()) return std::nullopt;
    return Checksums{stored_u64(s.text(0), "checksum"), stored_u64(s.text(1), "checksum")};
}

void wait_for_checksums(SqliteDb& db, std::int64_t unit_id, std::int64_t result_id, const Checksums& given,
                        std::int64_t now) {
    db.prepare("INSERT OR IGNORE INTO recomputations (unit_id, created_ms) VALUES (?, ?)").bind(unit_id, now).run();
    db.prepare("INSERT INTO checksum_waits (result_id, unit_id, checksum_sum, checksum_xor) VALUES (?, ?, ?, ?)")
        .bind(result_id, unit_id, stored_u64_text(given.sum), stored_u64_text(given.xor_))
        .run();
}

}  // namespace sqlite_rows

using namespace sqlite_rows;

std::optional<RecomputeJob> SqliteStore::claim_recomputation(std::int64_t hold_ms) {
    auto db = pool_.borrow();
    SqliteTransaction tx(*db);
    const std::int64_t now = db->now_ms();
    SqliteStatement s = db->prepare(
        "SELECT r.unit_id, u.range_begin, u.range_end, r.done, r.checksum_sum, r.checksum_xor FROM recomputations r "
        "JOIN units u ON u.id = r.unit_id WHERE r.finished = 0 AND r.held_until_ms <= ? "
        "ORDER BY r.last_span_ms, r.unit_id LIMIT 1");
    if (!s.bind(now).step()) return std::nullopt;
    RecomputeJob job;
    job.unit = s.int64(0);
    job.range = range_of(s.text(1), s.text(2));
    job.done = stored_u64(s.text(3), "recomputation progress");
    job.so_far = Checksums{stored_u64(s.text(4), "checksum"), stored_u64(s.text(5), "checksum")};
    db->prepare("UPDATE recomputations SET held_until_ms = ? WHERE unit_id = ?").bind(now + hold_ms, job.unit).run();
    tx.commit();
    return job;
}

SpanOutcome SqliteStore::record_recomputation(const RecomputeJob& job, std::uint64_t starts, const Checksums& span,
                                              unsigned set_aside_after) {
    auto db = pool_.borrow();
    SqliteTransaction tx(*db);
    const std::int64_t now = db->now_ms();
    SqliteStatement s = db->prepare(
        "SELECT r.done, r.checksum_sum, r.checksum_xor, r.finished, u.range_begin, u.range_end FROM recomputations r "
        "JOIN units u ON u.id = r.unit_id WHERE r.unit_id = ?");
    SpanOutcome out;
    if (!s.bind(job.unit).step() || s.int64(3) != 0 || stored_u64(s.text(0), "recomputation progress") != job.done)
        return out;
    const std::uint64_t size = unit_size(range_of(s.text(4), s.text(5)));
    if (starts == 0 || starts > size - job.done) throw std::logic_error("a recomputed span runs past its unit");
    const Checksums total{stored_u64(s.text(1), "checksum") + span.sum, stored_u64(s.text(2), "checksum") ^ span.xor_};
    out.kind = SpanOutcome::Kind::recorded;
    out.finished = job.done + starts == size;
    db->prepare("UPDATE recomputations SET done = ?, checksum_sum = ?, checksum_xor = ?, finished = ?, held_until_ms = 0, "
                "last_span_ms = ? WHERE unit_id = ?")
        .bind(stored_u64_text(job.done + starts), stored_u64_text(total.sum), stored_u64_text(total.xor_), out.finished,
              now, job.unit)
        .run();
    if (out.finished) {
        struct Waiting {
            std::int64_t result, worker;
            Checksums given;
        };
        std::vector<Waiting> waiting;
        SqliteStatement w = db->prepare(
            "SELECT w.result_id, r.worker_id, w.checksum_sum, w.checksum_xor FROM checksum_waits w "
            "JOIN results r ON r.id = w.result_id WHERE w.unit_id = ? AND r.status = 'pending' ORDER BY w.result_id");
        w.bind(job.unit);
        while (w.step())
            waiting.push_back({w.int64(0), w.int64(1), {stored_u64(w.text(2), "checksum"), stored_u64(w.text(3), "checksum")}});
        db->prepare("DELETE FROM checksum_waits WHERE unit_id = ?").bind(job.unit).run();
        for (const Waiting& r : waiting) {
            const std::string refusal = checksum_refusal(r.given, total);
            if (refusal.empty()) {
                ++out.results_matched;
                continue;
            }
            ++out.results_refused;
            db->prepare("UPDATE results SET status = 'rejected', reason = ? WHERE id = ?").bind(refusal, r.result).run();
            db->prepare("UPDATE workers SET last_fault_ms = ? WHERE id = ?").bind(now, r.worker).run();
        }
        reweigh_unit(*db, job.unit, now, set_aside_after);
    }
    tx.commit();
    return out;
}

RecomputeBacklog SqliteStore::recompute_backlog() {
    auto db = pool_.borrow();
    SqliteTransaction tx(*db, SqliteTransaction::Kind::read);
    RecomputeBacklog out;
    SqliteStatement results = db->prepare(
        "SELECT COUNT(*) FROM checksum_waits w JOIN results r ON r.id = w.result_id WHERE r.status = 'pending'");
    results.step();
    out.results = results.int64(0);
    SqliteStatement units = db->prepare(
        "SELECT u.range_begin, u.range_end, r.done FROM recomputations r JOIN units u ON u.id = r.unit_id "
        "WHERE r.finished = 0");
    while (units.step()) {
        ++out.units;
        out.starts += static_cast<double>(unit_size(range_of(units.text(0), units.text(1))) -
                                          stored_u64(units.text(2), "recomputation progress"));
    }
    tx.commit();
    return out;
}

}  // namespace pelorin::server
