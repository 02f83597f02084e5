#include "gpu/launch_plan.hpp"

#include <algorithm>
#include <stdexcept>

#include "gpu/gpu_constants.hpp"
#include "wideint/decimal.hpp"
#include "wideint/unit_range.hpp"

namespace pelorin {

GpuSwitches gpu_switches(const std::string& name) {
    if (name == "cuda-naive") return {false, false, false};
    if (name == "cuda-sieve") return {true, true, false};
    if (name == "cuda-recursive") return {true, true, true};
    return {true, false, false};
}

unsigned sieve_width(std::uint32_t sieve_bits) {
    return std::min<std::uint32_t>(std::max<std::uint32_t>(sieve_bits, kMinSieveBits), kMaxSieveBits);
}

void check_block_size(std::uint32_t block_size) {
    if (block_size - 1u > kMaxBlockSize - 1u || (block_size & (block_size - 1u)) != 0)
        throw std::invalid_argument("CUDA block size must be a power of two up to 512");
}

UnitResult start_gpu_record(const UnitRange& range, const BackendOptions& options) {
    UnitResult r;
    r.mode = "verify";
    r.backend = options.name;
    r.begin = u128_to_decimal(range.begin);
    r.end = end_to_decimal(range.end, range.end_is_2_128);
    return r;
}

LaunchPlan plan_launch(const UnitRange& range, std::uint64_t n, const BackendOptions& options,
                       const RecursiveTables* tables) {
    const GpuSwitches sw = gpu_switches(options.name);
    LaunchPlan plan;
    plan.unit_size = n;
    plan.per_start = options.run_mode != "fast";
    plan.u64_range = range.begin.hi == 0 && !range.end_is_2_128 && range.end.hi == 0;
    KernelArgs& a = plan.args;
    a.begin = range.begin;
    a.count = n;
    a.fast_steps = sw.fast_steps;
    a.sieve = sw.sieve;
    a.recursive = sw.recursive;
    a.k = sieve_width(options.sieve_bits);
    a.per_start = plan.per_start;
    a.frontier = false;
    a.frontier_base = range.begin;
    a.work_items = n;
    a.overflow_capacity = kOverflowCapacity;
    if (!sw.recursive) return plan;

    if (tables == nullptr) throw std::logic_error("cuda-recursive planned without its tables");
    a.table = tables->table;
    a.survivors = tables->survivors;
    a.survivor_count = tables->survivor_count;
    plan.proof_hash = tables->proof_hash;
    const bool above_threshold = range.begin.hi != 0 || range.begin.lo > tables->max_threshold;
    if (plan.per_start || !above_threshold || tables->survivor_count == 0) return plan;

    // Every start the frontier skips lies in a residue class whose entry is below begin.
    const std::uint64_t max = ~std::uint64_t{0};
    const std::uint64_t mask = (std::uint64_t{1} << a.k) - 1;
    const std::uint64_t low = range.begin.lo & mask;
    if (n > max - low) return plan;
    const std::uint64_t span = low + n;
    const std::uint64_t blocks = (span >> a.k) + ((span & mask) != 0 ? 1 : 0);
    if (blocks != 0 && tables->survivor_count > max / blocks) return plan;
    a.work_items = blocks * tables->survivor_count;
    a.frontier_base = U128{range.begin.lo & ~mask, range.begin.hi};
    a.frontier = true;
    return plan;
}

void for_each_launch(const UnitRange& range, std::uint64_t n, const BackendOptions& options,
                     const RecursiveTables* tables, std::uint64_t max_items,
                     const std::function<void(const LaunchPlan&)>& launch) {
    const GpuSwitches sw = gpu_switches(options.name);
    const unsigned k = sieve_width(options.sieve_bits);
    const std::uint64_t block = std::uint64_t{1} << k;
    // Starts per part: with the frontier a part's items are its blocks times the survivors;
    // otherwise every start is an item.
    const bool frontier = sw.recursive && options.run_mode == "fast" && tables != nullptr &&
                          tables->survivor_count > 0 &&
                          (range.begin.hi != 0 || range.begin.lo > tables->max_threshold);
    const std::uint64_t blocks = frontier ? max_items / tables->survivor_count : max_items >> k;
    const std::uint64_t span = std::max<std::uint64_t>(blocks, 1) << k;
    const bool u64_range = range.begin.hi == 0 && !range.end_is_2_128 && range.end.hi == 0;
    std::uint64_t offset = 0;
    do {
        // The first part ends at the first multiple of span past begin's block.
        const std::uint64_t lead = offset == 0 ? (range.begin.lo & (block - 1)) : 0;
        const std::uint64_t count = std::min(span - lead, n - offset);
        LaunchPlan plan = plan_launch(sub_range(range, offset, count), count, options, tables);
        plan.u64_range = u64_range;
        launch(plan);
        offset += count;
    } while (offset < n);
}

}  // namespace pelorin
