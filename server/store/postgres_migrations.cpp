#include "server/store/postgres_migrations.hpp"

#include <pqxx/pqxx>

#include <stdexcept>

#include "server/store/postgres_pool.hpp"

namespace pelorin::server {
namespace {

// The advisory lock that makes concurrent migrations take turns (any fixed number; the
// frontier has its own).
constexpr std::int64_t kMigrationLock = 0x70656c6f72696e01;  // "pelorin" 1

}  // namespace

const std::vector<std::string>& postgres_migrations() {
    static const std::vector<std::string> migrations = {
        // 1: campaigns, their units, leases and results, and the workers. Bounds are 39-digit
        // zero-padded decimal texts compared byte by byte ("C"), so text order is number order.
        R"sql(
CREATE TABLE campaigns (
  id BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
  name TEXT NOT NULL UNIQUE,
  range_begin TEXT COLLATE "C" NOT NULL,
  range_end TEXT COLLATE "C" NOT NULL,
  unit_size TEXT NOT NULL,
  next_begin TEXT COLLATE "C" NOT NULL,
  exhausted BOOLEAN NOT NULL DEFAULT false,
  paused BOOLEAN NOT NULL DEFAULT false,
  created_ms BIGINT NOT NULL
);
CREATE TABLE workers (
  id BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
  client_id TEXT NOT NULL,
  token_hash TEXT NOT NULL UNIQUE,
  nickname TEXT NOT NULL,
  hardware_hash TEXT NOT NULL,
  build_hash TEXT NOT NULL,
  address TEXT NOT NULL,
  registered_ms BIGINT NOT NULL,
  last_seen_ms BIGINT NOT NULL,
  banned BOOLEAN NOT NULL DEFAULT false,
  last_fault_ms BIGINT NOT NULL DEFAULT 0,
  benchmark_backend TEXT,
  benchmark_build_hash TEXT,
  benchmark_profile TEXT,
  benchmark_rate DOUBLE PRECISION,
  benchmark_ms BIGINT
);
CREATE UNIQUE INDEX workers_client ON workers(client_id) WHERE client_id <> '';
CREATE INDEX workers_seen ON workers(last_seen_ms);
CREATE TABLE units (
  id BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
  campaign_id BIGINT NOT NULL REFERENCES campaigns(id),
  range_begin TEXT COLLATE "C" NOT NULL,
  range_end TEXT COLLATE "C" NOT NULL,
  state TEXT NOT NULL DEFAULT 'open' CHECK (state IN ('open', 'pending', 'validated', 'set_aside')),
  epoch BIGINT NOT NULL DEFAULT 0,
  lease_id BIGINT,
  lease_worker_id BIGINT,
  lease_expires_ms BIGINT,
  canonical_result_id BIGINT,
  validated_ms BIGINT,
  UNIQUE (campaign_id, range_begin)
);
CREATE INDEX units_unsettled ON units(campaign_id, range_begin) WHERE state IN ('open', 'pending');
CREATE INDEX units_validated ON units(campaign_id, validated_ms) WHERE state = 'validated';
CREATE INDEX units_lease_worker ON units(lease_worker_id) WHERE lease_worker_id IS NOT NULL;
CREATE TABLE leases (
  id BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
  unit_id BIGINT NOT NULL REFERENCES units(id),
  worker_id BIGINT NOT NULL REFERENCES workers(id),
  epoch BIGINT NOT NULL,
  proof_hash TEXT NOT NULL,
  starts_per_second DOUBLE PRECISION NOT NULL,
  progress TEXT NOT NULL DEFAULT '0',
  leased_ms BIGINT NOT NULL,
  heartbeat_ms BIGINT NOT NULL,
  expires_ms BIGINT NOT NULL,
  state TEXT NOT NULL DEFAULT 'active' CHECK (state IN ('active', 'completed', 'released'))
);
CREATE INDEX leases_worker ON leases(worker_id, state);
CREATE INDEX leases_unit ON leases(unit_id);
CREATE TABLE results (
  id BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
  unit_id BIGINT NOT NULL REFERENCES units(id),
  lease_id BIGINT NOT NULL UNIQUE REFERENCES leases(id),
  worker_id BIGINT NOT NULL REFERENCES workers(id),
  received_ms BIGINT NOT NULL,
  body TEXT NOT NULL,
  record TEXT NOT NULL,
  comparable TEXT NOT NULL,
  status TEXT NOT NULL CHECK (status IN ('pending', 'validated', 'rejected', 'invalidated')),
  needs_confirmation BOOLEAN NOT NULL,
  audit TEXT NOT NULL,
  reason TEXT NOT NULL DEFAULT ''
);
CREATE INDEX results_unit ON results(unit_id);
CREATE INDEX results_worker ON results(worker_id, status, received_ms);
)sql",
        // 2: registration challenges live in the database, so that a challenge issued by one
        // server instance can be redeemed at another.
        R"sql(
CREATE TABLE challenges (
  id TEXT PRIMARY KEY,
  nonce TEXT NOT NULL,
  difficulty_bits INTEGER NOT NULL,
  created_ms BIGINT NOT NULL,
  expires_ms BIGINT NOT NULL
);
CREATE INDEX challenges_age ON challenges(created_ms);
)sql",
        // 3: the public page and the operator's view read leases by their last sign of life
        // and their expiry, and results by their standing, without a pass over every row.
        R"sql(
CREATE INDEX leases_heartbeat ON leases(heartbeat_ms);
CREATE INDEX leases_expiry ON leases(state, expires_ms);
CREATE INDEX results_status ON results(status, unit_id);
)sql",
        // 4: changes nothing; the number was given to a change that has not been made, and a
        // database past it must never be asked to run it, so that change comes as a later one.
        "SELECT 1",
        // 5: a client id is a secret the worker proves itself with, so it is kept only as its
        // SHA-256, like a token.
        R"sql(
UPDATE workers SET client_id = encode(sha256(convert_to(client_id, 'UTF8')), 'hex') WHERE client_id <> '';
)sql",
        // 6: checksums recomputed in spans, over as long as it takes: a unit's progress (so a
        // restart goes on where it stopped) and the span in flight at some instance, and the
        // results that wait for it with the checksums they gave.
        R"sql(
CREATE TABLE recomputations (
  unit_id BIGINT PRIMARY KEY REFERENCES units(id),
  done TEXT NOT NULL DEFAULT '0',           -- starts from the unit's begin summed so far (decimal)
  checksum_sum TEXT NOT NULL DEFAULT '0',   -- of those starts (decimal, unsigned 64-bit)
  checksum_xor TEXT NOT NULL DEFAULT '0',
  finished BOOLEAN NOT NULL DEFAULT false, -- true: done is the whole unit and the pair is its own
  held_until_ms BIGINT NOT NULL DEFAULT 0, -- a span in flight at some instance, until then
  last_span_ms BIGINT NOT NULL DEFAULT 0,  -- when a span was last added: units take turns
  created_ms BIGINT NOT NULL
);
CREATE INDEX recomputations_queue ON recomputations(finished, last_span_ms);
CREATE TABLE checksum_waits (
  result_id BIGINT PRIMARY KEY REFERENCES results(id),
  unit_id BIGINT NOT NULL REFERENCES units(id),
  checksum_sum TEXT NOT NULL,               -- as the result gave them
  checksum_xor TEXT NOT NULL
);
CREATE INDEX checksum_waits_unit ON checksum_waits(unit_id);
)sql",
    };
    return migrations;
}

int postgres_schema_version(pqxx::transaction_base& tx) {
    if (tx.exec("SELECT to_regclass('schema_version') IS NULL")[0][0].as<bool>()) return 0;
    const pqxx::result r = tx.exec("SELECT version FROM schema_version");
    return r.empty() ? 0 : r[0][0].as<int>();
}

void migrate_postgres(PostgresPool& pool, int target) {
    const auto& migrations = postgres_migrations();
    const int newest = static_cast<int>(migrations.size());
    if (target < 0 || target > newest) target = newest;
    pool.run(PostgresPool::Kind::write, [&](pqxx::transaction_base& tx) {
        tx.exec_params("SELECT pg_advisory_xact_lock($1)", kMigrationLock);
        const int version = postgres_schema_version(tx);
        if (version > newest)
            throw std::runtime_error("the database " + pool.shown_url() + " has schema version " +
                                     std::to_string(version) + "; this program knows versions up to " +
                                     std::to_string(newest) + ": use a newer pelorin-coordinator");
        if (version == 0)
            tx.exec("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL); "
                    "INSERT INTO schema_version SELECT 0 WHERE NOT EXISTS (SELECT 1 FROM schema_version)");
        for (int v = version; v < target; ++v) tx.exec(migrations[static_cast<std::size_t>(v)]);
        if (version < target) tx.exec_params("UPDATE schema_version SET version = $1", target);
    });
}

}  // namespace pelorin::server
