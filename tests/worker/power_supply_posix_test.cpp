// Linux: the power source as a folder laid out as /sys/class/power_supply shows it, on real
// folders made by the test, and through the worker's own readings with PELORIN_POWER_SUPPLY_DIR.
#include <gtest/gtest.h>

#include <map>

#include "scoped_env.hpp"
#include "tests/worker/fed_readings.hpp"
#include "worker/machine_readings.hpp"

namespace pelorin {
namespace {

namespace fs = std::filesystem;

// supply name -> attribute -> value (a line feed is added, as the kernel writes them)
using Supplies = std::map<std::string, std::map<std::string, std::string>>;

void lay_out(const fs::path& folder, const Supplies& supplies) {
    fs::create_directories(folder);
    for (const auto& [name, attributes] : supplies) {
        fs::create_directories(folder / name);
        for (const auto& [attribute, value] : attributes) test::write_file(folder / name / attribute, value + "\n");
    }
}

TEST(PowerSupplyFolder, TableOfMachines) {
    struct Case {
        const char* name;
        Supplies supplies;
        PowerSource want;
    };
    const std::map<std::string, std::string> bat_discharging = {{"type", "Battery"}, {"status", "Discharging"}},
                                             bat_charging = {{"type", "Battery"}, {"status", "Charging"}};
    const Case cases[] = {
        {"a desktop: no supply at all", {}, PowerSource::no_battery},
        {"a desktop with a mains entry", {{"AC", {{"type", "Mains"}, {"online", "1"}}}}, PowerSource::no_battery},
        {"a laptop on mains", {{"AC", {{"type", "Mains"}, {"online", "1"}}}, {"BAT0", bat_charging}}, PowerSource::mains},
        {"a laptop on battery", {{"AC", {{"type", "Mains"}, {"online", "0"}}}, {"BAT0", bat_discharging}},
         PowerSource::battery},
        {"two batteries, mains on the second adapter",
         {{"AC0", {{"type", "Mains"}, {"online", "0"}}},
          {"AC1", {{"type", "Mains"}, {"online", "1"}}},
          {"BAT0", bat_charging},
          {"BAT1", bat_charging}},
         PowerSource::mains},
        {"a USB-C charger", {{"AC", {{"type", "Mains"}, {"online", "0"}}},
                             {"ucsi-source-psy-USBC000:001", {{"type", "USB"}, {"online", "1"}}},
                             {"BAT0", bat_charging}},
         PowerSource::mains},
        {"USB-C ports with nothing plugged in", {{"ucsi-source-psy-USBC000:001", {{"type", "USB"}, {"online", "0"}}},
                                                 {"BAT0", bat_discharging}},
         PowerSource::battery},
        {"a desktop with a wireless mouse", {{"hidpp_battery_0", {{"type", "Battery"}, {"scope", "Device"},
                                                                  {"status", "Discharging"}}}},
         PowerSource::no_battery},
        {"a laptop on battery with a wireless mouse",
         {{"AC", {{"type", "Mains"}, {"online", "0"}}},
          {"BAT0", {{"type", "Battery"}, {"scope", "System"}, {"status", "Discharging"}}},
          {"hidpp_battery_0", {{"type", "Battery"}, {"scope", "Device"}}}},
         PowerSource::battery},
        {"a battery alone, discharging", {{"BAT0", bat_discharging}}, PowerSource::battery},
        {"a battery alone, charging", {{"BAT0", bat_charging}}, PowerSource::mains},
        {"an entry without a type", {{"BAT0", bat_charging}, {"AC", {{"type", "Mains"}, {"online", "1"}}},
                                     {"odd", {{"uevent", "x"}}}},
         PowerSource::mains},
    };
    for (const Case& c : cases) {
        test::TempDir dir;
        lay_out(dir.path() / "supplies", c.supplies);
        const PowerReading got = power_from_supply_folder(dir.path() / "supplies");
        EXPECT_EQ(got.source, c.want) << c.name << ": got " << test::name_of(got.source);
        EXPECT_EQ(got.unreadable, "") << c.name;
    }
}

// What cannot be read counts as mains power, with the reason.
TEST(PowerSupplyFolder, UnreadableCountsAsMains) {
    test::TempDir dir;
    PowerReading got = power_from_supply_folder(dir.path() / "absent");
    EXPECT_EQ(got.source, PowerSource::mains);
    EXPECT_EQ(got.unreadable, "cannot read " + (dir.path() / "absent").string() + ": No such file or directory");

    lay_out(dir.path() / "no-online", {{"AC", {{"type", "Mains"}}}, {"BAT0", {{"type", "Battery"}}}});
    got = power_from_supply_folder(dir.path() / "no-online");
    EXPECT_EQ(got.source, PowerSource::mains);
    EXPECT_EQ(got.unreadable, "cannot read " + (dir.path() / "no-online" / "AC" / "online").string());
}

// The worker's own readings follow PELORIN_POWER_SUPPLY_DIR, and a change of the folder.
TEST(PowerSupplyFolder, TheWorkersReadingsFollowTheNamedFolder) {
    test::TempDir dir;
    lay_out(dir.path(), {{"AC", {{"type", "Mains"}, {"online", "0"}}}, {"BAT0", {{"type", "Battery"}}}});
    test::ScopedEnv named("PELORIN_POWER_SUPPLY_DIR", dir.path().string());
    const auto readings = platform_machine_readings();
    EXPECT_EQ(readings->power().source, PowerSource::battery);
    test::write_file(dir.path() / "AC" / "online", "1\n");
    EXPECT_EQ(readings->power().source, PowerSource::mains);
}

}  // namespace
}  // namespace pelorin
