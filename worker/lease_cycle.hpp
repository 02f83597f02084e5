#pragma once
// The lease cycle: lease a unit, resume it from its checkpoint, verify it chunk by chunk with
// a checkpoint after each, keep the lease alive, complete it; until a stop or the campaign's end.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <stop_token>
#include <string>

#include "engine/select_backend.hpp"
#include "state/installation_totals.hpp"
#include "worker/front_end.hpp"
#include "worker/machine_readings.hpp"

namespace pelorin {

struct LeaseCycleTiming {
    // A heartbeat is due when this much time has passed since the last one.
    std::chrono::nanoseconds heartbeat_interval = std::chrono::seconds(20);
    // How often a paused worker looks at its flags again.
    std::chrono::nanoseconds pause_poll = std::chrono::milliseconds(100);
    // The work profile's rest after a chunk; a stop cuts it short. Tests watch it here.
    std::function<void(const std::stop_token&, std::chrono::nanoseconds)> duty_sleep;
    // How old a power or idle reading may be when the opt-in pauses are decided: work goes on
    // within about this long of mains power coming back or the computer falling idle.
    std::chrono::nanoseconds machine_poll = std::chrono::seconds(2);
    // Where those readings come from; absent: the platform's own. Tests feed their own.
    std::shared_ptr<MachineReadings> readings;
};

// A heartbeat or complete answered that the coordinator no longer knows the lease (404) or
// that it expired (409). The message is the transport's. The checkpoint stays: the unit comes
// back under a new lease and resumes from it.
class LeaseLost : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A sleep that a stop request cuts short, so closing the worker never waits out a duty cycle
// or a wait before a retry. True when the whole duration passed.
bool sleep_unless_stopped(const std::stop_token& stop, std::chrono::nanoseconds duration);

// Starts per chunk: about 0.75 s of work at the measured rate, within [2^20, 2^34].
std::uint64_t chunk_size_for(double starts_per_second);

// Share of time spent working for a profile index: 0.85, 1.0, or 0.5 for any other index.
double duty_cycle(int profile);

// The rest after a chunk that took `busy`, so that work takes the profile's share of the time.
std::chrono::nanoseconds duty_rest(int profile, std::chrono::nanoseconds busy);

// The lease this run holds, and where its unit stands (offset: the starts checkpointed).
struct HeldLease {
    std::string lease_id;
    UnitPosition unit;
};

// What a run carries from one lease cycle to the next: a service's run starts the cycle anew
// after every fault it waits out, and the lease it held then is still its own to keep.
struct CycleState {
    std::uint64_t units_completed = 0;  // units the coordinator accepted
    // This installation's totals, loaded when the run starts; each accepted unit is added and
    // saved.
    InstallationTotals totals;
    // Set when a unit is leased; cleared when it is completed or the coordinator says the
    // lease is gone. While it is set, a pause keeps the lease alive with heartbeats.
    std::optional<HeldLease> held;
};

// Returns on a stop request or when the coordinator reports the campaign complete; every
// failure propagates. Between chunks and between units work waits while the user has paused
// it, or while an opt-in pause of the front end's `pause_controls` holds (on battery power,
// the computer in use): a lease in hand is kept with heartbeats, and the status says why. A checkpoint is resumed when it is sound and its range, backend and
// proof hash are those of the lease and backend in hand, whatever lease id it was saved under:
// a unit's result never depends on the lease id, so an expired lease handed out again loses
// no work. A checkpoint that cannot be resumed is set aside with a line that says why, and the
// unit starts from 0. A unit the coordinator rejects is shown as rejected and not counted.
void run_lease_cycle(std::stop_token stop, FrontEnd& front_end, const std::string& token,
                     const BackendChoice& choice, CycleState& state, const LeaseCycleTiming& timing = {});

}  // namespace pelorin
