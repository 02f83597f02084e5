#pragma once
// Pieces the SQLite engine's source files share: weighing a unit's results again inside a
// transaction (the values read from rows are the engines' common stored_values.hpp).
#include <cstdint>
#include <optional>
#include <string>

#include "server/store/lease_standing.hpp"
#include "server/store/sqlite_db.hpp"
#include "server/store/stored_values.hpp"

namespace pelorin::server::sqlite_rows {

// Weighs every standing result of the unit (weigh_unit), writes the outcome to the results,
// the unit and the faulty workers, and returns it. Called inside a write transaction.
Reweighed reweigh_unit(SqliteDb& db, std::int64_t unit_id, std::int64_t now, unsigned set_aside_after);

// The unit's checksums once its recomputation has ended, and a result put to wait for them
// (the unit's recomputation begun when it is not yet). Inside a write transaction.
std::optional<Checksums> recomputed_checksums(SqliteDb& db, std::int64_t unit_id);
void wait_for_checksums(SqliteDb& db, std::int64_t unit_id, std::int64_t result_id, const Checksums& given,
                        std::int64_t now);

// The columns of a worker's figures, "SELECT ... FROM workers w " for a WHERE or ORDER to
// follow, and the figures of its row.
std::string worker_columns();
WorkerFigures worker_figures(SqliteStatement& s);

}  // namespace pelorin::server::sqlite_rows
