// Forged results against the real server: a wrong checksum, a record of another range, and a
// record faster than its sender's benchmark allows, which another worker must copy. And the
// database after registrations holds no token.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <sstream>

#include "tests/server/lease_calls.hpp"
#include "tests/server/result_bodies.hpp"
#include "tests/support/coordinator_process.hpp"
#include "tests/support/program_run.hpp"
#include "wideint/decimal.hpp"
#include "wideint/text_forms.hpp"

namespace pelorin::test_support {
namespace {

using nlohmann::json;
using ojson = nlohmann::ordered_json;

// Units of 2^16 starts above 2^32: each is verified in a few milliseconds.
constexpr const char* kBegin = "4294967296";
constexpr const char* kEnd = "4295491584";  // eight units

void report_benchmark(const CoordinatorProcess& c, const TestWorker& w, const char* rate) {
    const HttpsReply r = c.call("POST", "/api/v1/benchmarks",
                                std::string(R"({"build_hash":"b","backend":"record-recursive","profile":"balanced","starts_per_second":)") +
                                    rate + "}",
                                w.token);
    ASSERT_EQ(r.status, 200) << r.body;
}

// The server as operators run it, but copying only results that come too fast (no new-worker
// rule, no random share), so each case shows its own rule.
void serve(CoordinatorProcess& c) {
    const CommandResult r = c.command({"campaign", "add", "--begin", kBegin, "--end", kEnd, "--unit-size", "2^16"});
    ASSERT_EQ(r.status, 0) << r.err;
    c.serve({"--difficulty-bits", "4", "--new-worker-results", "0", "--replication-share", "0", "--recompute-budget", "all"});
}

TEST(ForgedResults, WrongChecksumsAndOtherRangesAreRejected) {
    CoordinatorProcess c;
    serve(c);
    const TestWorker w = register_test_worker(c);
    report_benchmark(c, w, "1e+12");  // fast: nothing it sends counts as too fast

    json lease = acquire_unit(c, w);
    const std::string good = verified_body(lease.at("begin"), lease.at("end"));
    ojson spoiled = ojson::parse(good);
    spoiled["result"]["checksum_sum"] = spoiled["result"]["checksum_sum"].get<std::uint64_t>() + 1;
    const json wrong = complete_unit(c, w, lease, spoiled.dump());
    EXPECT_EQ(wrong.at("accepted"), false);
    EXPECT_EQ(wrong.at("audit").get<std::string>().rfind("rejected: checksum_sum does not match", 0), 0u) << wrong.dump();

    // The refused unit waits for other workers, so the next lease is the next range; its
    // complete carries the first range's record: the same number of starts, another range's
    // checksums.
    lease = acquire_unit(c, w);
    ASSERT_EQ(lease.at("begin"), u128_to_decimal(add_u64(parse_u128(kBegin), 1 << 16)))
        << "a refused unit is not handed straight back to its worker";
    const json other = complete_unit(c, w, lease, good);
    EXPECT_EQ(other.at("audit").get<std::string>().rfind("rejected: checksum_sum does not match", 0), 0u) << other.dump();

    // The refused unit went back to the pool: another worker takes it, and the honest record
    // is accepted. The first worker's count shows its two refusals.
    const TestWorker second = register_test_worker(c, "second");
    report_benchmark(c, second, "1e+12");
    lease = acquire_unit(c, second);
    ASSERT_EQ(lease.at("begin"), kBegin);
    EXPECT_EQ(complete_unit(c, second, lease, good).at("audit"), "accepted");
    const json workers = json::parse(c.command({"workers", "--json"}).out);
    for (const json& row : workers.at("workers")) {
        const bool refused = row.at("worker_id") == w.worker_id;
        EXPECT_EQ(row.at("results_rejected"), refused ? 2 : 0) << workers.dump();
        EXPECT_EQ(row.at("results_validated"), refused ? 0 : 1) << workers.dump();
    }
}

TEST(ForgedResults, ARecordFasterThanItsSendersBenchmarkIsCopiedByAnotherWorker) {
    CoordinatorProcess c;
    serve(c);
    const TestWorker hasty = register_test_worker(c, "hasty");
    const TestWorker honest = register_test_worker(c, "honest");
    report_benchmark(c, hasty, "1e+03");   // 2^16 starts should take it a minute
    report_benchmark(c, honest, "1e+12");  // anything it sends is plausible

    const json lease = acquire_unit(c, hasty);
    const std::string record = verified_body(lease.at("begin"), lease.at("end"));
    const json first = complete_unit(c, hasty, lease, record);
    EXPECT_EQ(first.at("audit"), "pending: waiting for a copy from another worker") << first.dump();
    EXPECT_EQ(json::parse(c.command({"status", "--json"}).out).at("campaigns").at(0).at("units").at("pending"), 1);

    // The other worker is handed the same unit, and its agreeing copy validates it.
    const json copy = acquire_unit(c, honest);
    EXPECT_EQ(copy.at("begin"), lease.at("begin"));
    EXPECT_EQ(complete_unit(c, honest, copy, verified_body(copy.at("begin"), copy.at("end"))).at("audit"), "accepted");
    // The hasty worker itself is never handed its own unit to copy.
    EXPECT_NE(acquire_unit(c, hasty).at("begin"), lease.at("begin"));

    const std::string exported = c.command({"export", "--json"}).out;
    ASSERT_EQ(std::count(exported.begin(), exported.end(), '\n'), 1) << exported;
    const json row = json::parse(exported);
    EXPECT_EQ(row.at("begin"), lease.at("begin"));
    EXPECT_EQ(row.at("worker_id"), hasty.worker_id) << "the first agreeing copy stands for the unit";
    // The record as the worker sent it, byte for byte.
    EXPECT_NE(exported.find("\"result\":" + record.substr(10, record.size() - 11) + "}"), std::string::npos) << exported;
}

TEST(ForgedResults, TheDatabaseHoldsNoToken) {
    CoordinatorProcess c;
    serve(c);
    std::vector<TestWorker> workers;
    for (const char* client : {"a", "b", "c"}) workers.push_back(register_test_worker(c, client));
    workers.push_back(register_test_worker(c, "a"));  // again: a new token for the same worker
    for (std::size_t i = 1; i < workers.size(); ++i) acquire_unit(c, workers[i]);  // the first token is replaced
    EXPECT_EQ(c.stop(), 0);

    std::string stored;
    for (const char* suffix : {"", "-wal", "-shm"}) stored += file_text(c.database().string() + suffix);
    ASSERT_FALSE(stored.empty());
    for (const TestWorker& w : workers) {
        ASSERT_EQ(w.token.size(), 64u);
        EXPECT_EQ(stored.find(w.token), std::string::npos) << "the token of " << w.worker_id << " is in the database";
        EXPECT_EQ(stored.find(w.token.substr(0, 32)), std::string::npos) << "half of " << w.worker_id << "'s token";
    }
    EXPECT_EQ(c.journal().find(workers[0].token), std::string::npos);
}

}  // namespace
}  // namespace pelorin::test_support
