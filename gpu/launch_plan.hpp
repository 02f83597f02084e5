#pragma once
// The host's decisions before a launch, shared by the CUDA driver and host runs of the
// kernel: the switches a backend name sets, the table width, the block-size rule, the
// kernel arguments (with the survivor frontier when it applies) and the record's texts.
#include <cstdint>
#include <functional>
#include <string>

#include "engine/backend_options.hpp"
#include "gpu/descent_tables.hpp"
#include "gpu/kernel_item.hpp"
#include "state/unit_result.hpp"
#include "wideint/unit_range.hpp"

namespace pelorin {

struct GpuSwitches {
    bool fast_steps = true;
    bool sieve = false;
    bool recursive = false;
};

GpuSwitches gpu_switches(const std::string& name);

// sieve_bits clamped to 12..24.
unsigned sieve_width(std::uint32_t sieve_bits);

// std::invalid_argument unless block_size is a power of two from 1 to 512.
void check_block_size(std::uint32_t block_size);

// A fresh record with mode, backend and the range texts.
UnitResult start_gpu_record(const UnitRange& range, const BackendOptions& options);

struct LaunchPlan {
    KernelArgs args;            // aggregate and queue are filled in by the caller
    std::uint64_t unit_size = 0;
    bool per_start = true;
    bool u64_range = false;     // begin and end below 2^64: completions count as u64
    std::string proof_hash;     // the tables' hash for "cuda-recursive"
};

// n is unit_size(range). tables is read only when the name is "cuda-recursive" and must then
// be the tables of width sieve_width(options.sieve_bits).
LaunchPlan plan_launch(const UnitRange& range, std::uint64_t n, const BackendOptions& options,
                       const RecursiveTables* tables);

// One call's launches, in order: the range is cut into parts of at most max_items work items
// (at least one 2^k block each), at multiples of 2^k from the block of its begin, so that a
// survivor-frontier launch never splits a block. Each part is planned as a range of its own,
// except that its completion class follows the whole range; launch runs one plan.
void for_each_launch(const UnitRange& range, std::uint64_t n, const BackendOptions& options,
                     const RecursiveTables* tables, std::uint64_t max_items,
                     const std::function<void(const LaunchPlan&)>& launch);

}  // namespace pelorin
