#pragma once
// The lease cycle: lease a unit, resume it from its checkpoint, verify it chunk by chunk with
// a checkpoint after each, keep the lease alive, complete it; until a stop or the campaign's end.
#include <chrono>
#include <cstdint>
#include <stop_token>
#include <string>

#include "engine/select_backend.hpp"
#include "worker/front_end.hpp"

namespace pelorin {

struct LeaseCycleTiming {
    // A heartbeat is due when this much time has passed since the last one.
    std::chrono::nanoseconds heartbeat_interval = std::chrono::seconds(20);
    // How often a paused worker looks at its flags again.
    std::chrono::nanoseconds pause_poll = std::chrono::milliseconds(100);
};

// Starts per chunk: about 0.75 s of work at the measured rate, within [2^20, 2^34].
std::uint64_t chunk_size_for(double starts_per_second);

// Share of time spent working for a profile index: 0.85, 1.0, or 0.5 for any other index.
double duty_cycle(int profile);

// Returns on a stop request or when the coordinator reports the campaign complete; every
// failure propagates.
void run_lease_cycle(std::stop_token stop, FrontEnd& front_end, const std::string& token,
                     const BackendChoice& choice, std::uint64_t& units_completed,
                     const LeaseCycleTiming& timing = {});

}  // namespace pelorin
