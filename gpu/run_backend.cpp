#include "gpu/run_backend.hpp"

#include "engine/verify_range.hpp"
#include "gpu/cuda_backend.hpp"

namespace pelorin {

UnitResult run_backend(const UnitRange& range, const BackendOptions& options) {
    if (options.name.starts_with("cuda-")) return verify_range_cuda(range, options);
    return verify_range(range, options);
}

}  // namespace pelorin
