#include "worker/machine_watch.hpp"

#include "worker/status_text.hpp"

namespace pelorin {

MachineWatch::MachineWatch(MachineReadings& readings, const PauseControls& controls,
                           std::function<void(std::string)> say, std::chrono::nanoseconds interval)
    : readings_(readings), controls_(controls), say_(std::move(say)), interval_(interval) {}

PauseReason MachineWatch::reason(bool user_paused) {
    if (user_paused) return PauseReason::user;
    const PauseSettings settings = controls_.load();
    const auto now = Clock::now();
    // Nothing is read for an option that is off: a worker nobody configured behaves as before.
    const PowerSource source = settings.on_battery ? power(now) : PowerSource::mains;
    const auto idle = settings.while_in_use ? idle_for(now) : kIdleForever;
    return pause_reason(false, settings, source, idle);
}

PowerSource MachineWatch::power(Clock::time_point now) {
    if (power_taken_ && now - *power_taken_ < interval_) return power_;
    const PowerReading reading = readings_.power();
    power_taken_ = now;
    power_ = reading.source;
    if (!reading.unreadable.empty() && !power_unreadable_said_) say_(power_unreadable_text(reading.unreadable));
    power_unreadable_said_ = !reading.unreadable.empty();
    return power_;
}

std::chrono::milliseconds MachineWatch::idle_for(Clock::time_point now) {
    if (!idle_taken_ || now - *idle_taken_ >= interval_) {
        const IdleReading reading = readings_.idle();
        idle_taken_ = now;
        idle_ = reading.idle_for;
        if (!reading.unreadable.empty() && !idle_unreadable_said_) say_(idle_unreadable_text(reading.unreadable));
        idle_unreadable_said_ = !reading.unreadable.empty();
        return idle_;
    }
    // Between readings the computer has stayed idle for as long as is known.
    const auto since = std::chrono::duration_cast<std::chrono::milliseconds>(now - *idle_taken_);
    return idle_ > kIdleForever - since ? kIdleForever : idle_ + since;
}

}  // namespace pelorin
