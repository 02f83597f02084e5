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
// A refusal names a member a worker added; a longer name is cut here, so the reply stays short.
inline constexpr std::size_t kMaxNamedMemberBytes = 64;
// Steps a result may claim per start of its unit. Starts below 2^128 fall below themselves
// within a few thousand steps (the longest known glides are far shorter); a hundred times more
// never refuses an honest record and still refuses counts no walk could make.
inline constexpr std::uint64_t kMaxStepsPerStart = 100'000;
// JSON bodies nest two levels; anything deeper than this is refused before it is walked.
inline constexpr int kMaxJsonDepth = 8;
// The recomputation budget saves up at most this many seconds of one core, so a quiet hour
// is not spent in one burst.
inline constexpr double kRecomputeBurstSeconds = 30.0;
// The fastest rate a worker's benchmark or lease may claim, in starts per second; higher
// claims are capped to it. The fastest backend the server can check (record-recursive) walks
// about 1.5e9 starts/s per core with AVX-512; the largest single machines have a few hundred
// cores (2 x 192), about 6e11 together. A claim above that could only be made up, and taken
// as it stands it would make every result look slow enough to need no copy.
inline constexpr double kMaxClaimedStartsPerSecond = 1e12;
// The operator token is a password typed into a browser's prompt or kept in a script; 16
// characters of a generator's output (openssl rand -hex 16 gives 32) cannot be guessed online.
inline constexpr std::size_t kMinOperatorTokenBytes = 16;
// A unit that costs at most this much of a core is recomputed while its complete waits, so
// small units get their verdict in the reply; larger ones wait for the background in spans.
// The worker waits 5 s for reply bytes: this leaves room for a busy machine.
inline constexpr double kRecomputeInlineSeconds = 2.0;
// One span of a background recomputation: short enough that a stop or a restart loses little,
// long enough that its two database transactions cost nothing beside it.
inline constexpr double kRecomputeSpanSeconds = 1.0;
// A span in flight holds its unit against other instances this long: far beyond a span's
// compute time, so only a stopped instance's hold ever runs out.
inline constexpr std::int64_t kRecomputeHoldMs = 300'000;
// With nothing to recompute, the background looks at the database this often for work
// another instance recorded (a complete on this one wakes it at once).
inline constexpr std::chrono::milliseconds kRecomputeIdlePoll{2000};
// The timed run of the checksum kernel at start: long enough for a stable rate, short enough
// not to delay the start.
inline constexpr double kRecomputeMeasureSeconds = 0.1;
// A unit whose recomputation at the budget takes longer than this is too large ever to be
// recomputed usefully: its results wait over a day for a verdict, and a backlog of such units
// never drains. `campaign add` and `serve` say so.
inline constexpr double kRecomputeMaxWaitSeconds = 86'400.0;
// A busy reply asks the worker to come back after this long.
inline constexpr int kBusyRetryAfterSeconds = 60;
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
