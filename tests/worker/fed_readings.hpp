#pragma once
// Power and idle readings that a test sets, for the opt-in pauses; counts how often each was
// taken. Safe to change from another thread while a worker reads them.
#include <atomic>
#include <mutex>

#include "worker/machine_readings.hpp"

namespace pelorin::test {

inline const char* name_of(PowerSource s) {
    switch (s) {
        case PowerSource::mains: return "mains";
        case PowerSource::battery: return "battery";
        case PowerSource::no_battery: return "no_battery";
    }
    return "?";
}

class FedReadings final : public MachineReadings {
public:
    PowerReading power() override {
        ++power_reads;
        std::lock_guard lock(mutex_);
        return power_;
    }
    IdleReading idle() override {
        ++idle_reads;
        std::lock_guard lock(mutex_);
        return idle_;
    }
    void set(PowerReading power) {
        std::lock_guard lock(mutex_);
        power_ = std::move(power);
    }
    void set(IdleReading idle) {
        std::lock_guard lock(mutex_);
        idle_ = std::move(idle);
    }

    std::atomic<int> power_reads{0};
    std::atomic<int> idle_reads{0};

private:
    std::mutex mutex_;
    PowerReading power_{PowerSource::mains, {}};
    IdleReading idle_{kIdleForever, {}};
};

}  // namespace pelorin::test
