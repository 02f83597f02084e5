// `pelorin-worker.exe run --pause-on-battery` under Wine, on power supplies of the test's own
// (with_power_supply.sh mounts them where Wine's GetSystemPowerStatus reads): unplugged, the
// worker waits after its chunk with a line that says why, no chunk runs and heartbeats keep
// the lease; plugged in again, it goes on within seconds and completes the unit.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "coordinator/json_text.hpp"
#include "tests/support/windows_coordinator.hpp"
#include "worker_process_win32.hpp"

namespace pelorin {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using RunOnPower = test::WindowsCoordinator;

// Waits until the worker's output holds `text` after `from`; its position, or npos.
std::size_t wait_for_output(const test::WorkerProcess& worker, const std::string& text, std::chrono::seconds limit,
                            std::size_t from = 0) {
    const auto until = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const std::string out = worker.output();
        if (const auto at = out.find(text, from); out.size() > from && at != std::string::npos) return at;
        if (std::chrono::steady_clock::now() > until || worker.wait(0ms)) return std::string::npos;
        Sleep(20);
    }
}

void plug(const fs::path& supplies, bool mains) {
    std::ofstream(supplies / "AC" / "online", std::ios::binary) << (mains ? "1\n" : "0\n");
}

TEST_F(RunOnPower, OnBatteryPowerTheWorkerWaitsAndGoesOnOnMains) {
    const auto named = test::get_env("PELORIN_TEST_POWER_SUPPLY_DIR");
    if (!named) GTEST_SKIP() << "run through tests/app/with_power_supply.sh";
    if (*named == "unavailable") GTEST_SKIP() << "no mount namespace for power supplies of the test's own (not root)";
    const fs::path supplies = test::path_of_utf8(*named);
    const auto heartbeats = [&] {
        int n = 0;
        for (const std::string& r : requests()) n += r.find("/heartbeat\"") != std::string::npos;
        return n;
    };
    const auto offset = [&] {
        std::ifstream in(data.folder() / "checkpoint.json", std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        return json_u64_field(text, "offset", 0);
    };

    const test::WorkerProcess worker(L"run --coordinator localhost:" + std::to_wstring(port_) +
                                         L" --profile quiet --heartbeat-seconds 0.2 --pause-on-battery"
                                         L" --retry-first-seconds 0.05 --retry-longest-seconds 5",
                                     data.base() / "run.txt");
    ASSERT_NE(wait_for_output(worker, "WORKING", 240s), std::string::npos) << worker.output();
    plug(supplies, false);
    const std::size_t paused = wait_for_output(worker,
                                               "PAUSED \xC2\xB7 on battery power | Work goes on when the computer is on "
                                               "mains power again. | The unit stands at ",
                                               60s);
    ASSERT_NE(paused, std::string::npos) << worker.output();
    const std::size_t paused_end = worker.output().size();
    const std::uint64_t at = offset();
    const int before = heartbeats();
    Sleep(1500);
    EXPECT_EQ(offset(), at) << "a chunk ran on battery power";
    EXPECT_EQ(worker.output().find("WORKING", paused_end), std::string::npos) << worker.output();
    EXPECT_GE(heartbeats(), before + 3) << "heartbeats while waiting";

    plug(supplies, true);
    const auto plugged_in = std::chrono::steady_clock::now();
    EXPECT_NE(wait_for_output(worker, "RESUMED at ", 60s, paused_end), std::string::npos) << worker.output();
    EXPECT_LT(std::chrono::steady_clock::now() - plugged_in, 10s) << "work went on only after a long wait";
    EXPECT_EQ(worker.wait(5min).value_or(99), 0u) << worker.output();
    EXPECT_TRUE(worker.output().ends_with("Campaign allocation is complete.\n")) << worker.output();
}

}  // namespace
}  // namespace pelorin
