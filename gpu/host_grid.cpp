#include "gpu/host_grid.hpp"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>
#include <vector>

#include "gpu/launch_plan.hpp"
#include "gpu/record_mapping.hpp"

namespace pelorin {

void run_grid_on_host(const KernelArgs& a, unsigned blocks, unsigned block_size) {
    check_block_size(block_size);
    if (blocks == 0) throw std::invalid_argument("a grid needs at least one block");
    auto shared = std::make_unique<BlockCounters>();
    const std::uint64_t stride = std::uint64_t{block_size} * blocks;
    for (unsigned b = 0; b < blocks; ++b) {
        for (unsigned t = 0; t < block_size; ++t) {
            ThreadCounters c;
            run_thread(a, std::uint64_t{b} * block_size + t, stride, c);
            store_counters(*shared, t, c);
        }
        for (unsigned s = block_size / 2; s > 0; s /= 2)
            for (unsigned t = 0; t < s; ++t) reduce_pass(*shared, t, s);
        publish_block(*shared, a.aggregate);
    }
}

const HostDescentTables& host_descent_tables(unsigned k) {
    static std::mutex mutex;
    static std::map<unsigned, std::unique_ptr<const HostDescentTables>> cache;
    const std::lock_guard lock(mutex);
    auto& slot = cache[k];
    if (!slot) slot = std::make_unique<const HostDescentTables>(describe_descent_table(build_descent_table(k)));
    return *slot;
}

UnitResult verify_range_on_host(const UnitRange& range, const BackendOptions& options, unsigned blocks,
                                std::uint64_t overflow_capacity, std::uint64_t max_launch_items) {
    UnitResult r = start_gpu_record(range, options);
    const std::uint64_t n = unit_size(range);
    check_block_size(options.block_size);
    RecursiveTables tables;
    if (gpu_switches(options.name).recursive) tables = host_descent_tables(sieve_width(options.sieve_bits)).view();
    // calloc maps zero pages lazily: a 50 MB queue costs nothing until entries are written.
    const std::unique_ptr<OverflowState, decltype(&std::free)> queue(
        static_cast<OverflowState*>(std::calloc(overflow_capacity, sizeof(OverflowState))), &std::free);
    if (!queue) throw std::bad_alloc();
    for_each_launch(range, n, options, &tables, max_launch_items, [&](const LaunchPlan& part) {
        LaunchPlan plan = part;
        GpuAggregate aggregate;
        plan.args.aggregate = &aggregate;
        plan.args.queue = queue.get();
        plan.args.overflow_capacity = overflow_capacity;
        run_grid_on_host(plan.args, blocks, options.block_size);
        const std::uint64_t m = std::min(aggregate.queued, overflow_capacity);
        fill_record(r, aggregate, std::span<const OverflowState>(queue.get(), m), plan);
    });
    return r;
}

}  // namespace pelorin
