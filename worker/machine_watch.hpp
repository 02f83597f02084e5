#pragma once
// The readings behind the opt-in pauses, taken between chunks at a modest cadence: only those
// an option needs, at most once per interval, and a reading that cannot be taken counts as
// mains power or an idle computer, said in one line until it can be read again.
#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "worker/machine_readings.hpp"
#include "worker/pause_rules.hpp"

namespace pelorin {

class MachineWatch {
public:
    using Clock = std::chrono::steady_clock;

    // `say` shows a line (the front end's status sink); `interval`: how old a reading may be.
    MachineWatch(MachineReadings& readings, const PauseControls& controls, std::function<void(std::string)> say,
                 std::chrono::nanoseconds interval);

    // Why work waits now, if it does (pause_reason on the current settings and readings).
    PauseReason reason(bool user_paused);

private:
    PowerSource power(Clock::time_point now);
    std::chrono::milliseconds idle_for(Clock::time_point now);

    MachineReadings& readings_;
    const PauseControls& controls_;
    std::function<void(std::string)> say_;
    std::chrono::nanoseconds interval_;
    std::optional<Clock::time_point> power_taken_, idle_taken_;
    PowerSource power_ = PowerSource::mains;
    std::chrono::milliseconds idle_ = kIdleForever;
    bool power_unreadable_said_ = false;
    bool idle_unreadable_said_ = false;
};

}  // namespace pelorin
