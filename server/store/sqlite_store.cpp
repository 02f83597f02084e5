#include "server/store/sqlite_store.hpp"

#include <stdexcept>

#include "server/store/store_limits.hpp"
#include "server/store/bound_text.hpp"
#include "server/store/ids.hpp"
#include "server/store/lease_age.hpp"
#include "server/store/sqlite_migrations.hpp"
#include "server/store/sqlite_store_rows.hpp"

namespace pelorin::server {
namespace {

using namespace sqlite_rows;

// A lease granted: the unit gets a new epoch and the lease that carries it.
ClaimOutcome grant(SqliteDb& db, std::int64_t unit_id, const ClaimRequest& request, std::int64_t worker,
                   std::int64_t now) {
    SqliteStatement unit = db.prepare(
        "SELECT range_begin, range_end, epoch + 1, lease_worker_id IS ?2 AND lease_overdue_ms IS NOT NULL, "
        "lease_overdue_ms FROM units WHERE id = ?1");
    unit.bind(unit_id, worker).step();
    const UnitRange range = range_of(unit.text(0), unit.text(1));
    const std::int64_t epoch = unit.int64(2);
    const std::int64_t expires = now + request.lease_timeout_ms;
    // The worker's own expired unit keeps its first deadline: letting a lease lapse and asking
    // again does not buy more time.
    const std::int64_t overdue = unit.int64(3) != 0
                                     ? unit.int64(4)
                                     : now + lease_max_age_ms(request.lease_max_age_ms, unit_size(range),
                                                              request.starts_per_second);
    // A live lease past its maximum age is overtaken: its worker may still complete the unit.
    db.prepare("UPDATE leases SET overtaken = 1 WHERE id = (SELECT lease_id FROM units WHERE id = ?1 "
               "AND lease_expires_ms > ?2) AND state = 'active'")
        .bind(unit_id, now)
        .run();
    db.prepare("INSERT INTO leases (unit_id, worker_id, epoch, proof_hash, starts_per_second, leased_ms, heartbeat_ms, "
               "expires_ms) VALUES (?, ?, ?, ?, ?, ?, ?, ?)")
        .bind(unit_id, worker, epoch, request.proof_hash, request.starts_per_second, now, now, expires)
        .run();
    const std::int64_t lease = db.last_insert_id();
    db.prepare("UPDATE units SET epoch = ?, lease_id = ?, lease_worker_id = ?, lease_expires_ms = ?, "
               "lease_overdue_ms = ? WHERE id = ?")
        .bind(epoch, lease, worker, expires, overdue, unit_id)
        .run();
    ClaimOutcome out;
    out.kind = ClaimOutcome::Kind::granted;
    out.lease_id = lease_name(lease);
    out.range = range;
    return out;
}

// The next unit this worker may take, in a running campaign, not leased, and not one it was
// refused on within the hold. First a unit that awaits a copy and has no result standing from
// a worker this one is not independent of (another registration, hardware and network), drawn
// at random so that a partner asking right after a result cannot count on getting its unit;
// then the first open unit.
std::optional<std::int64_t> claimable_unit(SqliteDb& db, std::int64_t worker, std::int64_t now,
                                           std::int64_t refused_hold_ms) {
    static const std::string kFree =
        "FROM units u JOIN campaigns c ON c.id = u.campaign_id WHERE c.paused = 0 "
        "AND (u.lease_expires_ms IS NULL OR u.lease_expires_ms <= ?2 "
        "OR (u.lease_overdue_ms <= ?2 AND u.lease_worker_id <> ?1)) "
        "AND NOT EXISTS (SELECT 1 FROM results r WHERE r.unit_id = u.id AND r.worker_id = ?1 "
        "AND (r.status IN ('pending', 'validated') OR (r.status = 'rejected' AND r.received_ms > ?2 - ?3))) ";
    SqliteStatement copy = db.prepare(
        "SELECT u.id " + kFree +
        "AND u.state = 'pending' AND NOT EXISTS (SELECT 1 FROM results r JOIN workers w ON w.id = r.worker_id "
        "WHERE r.unit_id = u.id AND r.passed = 1 AND r.status <> 'invalidated' AND (r.worker_id = ?1 "
        "OR w.hardware_hash = (SELECT hardware_hash FROM workers WHERE id = ?1) "
        "OR EXISTS (SELECT 1 FROM worker_networks n JOIN worker_networks m ON m.network = n.network "
        "WHERE n.worker_id = r.worker_id AND m.worker_id = ?1))) "
        "ORDER BY random() LIMIT 1");
    if (copy.bind(worker, now, refused_hold_ms).step()) return copy.int64(0);
    SqliteStatement open = db.prepare("SELECT u.id " + kFree + "AND u.state = 'open' ORDER BY c.id, u.range_begin LIMIT 1");
    if (open.bind(worker, now, refused_hold_ms).step()) return open.int64(0);
    return std::nullopt;
}

// Makes up to kFrontierWindow units at the frontier of the first running campaign that has
// starts left; false when none has.
bool extend_frontier(SqliteDb& db) {
    SqliteStatement c = db.prepare(
        "SELECT id, range_end, unit_size, next_begin FROM campaigns WHERE paused = 0 AND exhausted = 0 ORDER BY id "
        "LIMIT 1");
    if (!c.step()) return false;
    const std::int64_t campaign = c.int64(0);
    const StoredBound end = bound_from_text(c.text(1));
    const std::uint64_t size = parse_unit_size(c.text(2));
    U128 at = bound_from_text(c.text(3)).value;
    bool exhausted = false;
    for (int i = 0; i < kFrontierWindow && !exhausted; ++i) {
        bool overflow = false;
        const U128 sum = add_u64(at, size, &overflow);
        // A unit ends with the campaign when a whole unit would reach or pass its end.
        StoredBound unit_end{sum, false};
        if (overflow || (!end.is_2_128 && !(sum < end.value))) unit_end = end;
        db.prepare("INSERT INTO units (campaign_id, range_begin, range_end) VALUES (?, ?, ?)")
            .bind(campaign, bound_text(at), bound_text(unit_end.value, unit_end.is_2_128))
            .run();
        exhausted = unit_end.is_2_128 == end.is_2_128 && (end.is_2_128 || unit_end.value == end.value);
        at = unit_end.value;
    }
    db.prepare("UPDATE campaigns SET next_begin = ?, exhausted = ? WHERE id = ?")
        .bind(exhausted ? bound_text(end.value, end.is_2_128) : bound_text(at), exhausted, campaign)
        .run();
    return true;
}

void touch_worker(SqliteDb& db, std::int64_t worker, std::int64_t now) {
    db.prepare("UPDATE workers SET last_seen_ms = ? WHERE id = ?").bind(now, worker).run();
}

}  // namespace

void sqlite_rows::note_network(SqliteDb& db, std::int64_t worker, const std::string& network) {
    if (network.empty()) return;
    db.prepare("INSERT OR IGNORE INTO worker_networks (worker_id, network) VALUES (?, ?)").bind(worker, network).run();
}

SqliteStore::SqliteStore(const std::filesystem::path& path, int schema_version) : pool_(path) {
    auto db = pool_.borrow();
    migrate_sqlite(*db, path.string(), schema_version);
}

int SqliteStore::schema_version() {
    auto db = pool_.borrow();
    return sqlite_schema_version(*db);
}

bool SqliteStore::healthy(std::string& reason) {
    try {
        // The write lock is taken and given back: a database that reads but cannot take a
        // result is not healthy.
        auto db = pool_.borrow();
        SqliteTransaction tx(*db);
        db->prepare("SELECT COUNT(*) FROM campaigns").step();
        return true;
    } catch (const std::exception& e) {
        reason = e.what();
        return false;
    }
}

void SqliteStore::add_campaign(const CampaignDefinition& definition) {
    if (definition.name.empty()) throw std::invalid_argument("a campaign needs a name");
    if (!definition.range.end_is_2_128 && definition.range.end < definition.range.begin)
        throw std::invalid_argument("range end is below begin");
    if (definition.unit_size == 0) throw std::invalid_argument("unit size must be at least 1");
    auto db = pool_.borrow();
    SqliteTransaction tx(*db);
    SqliteStatement exists = db->prepare("SELECT 1 FROM campaigns WHERE name = ?");
    if (exists.bind(definition.name).step()) throw std::invalid_argument("a campaign named " + definition.name + " exists");
    const bool empty = !definition.range.end_is_2_128 && definition.range.end == definition.range.begin;
    db->prepare("INSERT INTO campaigns (name, range_begin, range_end, unit_size, next_begin, exhausted, created_ms) "
                "VALUES (?, ?, ?, ?, ?, ?, ?)")
        .bind(definition.name, bound_text(definition.range.begin), bound_text(definition.range.end, definition.range.end_is_2_128),
              std::to_string(definition.unit_size), bound_text(definition.range.begin), empty, db->now_ms())
        .run();
    tx.commit();
}

void SqliteStore::set_campaign_paused(const std::string& name, bool paused) {
    auto db = pool_.borrow();
    SqliteTransaction tx(*db);
    db->prepare("UPDATE campaigns SET paused = ? WHERE name = ?").bind(paused, name).run();
    if (db->changes() == 0) throw std::invalid_argument("no campaign named " + name);
    tx.commit();
}

ReopenOutcome SqliteStore::reopen_set_aside(const std::string& name, unsigned set_aside_after) {
    auto db = pool_.borrow();
    SqliteTransaction tx(*db);
    const std::int64_t now = db->now_ms();
    SqliteStatement campaign = db->prepare("SELECT id FROM campaigns WHERE name = ?");
    if (!campaign.bind(name).step()) throw std::invalid_argument("no campaign named " + name);
    std::vector<std::int64_t> units;
    SqliteStatement s = db->prepare("SELECT id FROM units WHERE campaign_id = ? AND state = 'set_aside' ORDER BY id");
    s.bind(campaign.int64(0));
    while (s.step()) units.push_back(s.int64(0));
    for (std::int64_t unit : units) {
        db->prepare("UPDATE units SET counts_after_result = COALESCE((SELECT MAX(id) FROM results WHERE unit_id = ?1), 0) "
                    "WHERE id = ?1")
            .bind(unit)
            .run();
        reweigh_unit(*db, unit, now, set_aside_after);
    }
    tx.commit();
    return ReopenOutcome{static_cast<std::int64_t>(units.size())};
}

std::vector<CampaignDefinition> SqliteStore::campaigns() {
    auto db = pool_.borrow();
    std::vector<CampaignDefinition> out;
    SqliteStatement s = db->prepare("SELECT name, range_begin, range_end, unit_size FROM campaigns ORDER BY id");
    while (s.step()) out.push_back(CampaignDefinition{s.text(0), range_of(s.text(1), s.text(2)), parse_unit_size(s.text(3))});
    return out;
}

void SqliteStore::add_challenge(const Challenge& challenge, std::int64_t lifetime_ms, std::int64_t max_open) {
    auto db = pool_.borrow();
    SqliteTransaction tx(*db);
    const std::int64_t now = db->now_ms();
    db->prepare("DELETE FROM challenges WHERE expires_ms <= ?").bind(now).run();
    db->prepare("INSERT INTO challenges (id, nonce, difficulty_bits, created_ms, expires_ms) VALUES (?, ?, ?, ?, ?)")
        .bind(challenge.id, challenge.nonce, challenge.difficulty_bits, now, now + lifetime_ms)
        .run();
    db->prepare("DELETE FROM challenges WHERE id IN (SELECT id FROM challenges ORDER BY created_ms, id "
                "LIMIT MAX(0, (SELECT COUNT(*) FROM challenges) - ?))")
        .bind(max_open)
        .run();
    tx.commit();
}

std::optional<Challenge> SqliteStore::find_challenge(const std::string& id) {
    auto db = pool_.borrow();
    SqliteTransaction tx(*db, SqliteTransaction::Kind::read);
    SqliteStatement s = db->prepare("SELECT nonce, difficulty_bits FROM challenges WHERE id = ? AND expires_ms > ?");
    if (!s.bind(id, db->now_ms()).step()) return std::nullopt;
    return Challenge{id, s.text(0), static_cast<unsigned>(s.int64(1))};
}

std::optional<std::string> SqliteStore::register_worker(const Registration& r) {
    auto db = pool_.borrow();
    SqliteTransaction tx(*db);
    const std::int64_t now = db->now_ms();
    db->prepare("DELETE FROM challenges WHERE id = ? AND expires_ms > ?").bind(r.challenge_id, now).run();
    if (db->changes() == 0) return std::nullopt;
    std::optional<std::int64_t> worker;
    if (!r.client_id.empty()) {
        SqliteStatement known = db->prepare("SELECT id FROM workers WHERE client_id = ?");
        if (known.bind(r.client_id).step()) worker = known.int64(0);
    }
    if (worker) {
        db->prepare("UPDATE workers SET token_hash = ?, nickname = ?, hardware_hash = ?, build_hash = ?, address = ?, "
                    "last_seen_ms = ? WHERE id = ?")
            .bind(r.token_hash, r.nickname, r.hardware_hash, r.build_hash, r.address, now, *worker)
            .run();
    } else {
        db->prepare("INSERT INTO workers (client_id, token_hash, nickname, hardware_hash, build_hash, address, "
                    "registered_ms, last_seen_ms) VALUES (?, ?, ?, ?, ?, ?, ?, ?)")
            .bind(r.client_id, r.token_hash, r.nickname, r.hardware_hash, r.build_hash, r.address, now, now)
            .run();
        worker = db->last_insert_id();
    }
    note_network(*db, *worker, r.network);
    tx.commit();
    return worker_name(*worker);
}

std::optional<WorkerAuth> SqliteStore::worker_by_token_hash(const std::string& token_hash) {
    auto db = pool_.borrow();
    SqliteStatement s = db->prepare("SELECT id, banned FROM workers WHERE token_hash = ?");
    if (!s.bind(token_hash).step()) return std::nullopt;
    return WorkerAuth{worker_name(s.int64(0)), s.int64(1) != 0};
}

void SqliteStore::record_benchmark(const std::string& worker_id, const Benchmark& b) {
    const auto worker = worker_number(worker_id);
    if (!worker) return;
    auto db = pool_.borrow();
    SqliteTransaction tx(*db);
    const std::int64_t now = db->now_ms();
    db->prepare("UPDATE workers SET benchmark_backend = ?, benchmark_build_hash = ?, benchmark_profile = ?, "
                "benchmark_rate = ?, benchmark_ms = ?, last_seen_ms = ? WHERE id = ?")
        .bind(b.backend, b.build_hash, b.profile, b.starts_per_second, now, now, *worker)
        .run();
    tx.commit();
}

ClaimOutcome SqliteStore::claim_unit(const ClaimRequest& request) {
    const auto worker = worker_number(request.worker_id);
    if (!worker) return ClaimOutcome{};
    auto db = pool_.borrow();
    SqliteTransaction tx(*db);
    const std::int64_t now = db->now_ms();
    touch_worker(*db, *worker, now);
    note_network(*db, *worker, request.network);

    // The lease the worker holds comes back, prolonged: it resumes its unit.
    SqliteStatement held = db->prepare(
        "SELECT l.id, u.id, u.range_begin, u.range_end FROM leases l JOIN units u ON u.id = l.unit_id "
        "WHERE l.worker_id = ? AND l.state = 'active' AND u.lease_id = l.id AND u.epoch = l.epoch "
        "AND u.lease_expires_ms > ? ORDER BY l.id DESC LIMIT 1");
    if (held.bind(*worker, now).step()) {
        const std::int64_t expires = now + request.lease_timeout_ms;
        db->prepare("UPDATE leases SET heartbeat_ms = ?, expires_ms = ? WHERE id = ?").bind(now, expires, held.int64(0)).run();
        db->prepare("UPDATE units SET lease_expires_ms = ? WHERE id = ?").bind(expires, held.int64(1)).run();
        ClaimOutcome out;
        out.kind = ClaimOutcome::Kind::granted;
        out.lease_id = lease_name(held.int64(0));
        out.range = range_of(held.text(2), held.text(3));
        tx.commit();
        return out;
    }

    // A lease of this worker that expired while nobody else took the unit: the same unit
    // under a new lease, so the worker resumes it from its checkpoint.
    SqliteStatement own = db->prepare(
        "SELECT u.id FROM units u JOIN leases l ON l.id = u.lease_id AND l.epoch = u.epoch "
        "JOIN campaigns c ON c.id = u.campaign_id "
        "WHERE l.worker_id = ? AND l.state = 'active' AND u.lease_expires_ms <= ? "
        "AND u.state IN ('open', 'pending') AND c.paused = 0 ORDER BY u.lease_expires_ms DESC LIMIT 1");
    std::optional<std::int64_t> unit;
    if (own.bind(*worker, now).step()) unit = own.int64(0);
    if (!unit) unit = claimable_unit(*db, *worker, now, request.refused_hold_ms);
    if (!unit && extend_frontier(*db)) unit = claimable_unit(*db, *worker, now, request.refused_hold_ms);
    if (unit) {
        ClaimOutcome out = grant(*db, *unit, request, *worker, now);
        tx.commit();
        return out;
    }

    // Nothing for this worker: work remains (units others hold or must copy, paused
    // campaigns, no campaign yet) or every campaign is settled.
    // Set-aside units keep a campaign from completing: they wait for the operator.
    SqliteStatement left = db->prepare(
        "SELECT NOT EXISTS (SELECT 1 FROM campaigns) OR EXISTS (SELECT 1 FROM campaigns WHERE exhausted = 0) "
        "OR EXISTS (SELECT 1 FROM units WHERE state IN ('open', 'pending')), "
        "EXISTS (SELECT 1 FROM units WHERE state = 'set_aside')");
    left.step();
    ClaimOutcome out;
    out.waits_for_operator = left.int64(0) == 0 && left.int64(1) != 0 && !request.set_aside_settles;
    out.kind = left.int64(0) != 0 || out.waits_for_operator ? ClaimOutcome::Kind::busy : ClaimOutcome::Kind::complete;
    tx.commit();
    return out;
}

HeartbeatOutcome SqliteStore::heartbeat(const std::string& worker_id, const std::string& lease_id,
                                        std::uint64_t progress, std::int64_t lease_timeout_ms) {
    using Kind = HeartbeatOutcome::Kind;
    const auto worker = worker_number(worker_id);
    const auto lease = lease_number(lease_id);
    if (!worker || !lease) return HeartbeatOutcome{Kind::unknown};
    auto db = pool_.borrow();
    SqliteTransaction tx(*db);
    const std::int64_t now = db->now_ms();
    SqliteStatement s = db->prepare(
        "SELECT l.worker_id, l.state, u.lease_id = l.id AND u.epoch = l.epoch AND u.lease_expires_ms > ?, "
        "u.range_begin, u.range_end, u.id, l.overtaken AND u.state IN ('open', 'pending') "
        "FROM leases l JOIN units u ON u.id = l.unit_id WHERE l.id = ?");
    if (!s.bind(now, *lease).step()) return HeartbeatOutcome{Kind::unknown};
    if (s.int64(0) != *worker) return HeartbeatOutcome{Kind::other_worker};
    if (s.text(1) == "completed") return HeartbeatOutcome{Kind::completed};
    // An overtaken lease lives on beside the unit's current one until the unit is settled.
    const bool overtaken = s.int64(6) != 0;
    if (s.text(1) != "active" || (s.int64(2) == 0 && !overtaken)) return HeartbeatOutcome{Kind::expired};
    if (progress > unit_size(range_of(s.text(3), s.text(4)))) return HeartbeatOutcome{Kind::beyond_unit};
    const std::int64_t expires = now + lease_timeout_ms;
    db->prepare("UPDATE leases SET progress = ?, heartbeat_ms = ?, expires_ms = ? WHERE id = ?")
        .bind(std::to_string(progress), now, expires, *lease)
        .run();
    if (s.int64(2) != 0) db->prepare("UPDATE units SET lease_expires_ms = ? WHERE id = ?").bind(expires, s.int64(5)).run();
    touch_worker(*db, *worker, now);
    tx.commit();
    return HeartbeatOutcome{Kind::alive};
}

bool SqliteStore::set_worker_banned(const std::string& worker_id, bool banned) {
    const auto worker = worker_number(worker_id);
    if (!worker) return false;
    auto db = pool_.borrow();
    SqliteTransaction tx(*db);
    db->prepare("UPDATE workers SET banned = ? WHERE id = ?").bind(banned, *worker).run();
    if (db->changes() == 0) return false;
    if (banned) {
        // Its units in progress go back to the pool at once.
        db->prepare("UPDATE leases SET state = 'released' WHERE worker_id = ? AND state = 'active'").bind(*worker).run();
        db->prepare("UPDATE units SET lease_id = NULL, lease_worker_id = NULL, lease_expires_ms = NULL "
                    "WHERE lease_worker_id = ?")
            .bind(*worker)
            .run();
    }
    tx.commit();
    return true;
}

void SqliteStore::backup_to(const std::filesystem::path& file) {
    if (std::filesystem::exists(file))
        throw std::invalid_argument("the backup file " + file.string() + " exists; name a new file");
    auto db = pool_.borrow();
    db->prepare("VACUUM INTO ?").bind(file.string()).run();
}

}  // namespace pelorin::server
