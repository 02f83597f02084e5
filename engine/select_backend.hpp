#pragma once
// Backend selection: a device probe picks the family (GPU or CPU), a short known-answer test
// proves it, an untimed pass over the tuning range builds what the range needs, and each
// candidate is then timed on it; the fastest valid one wins.
#include <functional>
#include <stop_token>
#include <string>

#include "engine/backend_options.hpp"
#include "state/unit_result.hpp"
#include "wideint/unit_range.hpp"

namespace pelorin {

struct BackendChoice {
    BackendOptions options;
    double starts_per_second = 0.0;
    std::string proof_hash;
};

// What selection needs from the rest of the program. The worker passes the real device probe
// and backend dispatcher; tests can pass others to exercise the GPU family without a device.
struct SelectionHooks {
    std::function<bool()> cuda_available;
    std::function<UnitResult(const UnitRange&, const BackendOptions&)> run_backend;
    std::function<void(const std::string&)> post_status;
};

// 2^26 starts from 2^32.
UnitRange tuning_range();

// Throws std::runtime_error "Stopped" when a stop is requested before a candidate,
// "No correct backend passed autotuning" when none qualifies, and a "Self-test failed: ..."
// message when the family gives a wrong answer on the known range.
BackendChoice select_backend(std::stop_token stop, const SelectionHooks& hooks);

// The known-answer test alone: runs the family's backend on [1, 101) and compares the record
// with the reference values; throws std::runtime_error naming the first difference.
void self_test_backend(const BackendOptions& family, const SelectionHooks& hooks);

}  // namespace pelorin
