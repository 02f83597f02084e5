#pragma once
// The SQLite schema as numbered migrations. Migration n brings the database from version
// n - 1 to n; the version is SQLite's user_version. They are applied at open, in one
// transaction, and a database newer than the program is refused.
#include <string>
#include <vector>

namespace pelorin::server {

class SqliteDb;

// The migrations in order: element i is migration i + 1.
const std::vector<std::string>& sqlite_migrations();

int sqlite_schema_version(SqliteDb& db);

// Applies the migrations up to `target` (the newest when negative). Throws
// std::runtime_error "the database <path> has schema version <n>; this program knows
// versions up to <m>: use a newer pelorin-coordinator" when the database is newer.
void migrate_sqlite(SqliteDb& db, const std::string& path_text, int target = -1);

}  // namespace pelorin::server
