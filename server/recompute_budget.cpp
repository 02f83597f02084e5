#include "server/recompute_budget.hpp"

#include <algorithm>

#include "server/limits.hpp"

namespace pelorin::server {

RecomputeBudget::RecomputeBudget(double cores)
    : cores_(cores), seconds_(kRecomputeBurstSeconds), rate_(kRecomputeFirstRate), at_(std::chrono::steady_clock::now()) {}

void RecomputeBudget::accrue(std::chrono::steady_clock::time_point now) {
    seconds_ = std::min(kRecomputeBurstSeconds, seconds_ + cores_ * std::chrono::duration<double>(now - at_).count());
    at_ = now;
}

bool RecomputeBudget::take(std::uint64_t starts) {
    if (cores_ < 0) return true;
    std::lock_guard lock(mutex_);
    accrue(std::chrono::steady_clock::now());
    const double cost = static_cast<double>(starts) / rate_;
    if (cost > seconds_) return false;
    seconds_ -= cost;
    return true;
}

void RecomputeBudget::spent(std::uint64_t starts, double seconds) {
    std::lock_guard lock(mutex_);
    const double estimate = static_cast<double>(starts) / rate_;
    // Units below a millisecond say more about the clock than about the loop.
    if (seconds > 1e-3) rate_ = 0.75 * rate_ + 0.25 * (static_cast<double>(starts) / seconds);
    if (cores_ >= 0) seconds_ = std::min(kRecomputeBurstSeconds, seconds_ + estimate - seconds);
}

}  // namespace pelorin::server
