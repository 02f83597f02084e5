#include "server/rate_limiter.hpp"

#include <algorithm>
#include <cmath>

#include "server/limits.hpp"

namespace pelorin::server {

RateLimiter::RateLimiter(double per_minute) : per_minute_(per_minute) {}

double RateLimiter::refill(Bucket& b, std::chrono::steady_clock::time_point now) const {
    const double seconds = std::chrono::duration<double>(now - b.at).count();
    b.tokens = std::min(per_minute_, b.tokens + seconds * per_minute_ / 60.0);
    b.at = now;
    return b.tokens;
}

int RateLimiter::take(const std::string& key) {
    if (per_minute_ <= 0) return 0;
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(mutex_);
    if (buckets_.size() >= kMaxRateLimitKeys) {
        // Full buckets tell nothing: forget them; if every key is busy, start afresh.
        for (auto it = buckets_.begin(); it != buckets_.end();) {
            if (refill(it->second, now) >= per_minute_) it = buckets_.erase(it);
            else ++it;
        }
        if (buckets_.size() >= kMaxRateLimitKeys) buckets_.clear();
    }
    auto [it, fresh] = buckets_.try_emplace(key, Bucket{per_minute_, now});
    Bucket& b = it->second;
    if (!fresh) refill(b, now);
    if (b.tokens >= 1.0) {
        b.tokens -= 1.0;
        return 0;
    }
    return std::max(1, static_cast<int>(std::ceil((1.0 - b.tokens) * 60.0 / per_minute_)));
}

}  // namespace pelorin::server
