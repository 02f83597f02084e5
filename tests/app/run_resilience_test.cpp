// A worker left running for weeks: killed at random moments, put to sleep past its lease,
// stopped in the middle of a proof-of-work search. Real processes and real signals against the
// real development coordinator.
#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <random>
#include <regex>
#include <thread>

#include "coordinator/json_text.hpp"
#include "scoped_env.hpp"
#include "tests/app/worker_process.hpp"

namespace pelorin {
namespace {

using namespace std::chrono_literals;
using test::WorkerProcess;
using test_support::DevCoordinatorProcess;

std::uint64_t checkpoint_offset(const std::filesystem::path& data_base) {
    const auto file = data_base / "PelorinWorker" / "checkpoint.json";
    if (!std::filesystem::exists(file)) return 0;
    return json_u64_field(test::read_file(file), "offset", 0);
}

// PELORIN_SOAK_SEED repeats a run; otherwise a fresh seed, printed so a failure can be replayed.
std::uint64_t soak_seed() {
    if (const char* text = std::getenv("PELORIN_SOAK_SEED")) return std::strtoull(text, nullptr, 10);
    return std::random_device{}();
}

TEST(RunResilience, KilledAtRandomMomentsLosesNothing) {
    const std::uint64_t seed = soak_seed();
    std::cout << "soak seed " << seed << " (set PELORIN_SOAK_SEED to repeat it)\n";
    SCOPED_TRACE("PELORIN_SOAK_SEED=" + std::to_string(seed));
    std::mt19937_64 random(seed);

    // Eight units of 2^33 starts. A chunk is about 0.75 s of work and a run lives at most 0.8 s
    // past the first run's start-up, so the kills leave most of the campaign for the last run
    // (on this 2-core machine 22 runs finish two or three units).
    DevCoordinatorProcess coordinator({"--difficulty-bits", "8", "--begin", "2^40", "--end", "1168231104512",
                                       "--unit-size", "2^33"});
    test::TempDir data;
    const auto args = test::run_args(coordinator, {"--heartbeat-seconds", "0.2"});
    // The first run registers; it is killed once work has begun. Its start-up time sets the
    // span the later kills are spread over: start-up, selection, exchanges, and 0.8 s of
    // work (chunks, checkpoint writes, heartbeats, completions of resumed units) all get their
    // share.
    const auto started = std::chrono::steady_clock::now();
    {
        WorkerProcess first(args, {data.path(), coordinator.ca_file()});
        ASSERT_TRUE(first.wait_for_output("WORKING")) << first.output();
        first.signal(SIGKILL);
        first.wait();
    }
    const auto to_work = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::uniform_real_distribution<double> moment(0.0, to_work + 0.8);
    int kills = 0;
    for (; kills < 22; ++kills) {
        WorkerProcess worker(args, {data.path(), coordinator.ca_file()});
        const double at = moment(random);
        std::this_thread::sleep_for(std::chrono::duration<double>(at));
        if (!worker.running()) {
            // The campaign ended before the kill; nothing more to interrupt.
            ASSERT_EQ(worker.wait(), 0) << worker.output();
            break;
        }
        worker.signal(SIGKILL);
        EXPECT_EQ(worker.wait(), 128 + SIGKILL);
    }
    const auto leases = test::lease_states(coordinator);
    std::cout << std::count_if(leases.begin(), leases.end(), [](const std::string& l) { return l.ends_with(" completed"); })
              << " of 8 units done before the last run\n";
    WorkerProcess last(args, {data.path(), coordinator.ca_file()});
    ASSERT_EQ(last.wait(), 0) << last.output();
    EXPECT_TRUE(last.output().ends_with("Campaign allocation is complete.\n")) << last.output();
    std::cout << kills << " kills\n";
    EXPECT_GE(kills, 20) << "the campaign ended too soon for the kills it should take";
    EXPECT_EQ(test::campaign_difference(coordinator), "");
    EXPECT_EQ(test::count_requests(coordinator, "POST", "/api/v1/workers/register"), 1);
}

TEST(RunResilience, SleepPastTheLeaseTimeoutResumesFromTheCheckpoint) {
    // A lease lives 4 s without a heartbeat: far longer than a chunk, even on a loaded machine.
    // A chunk is 0.75 s of work at the benchmarked rate, which a fast engine makes larger than a
    // unit of 2^32: a unit of 2^34 at half speed (the quiet profile) leaves chunks to do after
    // the first checkpoint. The coordinator checks the result's structure only, so its reply
    // comes within the worker's reply time-out.
    DevCoordinatorProcess coordinator({"--difficulty-bits", "8", "--begin", "2^40", "--end", "1116691496960",
                                       "--unit-size", "2^34", "--lease-timeout", "4", "--recompute-budget", "0"});
    test::TempDir data;
    WorkerProcess worker(test::run_args(coordinator, {"--heartbeat-seconds", "0.2", "--profile", "quiet"}),
                         {data.path(), coordinator.ca_file()});
    const auto until = std::chrono::steady_clock::now() + 180s;
    while (checkpoint_offset(data.path()) == 0 && worker.running() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(10ms);
    const std::string lease_before = test::active_lease_id(coordinator);
    worker.signal(SIGSTOP);  // the laptop's lid closes
    const std::uint64_t offset = checkpoint_offset(data.path());
    ASSERT_GT(offset, 0u) << worker.output();
    std::this_thread::sleep_for(6s);
    worker.signal(SIGCONT);
    ASSERT_EQ(worker.wait(), 0) << worker.output();

    const std::string out = worker.output();
    EXPECT_NE(out.find("WAITING TO RETRY | Coordinator error 409: {\"error\":\"lease " + lease_before + " expired\"}"),
              std::string::npos)
        << out;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(out, m, std::regex(R"(Resuming checkpoint at ([0-9]+)%)"))) << out;
    EXPECT_GE(std::stoull(m[1]), offset * 100 / 17179869184u) << out;
    EXPECT_GT(std::stoull(m[1]), 0u) << out;
    // The unit went out again: the lease that expired, then a new one under which it completed.
    const auto leases = test::lease_states(coordinator);
    ASSERT_GE(leases.size(), 2u) << coordinator.ledger_json();
    EXPECT_EQ(leases.front(), lease_before + " expired");
    EXPECT_TRUE(leases.back().ends_with(" completed")) << leases.back();
    EXPECT_EQ(test::campaign_difference(coordinator), "");
}

TEST(RunResilience, AStopEndsAProofOfWorkSearchAtOnce) {
    DevCoordinatorProcess coordinator({"--difficulty-bits", "8"});
    test::TempDir data;
    // 64 leading zero bits: a search no computer finishes.
    coordinator.post_fault(
        R"({"path":"/api/v1/register/challenge","action":"malformed","member":"difficulty_bits","value":"64"})");
    WorkerProcess worker(test::run_args(coordinator), {data.path(), coordinator.ca_file()});
    ASSERT_TRUE(worker.wait_for_output("Solving short anti-abuse challenge.")) << worker.output();
    worker.signal(SIGTERM);
    EXPECT_EQ(worker.wait(20s), 0) << worker.output();
    EXPECT_TRUE(worker.output().ends_with("Stopped; no unit in progress.\n")) << worker.output();
}

}  // namespace
}  // namespace pelorin
