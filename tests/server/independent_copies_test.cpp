// Cheaters against the real server as operators run it, each client bound to a loopback
// network of its own (or sharing one, for two registrations of one cheater): partners that
// forge `steps` never confirm each other, a partner asking right after a result does not get
// its unit, forgers that outvoted an honest result are undone by `invalidate`, and throwaway
// refusals neither set the last unit aside nor end the campaign, while a set-aside unit makes
// acquire wait until the operator reopens it.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <set>
#include <sstream>

#include "tests/server/result_bodies.hpp"
#include "tests/support/coordinator_process.hpp"

namespace pelorin::test_support {
namespace {

using nlohmann::json;
using ojson = nlohmann::ordered_json;

// Units of 2^16 starts above 2^32: each is verified in a few milliseconds.
constexpr const char* kBegin = "4294967296";
constexpr const char* kAcquireBody = R"({"starts_per_second":1e+06,"proof_hash":"h"})";

HttpsReply acquire_reply(const CoordinatorProcess& c, const TestWorker& w) {
    return call_as(c, w, "POST", "/api/v1/leases/acquire", kAcquireBody);
}

json acquire(const CoordinatorProcess& c, const TestWorker& w) {
    const HttpsReply r = acquire_reply(c, w);
    EXPECT_EQ(r.status, 200) << w.worker_id << " from " << w.source << ": " << r.body;
    return r.status == 200 ? json::parse(r.body) : json::object();
}

std::string complete(const CoordinatorProcess& c, const TestWorker& w, const json& lease, const std::string& body) {
    const HttpsReply r = call_as(c, w, "POST", "/api/v1/leases/" + lease.value("lease_id", "") + "/complete", body);
    EXPECT_EQ(r.status, 200) << w.worker_id << ": " << r.body;
    return r.status == 200 ? json::parse(r.body).value("audit", "") : "";
}

std::string honest(const json& lease) { return verified_body(lease.at("begin"), lease.at("end")); }

// The true record with made-up walks: the checksums hold, the counters do not.
std::string forged(const json& lease) {
    ojson body = ojson::parse(honest(lease));
    body["result"]["steps"] = "999";
    return body.dump();
}

const std::string kPending = "pending: waiting for a copy from another worker";

json workers_by_id(const CoordinatorProcess& c) {
    const CommandResult listed = c.command({"workers", "--json"});
    EXPECT_EQ(listed.status, 0) << listed.err;
    const json all = json::parse(listed.out);
    json by_id = json::object();
    for (const json& w : all.at("workers")) by_id[w.at("worker_id").get<std::string>()] = w;
    return by_id;
}

// The server with its default trust: every result of a new worker is copied.
void serve(CoordinatorProcess& c, const char* units, std::vector<std::string> flags = {}) {
    const std::string end = std::to_string(4294967296ULL + (std::stoull(units) << 16));
    const CommandResult r =
        c.command({"campaign", "add", "--begin", kBegin, "--end", end, "--unit-size", "2^16", "--name", "main"});
    ASSERT_EQ(r.status, 0) << r.err;
    flags.insert(flags.end(), {"--difficulty-bits", "4", "--recompute-budget", "all", "--register-rate", "0",
                               "--worker-rate", "0"});
    c.serve(flags);
}

TEST(IndependentCopies, PartnersForgingStepsNeverConfirmEachOther) {
    CoordinatorProcess c;
    serve(c, "8");
    // Two registrations of one cheater on one /24; two honest volunteers elsewhere.
    const TestWorker f1 = register_test_worker(c, "f1", "127.0.1.2"), f2 = register_test_worker(c, "f2", "127.0.1.3");
    const TestWorker h1 = register_test_worker(c, "h1", "127.0.2.2"), h2 = register_test_worker(c, "h2", "127.0.3.2");

    std::set<std::string> forged_units;
    for (int round = 0; round < 3; ++round) {
        const json first = acquire(c, f1);
        EXPECT_EQ(complete(c, f1, first, forged(first)), kPending) << "round " << round;
        // The partner asks right after the first result: it is never handed that unit.
        const json second = acquire(c, f2);
        EXPECT_FALSE(forged_units.count(second.value("begin", ""))) << "round " << round;
        EXPECT_NE(second.value("begin", ""), first.value("begin", "")) << "round " << round;
        EXPECT_EQ(complete(c, f2, second, forged(second)), kPending) << "round " << round;
        forged_units.insert(first.value("begin", ""));
        forged_units.insert(second.value("begin", ""));
    }
    ASSERT_EQ(forged_units.size(), 6u);
    json status = json::parse(c.command({"status", "--json"}).out);
    EXPECT_EQ(status.at("campaigns").at(0).at("units").at("validated"), 0) << status.dump();

    // The honest volunteers copy until the campaign is done: each forged unit gets two honest
    // copies that agree, and the forgers are outvoted.
    int completes = 0;
    for (bool done = false; !done && completes < 40;) {
        done = true;
        for (const TestWorker* h : {&h1, &h2}) {
            const HttpsReply r = acquire_reply(c, *h);
            if (r.status == 503) continue;
            ASSERT_EQ(r.status, 200) << r.body;
            const json lease = json::parse(r.body);
            if (lease.value("complete", false)) continue;
            done = false;
            ++completes;
            complete(c, *h, lease, honest(lease));
        }
    }
    status = json::parse(c.command({"status", "--json"}).out);
    EXPECT_EQ(status.at("campaigns").at(0).at("units").at("validated"), 8) << status.dump();
    std::istringstream lines(c.command({"export", "--json"}).out);
    std::string line;
    while (std::getline(lines, line)) {
        const json row = json::parse(line);
        EXPECT_NE(row.at("result").at("steps"), "999") << line;
        EXPECT_TRUE(row.at("worker_id") == h1.worker_id || row.at("worker_id") == h2.worker_id) << line;
    }
    const json workers = workers_by_id(c);
    for (const TestWorker* f : {&f1, &f2}) {
        EXPECT_EQ(workers.at(f->worker_id).at("results_validated"), 0) << workers.dump();
        EXPECT_EQ(workers.at(f->worker_id).at("results_rejected"), 3) << workers.dump();
    }
}

TEST(IndependentCopies, AnHonestResultOutvotedByInvalidatedForgersCountsAgain) {
    CoordinatorProcess c;
    serve(c, "1");
    const TestWorker h = register_test_worker(c, "h", "127.0.1.2");
    // Forgers on networks of their own: independent, so their agreement outvotes h.
    const TestWorker g1 = register_test_worker(c, "g1", "127.0.2.2"), g2 = register_test_worker(c, "g2", "127.0.3.2");
    const json lease = acquire(c, h);
    EXPECT_EQ(complete(c, h, lease, honest(lease)), kPending);
    for (const TestWorker* g : {&g1, &g2}) {
        const json copy = acquire(c, *g);
        ASSERT_EQ(copy.value("begin", ""), lease.value("begin", "")) << g->worker_id;
        complete(c, *g, copy, forged(copy));
    }
    json workers = workers_by_id(c);
    ASSERT_EQ(workers.at(h.worker_id).at("results_rejected"), 1) << "h was outvoted: " << workers.dump();

    for (const TestWorker* g : {&g1, &g2}) {
        const CommandResult r = c.command({"invalidate", "--worker", g->worker_id});
        ASSERT_EQ(r.status, 0) << r.err;
    }
    workers = workers_by_id(c);
    EXPECT_EQ(workers.at(h.worker_id).at("results_rejected"), 0) << workers.dump();
    EXPECT_EQ(workers.at(h.worker_id).at("results_pending"), 1) << workers.dump();
    const json status = json::parse(c.command({"status", "--json"}).out);
    EXPECT_EQ(status.at("campaigns").at(0).at("units").at("pending"), 1) << status.dump();

    // Another volunteer's copy agrees with h's result, which then stands for the unit.
    const TestWorker h2 = register_test_worker(c, "h2", "127.0.4.2");
    const json copy = acquire(c, h2);
    ASSERT_EQ(copy.value("begin", ""), lease.value("begin", ""));
    EXPECT_EQ(complete(c, h2, copy, honest(copy)), "accepted");
    const json row = json::parse(c.command({"export", "--json"}).out);
    EXPECT_EQ(row.at("worker_id"), h.worker_id);
    EXPECT_EQ(row.at("result").at("steps"), json::parse(honest(lease)).at("result").at("steps"));
    workers = workers_by_id(c);
    EXPECT_EQ(workers.at(h.worker_id).at("validated_since_fault"), 1) << "h's fault came only from the forgers";
}

TEST(IndependentCopies, ThrowawayRefusalsCannotEndACampaignAndSetAsideUnitsWaitForTheOperator) {
    CoordinatorProcess c;
    serve(c, "3");
    std::vector<TestWorker> established;
    for (int i = 0; i < 3; ++i)
        established.push_back(register_test_worker(c, "e" + std::to_string(i), "127.0." + std::to_string(10 + i) + ".2"));
    // Units 0 and 1: each established worker gets a result validated by another's copy.
    for (const auto& [first, copier] : {std::pair{0, 1}, std::pair{2, 0}}) {
        const json lease = acquire(c, established[first]);
        EXPECT_EQ(complete(c, established[first], lease, honest(lease)), kPending);
        const json copy = acquire(c, established[copier]);
        ASSERT_EQ(copy.value("begin", ""), lease.value("begin", ""));
        EXPECT_EQ(complete(c, established[copier], copy, honest(copy)), "accepted");
    }

    // Throwaway registrations refuse the last unit again and again: it is still handed out.
    const std::string garbage = R"({"result":{"valid":false}})";
    for (int i = 0; i < 4; ++i) {
        const TestWorker t = register_test_worker(c, "", "127.0." + std::to_string(20 + i) + ".2");
        const json lease = acquire(c, t);
        ASSERT_FALSE(lease.value("complete", true)) << "throwaway " << i << " ended the campaign: " << lease.dump();
        EXPECT_EQ(complete(c, t, lease, garbage).rfind("rejected: ", 0), 0u);
    }
    // The established workers' refusals set it aside; the campaign is not complete: acquire
    // says to come back later, and status says why.
    for (const TestWorker& e : established) {
        const json lease = acquire(c, e);
        ASSERT_EQ(lease.value("complete", true), false) << lease.dump();
        complete(c, e, lease, garbage);
    }
    const HttpsReply waiting = acquire_reply(c, register_test_worker(c, "late", "127.0.30.2"));
    EXPECT_EQ(waiting.status, 503) << waiting.body;
    EXPECT_FALSE(waiting.retry_after.empty());
    const std::string status = c.command({"status"}).out;
    EXPECT_NE(status.find("not complete while 1 units are set aside"), std::string::npos) << status;
    EXPECT_NE(status.find("campaign reopen main"), std::string::npos) << status;

    const CommandResult reopened = c.command({"campaign", "reopen", "main"});
    ASSERT_EQ(reopened.status, 0) << reopened.err;
    EXPECT_NE(reopened.out.find("Reopened 1 set-aside units"), std::string::npos) << reopened.out;
    const json lease = acquire(c, register_test_worker(c, "after", "127.0.31.2"));
    EXPECT_EQ(lease.value("complete", true), false) << lease.dump();
    EXPECT_EQ(c.command({"campaign", "reopen", "nope"}).status, 2);
}

}  // namespace
}  // namespace pelorin::test_support
