#pragma once
// The GPU backend as the rest of the program sees it: a device probe, the device's one-line
// description, and verify_range_cuda, which verifies a range in kernel launches and returns
// the same record as the CPU dispatcher. Built without a CUDA toolkit, the probe
// reports "CUDA device unavailable" and every range comes back as an invalid record.
#include <cstdint>
#include <string>

#include "engine/backend_options.hpp"
#include "gpu/gpu_records.hpp"
#include "state/unit_result.hpp"
#include "wideint/unit_range.hpp"

namespace pelorin {

// The text of a build without the GPU backend, and of a device that cannot be described.
inline constexpr const char* kCudaUnavailableText = "CUDA device unavailable";

// True when the runtime's device count query succeeds with at least one device (reason then
// cleared). Otherwise reason gets the runtime's error text or "no CUDA device". Never throws.
bool cuda_available(std::string* reason = nullptr);

// "<name> sm_<major><minor> VRAM=<MiB>MiB driver=<version> runtime=<version>", or
// "CUDA device unavailable". Never throws.
std::string cuda_device_description();

// The range on the current device, in launches of at most 2^32 work items (one launch for any
// range a chunk of the worker holds). Without a device: an invalid record
// whose message is the runtime's reason. Throws std::invalid_argument for a block size that
// is not a power of two up to 512, std::runtime_error "<step>: <CUDA error text>" for a
// failing CUDA step, and the errors of unit_size.
UnitResult verify_range_cuda(const UnitRange& range, const BackendOptions& options);

// Blocks per launch: 8 per multiprocessor of the current device, at least 1.
unsigned grid_blocks();

// A CUDA status as its integer value (cudaError_t converts); 0 is success.
using CudaStatus = int;
// Does nothing on success; otherwise throws std::runtime_error "<step>: <CUDA error text>".
void cuda_check(CudaStatus status, const char* step);

struct OverflowFinish {
    std::uint64_t steps = 0;  // the start's whole step count
    bool wide = false;        // the arbitrary-width stage was needed
};

// Finishes a start the device queued: its odd value's 3x+1 leaves 128 bits, so the walk
// continues in U256 and, above 2^256, in BigUint, one step per map application.
OverflowFinish finish_overflowed_start(const OverflowState& entry);

}  // namespace pelorin
