// The campaign server under faults: instances of pelorin-coordinator on one database, a few
// hundred simulated workers of every behaviour from pelorin-loadgen, an instance killed with
// SIGKILL and started again, the PostgreSQL server restarted (fast shutdown, then start); then
// the independent check of load_checks.hpp over `export --json` and the load tool's records.
// One row per set-up: two instances on PostgreSQL, one instance on SQLite.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <future>
#include <thread>

#include "tests/server/load_checks.hpp"
#include "tests/support/coordinator_process.hpp"
#include "tests/support/postgres_cluster.hpp"
#include "tests/support/program_run.hpp"

namespace pelorin::server::test {
namespace {

using namespace std::chrono_literals;
using pelorin::test_support::CommandResult;
using pelorin::test_support::CoordinatorProcess;
using pelorin::test_support::PostgresCluster;
using Clock = std::chrono::steady_clock;

// The campaign and the simulated world: units of 2^12 starts; a heartbeat every second and a
// unit worked on for 3 s (the worker's 20 s and 60 s at a time scale of 1/20); leases that run
// out after 6 s without one, which leaves room for replies seconds late on a loaded machine under
// the sanitizers (a heartbeat later than the lease time-out would lose every lease). Every
// result is copied by a second worker (no recomputation), so a wrong record is out-voted
// rather than caught by its checksums; each simulated worker sends from a loopback network of
// its own, so any two may copy each other.
constexpr std::uint64_t kUnits = 120;
constexpr std::uint64_t kUnitSize = 4096;
constexpr int kWorkers = 100;
constexpr int kLeaseTimeoutSeconds = 6;
const std::vector<std::string> kServeFlags = {
    "--lease-timeout", std::to_string(kLeaseTimeoutSeconds), "--difficulty-bits", "4", "--recompute-budget", "0",
    "--new-worker-results",
    "0",               "--replication-share",   "1",        "--fast-result-slack", "0",  "--set-aside-after",
    "1000",            "--register-rate",       "0",        "--worker-rate",      "0",   "--connection-deadline",
    "0"};
// The load tool stops by itself after 110 s; a run takes some 30 s on an idle machine.
// When the faults come, counted from the load tool's start: the campaign takes well over the
// last of them even on an idle machine.
constexpr auto kKillAt = 4s;
constexpr auto kRestartAt = 7s;
constexpr auto kDatabaseRestartAt = 11s;
constexpr auto kSampleEvery = 250ms;

struct FaultSetUp {
    std::string name;
    bool postgresql = false;
    int instances = 1;
};

void PrintTo(const FaultSetUp& s, std::ostream* out) { *out << s.name; }

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> out;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t eol = text.find('\n', at);
        out.push_back(text.substr(at, eol - at));
        if (eol == std::string::npos) break;
        at = eol + 1;
    }
    return out;
}

class FaultTest : public ::testing::TestWithParam<FaultSetUp> {};

TEST_P(FaultTest, NothingIsLostOrCountedTwiceWhenAnInstanceOrTheDatabaseFails) {
    const FaultSetUp& setup = GetParam();
    // Its own PostgreSQL server: this test restarts it.
    std::unique_ptr<PostgresCluster> cluster;
    std::vector<std::string> database;
    if (setup.postgresql) {
        cluster = std::make_unique<PostgresCluster>();
        database = {"--database", cluster->url()};
    }
    std::vector<std::unique_ptr<CoordinatorProcess>> instances;
    for (int i = 0; i < setup.instances; ++i) instances.push_back(std::make_unique<CoordinatorProcess>());
    CoordinatorProcess& first = *instances.front();
    const auto command = [&](std::vector<std::string> args) {
        args.insert(args.begin(), database.begin(), database.end());
        return first.command(args);
    };
    const CommandResult added = command({"campaign", "add", "--name", "faults", "--begin", "0", "--end",
                                         std::to_string(kUnits * kUnitSize), "--unit-size", std::to_string(kUnitSize)});
    ASSERT_EQ(added.status, 0) << added.err;

    // The load tool trusts every instance's authority, as workers trust the load balancer's.
    const std::filesystem::path bundle = first.folder() / "authorities.pem";
    {
        std::ofstream out(bundle);
        for (const auto& c : instances) out << std::ifstream(c->ca_file()).rdbuf();
    }
    std::vector<std::string> flags = kServeFlags;
    flags.insert(flags.end(), database.begin(), database.end());
    std::vector<std::string> load = {PELORIN_LOADGEN_BINARY, "--ca-file", bundle.string()};
    for (const auto& c : instances) {
        c->serve(flags);
        load.insert(load.end(), {"--server", "127.0.0.1:" + std::to_string(c->port())});
    }
    const std::filesystem::path records = first.folder() / "records.jsonl";
    load.insert(load.end(), {"--workers", std::to_string(kWorkers), "--mix",
                             "honest=0.6,wrong=0.1,vanishing=0.05,duplicate=0.15,slow=0.1", "--heartbeat", "20",
                             "--work", "60", "--time-scale", "0.05", "--lease-timeout",
                             std::to_string(kLeaseTimeoutSeconds), "--ramp", "2", "--duration", "110", "--seed", "17",
                             "--records", records.string(), "--loopback-networks"});

    const Clock::time_point began = Clock::now();
    std::future<CommandResult> run = std::async(std::launch::async, [&] {
        return pelorin::test_support::run_program(load, first.folder() / "load.out", first.folder() / "load.err");
    });
    std::vector<std::string> validated_below;
    const auto sample = [&] {
        const CommandResult s = command({"status", "--json"});
        if (s.status != 0) return;  // the database is down this moment
        validated_below.push_back(
            nlohmann::json::parse(s.out).at("campaigns").at(0).at("validated_below").get<std::string>());
    };
    const int killed_port = first.port();
    bool killed = false, restarted = false, database_restarted = !setup.postgresql;
    while (run.wait_for(kSampleEvery) != std::future_status::ready) {
        const auto at = Clock::now() - began;
        if (!killed && at >= kKillAt) {
            first.stop(SIGKILL);
            killed = true;
        } else if (killed && !restarted && at >= kRestartAt) {
            first.serve(flags, killed_port);
            restarted = true;
        } else if (restarted && !database_restarted && at >= kDatabaseRestartAt) {
            cluster->stop();
            cluster->start();
            database_restarted = true;
        }
        sample();
    }
    const CommandResult outcome = run.get();
    sample();
    ASSERT_EQ(outcome.status, 0) << outcome.out << outcome.err;
    EXPECT_TRUE(killed && restarted && database_restarted) << "the campaign ended before the faults: " << outcome.out;
    EXPECT_EQ(outcome.out.find("time up"), std::string::npos) << "the load tool did not finish:\n" << outcome.out;

    LoadCheckInput input;
    input.end = kUnits * kUnitSize;
    input.unit_size = kUnitSize;
    input.lease_timeout_ms = kLeaseTimeoutSeconds * 1000;
    const CommandResult exported = command({"export", "--json"});
    ASSERT_EQ(exported.status, 0) << exported.err;
    for (const std::string& line : lines_of(exported.out)) input.exported.push_back(exported_unit_of(line));
    std::ifstream in(records);
    std::size_t no_reply = 0, unavailable = 0;
    for (std::string line; std::getline(in, line);) {
        input.records.push_back(load_record_of(line));
        no_reply += input.records.back().status == 0;
        unavailable += input.records.back().status == 503 &&
                       input.records.back().reply.find("cannot serve this now") != std::string::npos;
    }
    input.validated_below = validated_below;
    const std::vector<std::string> violations = check_load_run(input);
    for (const std::string& v : violations) ADD_FAILURE() << v;
    // Every instance's public page reads the same campaign from the database: each validated
    // unit counted once in the hours, by whoever serves the page.
    for (const auto& c : instances) {
        const auto activity = c->call("GET", "/api/v1/stats/campaign?campaign=faults");
        ASSERT_EQ(activity.status, 200) << activity.body;
        const nlohmann::json a = nlohmann::json::parse(activity.body);
        std::int64_t units = 0;
        for (const auto& h : a.at("hours")) units += h.at("units_validated").get<std::int64_t>();
        EXPECT_EQ(units, static_cast<std::int64_t>(input.exported.size())) << activity.body;
        EXPECT_EQ(a.at("latest_units").size(), std::min<std::size_t>(10, input.exported.size())) << activity.body;
        EXPECT_FALSE(a.at("top_workers").empty()) << activity.body;
        const auto watch = c->call("GET", "/api/v1/stats/operator");
        EXPECT_EQ(watch.status, 200) << watch.body;
    }
    // The faults were felt: requests to the killed instance went unanswered, and with the
    // database down the instances answered 503.
    EXPECT_GT(no_reply, 0u);
    if (setup.postgresql) {
        EXPECT_GT(unavailable, 0u);
    }
    std::cout << setup.name << ": " << input.records.size() << " requests, " << no_reply << " unanswered, "
              << unavailable << " answered 503 for the database, " << validated_below.size() << " status samples, "
              << std::chrono::duration<double>(Clock::now() - began).count() << " s\n"
              << outcome.out;
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultTest,
                         ::testing::Values(FaultSetUp{"postgresql_two_instances", true, 2},
                                           FaultSetUp{"sqlite_one_instance", false, 1}),
                         [](const ::testing::TestParamInfo<FaultSetUp>& info) { return info.param.name; });

}  // namespace
}  // namespace pelorin::server::test
