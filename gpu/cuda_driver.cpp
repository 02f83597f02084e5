// The host side of the GPU backend on the CUDA runtime: probe, description, and the launches
// of a range on the default stream with synchronous copies.
#include <cuda_runtime.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <vector>

#include "gpu/cuda_backend.hpp"
#include "gpu/launch_plan.hpp"
#include "gpu/record_mapping.hpp"
#include "gpu/recursive_tables.hpp"
#include "gpu/verify_kernel.hpp"

namespace pelorin {
namespace {

std::int64_t now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Device buffers and events live for one call; released on every path, also when a step throws.
struct DeviceBuffer {
    void* ptr = nullptr;
    DeviceBuffer() = default;
    DeviceBuffer(const DeviceBuffer&) = delete;
    DeviceBuffer& operator=(const DeviceBuffer&) = delete;
    ~DeviceBuffer() {
        if (ptr != nullptr) cudaFree(ptr);
    }
};

struct Event {
    cudaEvent_t event = nullptr;
    Event() = default;
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    ~Event() {
        if (event != nullptr) cudaEventDestroy(event);
    }
};

}  // namespace

void cuda_check(CudaStatus status, const char* step) {
    if (status == cudaSuccess) return;
    throw std::runtime_error(std::string(step) + ": " + cudaGetErrorString(static_cast<cudaError_t>(status)));
}

bool cuda_available(std::string* reason) {
    int count = 0;
    const cudaError_t status = cudaGetDeviceCount(&count);
    if (status == cudaSuccess && count > 0) {
        if (reason != nullptr) reason->clear();
        return true;
    }
    if (reason != nullptr) *reason = status != cudaSuccess ? cudaGetErrorString(status) : "no CUDA device";
    cudaGetLastError();
    return false;
}

std::string cuda_device_description() {
    int device = 0;
    cudaDeviceProp prop{};
    if (cudaGetDevice(&device) != cudaSuccess || cudaGetDeviceProperties(&prop, device) != cudaSuccess)
        return kCudaUnavailableText;
    int driver = 0, runtime = 0;
    cudaDriverGetVersion(&driver);
    cudaRuntimeGetVersion(&runtime);
    return std::string(prop.name) + " sm_" + std::to_string(prop.major) + std::to_string(prop.minor) +
           " VRAM=" + std::to_string(prop.totalGlobalMem >> 20) + "MiB" + " driver=" + std::to_string(driver) +
           " runtime=" + std::to_string(runtime);
}

unsigned grid_blocks() {
    int device = 0;
    cuda_check(cudaGetDevice(&device), "cudaGetDevice");
    cudaDeviceProp prop{};
    cuda_check(cudaGetDeviceProperties(&prop, device), "cudaGetDeviceProperties");
    return static_cast<unsigned>(std::max(static_cast<int>(kBlocksPerMultiprocessor) * prop.multiProcessorCount, 1));
}

UnitResult verify_range_cuda(const UnitRange& range, const BackendOptions& options) {
    UnitResult r = start_gpu_record(range, options);
    const std::int64_t t0 = now_ns();
    int devices = 0;
    const cudaError_t count_status = cudaGetDeviceCount(&devices);
    if (count_status != cudaSuccess || devices == 0) {
        const std::string text = count_status != cudaSuccess ? cudaGetErrorString(count_status) : "no CUDA device";
        cudaGetLastError();
        r.valid = false;
        r.message = text;
        return r;
    }
    const std::uint64_t n = unit_size(range);
    check_block_size(options.block_size);
    const GpuSwitches sw = gpu_switches(options.name);

    DeviceBuffer aggregate, queue;
    cuda_check(cudaMalloc(&aggregate.ptr, sizeof(GpuAggregate)), "cudaMalloc");
    cuda_check(cudaMalloc(&queue.ptr, kOverflowQueueBytes), "cudaMalloc");

    RecursiveTables tables;
    if (sw.recursive) tables = recursive_tables(sieve_width(options.sieve_bits));
    const unsigned blocks = grid_blocks();
    for_each_launch(range, n, options, &tables, kMaxLaunchItems, [&](const LaunchPlan& part) {
        LaunchPlan plan = part;
        plan.args.aggregate = static_cast<GpuAggregate*>(aggregate.ptr);
        plan.args.queue = static_cast<OverflowState*>(queue.ptr);
        cuda_check(cudaMemset(aggregate.ptr, 0, sizeof(GpuAggregate)), "cudaMemset");
        Event start, stop;
        cuda_check(cudaEventCreate(&start.event), "cudaEventCreate");
        cuda_check(cudaEventCreate(&stop.event), "cudaEventCreate");
        cuda_check(cudaEventRecord(start.event, 0), "cudaEventRecord");
        launch_verify_kernel(blocks, options.block_size, plan.args);
        cuda_check(cudaGetLastError(), "verify kernel launch");
        cuda_check(cudaEventRecord(stop.event, 0), "cudaEventRecord");
        cuda_check(cudaEventSynchronize(stop.event), "cudaEventSynchronize");
        float ms = 0.0f;
        cuda_check(cudaEventElapsedTime(&ms, start.event, stop.event), "cudaEventElapsedTime");
        r.kernel_seconds += ms / 1000.0;

        const std::int64_t t1 = now_ns();
        GpuAggregate a;
        cuda_check(cudaMemcpy(&a, aggregate.ptr, sizeof a, cudaMemcpyDeviceToHost), "copy aggregate");
        const std::uint64_t m = std::min(a.queued, kOverflowCapacity);
        std::vector<OverflowState> entries(m);
        if (m > 0)
            cuda_check(cudaMemcpy(entries.data(), queue.ptr, m * sizeof(OverflowState), cudaMemcpyDeviceToHost),
                       "copy overflow queue");
        r.transfer_seconds += static_cast<double>(now_ns() - t1) / 1e9;
        fill_record(r, a, entries, plan);
    });
    r.elapsed_seconds = static_cast<double>(now_ns() - t0) / 1e9;
    return r;
}

}  // namespace pelorin
