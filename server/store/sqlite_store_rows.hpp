#pragma once
// Pieces the SQLite engine's source files share: ranges read from rows, and weighing a
// unit's results again inside a transaction.
#include <cstdint>
#include <string>

#include "server/store/sqlite_db.hpp"
#include "server/store/store_types.hpp"
#include "wideint/unit_range.hpp"

namespace pelorin::server::sqlite_rows {

UnitRange range_of(const std::string& begin_text, const std::string& end_text);
std::uint64_t parse_unit_size(const std::string& text);

// Weighs every standing result of the unit (weigh_unit), writes the outcome to the results,
// the unit and the faulty workers, and returns it. Called inside a write transaction.
struct Reweighed {
    UnitState before = UnitState::open;
    UnitState after = UnitState::open;
    std::vector<std::int64_t> validated;
    std::vector<std::int64_t> outvoted;
    bool newest_disagrees = false;  // the unit's latest result agrees with none before it
};
Reweighed reweigh_unit(SqliteDb& db, std::int64_t unit_id, std::int64_t now, unsigned set_aside_after);

UnitState stored_state(const std::string& text);

// The columns of a worker's figures, "SELECT ... FROM workers w " for a WHERE or ORDER to
// follow, and the figures of its row.
std::string worker_columns();
WorkerFigures worker_figures(SqliteStatement& s);

}  // namespace pelorin::server::sqlite_rows
