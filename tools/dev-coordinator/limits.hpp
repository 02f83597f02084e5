#pragma once
// The development coordinator's own fixed limits, each with the reason for its value (the
// server's are in server/limits.hpp).
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace pelorin::devcoord {

// The request log serves tests and debugging; older entries are dropped beyond this.
inline constexpr std::size_t kMaxLoggedRequests = 10'000;
// A stalled reply waits at most this long, so a mistyped fault cannot hold a thread for hours.
inline constexpr double kMaxStallSeconds = 600.0;
// An oversized reply is far above the worker's 1 MiB cap at this, and a mistyped size cannot
// keep a thread streaming for long.
inline constexpr std::uint64_t kMaxLargeBodyBytes = std::uint64_t{1} << 30;
// An oversized reply is streamed in blocks of this size, so it is never whole in memory.
inline constexpr std::size_t kLargeBodyBlockBytes = 64 * 1024;

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
