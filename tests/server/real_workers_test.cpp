// Real workers complete a campaign on the real server: two `pelorin-worker run` processes,
// one killed with SIGKILL mid-unit and started again; the server as operators run it, so every
// unit of these new workers is copied by the other. Every unit ends validated once, and the
// export equals one-pass `verify` runs of the units.
#include <signal.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <set>
#include <sstream>
#include <thread>

#include "coordinator/json_text.hpp"
#include "scoped_env.hpp"
#include "tests/app/worker_process.hpp"
#include "tests/support/coordinator_process.hpp"

namespace pelorin {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

std::uint64_t checkpoint_offset(const std::filesystem::path& data_base) {
    const auto file = data_base / "PelorinWorker" / "checkpoint.json";
    if (!std::filesystem::exists(file)) return 0;
    return json_u64_field(test::read_file(file), "offset", 0);
}

TEST(RealWorkers, TwoWorkersOneKilledMidUnitCompleteACampaign) {
    test_support::CoordinatorProcess c;
    // Four units of 2^32 starts from 2^40: each a second or two of one worker's time.
    const test_support::CommandResult added =
        c.command({"campaign", "add", "--begin", "2^40", "--end", "1116691496960", "--unit-size", "2^32"});
    ASSERT_EQ(added.status, 0) << added.err;
    // Both workers run on this machine and reach the server from 127.0.0.1: networks are not
    // compared, and each reports a processor of its own, so their hardware hashes differ and
    // each may copy the other's units.
    c.serve({"--difficulty-bits", "8", "--copy-networks", "off"});
    const auto args = test::run_args(c, {"--heartbeat-seconds", "1"});
    test::TempDir data_a, data_b;
    const test::WorkerOptions options_a{data_a.path(), c.ca_file(), false, std::nullopt,
                                        {"PROCESSOR_IDENTIFIER=test processor a"}};
    const test::WorkerOptions options_b{data_b.path(), c.ca_file(), false, std::nullopt,
                                        {"PROCESSOR_IDENTIFIER=test processor b"}};

    auto a = std::make_unique<test::WorkerProcess>(args, options_a);
    test::WorkerProcess b(args, options_b);
    // Killed once its first checkpoint is on disk, mid-unit.
    const auto limit = std::chrono::steady_clock::now() + 120s;
    while (checkpoint_offset(data_a.path()) == 0 && a->running() && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(20ms);
    const std::uint64_t killed_at = checkpoint_offset(data_a.path());
    ASSERT_GT(killed_at, 0u) << a->output();
    a->signal(SIGKILL);
    EXPECT_EQ(a->wait(), 128 + SIGKILL);
    a = std::make_unique<test::WorkerProcess>(args, options_a);
    EXPECT_EQ(a->wait(300s), 0) << a->output();
    EXPECT_EQ(b.wait(300s), 0) << b.output();
    EXPECT_NE(a->output().find("Resuming checkpoint at"), std::string::npos)
        << "the restarted worker resumed its unit from the checkpoint at " << killed_at << ":\n"
        << a->output();
    EXPECT_NE(a->output().find("Campaign allocation is complete"), std::string::npos) << a->output();

    const json status = json::parse(c.command({"status", "--json"}).out);
    const json& campaign = status.at("campaigns").at(0);
    EXPECT_EQ(campaign.at("units").at("validated"), 4) << status.dump();
    EXPECT_EQ(campaign.at("starts_validated"), "17179869184") << status.dump();
    EXPECT_EQ(campaign.at("validated_below"), "1116691496960") << status.dump();

    // One line per unit, each unit once, each record equal to a one-pass verify of its unit.
    std::istringstream lines(c.command({"export", "--json"}).out);
    std::set<std::string> begins;
    std::string line;
    while (std::getline(lines, line)) {
        const json row = json::parse(line);
        const std::string begin = row.at("begin"), end = row.at("end");
        EXPECT_TRUE(begins.insert(begin).second) << "unit " << begin << " exported twice";
        EXPECT_EQ(test::record_difference(row.at("result").dump(), test::verify_record(begin, end)), "")
            << "unit [" << begin << ", " << end << ")";
    }
    EXPECT_EQ(begins.size(), 4u);
    // Every unit was copied: both workers' results count.
    const std::string workers = c.command({"workers", "--json"}).out;
    const json listed = json::parse(workers);
    std::int64_t validated = 0;
    for (const json& w : listed.at("workers")) validated += w.at("results_validated").get<std::int64_t>();
    EXPECT_EQ(validated, 8) << workers;
    EXPECT_EQ(c.stop(), 0);
}

}  // namespace
}  // namespace pelorin
