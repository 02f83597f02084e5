#pragma once
// The background recomputation of the checksums of units too large to check while their
// complete waits: a thread that takes the next waiting unit from the store, sums one span of
// its starts within the recompute budget, and records it, until no unit waits. The store
// keeps the progress, so a restart goes on where it stopped and several instances share the
// work; when a unit's last span is recorded, the store judges the results that waited for it.
#include <condition_variable>
#include <mutex>
#include <thread>

#include "server/metrics.hpp"
#include "server/recompute_budget.hpp"
#include "server/store/store.hpp"

namespace pelorin::server {

class Recomputer {
public:
    Recomputer(Store& store, RecomputeBudget& budget, Metrics& metrics, unsigned set_aside_after);
    ~Recomputer();
    Recomputer(const Recomputer&) = delete;
    Recomputer& operator=(const Recomputer&) = delete;

    // Starts the thread (nothing when the budget is off, or when it runs already).
    void start();
    // A result was put to wait: look for work now rather than at the next poll.
    void wake();
    // Finishes the span in flight, records it, and joins the thread.
    void stop();

private:
    void run();
    // One span when the budget and the store allow; how long to wait before the next try.
    std::chrono::milliseconds step();

    Store& store_;
    RecomputeBudget& budget_;
    Metrics& metrics_;
    unsigned set_aside_after_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool stopping_ = false;
    bool woken_ = false;
    std::thread thread_;
};

}  // namespace pelorin::server
