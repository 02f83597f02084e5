#pragma once
// The CPU dispatcher: one range, one backend name, one result record.
#include <string>

#include "engine/backend_options.hpp"
#include "state/unit_result.hpp"
#include "wideint/unit_range.hpp"

namespace pelorin {

// Times the whole call into elapsed_seconds. Errors of unit_size and "work unit crosses
// 2^128" propagate, also when raised on a pool thread.
UnitResult verify_range(const UnitRange& range, const BackendOptions& options);

// Chunks of options.chunk_starts handed out to a pool of threads, merged in chunk order.
UnitResult verify_threaded(const UnitRange& range, const BackendOptions& options, const std::string& mode);

// True for the names that run on the pool.
bool is_threaded_backend(const std::string& name);

}  // namespace pelorin
