#pragma once
// Moments as the operator reads and writes them: ISO 8601 in UTC.
#include <cstdint>
#include <string>

namespace pelorin::server {

// "2026-12-10T14:00:31Z"; with milliseconds "2026-12-10T14:00:31.250Z".
std::string utc_text(std::int64_t unix_ms, bool with_milliseconds = false);

// Reads "2026-12-10T14:00:31Z", "2026-12-10T14:00Z" or "2026-12-10" (midnight UTC) into
// Unix milliseconds. Throws std::invalid_argument "a time is written 2026-12-10T14:00:31Z
// (UTC) or 2026-12-10: <text>".
std::int64_t parse_utc(const std::string& text);

}  // namespace pelorin::server
