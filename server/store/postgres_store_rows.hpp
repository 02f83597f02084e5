#pragma once
// Pieces the PostgreSQL engine's source files share: the database's clock, fields read from
// rows, the row lock a heartbeat or complete takes first, and weighing a unit's results again.
#include <pqxx/pqxx>

#include <cstdint>
#include <optional>
#include <string>

#include "server/store/lease_standing.hpp"
#include "server/store/stored_values.hpp"

namespace pelorin::server::postgres_rows {

// now() of the transaction in milliseconds since 1970.
std::int64_t now_ms(pqxx::transaction_base& tx);

inline std::int64_t int64(const pqxx::field& f) { return f.is_null() ? 0 : f.as<std::int64_t>(); }
inline double real(const pqxx::field& f) { return f.is_null() ? 0.0 : f.as<double>(); }
inline bool boolean(const pqxx::field& f) { return !f.is_null() && f.as<bool>(); }
inline std::string text(const pqxx::field& f) { return f.is_null() ? std::string() : std::string(f.c_str(), f.size()); }

// Locks the row of the lease's unit (FOR UPDATE) and returns the unit, nothing for an unknown
// lease. Heartbeat and complete take it before they read, so what they read is what they
// change, and a claim meanwhile skips the unit.
std::optional<std::int64_t> lock_unit_of_lease(pqxx::transaction_base& tx, std::int64_t lease);

// Weighs every standing result of the (locked) unit with weigh_unit, writes the outcome to
// the results, the unit and the faulty workers, and returns it.
// When it outvotes a worker and reach_back holds, that worker's results validated without a
// copy since its last confirmed one are reopened for a copy.
// every_refusal_counts: new workers' refusals count toward setting the unit aside too.
Reweighed reweigh_unit(pqxx::transaction_base& tx, std::int64_t unit_id, std::int64_t now, unsigned set_aside_after,
                       bool reach_back = true, bool every_refusal_counts = false);

// Remembers that the worker was seen on the network (nothing for an empty key).
void note_network(pqxx::transaction_base& tx, std::int64_t worker, const std::string& network);

// The columns of a worker's figures, "SELECT ... FROM workers w " for a WHERE or ORDER to
// follow, and the figures of its row.
extern const char* const kWorkerColumns;
WorkerFigures worker_figures(const pqxx::row& s);

}  // namespace pelorin::server::postgres_rows
