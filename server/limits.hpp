#pragma once
// The campaign server's fixed limits and tuning constants, each with the reason for its value.
// What an operator may want to change is a flag instead (server_options.hpp).
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace pelorin::server {

// Challenges are answered within seconds; an hour leaves room for a slow machine's search.
inline constexpr std::int64_t kChallengeLifetimeMs = 3'600'000;
// Open challenges kept in the database; beyond this the oldest are forgotten, so a flood of
// challenge requests costs a bounded table.
inline constexpr std::int64_t kMaxOpenChallenges = 100'000;
// 2^32 hashes already take hours on a desktop; more would only stall the worker.
inline constexpr unsigned kMaxDifficultyBits = 32;
// Texts a worker sends about itself (nickname, hashes, backend names) are kept up to this
// length; longer ones are refused.
inline constexpr std::size_t kMaxWorkerTextBytes = 256;
// JSON bodies nest two levels; anything deeper than this is refused before it is walked.
inline constexpr int kMaxJsonDepth = 8;
// The recomputation budget saves up at most this many seconds of one core, so a quiet hour
// is not spent in one burst; a unit that would cost more is never recomputed.
inline constexpr double kRecomputeBurstSeconds = 30.0;
// The checksum loop's speed assumed before the first recomputation is measured (plain
// x86-64 code on one core does about 7e8 starts per second).
inline constexpr double kRecomputeFirstRate = 5e8;
// A busy reply asks the worker to come back after this long.
inline constexpr int kBusyRetryAfterSeconds = 60;
// Units set aside wait for the operator, which takes minutes at least: workers ask less often.
inline constexpr int kSetAsideRetryAfterSeconds = 600;
// Token buckets kept per rate-limited key (address or worker); beyond this the least
// recently used are forgotten, so a spray of addresses costs bounded memory.
inline constexpr std::size_t kMaxRateLimitKeys = 100'000;
// A listener that is stopped right after it starts waits this long at most for its loop.
inline constexpr int kStopPolls = 1000;
inline constexpr std::chrono::milliseconds kStopPollInterval{10};
// The deadline thread looks for connections past their deadline this often.
inline constexpr std::chrono::milliseconds kDeadlineSweep{200};

// The public page refreshes every 30 s; within this time every visitor's refresh shares one
// set of database reads, and the figures are still fresh to the eye.
inline constexpr std::chrono::seconds kStatsCacheLifetime{5};
// Stats replies kept at once (each campaign's and each set of query parameters is one); a
// visitor varying the parameters only pushes out the oldest.
inline constexpr std::size_t kStatsCacheEntries = 256;
// The stats endpoints' query parameters: a week of hours (the page's charts), lists of up to
// 100 workers or units for the public and 500 for the operator, a campaign name as long as a
// worker's texts.
inline constexpr int kStatsMaxHours = 168;
inline constexpr int kStatsMaxListed = 100;
inline constexpr int kOperatorMaxListed = 500;
inline constexpr std::size_t kMaxQueryTextBytes = 256;

}  // namespace pelorin::server
