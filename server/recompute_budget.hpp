#pragma once
// How much checksum recomputation this instance may spend: a budget in cores, saved up while
// idle (to at most kRecomputeBurstSeconds of one core) and charged with what each
// recomputation took. The kernel's speed is measured at start and kept up to date from the
// recomputations themselves.
#include <chrono>
#include <cstdint>
#include <mutex>

namespace pelorin::server {

class RecomputeBudget {
public:
    // cores < 0: every result is recomputed at once, whatever its size; 0: none is.
    // starts_per_second: one core's checksum speed here (measure_checksum_rate).
    RecomputeBudget(double cores, double starts_per_second);

    bool recomputes_all() const { return cores_ < 0; }
    bool off() const { return cores_ == 0; }
    double cores() const { return cores_; }
    // One core's checksum speed as last learnt.
    double rate();
    // Seconds the background takes to recompute `starts` at this budget (at full speed with
    // "all"; infinite when off).
    double wait_seconds(std::uint64_t starts);

    // Whether a whole unit may be recomputed now, while its complete waits: always with "all";
    // otherwise when it costs at most kRecomputeInlineSeconds of a core and the savings cover
    // it. The cost is charged at once, so concurrent completes do not spend the same savings.
    bool take(std::uint64_t starts);
    // The starts a background span may cover now, at most `limit` (> 0) and
    // kRecomputeSpanSeconds of a core; 0 until the savings cover such a span. Charged at once.
    std::uint64_t take_span(std::uint64_t limit);
    // How long until take_span(limit) grants.
    std::chrono::milliseconds until_span(std::uint64_t limit);
    // What a grant of `charged` starts really did: `starts` of them recomputed in `seconds`.
    // The difference to the estimate is given back (or taken), and the speed learnt.
    void spent(std::uint64_t charged, std::uint64_t starts, double seconds);

private:
    void accrue(std::chrono::steady_clock::time_point now);
    double span_cost(std::uint64_t limit) const;

    double cores_;
    std::mutex mutex_;
    double seconds_;  // saved-up core seconds
    double rate_;     // starts per second of one core
    std::chrono::steady_clock::time_point at_;
};

}  // namespace pelorin::server
