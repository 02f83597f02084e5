#include "server/store/postgres_store.hpp"

#include <stdexcept>

#include "server/store/bound_text.hpp"
#include "server/store/ids.hpp"
#include "server/store/lease_age.hpp"
#include "server/store/postgres_migrations.hpp"
#include "server/store/postgres_store_rows.hpp"
#include "server/store/store_limits.hpp"

namespace pelorin::server {
namespace {

using namespace postgres_rows;
using Tx = pqxx::transaction_base;
constexpr auto kWrite = PostgresPool::Kind::write;
constexpr auto kRead = PostgresPool::Kind::read;

// The advisory lock held by the one instance that makes units at the frontier.
constexpr std::int64_t kFrontierLock = 0x70656c6f72696e02;  // "pelorin" 2

ClaimOutcome granted(const std::string& lease_id, const UnitRange& range) {
    ClaimOutcome out;
    out.kind = ClaimOutcome::Kind::granted;
    out.lease_id = lease_id;
    out.range = range;
    return out;
}

// A lease granted on a locked unit: the unit gets a new epoch and the lease that carries it.
ClaimOutcome grant(Tx& tx, std::int64_t unit_id, const ClaimRequest& request, std::int64_t worker, std::int64_t now) {
    const std::int64_t expires = now + request.lease_timeout_ms;
    const pqxx::row before = tx.exec_params1(
        "SELECT range_begin, range_end, COALESCE(lease_worker_id = $2 AND lease_overdue_ms IS NOT NULL, false), "
        "lease_overdue_ms FROM units WHERE id = $1",
        unit_id, worker);
    // The worker's own expired unit keeps its first deadline: letting a lease lapse and asking
    // again does not buy more time.
    const std::int64_t overdue =
        boolean(before[2]) ? int64(before[3])
                           : now + lease_max_age_ms(request.lease_max_age_ms,
                                                    unit_size(range_of(text(before[0]), text(before[1]))),
                                                    request.starts_per_second);
    // A live lease past its maximum age is overtaken: its worker may still complete the unit.
    tx.exec_params(
        "UPDATE leases SET overtaken = true WHERE id = (SELECT lease_id FROM units WHERE id = $1 "
        "AND lease_expires_ms > $2) AND state = 'active'",
        unit_id, now);
    const pqxx::row lease = tx.exec_params1(
        "INSERT INTO leases (unit_id, worker_id, epoch, proof_hash, starts_per_second, leased_ms, heartbeat_ms, "
        "expires_ms) SELECT id, $2, epoch + 1, $3, $4, $5, $5, $6 FROM units WHERE id = $1 RETURNING id, epoch",
        unit_id, worker, request.proof_hash, request.starts_per_second, now, expires);
    const pqxx::row unit = tx.exec_params1(
        "UPDATE units SET epoch = $2, lease_id = $3, lease_worker_id = $4, lease_expires_ms = $5, lease_overdue_ms = $6 "
        "WHERE id = $1 RETURNING range_begin, range_end",
        unit_id, int64(lease[1]), int64(lease[0]), worker, expires, overdue);
    return granted(lease_name(int64(lease[0])), range_of(text(unit[0]), text(unit[1])));
}

// The next unit this worker may take, locked, in a running campaign, not leased, not one it
// was refused on within the hold, and not one another transaction has locked this moment (that
// one is being claimed: skip it). First a unit that awaits a copy and has no result standing
// from a worker this one is not independent of (another registration, hardware and network),
// drawn at random so that a partner asking right after a result cannot count on getting its
// unit; then the first open unit.
std::optional<std::int64_t> claimable_unit(Tx& tx, std::int64_t worker, std::int64_t now, std::int64_t refused_hold_ms) {
    static const std::string kFree =
        "FROM units u JOIN campaigns c ON c.id = u.campaign_id WHERE NOT c.paused "
        "AND (u.lease_expires_ms IS NULL OR u.lease_expires_ms <= $2 "
        "OR (u.lease_overdue_ms <= $2 AND u.lease_worker_id <> $1)) "
        "AND NOT EXISTS (SELECT 1 FROM results r WHERE r.unit_id = u.id AND r.worker_id = $1 "
        "AND (r.status IN ('pending', 'validated') OR (r.status = 'rejected' AND r.received_ms > $2 - $3))) ";
    pqxx::result r = tx.exec_params(
        "SELECT u.id " + kFree +
            "AND u.state = 'pending' AND NOT EXISTS (SELECT 1 FROM results r JOIN workers w ON w.id = r.worker_id "
            "WHERE r.unit_id = u.id AND r.passed AND r.status <> 'invalidated' AND (r.worker_id = $1 "
            "OR w.hardware_hash = (SELECT hardware_hash FROM workers WHERE id = $1) "
            "OR EXISTS (SELECT 1 FROM worker_networks n JOIN worker_networks m ON m.network = n.network "
            "WHERE n.worker_id = r.worker_id AND m.worker_id = $1))) "
            "ORDER BY random() LIMIT 1 FOR UPDATE OF u SKIP LOCKED",
        worker, now, refused_hold_ms);
    if (r.empty())
        r = tx.exec_params("SELECT u.id " + kFree +
                               "AND u.state = 'open' ORDER BY u.campaign_id, u.range_begin LIMIT 1 FOR UPDATE OF u SKIP LOCKED",
                           worker, now, refused_hold_ms);
    if (r.empty()) return std::nullopt;
    return int64(r[0][0]);
}

// Makes up to kFrontierWindow units at the frontier of the first running campaign that has
// starts left; false when none has. The caller holds the frontier lock.
bool extend_frontier(Tx& tx) {
    const pqxx::result c = tx.exec(
        "SELECT id, range_end, unit_size, next_begin FROM campaigns WHERE NOT paused AND NOT exhausted ORDER BY id "
        "LIMIT 1 FOR UPDATE");
    if (c.empty()) return false;
    const std::int64_t campaign = int64(c[0][0]);
    const StoredBound end = bound_from_text(text(c[0][1]));
    const std::uint64_t size = parse_unit_size(text(c[0][2]));
    U128 at = bound_from_text(text(c[0][3])).value;
    bool exhausted = false;
    for (int i = 0; i < kFrontierWindow && !exhausted; ++i) {
        bool overflow = false;
        const U128 sum = add_u64(at, size, &overflow);
        // A unit ends with the campaign when a whole unit would reach or pass its end.
        StoredBound unit_end{sum, false};
        if (overflow || (!end.is_2_128 && !(sum < end.value))) unit_end = end;
        tx.exec_params("INSERT INTO units (campaign_id, range_begin, range_end) VALUES ($1, $2, $3)", campaign,
                       bound_text(at), bound_text(unit_end.value, unit_end.is_2_128));
        exhausted = unit_end.is_2_128 == end.is_2_128 && (end.is_2_128 || unit_end.value == end.value);
        at = unit_end.value;
    }
    tx.exec_params("UPDATE campaigns SET next_begin = $1, exhausted = $2 WHERE id = $3",
                   exhausted ? bound_text(end.value, end.is_2_128) : bound_text(at), exhausted, campaign);
    return true;
}

}  // namespace

namespace postgres_rows {

void note_network(Tx& tx, std::int64_t worker, const std::string& network) {
    if (network.empty()) return;
    tx.exec_params("INSERT INTO worker_networks (worker_id, network) VALUES ($1, $2) ON CONFLICT DO NOTHING", worker,
                   network);
}

std::int64_t now_ms(Tx& tx) { return int64(tx.exec1("SELECT (extract(epoch FROM now()) * 1000)::bigint")[0]); }

std::optional<std::int64_t> lock_unit_of_lease(Tx& tx, std::int64_t lease) {
    const pqxx::result r = tx.exec_params(
        "SELECT u.id FROM units u JOIN leases l ON l.unit_id = u.id WHERE l.id = $1 FOR UPDATE OF u", lease);
    if (r.empty()) return std::nullopt;
    return int64(r[0][0]);
}

}  // namespace postgres_rows

PostgresStore::PostgresStore(const std::string& url, int schema_version) : pool_(url) {
    migrate_postgres(pool_, schema_version);
}

int PostgresStore::schema_version() {
    return pool_.run(kRead, [](Tx& tx) { return postgres_schema_version(tx); });
}

bool PostgresStore::healthy(std::string& reason) {
    try {
        // A database that answers but cannot take a result (a standby in recovery) is not
        // healthy: the load balancer should send workers elsewhere.
        const bool writable = pool_.run(kRead, [](Tx& tx) { return !boolean(tx.exec1("SELECT pg_is_in_recovery()")[0]); });
        if (!writable) reason = "the database is a read-only standby";
        return writable;
    } catch (const std::exception& e) {
        reason = e.what();
        return false;
    }
}

void PostgresStore::add_campaign(const CampaignDefinition& definition) {
    if (definition.name.empty()) throw std::invalid_argument("a campaign needs a name");
    if (!definition.range.end_is_2_128 && definition.range.end < definition.range.begin)
        throw std::invalid_argument("range end is below begin");
    if (definition.unit_size == 0) throw std::invalid_argument("unit size must be at least 1");
    pool_.run(kWrite, [&](Tx& tx) {
        if (!tx.exec_params("SELECT 1 FROM campaigns WHERE name = $1", definition.name).empty())
            throw std::invalid_argument("a campaign named " + definition.name + " exists");
        const bool empty = !definition.range.end_is_2_128 && definition.range.end == definition.range.begin;
        tx.exec_params(
            "INSERT INTO campaigns (name, range_begin, range_end, unit_size, next_begin, exhausted, created_ms) "
            "VALUES ($1, $2, $3, $4, $5, $6, $7)",
            definition.name, bound_text(definition.range.begin), bound_text(definition.range.end, definition.range.end_is_2_128),
            std::to_string(definition.unit_size), bound_text(definition.range.begin), empty, now_ms(tx));
    });
}

void PostgresStore::set_campaign_paused(const std::string& name, bool paused) {
    pool_.run(kWrite, [&](Tx& tx) {
        if (tx.exec_params("UPDATE campaigns SET paused = $1 WHERE name = $2", paused, name).affected_rows() == 0)
            throw std::invalid_argument("no campaign named " + name);
    });
}

ReopenOutcome PostgresStore::reopen_set_aside(const std::string& name, unsigned set_aside_after) {
    return pool_.run(kWrite, [&](Tx& tx) {
        const std::int64_t now = now_ms(tx);
        const pqxx::result campaign = tx.exec_params("SELECT id FROM campaigns WHERE name = $1", name);
        if (campaign.empty()) throw std::invalid_argument("no campaign named " + name);
        std::vector<std::int64_t> units;
        for (const pqxx::row& r : tx.exec_params(
                 "SELECT id FROM units WHERE campaign_id = $1 AND state = 'set_aside' ORDER BY id FOR UPDATE",
                 int64(campaign[0][0])))
            units.push_back(int64(r[0]));
        for (std::int64_t unit : units) {
            tx.exec_params(
                "UPDATE units SET counts_after_result = COALESCE((SELECT MAX(id) FROM results WHERE unit_id = $1), 0) "
                "WHERE id = $1",
                unit);
            reweigh_unit(tx, unit, now, set_aside_after);
        }
        return ReopenOutcome{static_cast<std::int64_t>(units.size())};
    });
}

std::vector<CampaignDefinition> PostgresStore::campaigns() {
    return pool_.run(kRead, [](Tx& tx) {
        std::vector<CampaignDefinition> out;
        for (const pqxx::row& r : tx.exec("SELECT name, range_begin, range_end, unit_size FROM campaigns ORDER BY id"))
            out.push_back(CampaignDefinition{text(r[0]), range_of(text(r[1]), text(r[2])), parse_unit_size(text(r[3]))});
        return out;
    });
}

void PostgresStore::add_challenge(const Challenge& challenge, std::int64_t lifetime_ms, std::int64_t max_open) {
    pool_.run(kWrite, [&](Tx& tx) {
        const std::int64_t now = now_ms(tx);
        tx.exec_params("DELETE FROM challenges WHERE expires_ms <= $1", now);
        tx.exec_params(
            "INSERT INTO challenges (id, nonce, difficulty_bits, created_ms, expires_ms) VALUES ($1, $2, $3, $4, $5)",
            challenge.id, challenge.nonce, static_cast<int>(challenge.difficulty_bits), now, now + lifetime_ms);
        tx.exec_params(
            "DELETE FROM challenges WHERE id IN (SELECT id FROM challenges ORDER BY created_ms, id "
            "LIMIT GREATEST(0, (SELECT COUNT(*) FROM challenges) - $1))",
            max_open);
    });
}

std::optional<Challenge> PostgresStore::find_challenge(const std::string& id) {
    return pool_.run(kRead, [&](Tx& tx) -> std::optional<Challenge> {
        const pqxx::result r = tx.exec_params(
            "SELECT nonce, difficulty_bits FROM challenges WHERE id = $1 AND expires_ms > $2", id, now_ms(tx));
        if (r.empty()) return std::nullopt;
        return Challenge{id, text(r[0][0]), static_cast<unsigned>(int64(r[0][1]))};
    });
}

std::optional<std::string> PostgresStore::register_worker(const Registration& r) {
    return pool_.run(kWrite, [&](Tx& tx) -> std::optional<std::string> {
        const std::int64_t now = now_ms(tx);
        // Deleting the challenge is what uses it up: of two registrations with one challenge,
        // the second waits for the first's row lock and then finds nothing to delete.
        if (tx.exec_params("DELETE FROM challenges WHERE id = $1 AND expires_ms > $2", r.challenge_id, now)
                .affected_rows() == 0)
            return std::nullopt;
        // A known client keeps its worker id and gets the new token.
        const char* sql =
            r.client_id.empty()
                ? "INSERT INTO workers (client_id, token_hash, nickname, hardware_hash, build_hash, address, "
                  "registered_ms, last_seen_ms) VALUES ($1, $2, $3, $4, $5, $6, $7, $7) RETURNING id"
                : "INSERT INTO workers (client_id, token_hash, nickname, hardware_hash, build_hash, address, "
                  "registered_ms, last_seen_ms) VALUES ($1, $2, $3, $4, $5, $6, $7, $7) "
                  "ON CONFLICT (client_id) WHERE client_id <> '' DO UPDATE SET token_hash = EXCLUDED.token_hash, "
                  "nickname = EXCLUDED.nickname, hardware_hash = EXCLUDED.hardware_hash, "
                  "build_hash = EXCLUDED.build_hash, address = EXCLUDED.address, last_seen_ms = EXCLUDED.last_seen_ms "
                  "RETURNING id";
        const pqxx::row w =
            tx.exec_params1(sql, r.client_id, r.token_hash, r.nickname, r.hardware_hash, r.build_hash, r.address, now);
        note_network(tx, int64(w[0]), r.network);
        return worker_name(int64(w[0]));
    });
}

std::optional<WorkerAuth> PostgresStore::worker_by_token_hash(const std::string& token_hash) {
    return pool_.run(kRead, [&](Tx& tx) -> std::optional<WorkerAuth> {
        const pqxx::result r = tx.exec_params("SELECT id, banned FROM workers WHERE token_hash = $1", token_hash);
        if (r.empty()) return std::nullopt;
        return WorkerAuth{worker_name(int64(r[0][0])), boolean(r[0][1])};
    });
}

void PostgresStore::record_benchmark(const std::string& worker_id, const Benchmark& b) {
    const auto worker = worker_number(worker_id);
    if (!worker) return;
    pool_.run(kWrite, [&](Tx& tx) {
        const std::int64_t now = now_ms(tx);
        tx.exec_params(
            "UPDATE workers SET benchmark_backend = $1, benchmark_build_hash = $2, benchmark_profile = $3, "
            "benchmark_rate = $4, benchmark_ms = $5, last_seen_ms = $5 WHERE id = $6",
            b.backend, b.build_hash, b.profile, b.starts_per_second, now, *worker);
    });
}

ClaimOutcome PostgresStore::claim_unit(const ClaimRequest& request) {
    const auto worker = worker_number(request.worker_id);
    if (!worker) return ClaimOutcome{};
    return pool_.run(kWrite, [&](Tx& tx) {
        const std::int64_t now = now_ms(tx);
        // The worker's row first: one claim per worker at a time, on every instance.
        tx.exec_params("UPDATE workers SET last_seen_ms = $1 WHERE id = $2", now, *worker);
        note_network(tx, *worker, request.network);

        // The lease the worker holds comes back, prolonged: it resumes its unit.
        const pqxx::result held = tx.exec_params(
            "SELECT l.id, u.id, u.range_begin, u.range_end FROM leases l JOIN units u ON u.id = l.unit_id "
            "WHERE l.worker_id = $1 AND l.state = 'active' AND u.lease_id = l.id AND u.epoch = l.epoch "
            "AND u.lease_expires_ms > $2 ORDER BY l.id DESC LIMIT 1 FOR UPDATE OF u",
            *worker, now);
        if (!held.empty()) {
            const std::int64_t expires = now + request.lease_timeout_ms;
            tx.exec_params("UPDATE leases SET heartbeat_ms = $1, expires_ms = $2 WHERE id = $3", now, expires,
                           int64(held[0][0]));
            tx.exec_params("UPDATE units SET lease_expires_ms = $1 WHERE id = $2", expires, int64(held[0][1]));
            return granted(lease_name(int64(held[0][0])), range_of(text(held[0][2]), text(held[0][3])));
        }

        // A lease of this worker that expired while nobody else took the unit: the same unit
        // under a new lease, so the worker resumes it from its checkpoint.
        const pqxx::result own = tx.exec_params(
            "SELECT u.id FROM units u JOIN leases l ON l.id = u.lease_id AND l.epoch = u.epoch "
            "JOIN campaigns c ON c.id = u.campaign_id "
            "WHERE l.worker_id = $1 AND l.state = 'active' AND u.lease_expires_ms <= $2 "
            "AND u.state IN ('open', 'pending') AND NOT c.paused ORDER BY u.lease_expires_ms DESC LIMIT 1 "
            "FOR UPDATE OF u SKIP LOCKED",
            *worker, now);
        std::optional<std::int64_t> unit;
        if (!own.empty()) unit = int64(own[0][0]);
        if (!unit) unit = claimable_unit(tx, *worker, now, request.refused_hold_ms);
        if (!unit) {
            // Units are made by one instance at a time: the others wait here the moment it
            // takes, then find its units (each statement sees what has been committed).
            tx.exec_params("SELECT pg_advisory_xact_lock($1)", kFrontierLock);
            unit = claimable_unit(tx, *worker, now, request.refused_hold_ms);
            if (!unit && extend_frontier(tx)) unit = claimable_unit(tx, *worker, now, request.refused_hold_ms);
        }
        if (unit) return grant(tx, *unit, request, *worker, now);

        // Nothing for this worker: work remains (units others hold or must copy, paused
        // campaigns, no campaign yet) or every campaign is settled.
        // Set-aside units keep a campaign from completing: they wait for the operator.
        const pqxx::row left = tx.exec1(
            "SELECT NOT EXISTS (SELECT 1 FROM campaigns) OR EXISTS (SELECT 1 FROM campaigns WHERE NOT exhausted) "
            "OR EXISTS (SELECT 1 FROM units WHERE state IN ('open', 'pending')), "
            "EXISTS (SELECT 1 FROM units WHERE state = 'set_aside')");
        ClaimOutcome out;
        out.waits_for_operator = !boolean(left[0]) && boolean(left[1]) && !request.set_aside_settles;
        out.kind = boolean(left[0]) || out.waits_for_operator ? ClaimOutcome::Kind::busy : ClaimOutcome::Kind::complete;
        return out;
    });
}

HeartbeatOutcome PostgresStore::heartbeat(const std::string& worker_id, const std::string& lease_id,
                                          std::uint64_t progress, std::int64_t lease_timeout_ms) {
    using Kind = HeartbeatOutcome::Kind;
    const auto worker = worker_number(worker_id);
    const auto lease = lease_number(lease_id);
    if (!worker || !lease) return HeartbeatOutcome{Kind::unknown};
    return pool_.run(kWrite, [&](Tx& tx) {
        const std::int64_t now = now_ms(tx);
        const auto unit = lock_unit_of_lease(tx, *lease);
        if (!unit) return HeartbeatOutcome{Kind::unknown};
        const pqxx::row s = tx.exec_params1(
            "SELECT l.worker_id, l.state, COALESCE(u.lease_id = l.id AND u.epoch = l.epoch AND u.lease_expires_ms > $1, "
            "false), u.range_begin, u.range_end, l.overtaken AND u.state IN ('open', 'pending') "
            "FROM leases l JOIN units u ON u.id = l.unit_id WHERE l.id = $2",
            now, *lease);
        if (int64(s[0]) != *worker) return HeartbeatOutcome{Kind::other_worker};
        if (text(s[1]) == "completed") return HeartbeatOutcome{Kind::completed};
        // An overtaken lease lives on beside the unit's current one until the unit is settled.
        const bool overtaken = boolean(s[5]);
        if (text(s[1]) != "active" || (!boolean(s[2]) && !overtaken)) return HeartbeatOutcome{Kind::expired};
        if (progress > unit_size(range_of(text(s[3]), text(s[4])))) return HeartbeatOutcome{Kind::beyond_unit};
        const std::int64_t expires = now + lease_timeout_ms;
        tx.exec_params("UPDATE leases SET progress = $1, heartbeat_ms = $2, expires_ms = $3 WHERE id = $4",
                       std::to_string(progress), now, expires, *lease);
        if (boolean(s[2])) tx.exec_params("UPDATE units SET lease_expires_ms = $1 WHERE id = $2", expires, *unit);
        tx.exec_params("UPDATE workers SET last_seen_ms = $1 WHERE id = $2", now, *worker);
        return HeartbeatOutcome{Kind::alive};
    });
}

bool PostgresStore::set_worker_banned(const std::string& worker_id, bool banned) {
    const auto worker = worker_number(worker_id);
    if (!worker) return false;
    return pool_.run(kWrite, [&](Tx& tx) {
        if (tx.exec_params("UPDATE workers SET banned = $1 WHERE id = $2", banned, *worker).affected_rows() == 0)
            return false;
        if (banned) {
            // Its units in progress go back to the pool at once.
            tx.exec_params("UPDATE leases SET state = 'released' WHERE worker_id = $1 AND state = 'active'", *worker);
            tx.exec_params(
                "UPDATE units SET lease_id = NULL, lease_worker_id = NULL, lease_expires_ms = NULL "
                "WHERE lease_worker_id = $1",
                *worker);
        }
        return true;
    });
}

void PostgresStore::backup_to(const std::filesystem::path&) {
    throw std::runtime_error(
        "backup copies SQLite databases; a PostgreSQL database is copied with its own tools while the servers run: "
        "pg_dump --format=custom --file=FILE '" +
        pool_.shown_url() +
        "' (restore with pg_restore --dbname=URL FILE into an empty database), or pg_basebackup with WAL archiving "
        "for point-in-time recovery");
}

}  // namespace pelorin::server
