// Stand-in for builds without a CUDA toolkit: no device is ever found, so the "cuda-" backends
// return the no-device record and the probe says why.
#include <stdexcept>
#include <string>

#include "gpu/cuda_backend.hpp"
#include "gpu/launch_plan.hpp"
#include "gpu/recursive_tables.hpp"

namespace pelorin {

void cuda_check(CudaStatus status, const char* step) {
    if (status == 0) return;
    throw std::runtime_error(std::string(step) + ": " + kCudaUnavailableText);
}

bool cuda_available(std::string* reason) {
    if (reason != nullptr) *reason = kCudaUnavailableText;
    return false;
}

std::string cuda_device_description() { return kCudaUnavailableText; }

unsigned grid_blocks() { throw std::runtime_error(std::string("cudaGetDevice: ") + kCudaUnavailableText); }

RecursiveTables recursive_tables(unsigned) {
    throw std::runtime_error(std::string("cudaGetDevice: ") + kCudaUnavailableText);
}

UnitResult verify_range_cuda(const UnitRange& range, const BackendOptions& options) {
    UnitResult r = start_gpu_record(range, options);
    r.valid = false;
    r.message = kCudaUnavailableText;
    return r;
}

}  // namespace pelorin
