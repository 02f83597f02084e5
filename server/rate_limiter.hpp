#pragma once
// Requests per minute per key (an address, a worker), as token buckets that hold a minute's
// worth. Each server instance limits on its own: behind N instances a key gets up to N times
// the rate, which bounds abuse all the same.
#include <chrono>
#include <mutex>
#include <string>
#include <unordered_map>

namespace pelorin::server {

class RateLimiter {
public:
    // per_minute 0: no limit.
    explicit RateLimiter(double per_minute);

    // 0 when the request may go ahead (and is counted); otherwise the whole seconds to wait.
    int take(const std::string& key);

private:
    struct Bucket {
        double tokens = 0;
        std::chrono::steady_clock::time_point at;
    };
    double refill(Bucket& b, std::chrono::steady_clock::time_point now) const;  // the tokens now

    double per_minute_;
    std::mutex mutex_;
    std::unordered_map<std::string, Bucket> buckets_;
};

}  // namespace pelorin::server
