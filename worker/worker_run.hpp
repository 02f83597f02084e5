#pragma once
// The body of the one worker thread: fingerprints, identity, backend selection, connection
// check, registration, benchmark report, then the lease cycle.
#include <cstdint>
#include <stop_token>
#include <string>

#include "coordinator/identity.hpp"
#include "engine/select_backend.hpp"
#include "worker/front_end.hpp"
#include "worker/lease_cycle.hpp"
#include "worker/retry.hpp"

namespace pelorin {

// As the window runs it: any failure ends the run with the STOPPED text and clears
// `running`; nothing escapes and nothing is retried.
void worker_run(std::stop_token stop, FrontEnd& front_end, const LeaseCycleTiming& timing = {});

enum class RunEnd { complete, stopped, failed };

// As a service runs it: a failure that waiting can fix (waiting_can_help) is shown with the
// time of the next try, waited out (a stop ends the wait at once) and followed by a new
// connection check, registration if still needed, benchmark report and lease cycle, with the
// identity, backend choice and checkpoint of before. A refused token (401) is mended once by
// registering again. Any other failure ends the run as in worker_run, with a line on what to
// do. The bearer token never appears in a text.
RunEnd worker_run_with_retry(std::stop_token stop, FrontEnd& front_end, const LeaseCycleTiming& timing,
                             const RetryTiming& retry);

// What start-up establishes before the first exchange with the coordinator.
struct RunStart {
    std::string build_hash;
    std::string hardware_hash;
    WorkerIdentity identity;
    BackendChoice choice;
};

// Fingerprints, identity and backend selection; posts the texts of selection.
RunStart start_run(std::stop_token stop, FrontEnd& front_end);

// Connection check, registration when the identity has no token (the identity is updated),
// benchmark report, lease cycle. Returns when the lease cycle does. `again`: a fault was waited
// out before, so the text after the connection check says what comes next.
void serve_coordinator(std::stop_token stop, FrontEnd& front_end, RunStart& start, CycleState& cycle,
                       const LeaseCycleTiming& timing, bool again = false);

}  // namespace pelorin
