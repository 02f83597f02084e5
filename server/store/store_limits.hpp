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
// The status figures: throughput is measured over this window.
inline constexpr std::int64_t kThroughputWindowMs = 3'600'000;

}  // namespace pelorin::server
