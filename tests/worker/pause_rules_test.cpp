// The decisions behind the pauses: the user's pause, on battery power and while in use, from
// power and idle readings fed to them; and how the watch takes those readings.
#include <gtest/gtest.h>

#include <thread>

#include "tests/worker/fed_readings.hpp"
#include "worker/machine_watch.hpp"
#include "worker/pause_rules.hpp"

namespace pelorin {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;

const char* name_of(PauseReason r) {
    switch (r) {
        case PauseReason::none: return "none";
        case PauseReason::user: return "user";
        case PauseReason::on_battery: return "on_battery";
        case PauseReason::in_use: return "in_use";
    }
    return "?";
}

TEST(PauseRules, TableOfCases) {
    constexpr milliseconds limit = 3min;
    struct Case {
        bool user, on_battery, while_in_use;
        PowerSource power;
        milliseconds idle;
        PauseReason want;
    };
    const auto M = PowerSource::mains, B = PowerSource::battery, N = PowerSource::no_battery;
    const auto none = PauseReason::none, user = PauseReason::user, bat = PauseReason::on_battery,
               use = PauseReason::in_use;
    const milliseconds busy = 10s, idle = 5min, just_below = limit - 1ms;
    const Case cases[] = {
        // Neither option: only the user pauses, whatever the readings.
        {false, false, false, B, busy, none},
        {true, false, false, M, idle, user},
        // On battery power.
        {false, true, false, M, busy, none},
        {false, true, false, B, busy, bat},
        {false, true, false, N, busy, none},  // no battery of its own: never on battery power
        // While in use: idle below the limit is use; at and above it the computer is free.
        {false, false, true, B, busy, use},
        {false, false, true, M, just_below, use},
        {false, false, true, M, limit, none},
        {false, false, true, M, idle, none},
        {false, false, true, M, kIdleForever, none},  // nobody signed in
        // Both options.
        {false, true, true, B, busy, bat},
        {false, true, true, B, idle, bat},
        {false, true, true, M, busy, use},
        {false, true, true, N, busy, use},
        {false, true, true, M, idle, none},
        {false, true, true, N, idle, none},
        // The user's pause wins over both.
        {true, true, true, B, busy, user},
        {true, true, true, M, idle, user},
        {true, true, false, B, idle, user},
    };
    for (const Case& c : cases) {
        const PauseSettings settings{c.on_battery, c.while_in_use, limit};
        EXPECT_EQ(pause_reason(c.user, settings, c.power, c.idle), c.want)
            << "user " << c.user << ", on battery option " << c.on_battery << ", in use option " << c.while_in_use
            << ", power " << test::name_of(c.power) << ", idle " << c.idle.count() << " ms: got "
            << name_of(pause_reason(c.user, settings, c.power, c.idle)) << ", want " << name_of(c.want);
    }
}

// The watch reads only what an option needs, at most once per interval, and says once that a
// reading could not be taken (counting it as mains power or an idle computer) until it can be.
TEST(MachineWatch, ReadsOnlyWhatIsNeededAndSaysOnceWhatCannotBeRead) {
    test::FedReadings readings;
    PauseControls controls;
    std::vector<std::string> said;
    MachineWatch watch(readings, controls, [&](std::string line) { said.push_back(std::move(line)); }, 1h);

    EXPECT_EQ(watch.reason(false), PauseReason::none);
    EXPECT_EQ(readings.power_reads + readings.idle_reads, 0) << "an option that is off reads nothing";
    EXPECT_EQ(watch.reason(true), PauseReason::user);

    controls.on_battery = true;
    readings.set(PowerReading{PowerSource::battery, {}});
    EXPECT_EQ(watch.reason(false), PauseReason::on_battery);
    readings.set(PowerReading{PowerSource::mains, {}});
    EXPECT_EQ(watch.reason(false), PauseReason::on_battery) << "a reading within the interval is kept";
    EXPECT_EQ(readings.power_reads, 1);
    EXPECT_EQ(readings.idle_reads, 0);

    test::FedReadings broken;
    broken.set(PowerReading{PowerSource::mains, "cannot read /sys/class/power_supply: No such file or directory"});
    broken.set(IdleReading{kIdleForever, "the system bus: No such file or directory"});
    PauseControls both;
    both.on_battery = true;
    both.while_in_use = true;
    said.clear();
    MachineWatch often(broken, both, [&](std::string line) { said.push_back(std::move(line)); }, 0ms);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(often.reason(false), PauseReason::none);
    EXPECT_EQ(broken.power_reads, 3);
    EXPECT_EQ(said, (std::vector<std::string>{
                        "Could not read the power source (cannot read /sys/class/power_supply: No such file or "
                        "directory); counting it as mains power.",
                        "Could not read whether the computer is in use (the system bus: No such file or directory); "
                        "counting it as idle."}));
    // Readable again, then unreadable again: said again.
    broken.set(PowerReading{PowerSource::battery, {}});
    EXPECT_EQ(often.reason(false), PauseReason::on_battery);
    broken.set(PowerReading{PowerSource::mains, "gone"});
    often.reason(false);
    ASSERT_EQ(said.size(), 3u);
    EXPECT_EQ(said.back(), "Could not read the power source (gone); counting it as mains power.");
}

// Between readings the idle time grows with the clock: a computer left alone is let go when
// the limit passes, without waiting for the next reading.
TEST(MachineWatch, IdleTimeGrowsBetweenReadings) {
    test::FedReadings readings;
    PauseControls controls;
    controls.while_in_use = true;
    controls.in_use_limit_ms = 300;
    readings.set(IdleReading{milliseconds(100), {}});
    MachineWatch watch(readings, controls, [](std::string) {}, 1h);
    EXPECT_EQ(watch.reason(false), PauseReason::in_use);
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(watch.reason(false), PauseReason::none);
    EXPECT_EQ(readings.idle_reads, 1);
}

}  // namespace
}  // namespace pelorin
