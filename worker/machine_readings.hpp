#pragma once
// What the computer says about itself that decides whether work may run now: its power
// source and how long it has gone without input. One source per platform; tests feed their own.
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

namespace pelorin {

enum class PowerSource {
    mains,       // an external supply is connected
    battery,     // a battery of the computer's own feeds it
    no_battery,  // a computer without a battery of its own: never on battery power
};

struct PowerReading {
    PowerSource source = PowerSource::no_battery;
    // Why the power source could not be read (then `source` is mains); empty when it was.
    std::string unreadable;
};

// Idle for as long as any duration: a computer nobody is signed in to.
inline constexpr std::chrono::milliseconds kIdleForever = std::chrono::milliseconds::max();

struct IdleReading {
    std::chrono::milliseconds idle_for = kIdleForever;  // time since the last input
    // Why it could not be read (then `idle_for` is kIdleForever); empty when it was.
    std::string unreadable;
};

class MachineReadings {
public:
    virtual ~MachineReadings() = default;
    // Both are called from the worker thread only, and never throw.
    virtual PowerReading power() = 0;
    virtual IdleReading idle() = 0;
};

// The platform's own readings. Windows: GetSystemPowerStatus and GetLastInputInfo. Linux: the
// supplies under /sys/class/power_supply (or the folder PELORIN_POWER_SUPPLY_DIR names) and
// systemd-logind's IdleHint over the system bus.
std::unique_ptr<MachineReadings> platform_machine_readings();

#ifndef _WIN32
// Linux: the power source that a folder laid out as /sys/class/power_supply shows. An external
// supply (type Mains, or USB for a USB-C charger) that is online means mains; a computer's own
// battery (scope System, or no scope) without one means battery; a peripheral's battery (scope
// Device: a mouse, a headset) counts for nothing. Where no external supply is listed at all,
// a battery that is discharging decides.
PowerReading power_from_supply_folder(const std::filesystem::path& folder);
#endif

}  // namespace pelorin
