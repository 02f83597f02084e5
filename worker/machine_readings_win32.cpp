#include <windows.h>

#include "coordinator/windows_text.hpp"
#include "worker/machine_readings.hpp"

namespace pelorin {
namespace {

class WindowsReadings final : public MachineReadings {
public:
    PowerReading power() override {
        SYSTEM_POWER_STATUS status{};
        if (!GetSystemPowerStatus(&status))
            return PowerReading{PowerSource::mains, "GetSystemPowerStatus: " + windows_error_text(GetLastError())};
        // 128: no system battery; 255: the battery's state is unknown.
        if (status.BatteryFlag != 255 && (status.BatteryFlag & 128) != 0) return PowerReading{PowerSource::no_battery, {}};
        switch (status.ACLineStatus) {
            case 0: return PowerReading{PowerSource::battery, {}};
            case 1: return PowerReading{PowerSource::mains, {}};
            default: return PowerReading{PowerSource::mains, "the system does not know its power source"};
        }
    }

    IdleReading idle() override {
        LASTINPUTINFO last{sizeof(last), 0};
        if (!GetLastInputInfo(&last))
            return IdleReading{kIdleForever, "GetLastInputInfo: " + windows_error_text(GetLastError())};
        // Both are 32-bit tick counts: the difference is right across their wrap every 49.7 days.
        return IdleReading{std::chrono::milliseconds(static_cast<DWORD>(GetTickCount() - last.dwTime)), {}};
    }
};

}  // namespace

std::unique_ptr<MachineReadings> platform_machine_readings() { return std::make_unique<WindowsReadings>(); }

}  // namespace pelorin
