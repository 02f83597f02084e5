#pragma once
// Waiting out the faults that time can fix, as a worker left running for weeks must: a
// dropped connection, a coordinator that is restarting or overloaded, a lease that expired
// while the computer slept.
#include <chrono>
#include <cstdint>
#include <exception>
#include <optional>
#include <random>
#include <string>

namespace pelorin {

struct RetryTiming {
    // The first wait after a fault; each further fault doubles it.
    std::chrono::nanoseconds first_wait = std::chrono::seconds(30);
    // Doubling stops here, and a longer Retry-After is cut to it.
    std::chrono::nanoseconds longest_wait = std::chrono::minutes(30);
};

// Whether waiting can fix the failure: network errors and time-outs of the transport, replies
// 408, 429 and 5xx, and a lease the coordinator no longer knows (LeaseLost). Everything else
// (an untrusted certificate, 400, 401, 403, a malformed or oversized reply, a failed
// self-test, a refused difficulty, a local file that cannot be written) cannot.
bool waiting_can_help(const std::exception& failure);

// The coordinator refused the bearer token (401): the identity must be registered again.
bool token_refused(const std::exception& failure);

// What the user can do about a failure that waiting cannot fix, as a line to show under its
// message; empty when there is nothing more to say than the message.
std::string what_to_do(const std::exception& failure);

// The delay the coordinator asked for in Retry-After, when the failure carries one.
std::optional<std::chrono::seconds> requested_delay(const std::exception& failure);

// Capped exponential back-off with jitter: waits of about first, 2 first, 4 first, ... up to
// the longest, each spread over [0.75, 1.25) of its nominal length and never beyond the
// longest, so that many workers cut off together do not come back together.
class Backoff {
public:
    Backoff(RetryTiming timing, std::uint64_t seed);
    // The wait before the next try; at least the requested delay (cut to the longest wait).
    std::chrono::nanoseconds next(std::optional<std::chrono::seconds> requested);
    // Back to the first wait: called once work has been accepted again.
    void reset() { faults_ = 0; }

private:
    RetryTiming timing_;
    std::mt19937_64 random_;
    unsigned faults_ = 0;
};

}  // namespace pelorin
