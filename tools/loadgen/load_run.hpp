#pragma once
// A load run: the simulated workers, started spread over the ramp, each carried from step to
// step by one event loop (timers and the HTTPS transfers), until every worker is done or the
// run's time is up. Requests go to the servers in turn.
#include <map>
#include <string>

#include "tools/loadgen/load_options.hpp"

namespace pelorin::loadgen {

struct RunOutcome {
    std::string figures;                    // LatencyFigures::table of the measured requests
    std::map<std::string, std::size_t> endings;  // how the workers ended ("running" when the time ran out)
    double seconds = 0;                     // the whole run
    bool finished = false;                  // every worker was done before the time ran out
};

// Throws std::runtime_error when the run cannot start or its records cannot be written.
RunOutcome run_load(const LoadOptions& options);

}  // namespace pelorin::loadgen
