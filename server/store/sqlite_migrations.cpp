#include "server/store/sqlite_migrations.hpp"

#include <stdexcept>

#include "server/store/sqlite_db.hpp"

namespace pelorin::server {

const std::vector<std::string>& sqlite_migrations() {
    static const std::vector<std::string> migrations = {
        // 1: campaigns, their units, leases and results, and the workers.
        R"sql(
CREATE TABLE campaigns (
  id INTEGER PRIMARY KEY,
  name TEXT NOT NULL UNIQUE,
  range_begin TEXT NOT NULL,          -- bounds: 39-digit zero-padded decimal (bound_text)
  range_end TEXT NOT NULL,
  unit_size TEXT NOT NULL,            -- decimal, up to 2^64 - 1
  next_begin TEXT NOT NULL,           -- the frontier: the first start not yet in a unit
  exhausted INTEGER NOT NULL DEFAULT 0,
  paused INTEGER NOT NULL DEFAULT 0,
  created_ms INTEGER NOT NULL
);
CREATE TABLE workers (
  id INTEGER PRIMARY KEY,
  client_id TEXT NOT NULL,
  token_hash TEXT NOT NULL UNIQUE,    -- SHA-256 of the bearer token; never the token
  nickname TEXT NOT NULL,
  hardware_hash TEXT NOT NULL,
  build_hash TEXT NOT NULL,
  address TEXT NOT NULL,
  registered_ms INTEGER NOT NULL,
  last_seen_ms INTEGER NOT NULL,
  banned INTEGER NOT NULL DEFAULT 0,
  last_fault_ms INTEGER NOT NULL DEFAULT 0,
  benchmark_backend TEXT,
  benchmark_build_hash TEXT,
  benchmark_profile TEXT,
  benchmark_rate REAL,
  benchmark_ms INTEGER
);
CREATE UNIQUE INDEX workers_client ON workers(client_id) WHERE client_id <> '';
CREATE INDEX workers_seen ON workers(last_seen_ms);
CREATE TABLE units (
  id INTEGER PRIMARY KEY,
  campaign_id INTEGER NOT NULL REFERENCES campaigns(id),
  range_begin TEXT NOT NULL,
  range_end TEXT NOT NULL,
  state TEXT NOT NULL DEFAULT 'open' CHECK (state IN ('open', 'pending', 'validated', 'set_aside')),
  epoch INTEGER NOT NULL DEFAULT 0,   -- the current lease's epoch; heartbeat and complete must match it
  lease_id INTEGER,                   -- the current lease, live until lease_expires_ms
  lease_worker_id INTEGER,
  lease_expires_ms INTEGER,
  canonical_result_id INTEGER,
  validated_ms INTEGER,
  UNIQUE (campaign_id, range_begin)
);
CREATE INDEX units_unsettled ON units(campaign_id, range_begin) WHERE state IN ('open', 'pending');
CREATE INDEX units_validated ON units(campaign_id, validated_ms) WHERE state = 'validated';
CREATE TABLE leases (
  id INTEGER PRIMARY KEY,
  unit_id INTEGER NOT NULL REFERENCES units(id),
  worker_id INTEGER NOT NULL REFERENCES workers(id),
  epoch INTEGER NOT NULL,
  proof_hash TEXT NOT NULL,
  starts_per_second REAL NOT NULL,
  progress TEXT NOT NULL DEFAULT '0',
  leased_ms INTEGER NOT NULL,
  heartbeat_ms INTEGER NOT NULL,
  expires_ms INTEGER NOT NULL,
  state TEXT NOT NULL DEFAULT 'active' CHECK (state IN ('active', 'completed', 'released'))
);
CREATE INDEX leases_worker ON leases(worker_id, state);
CREATE INDEX leases_unit ON leases(unit_id);
CREATE TABLE results (
  id INTEGER PRIMARY KEY,
  unit_id INTEGER NOT NULL REFERENCES units(id),
  lease_id INTEGER NOT NULL UNIQUE REFERENCES leases(id),
  worker_id INTEGER NOT NULL REFERENCES workers(id),
  received_ms INTEGER NOT NULL,
  body TEXT NOT NULL,                 -- the request body, byte for byte
  record TEXT NOT NULL,               -- the result object
  comparable TEXT NOT NULL,           -- what copies are compared on
  status TEXT NOT NULL CHECK (status IN ('pending', 'validated', 'rejected', 'invalidated')),
  needs_confirmation INTEGER NOT NULL,
  audit TEXT NOT NULL,                -- the reply the worker got
  reason TEXT NOT NULL DEFAULT ''
);
CREATE INDEX results_unit ON results(unit_id);
CREATE INDEX results_worker ON results(worker_id, status, received_ms);
)sql",
        // 2: registration challenges move into the database, so that a challenge issued by
        // one server instance can be redeemed at another.
        R"sql(
CREATE TABLE challenges (
  id TEXT PRIMARY KEY,
  nonce TEXT NOT NULL,
  difficulty_bits INTEGER NOT NULL,
  created_ms INTEGER NOT NULL,
  expires_ms INTEGER NOT NULL
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
        "-- 4",
        // 5: a client id is a secret the worker proves itself with, so it is kept only as its
        // SHA-256, like a token. Freed space is zeroed, so the clear texts leave the file.
        R"sql(
PRAGMA secure_delete = ON;
UPDATE workers SET client_id = pelorin_sha256_hex(client_id) WHERE client_id <> '';
)sql",
        // 6: checksums recomputed in spans, over as long as it takes: a unit's progress (so a
        // restart goes on where it stopped) and the span in flight at some instance, and the
        // results that wait for it with the checksums they gave.
        R"sql(
CREATE TABLE recomputations (
  unit_id INTEGER PRIMARY KEY REFERENCES units(id),
  done TEXT NOT NULL DEFAULT '0',           -- starts from the unit's begin summed so far (decimal)
  checksum_sum TEXT NOT NULL DEFAULT '0',   -- of those starts (decimal, unsigned 64-bit)
  checksum_xor TEXT NOT NULL DEFAULT '0',
  finished INTEGER NOT NULL DEFAULT 0,      -- 1: done is the whole unit and the pair is its own
  held_until_ms INTEGER NOT NULL DEFAULT 0, -- a span in flight at some instance, until then
  last_span_ms INTEGER NOT NULL DEFAULT 0,  -- when a span was last added: units take turns
  created_ms INTEGER NOT NULL
);
CREATE INDEX recomputations_queue ON recomputations(finished, last_span_ms);
CREATE TABLE checksum_waits (
  result_id INTEGER PRIMARY KEY REFERENCES results(id),
  unit_id INTEGER NOT NULL REFERENCES units(id),
  checksum_sum TEXT NOT NULL,               -- as the result gave them
  checksum_xor TEXT NOT NULL
);
CREATE INDEX checksum_waits_unit ON checksum_waits(unit_id);
)sql",
    };
    return migrations;
}

int sqlite_schema_version(SqliteDb& db) {
    SqliteStatement s = db.prepare("PRAGMA user_version");
    s.step();
    return static_cast<int>(s.int64(0));
}

void migrate_sqlite(SqliteDb& db, const std::string& path_text, int target) {
    const auto& migrations = sqlite_migrations();
    const int newest = static_cast<int>(migrations.size());
    if (target < 0 || target > newest) target = newest;
    SqliteTransaction tx(db);
    const int version = sqlite_schema_version(db);
    if (version > newest)
        throw std::runtime_error("the database " + path_text + " has schema version " + std::to_string(version) +
                                 "; this program knows versions up to " + std::to_string(newest) +
                                 ": use a newer pelorin-coordinator");
    for (int v = version; v < target; ++v) db.exec(migrations[static_cast<std::size_t>(v)]);
    if (version < target) db.exec("PRAGMA user_version = " + std::to_string(target));
    tx.commit();
}

}  // namespace pelorin::server
