#pragma once
// Pieces the SQLite engine's source files share: weighing a unit's results again inside a
// transaction (the values read from rows are the engines' common stored_values.hpp).
#include <cstdint>
#include <string>

#include "server/store/lease_standing.hpp"
#include "server/store/sqlite_db.hpp"
#include "server/store/stored_values.hpp"

namespace pelorin::server::sqlite_rows {

// Weighs every standing result of the unit (weigh_unit), writes the outcome to the results,
// the unit and the faulty workers, and returns it. Called inside a write transaction.
// When it outvotes a worker and reach_back holds, that worker's results validated without a
// copy since its last confirmed one are reopened for a copy.
// every_refusal_counts: new workers' refusals count toward setting the unit aside too.
Reweighed reweigh_unit(SqliteDb& db, std::int64_t unit_id, std::int64_t now, unsigned set_aside_after,
                       bool reach_back = true, bool every_refusal_counts = false);

// Remembers that the worker was seen on the network (nothing for an empty key).
void note_network(SqliteDb& db, std::int64_t worker, const std::string& network);

// The columns of a worker's figures, "SELECT ... FROM workers w " for a WHERE or ORDER to
// follow, and the figures of its row.
std::string worker_columns();
WorkerFigures worker_figures(SqliteStatement& s);

}  // namespace pelorin::server::sqlite_rows
