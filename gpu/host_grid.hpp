#pragma once
// The kernel's grid run on the host: every thread's grid-stride loop in turn, then each
// block's reduction pass by pass, with the very per-item code the device runs. Tests use it
// to prove the GPU path on machines without a GPU; the record comes out of the driver's own
// planning and mapping.
#include <cstdint>

#include "engine/backend_options.hpp"
#include "gpu/descent_tables.hpp"
#include "gpu/gpu_constants.hpp"
#include "gpu/kernel_item.hpp"
#include "state/unit_result.hpp"
#include "wideint/unit_range.hpp"

namespace pelorin {

// Runs blocks x block_size threads over a.aggregate (zeroed by the caller) and a.queue
// (a.overflow_capacity entries). block_size is a power of two up to 512.
void run_grid_on_host(const KernelArgs& a, unsigned blocks, unsigned block_size);

// verify_range_cuda with the launches run on the host: options.block_size threads per block,
// `blocks` blocks, a queue of overflow_capacity entries and launches of at most
// max_launch_items work items. No timing fields are set.
UnitResult verify_range_on_host(const UnitRange& range, const BackendOptions& options, unsigned blocks,
                                std::uint64_t overflow_capacity = kOverflowCapacity,
                                std::uint64_t max_launch_items = kMaxLaunchItems);

// The host tables of width k, built once per process (the k = 24 build is 16M entries).
const HostDescentTables& host_descent_tables(unsigned k);

}  // namespace pelorin
