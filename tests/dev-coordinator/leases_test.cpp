// Leases over real loopback HTTPS: handout, resume, heartbeats, timeout, results, the end.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <thread>

#include "engine/verify_range.hpp"
#include "tests/support/dev_coordinator_process.hpp"
#include "wideint/text_forms.hpp"

namespace pelorin::test_support {
namespace {

using nlohmann::json;

const char* kAcquireBody = R"({"starts_per_second":2.5e+06,"proof_hash":"c1ef"})";

std::vector<std::string> args(std::vector<std::string> more) {
    std::vector<std::string> all = {"--difficulty-bits", "4"};
    all.insert(all.end(), more.begin(), more.end());
    return all;
}

json acquire(const DevCoordinatorProcess& c, const TestWorker& w, long want_status = 200) {
    const HttpsReply r = c.call("POST", "/api/v1/leases/acquire", kAcquireBody, w.token);
    EXPECT_EQ(r.status, want_status) << w.worker_id << ": " << r.body << r.error;
    return r.status == 200 ? json::parse(r.body) : json{{"error", r.body}};
}

HttpsReply heartbeat(const DevCoordinatorProcess& c, const TestWorker& w, const std::string& lease, const std::string& progress) {
    return c.call("PUT", "/api/v1/leases/" + lease + "/heartbeat", json{{"progress", progress}}.dump(), w.token);
}

// The completing body for a lease reply, from a real verification of its range.
std::string verified_body(const json& lease) {
    const EndBound end = parse_end_bound(lease.at("end").get<std::string>());
    BackendOptions options;
    options.name = "record-recursive";
    options.threads = 2;
    const UnitResult r = verify_range(UnitRange{parse_u128(lease.at("begin").get<std::string>()), end.value, end.end_is_2_128}, options);
    return "{\"result\":" + result_json(r) + "}";
}

json complete(const DevCoordinatorProcess& c, const TestWorker& w, const json& lease, const std::string& body) {
    const HttpsReply r = c.call("POST", "/api/v1/leases/" + lease.at("lease_id").get<std::string>() + "/complete", body, w.token);
    EXPECT_EQ(r.status, 200) << r.body << r.error;
    return r.status == 200 ? json::parse(r.body) : json{};
}

TEST(DevCoordinatorLeases, UnitsAreHandedOutInOrderAndAHeldLeaseComesBack) {
    DevCoordinatorProcess c(args({"--begin", "1000", "--end", "3500", "--unit-size", "1000"}));
    const TestWorker a = register_test_worker(c, "a");
    const TestWorker b = register_test_worker(c, "b");
    const TestWorker d = register_test_worker(c, "d");
    const TestWorker e = register_test_worker(c, "e");
    const json la = acquire(c, a);
    EXPECT_EQ(la.at("begin"), "1000");
    EXPECT_EQ(la.at("end"), "2000");
    EXPECT_EQ(la.at("complete"), false);
    EXPECT_EQ(acquire(c, a), la);  // asked again: the same lease, so the worker resumes
    const json lb = acquire(c, b);
    EXPECT_EQ(lb.at("begin"), "2000");
    EXPECT_NE(lb.at("lease_id"), la.at("lease_id"));
    EXPECT_EQ(acquire(c, d).at("end"), "3500");  // the last unit is shorter
    acquire(c, e, 503);                           // nothing left that is not leased

    const std::string id = la.at("lease_id");
    struct Beat {
        const TestWorker* who;
        std::string lease;
        std::string progress;
        long status;
    };
    const Beat beats[] = {
        {&a, id, "0", 200},   {&a, id, "640", 200},  {&a, id, "1000", 200}, {&a, id, "1001", 400},
        {&a, id, "6x", 400},  {&a, id, "", 400},     {&b, id, "5", 403},    {&a, "lease-99", "5", 404},
        {&a, "", "5", 404},   {&a, id, "99999999999999999999", 400},
    };
    for (const Beat& beat : beats) {
        const HttpsReply r = heartbeat(c, *beat.who, beat.lease, beat.progress);
        EXPECT_EQ(r.status, beat.status) << beat.who->worker_id << " lease \"" << beat.lease << "\" progress \""
                                         << beat.progress << "\": " << r.body;
    }
    // Only the owner completes its lease.
    const HttpsReply stolen = c.call("POST", "/api/v1/leases/" + id + "/complete", verified_body(la), b.token);
    EXPECT_EQ(stolen.status, 403) << stolen.body;
}

TEST(DevCoordinatorLeases, EveryUnitCompletedEndsTheCampaign) {
    DevCoordinatorProcess c(args({"--begin", "4294967296", "--end", "4295004160", "--unit-size", "16384"}));
    const TestWorker w = register_test_worker(c);
    std::vector<std::string> begins;
    for (int round = 0; round < 10; ++round) {  // three units; the bound only stops a runaway loop
        const json lease = acquire(c, w);
        if (lease.value("complete", false)) break;
        begins.push_back(lease.at("begin"));
        const json verdict = complete(c, w, lease, verified_body(lease));
        EXPECT_EQ(verdict.at("audit"), "accepted") << lease.dump();
        EXPECT_EQ(verdict.at("accepted"), true);
    }
    EXPECT_EQ(begins, (std::vector<std::string>{"4294967296", "4294983680", "4295000064"}));
    EXPECT_EQ(c.call("POST", "/api/v1/leases/acquire", kAcquireBody, w.token).body, R"({"complete":true})");
    const json ledger = json::parse(c.ledger_json());
    ASSERT_EQ(ledger.at("units").size(), 3u);
    for (const json& u : ledger.at("units")) {
        EXPECT_EQ(u.at("state"), "accepted") << u.dump();
        EXPECT_EQ(u.at("submissions").at(0).at("verdict"), "accepted");
        EXPECT_EQ(u.at("submissions").at(0).at("received").get<std::string>().rfind("{\"result\":{\"checked\":", 0), 0u);
    }
}

TEST(DevCoordinatorLeases, RejectedResultsSendTheUnitBackUntilItIsSetAside) {
    DevCoordinatorProcess c(args({"--begin", "4294967296", "--end", "4294975488", "--unit-size", "4096"}));
    const TestWorker w = register_test_worker(c);
    json lease = acquire(c, w);
    const std::string first_begin = lease.at("begin");
    std::string good = verified_body(lease);
    json spoiled = json::parse(good);
    spoiled["result"]["checksum_xor"] = spoiled["result"]["checksum_xor"].get<std::uint64_t>() ^ 4;

    std::vector<std::string> lease_ids;
    for (int attempt = 0; attempt < 3; ++attempt) {
        EXPECT_EQ(lease.at("begin"), first_begin) << "attempt " << attempt;
        lease_ids.push_back(lease.at("lease_id"));
        const json verdict = complete(c, w, lease, spoiled.dump());
        EXPECT_EQ(verdict.at("accepted"), false);
        EXPECT_EQ(verdict.at("audit").get<std::string>().rfind("rejected: checksum_xor does not match", 0), 0u) << verdict.dump();
        // A repeated complete gets the same verdict, and does not count again; another result
        // for the same lease is a conflict.
        EXPECT_EQ(complete(c, w, lease, spoiled.dump()), verdict);
        const HttpsReply other = c.call("POST", "/api/v1/leases/" + lease.at("lease_id").get<std::string>() + "/complete",
                                        good, w.token);
        EXPECT_EQ(other.status, 409) << other.body;
        lease = acquire(c, w);
    }
    // Three rejections: the unit is set aside and the next one comes.
    EXPECT_NE(lease.at("begin"), first_begin);
    EXPECT_EQ(std::set<std::string>(lease_ids.begin(), lease_ids.end()).size(), 3u);
    EXPECT_EQ(complete(c, w, lease, verified_body(lease)).at("audit"), "accepted");
    EXPECT_EQ(acquire(c, w), json::parse(R"({"complete":true})"));
    const json ledger = json::parse(c.ledger_json());
    EXPECT_EQ(ledger.at("units").at(0).at("state"), "set-aside");
    EXPECT_EQ(ledger.at("units").at(0).at("submissions").size(), 3u);
}

TEST(DevCoordinatorLeases, ALeaseWithoutHeartbeatsGoesBackToThePool) {
    DevCoordinatorProcess c(args({"--begin", "1000", "--end", "3000", "--unit-size", "1000", "--lease-timeout", "1"}));
    const TestWorker a = register_test_worker(c, "a");
    const TestWorker b = register_test_worker(c, "b");
    const json la = acquire(c, a);
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));  // more than twice the timeout
    const json lb = acquire(c, b);
    EXPECT_EQ(lb.at("begin"), la.at("begin"));
    EXPECT_EQ(lb.at("end"), la.at("end"));
    EXPECT_NE(lb.at("lease_id"), la.at("lease_id"));
    const std::string old_id = la.at("lease_id");
    EXPECT_EQ(heartbeat(c, a, old_id, "10").status, 409);
    EXPECT_EQ(c.call("POST", "/api/v1/leases/" + old_id + "/complete", verified_body(la), a.token).status, 409);
    EXPECT_EQ(acquire(c, a).at("begin"), "2000");
    const json ledger = json::parse(c.ledger_json());
    EXPECT_EQ(ledger.at("units").at(0).at("leases").at(0).at("state"), "expired");
}

TEST(DevCoordinatorLeases, HeartbeatsKeepALeaseAlive) {
    DevCoordinatorProcess c(args({"--begin", "1000", "--end", "3000", "--unit-size", "1000", "--lease-timeout", "3"}));
    const TestWorker a = register_test_worker(c, "a");
    const TestWorker b = register_test_worker(c, "b");
    const json la = acquire(c, a);
    // Beats well inside the timeout, for longer than the timeout in all.
    for (int i = 1; i <= 8; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        EXPECT_EQ(heartbeat(c, a, la.at("lease_id"), std::to_string(i)).status, 200) << "beat " << i;
    }
    EXPECT_EQ(acquire(c, b).at("begin"), "2000");
    EXPECT_EQ(acquire(c, a), la);
}

TEST(DevCoordinatorLeases, ReplicationCopiesResultsWhenAskedFor) {
    DevCoordinatorProcess c(args({"--begin", "4294967296", "--end", "4295000064", "--unit-size", "16384", "--replication"}));
    const TestWorker a = register_test_worker(c, "a");
    const TestWorker b = register_test_worker(c, "b");
    const json la = acquire(c, a);
    const std::string body = verified_body(la);
    EXPECT_EQ(complete(c, a, la, body).at("audit"), "pending: waiting for a copy from another worker");
    json ledger = json::parse(c.ledger_json());
    EXPECT_EQ(ledger.at("units").at(0).at("state"), "pending") << ledger.dump();
    EXPECT_EQ(ledger.at("units").at(0).at("submissions").at(0).at("verdict"), "pending");
    // The copy comes from the other worker, and agreeing it validates the unit.
    const json lb = acquire(c, b);
    EXPECT_EQ(lb.at("begin"), la.at("begin"));
    EXPECT_EQ(complete(c, b, lb, verified_body(lb)).at("audit"), "accepted");
    ledger = json::parse(c.ledger_json());
    EXPECT_EQ(ledger.at("units").at(0).at("state"), "accepted") << ledger.dump();
    for (const json& s : ledger.at("units").at(0).at("submissions")) EXPECT_EQ(s.at("verdict"), "accepted") << s.dump();
    EXPECT_EQ(ledger.at("units").at(0).at("submissions").at(0).at("audit"), "pending: waiting for a copy from another worker")
        << "the reply given stays as it was";
}

}  // namespace
}  // namespace pelorin::test_support
