#include "server/recompute_budget.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "server/limits.hpp"

namespace pelorin::server {

RecomputeBudget::RecomputeBudget(double cores, double starts_per_second)
    : cores_(cores), seconds_(kRecomputeBurstSeconds), rate_(std::max(starts_per_second, 1.0)),
      at_(std::chrono::steady_clock::now()) {}

void RecomputeBudget::accrue(std::chrono::steady_clock::time_point now) {
    if (cores_ > 0)
        seconds_ = std::min(kRecomputeBurstSeconds, seconds_ + cores_ * std::chrono::duration<double>(now - at_).count());
    at_ = now;
}

double RecomputeBudget::span_cost(std::uint64_t limit) const {
    return std::min(kRecomputeSpanSeconds, static_cast<double>(limit) / rate_);
}

double RecomputeBudget::rate() {
    std::lock_guard lock(mutex_);
    return rate_;
}

double RecomputeBudget::wait_seconds(std::uint64_t starts) {
    if (off()) return std::numeric_limits<double>::infinity();
    std::lock_guard lock(mutex_);
    return static_cast<double>(starts) / rate_ / (cores_ < 0 ? 1.0 : cores_);
}

bool RecomputeBudget::take(std::uint64_t starts) {
    if (cores_ < 0) return true;
    if (cores_ == 0) return false;
    std::lock_guard lock(mutex_);
    accrue(std::chrono::steady_clock::now());
    const double cost = static_cast<double>(starts) / rate_;
    if (cost > kRecomputeInlineSeconds || cost > seconds_) return false;
    seconds_ -= cost;
    return true;
}

std::uint64_t RecomputeBudget::take_span(std::uint64_t limit) {
    if (cores_ == 0 || limit == 0) return 0;
    std::lock_guard lock(mutex_);
    accrue(std::chrono::steady_clock::now());
    const double cost = span_cost(limit);
    if (cores_ > 0) {
        if (cost > seconds_) return 0;
        seconds_ -= cost;
    }
    const double starts = std::ceil(cost * rate_);
    return starts >= static_cast<double>(limit) ? limit : std::max<std::uint64_t>(1, static_cast<std::uint64_t>(starts));
}

std::chrono::milliseconds RecomputeBudget::until_span(std::uint64_t limit) {
    if (cores_ < 0) return std::chrono::milliseconds(0);
    if (cores_ == 0) return std::chrono::milliseconds::max();
    std::lock_guard lock(mutex_);
    accrue(std::chrono::steady_clock::now());
    const double missing = span_cost(std::max<std::uint64_t>(limit, 1)) - seconds_;
    return std::chrono::milliseconds(missing <= 0 ? 0 : static_cast<std::int64_t>(std::ceil(missing / cores_ * 1000)));
}

void RecomputeBudget::spent(std::uint64_t charged, std::uint64_t starts, double seconds) {
    std::lock_guard lock(mutex_);
    const double estimate = static_cast<double>(charged) / rate_;
    // Runs below a millisecond say more about the clock than about the kernel.
    if (seconds > 1e-3 && starts > 0) rate_ = 0.75 * rate_ + 0.25 * (static_cast<double>(starts) / seconds);
    if (cores_ > 0) seconds_ = std::min(kRecomputeBurstSeconds, seconds_ + estimate - seconds);
}

}  // namespace pelorin::server
