// The device table cache: one upload per (device, width) per process.
#include <cuda_runtime.h>

#include <map>
#include <mutex>
#include <utility>

#include "gpu/cuda_backend.hpp"
#include "gpu/recursive_tables.hpp"

namespace pelorin {
namespace {

// Frees a fresh device allocation unless it was handed to the cache.
struct PendingUpload {
    void* ptr = nullptr;
    PendingUpload() = default;
    PendingUpload(const PendingUpload&) = delete;
    PendingUpload& operator=(const PendingUpload&) = delete;
    ~PendingUpload() {
        if (ptr != nullptr) cudaFree(ptr);
    }
    void* release() { return std::exchange(ptr, nullptr); }
};

}  // namespace

RecursiveTables recursive_tables(unsigned k) {
    static std::mutex mutex;
    static std::map<std::pair<int, unsigned>, RecursiveTables> cache;  // (device, k); never shrinks
    const std::lock_guard lock(mutex);
    int device = 0;
    cuda_check(cudaGetDevice(&device), "cudaGetDevice");
    if (const auto it = cache.find({device, k}); it != cache.end()) return it->second;

    HostDescentTables host = describe_descent_table(build_descent_table(k));
    PendingUpload table, survivors;
    cuda_check(cudaMalloc(&table.ptr, host.table.size() * sizeof(std::uint64_t)), "cudaMalloc");
    cuda_check(cudaMemcpy(table.ptr, host.table.data(), host.table.size() * sizeof(std::uint64_t),
                          cudaMemcpyHostToDevice),
               "copy recursive proof table");
    cuda_check(cudaMalloc(&survivors.ptr, host.survivors.size() * sizeof(std::uint64_t)), "cudaMalloc");
    cuda_check(cudaMemcpy(survivors.ptr, host.survivors.data(), host.survivors.size() * sizeof(std::uint64_t),
                          cudaMemcpyHostToDevice),
               "copy recursive survivor residues");
    RecursiveTables value;
    value.survivor_count = host.survivors.size();
    value.max_threshold = host.max_threshold;
    value.proof_hash = std::move(host.proof_hash);
    value.table = static_cast<const std::uint64_t*>(table.release());
    value.survivors = static_cast<const std::uint64_t*>(survivors.release());
    return cache.emplace(std::pair{device, k}, std::move(value)).first->second;
}

}  // namespace pelorin
