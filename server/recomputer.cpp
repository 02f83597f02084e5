#include "server/recomputer.hpp"

#include <chrono>
#include <cstdint>
#include <iostream>
#include <limits>

#include "server/limits.hpp"
#include "server/unit_checksums.hpp"

namespace pelorin::server {

Recomputer::Recomputer(Store& store, RecomputeBudget& budget, Metrics& metrics, unsigned set_aside_after)
    : store_(store), budget_(budget), metrics_(metrics), set_aside_after_(set_aside_after) {}

Recomputer::~Recomputer() { stop(); }

void Recomputer::start() {
    if (budget_.off() || thread_.joinable()) return;
    stopping_ = false;
    thread_ = std::thread([this] { run(); });
}

void Recomputer::wake() {
    std::lock_guard lock(mutex_);
    woken_ = true;
    changed_.notify_all();
}

void Recomputer::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        changed_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
}

std::chrono::milliseconds Recomputer::step() {
    // The budget of a whole span is taken before a unit is held, so no unit is held while this
    // instance waits for savings.
    constexpr std::uint64_t kAny = std::numeric_limits<std::uint64_t>::max();
    const std::uint64_t granted = budget_.take_span(kAny);
    if (granted == 0) return std::max(budget_.until_span(kAny), std::chrono::milliseconds(1));
    std::optional<RecomputeJob> job;
    try {
        job = store_.claim_recomputation(kRecomputeHoldMs);
    } catch (...) {
        budget_.spent(granted, 0, 0);
        throw;
    }
    if (!job) {
        budget_.spent(granted, 0, 0);
        return kRecomputeIdlePoll;
    }
    const std::uint64_t starts = std::min(granted, unit_size(job->range) - job->done);
    const auto began = std::chrono::steady_clock::now();
    const ChecksumPair span = span_checksums(add_u64(job->range.begin, job->done), starts);
    budget_.spent(granted, starts, std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count());
    metrics_.count_recomputed_starts(starts, budget_.rate());
    const SpanOutcome outcome = store_.record_recomputation(*job, starts, Checksums{span.sum, span.xor_}, set_aside_after_);
    for (std::int64_t i = 0; i < outcome.results_matched; ++i) metrics_.count_checksum_check("matched");
    for (std::int64_t i = 0; i < outcome.results_refused; ++i) metrics_.count_checksum_check("refused");
    return std::chrono::milliseconds(0);
}

void Recomputer::run() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        lock.unlock();
        std::chrono::milliseconds wait{0};
        try {
            wait = step();
        } catch (const std::exception& e) {
            // The database failed: the span is lost, the unit's hold runs out, and the work
            // goes on from the progress recorded.
            std::cerr << "recomputation of checksums paused: " << e.what() << std::endl;
            wait = kRecomputeIdlePoll;
        }
        lock.lock();
        if (wait.count() > 0) changed_.wait_for(lock, wait, [this] { return stopping_ || woken_; });
        woken_ = false;
    }
}

}  // namespace pelorin::server
