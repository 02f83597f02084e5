#pragma once
// The one dispatcher the rest of the program calls: names beginning with "cuda-" run on the
// GPU backend, every other name on the CPU dispatcher.
#include "engine/backend_options.hpp"
#include "state/unit_result.hpp"
#include "wideint/unit_range.hpp"

namespace pelorin {

UnitResult run_backend(const UnitRange& range, const BackendOptions& options);

}  // namespace pelorin
