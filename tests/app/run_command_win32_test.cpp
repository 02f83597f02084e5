// `pelorin-worker.exe run` from start to finish on the Windows platform layer: module path,
// processor identifier, backend selection, WinHTTP, registration into a protected
// identity.bin, leases with checkpoints, completion; then a second run with the stored
// identity. The campaign of the development coordinator is two small units.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "closed_port.hpp"
#include "coordinator/identity.hpp"
#include "tests/support/windows_coordinator.hpp"
#include "worker_process_win32.hpp"

namespace pelorin {
namespace {

namespace fs = std::filesystem;
using RunCommand = test::WindowsCoordinator;

struct Finished {
    DWORD status = 0;
    std::string output;  // standard output and standard error, with LF line ends
};

// Runs the worker with `arguments` until it ends, with a bound so a hung run fails the test
// instead of stalling it.
Finished run_worker(const std::wstring& arguments, const fs::path& output_file) {
    const test::WorkerProcess worker(arguments, output_file);
    const DWORD status = worker.wait(std::chrono::minutes(5)).value_or(99);
    return Finished{status, worker.output()};
}

std::size_t count_of(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

std::size_t registrations(const std::vector<std::string>& requests) {
    std::size_t n = 0;
    for (const std::string& r : requests) n += r.starts_with(R"({"method":"POST","path":"/api/v1/workers/register")");
    return n;
}

// Short waits after faults: a result check that outlasts the receive time-out on a loaded
// machine is waited out in a moment.
const std::wstring kShortWaits = L" --retry-first-seconds 0.05 --retry-longest-seconds 5";

TEST_F(RunCommand, WorksTheCampaignThroughThenRunsAgainOnTheStoredIdentity) {
    const std::wstring arguments = L"run --coordinator localhost:" + std::to_wstring(port_) + kShortWaits;
    // A busy coordinator on the way: the run waits as it is told (WinHTTP's Retry-After) and
    // goes on.
    post_fault(R"({"path":"/api/v1/leases/acquire","action":"status","status":503,"body":"busy","retry_after":"1"})");
    const Finished first = run_worker(arguments, data.base() / "first.txt");
    EXPECT_EQ(first.status, 0u) << first.output;
    EXPECT_TRUE(first.output.ends_with("Campaign allocation is complete.\n")) << first.output;
    EXPECT_NE(first.output.find("WAITING TO RETRY | Coordinator error 503: busy | Next try in 1.0 s, at "),
              std::string::npos)
        << first.output;
    const std::string ledger = https_request("GET", "/dev/ledger", "", "").body;
    EXPECT_EQ(count_of(ledger, R"("verdict": "accepted")"), 2u) << ledger;
    EXPECT_EQ(registrations(requests()), 1u);

    // What the run left in the data folder: its identity, protected; no checkpoint.
    const WorkerIdentity identity = load_identity();
    EXPECT_FALSE(identity.token.empty());
    EXPECT_TRUE(fs::is_regular_file(data.folder() / "identity.bin"));
    EXPECT_FALSE(fs::exists(data.folder() / "checkpoint.json"));

    const Finished second = run_worker(arguments, data.base() / "second.txt");
    EXPECT_EQ(second.status, 0u) << second.output;
    EXPECT_TRUE(second.output.ends_with("Campaign allocation is complete.\n")) << second.output;
    EXPECT_EQ(registrations(requests()), 1u) << "the stored identity was not used";
    EXPECT_EQ(load_identity().token, identity.token);
}

TEST_F(RunCommand, UnreachableCoordinatorStopsWithBothRoutesNamedWithoutRetry) {
    const test::ClosedPort closed;
    const Finished run = run_worker(L"run --no-retry --coordinator localhost:" + std::to_wstring(closed.port()),
                                    data.base() / "out.txt");
    EXPECT_EQ(run.status, 1u) << run.output;
    EXPECT_NE(run.output.find("STOPPED | Secure connection check failed. | Direct: Could not send HTTPS request to "
                              "localhost: Windows error 12029 ("),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find(" | Check Windows date/time and allow this app outbound TCP " +
                              std::to_string(closed.port()) + ". | Run it again to retry.\n"),
              std::string::npos)
        << run.output;
}

}  // namespace
}  // namespace pelorin
