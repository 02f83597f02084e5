#include "worker/pause_rules.hpp"

namespace pelorin {

PauseReason pause_reason(bool user_paused, const PauseSettings& settings, PowerSource power,
                         std::chrono::milliseconds idle_for) {
    if (user_paused) return PauseReason::user;
    if (settings.on_battery && power == PowerSource::battery) return PauseReason::on_battery;
    if (settings.while_in_use && idle_for < settings.in_use_limit) return PauseReason::in_use;
    return PauseReason::none;
}

}  // namespace pelorin
