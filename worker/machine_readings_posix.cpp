#include <systemd/sd-bus.h>
#include <time.h>

#include <cstring>
#include <fstream>
#include <system_error>

#include "coordinator/environment.hpp"
#include "worker/machine_readings.hpp"

namespace pelorin {
namespace {

// A call that takes longer is a bus that does not answer: it counts as unreadable, and the
// chunk loop is not held up for the bus's default of 25 s.
constexpr std::uint64_t kBusCallMicroseconds = 2'000'000;

std::string errno_text(int error) { return std::generic_category().message(error); }

// The first line of a small attribute file; absent when it cannot be read.
std::optional<std::string> attribute(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string line;
    if (!in || !std::getline(in, line)) return std::nullopt;
    return line;
}

std::filesystem::path supply_folder() {
    if (const auto dir = environment_variable("PELORIN_POWER_SUPPLY_DIR"); dir && !dir->empty()) return *dir;
    return "/sys/class/power_supply";
}

class LinuxReadings final : public MachineReadings {
public:
    ~LinuxReadings() override { close_bus(); }

    PowerReading power() override { return power_from_supply_folder(supply_folder()); }

    // The machine's idle hint as logind keeps it over all sessions: idle only when every
    // session is, and since the latest of them fell idle. No session at all: idle.
    IdleReading idle() override {
        if (bus_ == nullptr) {
            const int r = sd_bus_open_system(&bus_);
            if (r < 0) {
                bus_ = nullptr;
                return unreadable("the system bus: " + errno_text(-r));
            }
            sd_bus_set_method_call_timeout(bus_, kBusCallMicroseconds);
        }
        int hint = 0;
        std::uint64_t since_us = 0;
        sd_bus_error error = SD_BUS_ERROR_NULL;
        int r = sd_bus_get_property_trivial(bus_, kLogin, kManagerPath, kManager, "IdleHint", &error, 'b', &hint);
        if (r >= 0)
            r = sd_bus_get_property_trivial(bus_, kLogin, kManagerPath, kManager, "IdleSinceHintMonotonic", &error,
                                            't', &since_us);
        if (r < 0) {
            std::string why = "systemd-logind: ";
            why += sd_bus_error_is_set(&error) && error.message != nullptr ? error.message : errno_text(-r);
            sd_bus_error_free(&error);
            close_bus();  // the next reading connects afresh (a bus or logind restarted)
            return unreadable(why);
        }
        if (!hint) return IdleReading{std::chrono::milliseconds(0), {}};
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        const std::uint64_t now_us = static_cast<std::uint64_t>(now.tv_sec) * 1'000'000 + now.tv_nsec / 1000;
        if (since_us == 0 || since_us > now_us) return IdleReading{kIdleForever, {}};
        return IdleReading{std::chrono::milliseconds((now_us - since_us) / 1000), {}};
    }

private:
    static constexpr const char* kLogin = "org.freedesktop.login1";
    static constexpr const char* kManagerPath = "/org/freedesktop/login1";
    static constexpr const char* kManager = "org.freedesktop.login1.Manager";

    static IdleReading unreadable(std::string why) { return IdleReading{kIdleForever, std::move(why)}; }

    void close_bus() {
        if (bus_ != nullptr) bus_ = sd_bus_flush_close_unref(bus_);
    }

    sd_bus* bus_ = nullptr;
};

}  // namespace

PowerReading power_from_supply_folder(const std::filesystem::path& folder) {
    const auto unreadable = [&](const std::string& why) { return PowerReading{PowerSource::mains, why}; };
    bool external_listed = false, external_online = false, battery = false, discharging = false;
    std::error_code ec;
    std::filesystem::directory_iterator entries(folder, ec);
    if (ec) return unreadable("cannot read " + folder.string() + ": " + ec.message());
    for (; entries != std::filesystem::directory_iterator(); entries.increment(ec)) {
        const std::filesystem::path supply = entries->path();
        const auto type = attribute(supply / "type");
        if (!type) continue;  // not a supply, or one that vanished while listed
        if (*type == "Mains" || type->starts_with("USB")) {
            external_listed = true;
            const auto online = attribute(supply / "online");
            if (!online) return unreadable("cannot read " + (supply / "online").string());
            external_online = external_online || *online == "1";
        } else if (*type == "Battery") {
            // A mouse's or a headset's battery says nothing about the computer's power.
            if (const auto scope = attribute(supply / "scope"); scope && *scope != "System") continue;
            battery = true;
            discharging = discharging || attribute(supply / "status") == "Discharging";
        }
    }
    if (ec) return unreadable("cannot read " + folder.string() + ": " + ec.message());
    if (!battery) return PowerReading{PowerSource::no_battery, {}};
    if (external_listed) return PowerReading{external_online ? PowerSource::mains : PowerSource::battery, {}};
    return PowerReading{discharging ? PowerSource::battery : PowerSource::mains, {}};
}

std::unique_ptr<MachineReadings> platform_machine_readings() { return std::make_unique<LinuxReadings>(); }

}  // namespace pelorin
