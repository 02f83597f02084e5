#pragma once
// The storage layer's fixed limits and tuning constants, each with the reason for its value.
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace pelorin::server {

// Units are made from a campaign's frontier this many at a time: one frontier transaction
// serves several claims, and a campaign of 2^128 starts still costs a handful of rows.
inline constexpr int kFrontierWindow = 4;
// A writer waits this long for another writer's transaction before the request fails (503);
// every transaction is short, so only a stuck database waits this long.
inline constexpr std::chrono::milliseconds kDatabaseBusyTimeout{5000};
// Connections kept open per store; more threads than this open short-lived extra ones.
inline constexpr std::size_t kDatabasePoolSize = 8;
// PostgreSQL: connections each server instance keeps. Every transaction is a few short
// statements, so a handful of connections serve dozens of request threads; the database's own
// limit (100 by default) then allows a dozen instances.
inline constexpr std::size_t kPostgresPoolSize = 8;
// A database that does not accept a connection within this long is treated as down (503),
// instead of holding a request thread for the operating system's TCP time-out.
inline constexpr int kPostgresConnectTimeoutSeconds = 5;
// A statement that runs longer than this is cancelled: no statement of the server needs more
// than milliseconds, so only a stuck database or a lock held by hand gets here.
inline constexpr std::chrono::milliseconds kPostgresStatementTimeout{10000};
// A transaction that deadlocked, lost a serialization race or a unique-key race runs again, at
// most this many times in all.
inline constexpr int kTransactionAttempts = 5;
// The status figures: throughput is measured over this window.
inline constexpr std::int64_t kThroughputWindowMs = 3'600'000;

// A lease's maximum age when the operator sets none: this many times the unit's time at the
// rate the worker sent, so a slow but steady volunteer finishes its unit alone; at least a day
// (a desktop that sleeps at night still finishes) and at most 30 days (a unit held by a worker
// that only heartbeats is handed to another within a month whatever rate it claims).
inline constexpr double kLeaseMaxAgeSlack = 4.0;
inline constexpr std::int64_t kLeaseMaxAgeFloorMs = 24LL * 3'600'000;
inline constexpr std::int64_t kLeaseMaxAgeCeilingMs = 30LL * 24 * 3'600'000;

}  // namespace pelorin::server
