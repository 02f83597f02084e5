#pragma once
// The PostgreSQL schema as numbered migrations, the same versions as SQLite's. The version is
// the one row of the table schema_version. They are applied at open in one transaction that
// first takes a transaction-level advisory lock, so instances that start at once apply them
// once, one after the other; a database newer than the program is refused.
#include <string>
#include <vector>

namespace pqxx {
class transaction_base;
}

namespace pelorin::server {

class PostgresPool;

// The migrations in order: element i is migration i + 1.
const std::vector<std::string>& postgres_migrations();

// 0 for a database without the schema.
int postgres_schema_version(pqxx::transaction_base& tx);

// Applies the migrations up to `target` (the newest when negative). Throws
// std::runtime_error "the database <url> has schema version <n>; this program knows versions
// up to <m>: use a newer pelorin-coordinator" when the database is newer.
void migrate_postgres(PostgresPool& pool, int target = -1);

}  // namespace pelorin::server
