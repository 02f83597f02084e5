#pragma once
// From a launch's aggregate and overflow queue to the result record: the same mapping for
// the device and for host runs of the kernel.
#include <span>

#include "gpu/gpu_records.hpp"
#include "gpu/launch_plan.hpp"
#include "state/unit_result.hpp"

namespace pelorin {

// Adds one launch's counters, checksums and completions to r, sets its accounting and proof
// hash, makes it invalid when the launch lost overflowed starts, and finishes every queued
// entry on the host. queued holds min(A.queued, capacity) entries. r starts as a fresh record.
void fill_record(UnitResult& r, const GpuAggregate& a, std::span<const OverflowState> queued, const LaunchPlan& plan);

}  // namespace pelorin
