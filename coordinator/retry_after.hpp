#pragma once
// The value of a reply's Retry-After header: how long the server asks the client to wait.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string_view>

namespace pelorin {

// Longer delays read as this: a server's "wait" beyond 68 years means "much later", and
// callers add the delay to clocks without overflowing.
inline constexpr std::chrono::seconds kMaxRetryAfter{std::int64_t{1} << 31};

// `value` is delay-seconds ("120") or an HTTP date in any of its three forms
// ("Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT", "Sun Nov  6 08:49:37 1994"),
// surrounding blanks allowed. A date becomes the whole seconds from `now` until it, 0 when it
// has passed. Anything else (empty, signed, fractional, a bad date) gives no value.
std::optional<std::chrono::seconds> parse_retry_after(std::string_view value,
                                                      std::chrono::system_clock::time_point now);

}  // namespace pelorin
