#pragma once
// The development coordinator's fixed limits, each with the reason for its value.
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace pelorin::devcoord {

// Challenges are answered within seconds; an hour leaves room for a slow debugger session.
inline constexpr std::int64_t kChallengeLifetimeMs = 3'600'000;
// Outstanding challenges are kept in memory; beyond this the oldest are forgotten.
inline constexpr std::size_t kMaxOpenChallenges = 4096;
// 2^32 hashes already take hours on a desktop; more would only stall the worker.
inline constexpr unsigned kMaxDifficultyBits = 32;
// The request log serves tests and debugging; older entries are dropped beyond this.
inline constexpr std::size_t kMaxLoggedRequests = 10'000;
// Request bodies are small JSON texts; a megabyte is far above any real one.
inline constexpr std::size_t kMaxRequestBodyBytes = 1 << 20;
// A unit whose results are rejected this often is set aside instead of being handed out
// forever; the ledger keeps every submission for a person to look at.
inline constexpr std::size_t kMaxRejectedSubmissions = 3;
// A stalled reply waits at most this long, so a mistyped fault cannot hold a thread for hours.
inline constexpr double kMaxStallSeconds = 600.0;
// An oversized reply is far above the worker's 1 MiB cap at this, and a mistyped size cannot
// keep a thread streaming for long.
inline constexpr std::uint64_t kMaxLargeBodyBytes = std::uint64_t{1} << 30;
// An oversized reply is streamed in blocks of this size, so it is never whole in memory.
inline constexpr std::size_t kLargeBodyBlockBytes = 64 * 1024;

// A stop that arrives while the listener starts waits this long at most for it.
inline constexpr int kStopPolls = 1000;
inline constexpr std::chrono::milliseconds kStopPollInterval{10};

// P-256 keys: accepted by every TLS stack the worker meets (OpenSSL, Windows, Wine), and
// made in microseconds where an RSA key takes up to a second, which every test start pays.
inline constexpr const char* kKeyCurve = "P-256";
inline constexpr long kCaValidityDays = 3650;
// Below the 398-day ceiling that some clients enforce for server certificates.
inline constexpr long kServerValidityDays = 397;
// A server certificate closer than this to its end is made afresh at start.
inline constexpr long kServerRenewDays = 30;
// Allow for a worker clock that is a little behind.
inline constexpr long kNotBeforeSlackSeconds = 3600;

}  // namespace pelorin::devcoord
