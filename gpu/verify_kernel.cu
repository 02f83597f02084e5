// The module cuda_backend: verify_kernel, one launch per range with a grid-stride loop. The
// per-item work and the reduction steps are the host-compilable code of kernel_item.hpp.
#include "gpu/verify_kernel.hpp"

namespace pelorin {
namespace {

__global__ void verify_kernel(U128 begin, std::uint64_t count, bool fast_steps, bool sieve, bool recursive,
                              const std::uint64_t* table, std::uint32_t k, bool per_start, bool frontier,
                              U128 frontier_base, const std::uint64_t* survivors, std::uint64_t survivor_count,
                              std::uint64_t work_items, GpuAggregate* aggregate, OverflowState* queue,
                              std::uint64_t overflow_capacity) {
    __shared__ BlockCounters block;
    const KernelArgs a{begin,         count,     fast_steps, sieve,     recursive,      table,
                       k,             per_start, frontier,   frontier_base, survivors, survivor_count,
                       work_items,    aggregate, queue,      overflow_capacity};
    ThreadCounters t;
    const std::uint64_t first = std::uint64_t{blockIdx.x} * blockDim.x + threadIdx.x;
    run_thread(a, first, std::uint64_t{blockDim.x} * gridDim.x, t);
    store_counters(block, threadIdx.x, t);
    __syncthreads();
    for (unsigned stride = blockDim.x / 2; stride > 0; stride /= 2) {
        if (threadIdx.x < stride) reduce_pass(block, threadIdx.x, stride);
        __syncthreads();
    }
    if (threadIdx.x == 0) publish_block(block, aggregate);
}

}  // namespace

void launch_verify_kernel(unsigned blocks, unsigned block_size, const KernelArgs& a) {
    verify_kernel<<<blocks, block_size, 0, 0>>>(a.begin, a.count, a.fast_steps, a.sieve, a.recursive, a.table, a.k,
                                                 a.per_start, a.frontier, a.frontier_base, a.survivors,
                                                 a.survivor_count, a.work_items, a.aggregate, a.queue,
                                                 a.overflow_capacity);
}

}  // namespace pelorin
