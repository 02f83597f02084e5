#pragma once
// The body of the one worker thread: fingerprints, identity, backend selection, connection
// check, registration, benchmark report, then the lease cycle. Any failure ends the run with
// the STOPPED text and clears `running`; nothing escapes.
#include <stop_token>

#include "worker/front_end.hpp"
#include "worker/lease_cycle.hpp"

namespace pelorin {

void worker_run(std::stop_token stop, FrontEnd& front_end, const LeaseCycleTiming& timing = {});

// The hardware text whose digest identifies this computer: the processor text (or "CPU")
// immediately followed by the GPU description.
std::string hardware_text();

}  // namespace pelorin
