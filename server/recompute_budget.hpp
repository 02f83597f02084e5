#pragma once
// How much checksum recomputation this instance may spend: a budget in cores, saved up while
// idle (to at most kRecomputeBurstSeconds of one core) and charged with what each
// recomputation took. The speed of the checksum loop is learnt from the recomputations.
#include <chrono>
#include <cstdint>
#include <mutex>

namespace pelorin::server {

class RecomputeBudget {
public:
    // cores < 0: every result is recomputed.
    explicit RecomputeBudget(double cores);

    // Whether a unit of `starts` may be recomputed now; when true its estimated cost is
    // charged at once, so concurrent completes do not all spend the same savings.
    bool take(std::uint64_t starts);
    // What a recomputation granted by take() really cost.
    void spent(std::uint64_t starts, double seconds);

private:
    void accrue(std::chrono::steady_clock::time_point now);

    double cores_;
    std::mutex mutex_;
    double seconds_;  // saved-up core seconds
    double rate_;     // starts per second of one core
    std::chrono::steady_clock::time_point at_;
};

}  // namespace pelorin::server
