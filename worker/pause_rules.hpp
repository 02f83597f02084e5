#pragma once
// When work waits: the user's pause, and the two opt-in pauses for the computer's owner, on
// battery power and while the computer is in use. Decided between chunks from the readings.
#include <atomic>
#include <chrono>
#include <string>

#include "worker/machine_readings.hpp"

namespace pelorin {

// "No input for a set time": the default of "Pause while the computer is in use".
inline constexpr std::chrono::minutes kDefaultInUseMinutes{3};

struct PauseSettings {
    bool on_battery = false;
    bool while_in_use = false;
    // The computer is in use until it has had no input for this long.
    std::chrono::milliseconds in_use_limit = kDefaultInUseMinutes;
};

// The settings as the front end's controls change them during a run (the tray menu, the
// command line); the worker reads them between chunks.
struct PauseControls {
    std::atomic<bool> on_battery{false};
    std::atomic<bool> while_in_use{false};
    std::atomic<std::chrono::milliseconds::rep> in_use_limit_ms{
        std::chrono::milliseconds(kDefaultInUseMinutes).count()};

    PauseSettings load() const {
        return PauseSettings{on_battery.load(), while_in_use.load(), std::chrono::milliseconds(in_use_limit_ms.load())};
    }
};

enum class PauseReason { none, user, on_battery, in_use };

// Why work waits now, if it does. The user's pause wins over both options; on battery power
// is named before use, since plugging in is the one the user can act on at once.
PauseReason pause_reason(bool user_paused, const PauseSettings& settings, PowerSource power,
                         std::chrono::milliseconds idle_for);

}  // namespace pelorin
