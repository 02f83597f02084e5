// Results on units too large to recompute while their complete waits, against the real
// server: two workers agreeing on made-up checksums of a unit of 2^34 starts are refused once
// the background has summed its starts, through a restart of the server; two workers with the
// right ones are validated; the metrics show the backlog and the share recomputed; a campaign
// whose units could never be recomputed is said so at `campaign add` and at start.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <regex>
#include <thread>

#include "engine/checksum_span.hpp"
#include "tests/server/lease_calls.hpp"
#include "tests/server/result_bodies.hpp"
#include "tests/support/coordinator_process.hpp"

namespace pelorin::test_support {
namespace {

using nlohmann::json;

constexpr std::uint64_t kUnit = std::uint64_t{1} << 34;
constexpr std::uint64_t kBegin = std::uint64_t{1} << 40;
constexpr const char* kWaiting = "pending: waiting for its checksums to be recomputed";

// A sample of the exposition text (the first line that starts with `series`), -1 when absent.
double sample(const std::string& exposition, const std::string& series) {
    std::smatch m;
    const std::string escaped = std::regex_replace(series, std::regex(R"([{}"\\])"), R"(\$&)");
    if (!std::regex_search(exposition, m, std::regex("(^|\n)" + escaped + " ([^\n]+)"))) return -1;
    return std::stod(m[2]);
}

json campaign_status(const CoordinatorProcess& c) {
    return json::parse(c.command({"status", "--json"}).out).at("campaigns").at(0);
}

TEST(Recomputation, MadeUpChecksumsOnALargeUnitAreRefusedEvenWhenTwoWorkersAgree) {
    // The checksums of the first unit's starts, by the engine's kernel (mix64 of the high limb 0
    // is 0: the starts lie below 2^64).
    const ChecksumPair truth = checksum_span(0, kBegin, kUnit);
    const std::string right = body_of(made_up_record(kUnit, truth.sum, truth.xor_));

    CoordinatorProcess c;
    // Two units of 2^34 starts: one for the honest pair, one for the forgers.
    ASSERT_EQ(c.command({"campaign", "add", "--begin", "2^40", "--end", std::to_string(kBegin + 2 * kUnit), "--unit-size",
                         "2^34", "--name", "main"})
                  .status,
              0);
    // Units of 2^60 starts take years to recompute: said so when the campaign is added.
    const CommandResult huge =
        c.command({"campaign", "add", "--begin", "2^72", "--end", "2^73", "--unit-size", "2^60", "--name", "huge"});
    ASSERT_EQ(huge.status, 0) << huge.err;
    EXPECT_NE(huge.out.find("Warning: campaign huge: a unit of 1152921504606846976 starts takes about "),
              std::string::npos)
        << huge.out;
    EXPECT_NE(huge.out.find(" years to recompute at the default budget of 0.25 cores"), std::string::npos) << huge.out;
    ASSERT_EQ(c.command({"campaign", "pause", "huge"}).status, 0);
    // A whole core for the test, so the sanitizer build keeps up; every result is copied (the
    // new-worker rule), so each pair copies each other.
    const std::vector<std::string> flags = {"--difficulty-bits", "4", "--recompute-budget", "1"};
    c.serve(flags);
    EXPECT_NE(c.journal().find("warning: campaign huge: a unit of 1152921504606846976 starts takes about "),
              std::string::npos)
        << c.journal();
    EXPECT_EQ(c.journal().find("campaign main"), std::string::npos) << "its units fit the budget\n" << c.journal();

    const TestWorker honest = register_test_worker(c, "honest");
    const TestWorker other = register_test_worker(c, "other");
    const TestWorker forger = register_test_worker(c, "forger");
    const TestWorker partner = register_test_worker(c, "partner");

    // The honest pair sends the checksums the first unit's starts give (made by the test before
    // the server started); the two results wait for the server's own.
    const json mine = acquire_unit(c, honest, "1e+09");
    ASSERT_EQ(mine.at("begin"), std::to_string(kBegin));
    // A unit that costs more than 2 core-seconds waits for the background; at the kernel's best
    // speed (about 10^10 starts per second, on an idle machine) 2^34 starts fit within that and
    // are recomputed while the complete waits. Either way the reply is a pending result's.
    const json reply = complete_unit(c, honest, mine, right);
    EXPECT_EQ(reply.at("accepted"), true) << reply.dump();
    EXPECT_EQ(reply.at("audit").get<std::string>().rfind("pending: ", 0), 0u) << reply.dump();
    const json theirs = acquire_unit(c, other, "1e+09");
    ASSERT_EQ(theirs.at("begin"), mine.at("begin")) << "a waiting result that needs a copy has its unit copied";
    // The copy waits too, unless the first result's recomputation has ended meanwhile (on a
    // fast machine it ran while that complete waited): then the two agree and the unit counts.
    const std::string copy_audit = complete_unit(c, other, theirs, right).at("audit");
    EXPECT_TRUE(copy_audit.rfind("pending: ", 0) == 0 || copy_audit == "accepted") << copy_audit;

    // The forgers take the second unit (two results wait on the first) and agree on made-up
    // checksums.
    const std::string forged = body_of(made_up_record(kUnit, 1, 2));
    const json first = acquire_unit(c, forger, "1e+09");
    ASSERT_EQ(first.at("begin"), std::to_string(kBegin + kUnit));
    const std::string audit = complete_unit(c, forger, first, forged).at("audit");
    const bool deferred = audit == kWaiting;
    if (!deferred) EXPECT_EQ(audit.rfind("rejected: checksum_sum", 0), 0u) << audit;
    const json copy = acquire_unit(c, partner, "1e+09");
    ASSERT_EQ(copy.at("begin"), first.at("begin"));
    EXPECT_EQ(complete_unit(c, partner, copy, forged).at("audit"), audit);
    EXPECT_NE(campaign_status(c).at("validated_below"), std::to_string(kBegin + 2 * kUnit))
        << "agreeing copies of made-up checksums count for nothing";
    const std::string waiting = c.call("GET", "/metrics").body;
    if (deferred) {
        EXPECT_GE(sample(waiting, "pelorin_coordinator_recompute_backlog_results"), 2) << waiting;
        EXPECT_GE(sample(waiting, "pelorin_coordinator_recompute_backlog_units"), 1) << waiting;
        EXPECT_GE(sample(waiting, "pelorin_coordinator_recompute_backlog_starts"), 1) << waiting;
    }
    EXPECT_GT(sample(waiting, "pelorin_coordinator_recompute_core_starts_per_second"), 0) << waiting;

    // The server stops mid-recomputation and starts again: the work goes on.
    EXPECT_EQ(c.stop(), 0);
    c.serve(flags);

    // Both units' recomputations end: the honest unit is validated, the forged one open again.
    json status;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::minutes(3);
    do {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        status = campaign_status(c);
    } while ((status.at("units").at("validated") != 1 || status.at("units").at("pending") != 0) &&
             std::chrono::steady_clock::now() < limit);
    EXPECT_EQ(status.at("units").at("validated"), 1) << status.dump();
    EXPECT_EQ(status.at("units").at("open"), 1) << status.dump();
    EXPECT_EQ(status.at("validated_below"), std::to_string(kBegin + kUnit)) << "the forged unit is not counted";
    const json workers = json::parse(c.command({"workers", "--json"}).out).at("workers");
    for (const json& w : workers) {
        const bool forging = w.at("worker_id") == forger.worker_id || w.at("worker_id") == partner.worker_id;
        EXPECT_EQ(w.at("results_rejected"), forging ? 1 : 0) << w.dump();
        EXPECT_EQ(w.at("results_validated"), forging ? 0 : 1) << w.dump();
    }
    // Only the honest unit is exported.
    const std::string text = c.command({"export", "--json"}).out;
    EXPECT_EQ(json::parse(text).at("begin"), std::to_string(kBegin)) << text;

    const std::string done = c.call("GET", "/metrics").body;
    EXPECT_EQ(sample(done, "pelorin_coordinator_recompute_backlog_results"), 0) << done;
    EXPECT_EQ(sample(done, "pelorin_coordinator_recompute_backlog_units"), 0) << done;
    EXPECT_EQ(sample(done, "pelorin_coordinator_result_checksums_recomputed_share"), 1) << done;
    // The instance after the restart finished the forged unit (the honest one may have been
    // finished before the restart).
    if (deferred) EXPECT_EQ(sample(done, R"(pelorin_coordinator_result_checksums_total{outcome="refused"})"), 2) << done;
    if (deferred) EXPECT_GT(sample(done, "pelorin_coordinator_recomputed_starts_total"), 0) << done;
}

}  // namespace
}  // namespace pelorin::test_support
