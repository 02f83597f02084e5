// Hostile requests against the real server: oversized, slow, malformed, too many, and from
// unknown or banned workers. Each gets its status and {"error":...}, changes nothing, and the
// server goes on serving everyone else.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <future>

#include "tests/server/raw_tls_client.hpp"
#include "tests/support/coordinator_process.hpp"

namespace pelorin::test_support {
namespace {

using nlohmann::json;

const char* kAcquireBody = R"({"starts_per_second":2.5e+06,"proof_hash":"c1ef"})";

// A served campaign of four small units.
void serve_campaign(CoordinatorProcess& c, std::vector<std::string> flags) {
    const CommandResult r = c.command({"campaign", "add", "--begin", "2^32", "--end", "4295229440", "--unit-size", "2^16"});
    ASSERT_EQ(r.status, 0) << r.err;
    flags.insert(flags.end(), {"--difficulty-bits", "4"});
    c.serve(flags);
}

std::int64_t units_in_state(const CoordinatorProcess& c, const char* state) {
    return json::parse(c.command({"status", "--json"}).out).at("campaigns").at(0).at("units").at(state).get<std::int64_t>();
}

bool is_error_object(const std::string& body) {
    const json doc = json::parse(body, nullptr, false);
    return doc.is_object() && doc.size() == 1 && doc.contains("error") && doc.at("error").is_string();
}

TEST(HostileRequests, MalformedOversizedAndUnauthorisedRequestsChangeNothing) {
    CoordinatorProcess c;
    serve_campaign(c, {"--max-body-bytes", "4096"});
    const TestWorker w = register_test_worker(c);
    const std::string big(64 * 1024, ' ');
    const struct {
        const char* what;
        const char* method;
        std::string path;
        std::string body;
        std::string token;
        long status;
    } cases[] = {
        {"not JSON", "POST", "/api/v1/leases/acquire", "{\"starts_per_second\":", w.token, 400},
        {"an array", "POST", "/api/v1/leases/acquire", "[1]", w.token, 400},
        {"a member twice", "POST", "/api/v1/leases/acquire", R"({"proof_hash":"a","proof_hash":"b"})", w.token, 400},
        {"a member of the wrong type", "POST", "/api/v1/leases/acquire", R"({"starts_per_second":"fast"})", w.token, 400},
        {"too deep", "POST", "/api/v1/benchmarks", R"({"a":[[[[[[[[[[[[1]]]]]]]]]]]]})", w.token, 400},
        {"too large", "POST", "/api/v1/leases/acquire", "{\"proof_hash\":\"" + big + "\"}", w.token, 413},
        {"a long nickname", "POST", "/api/v1/workers/register",
         R"({"challenge_id":"c","solution":"1","nickname":")" + std::string(300, 'n') + "\"}", "", 400},
        {"no result object", "POST", "/api/v1/leases/lease-1/complete", R"({"result":"done"})", w.token, 400},
        {"an unknown token", "POST", "/api/v1/leases/acquire", kAcquireBody, "0123456789abcdef", 401},
        {"no token", "PUT", "/api/v1/leases/lease-1/heartbeat", R"({"progress":"1"})", "", 401},
        {"a bad progress", "PUT", "/api/v1/leases/lease-1/heartbeat", R"({"progress":"-1"})", w.token, 400},
        {"an unknown lease", "PUT", "/api/v1/leases/lease-77/heartbeat", R"({"progress":"1"})", w.token, 404},
        {"a wrong method", "GET", "/api/v1/leases/acquire", "", w.token, 405},
    };
    for (const auto& k : cases) {
        const HttpsReply r = c.call(k.method, k.path, k.body, k.token);
        EXPECT_EQ(r.status, k.status) << k.what << ": " << r.body << r.error;
        EXPECT_TRUE(is_error_object(r.body)) << k.what << ": " << r.body;
    }
    EXPECT_EQ(units_in_state(c, "leased"), 0) << "no bad request took a lease";
    EXPECT_EQ(c.call("POST", "/api/v1/leases/acquire", kAcquireBody, w.token).status, 200) << "the worker is still served";
}

TEST(HostileRequests, SlowClientsAreCutWhileOthersAreServed) {
    CoordinatorProcess c;
    serve_campaign(c, {"--read-timeout", "1", "--connection-deadline", "3"});
    // A client that sends nothing after the handshake is cut by the read time-out.
    RawTlsClient silent(c.port(), c.ca_file());
    ASSERT_TRUE(silent.handshake_ok());
    const auto silent_start = std::chrono::steady_clock::now();
    EXPECT_TRUE(silent.closed_within(10)) << "a silent client was not cut";
    EXPECT_LT(std::chrono::steady_clock::now() - silent_start, std::chrono::seconds(6));

    // One that trickles its request (a byte every 0.4 s, inside the read time-out) is cut by
    // the deadline; other clients are answered meanwhile.
    auto trickle = std::async(std::launch::async, [&] {
        RawTlsClient slow(c.port(), c.ca_file());
        const std::string request = "POST /api/v1/leases/acquire HTTP/1.1\r\nHost: localhost\r\nContent-Length: 1000\r\n\r\n" +
                                    std::string(1000, ' ');
        const auto start = std::chrono::steady_clock::now();
        for (char ch : request) {
            if (!slow.send(std::string(1, ch))) break;
            if (slow.closed_within(0.4)) break;
            if (std::chrono::steady_clock::now() - start > std::chrono::seconds(20)) break;
        }
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    });
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(c.call("GET", "/healthz").status, 200) << i;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    const double cut_after = trickle.get();
    EXPECT_GE(cut_after, 2.5) << "cut before its deadline";
    EXPECT_LT(cut_after, 8.0) << "not cut by its deadline";
}

TEST(HostileRequests, TooManyRequestsGet429WithRetryAfter) {
    CoordinatorProcess c;
    serve_campaign(c, {"--register-rate", "4", "--worker-rate", "3"});
    const TestWorker w = register_test_worker(c);  // two registration requests
    EXPECT_EQ(c.call("GET", "/api/v1/register/challenge").status, 200);
    EXPECT_EQ(c.call("GET", "/api/v1/register/challenge").status, 200);
    const HttpsReply limited = c.call("GET", "/api/v1/register/challenge");
    EXPECT_EQ(limited.status, 429) << limited.body;
    EXPECT_TRUE(is_error_object(limited.body)) << limited.body;
    EXPECT_GE(std::stoi(limited.retry_after.empty() ? "0" : limited.retry_after), 1) << "Retry-After: " << limited.retry_after;

    json lease;
    for (int i = 0; i < 3; ++i) {
        const HttpsReply r = c.call("POST", "/api/v1/leases/acquire", kAcquireBody, w.token);
        ASSERT_EQ(r.status, 200) << i << ": " << r.body;
        lease = json::parse(r.body);
    }
    const HttpsReply busy = c.call("PUT", "/api/v1/leases/" + lease.at("lease_id").get<std::string>() + "/heartbeat",
                                   R"({"progress":"1"})", w.token);
    EXPECT_EQ(busy.status, 429) << busy.body;
    EXPECT_FALSE(busy.retry_after.empty());
    // A completion is never limited: it ends work done.
    const HttpsReply done = c.call("POST", "/api/v1/leases/" + lease.at("lease_id").get<std::string>() + "/complete",
                                   R"({"result":{}})", w.token);
    EXPECT_EQ(done.status, 200) << done.body;
}

TEST(HostileRequests, ABannedWorkerGets403AndItsUnitGoesBack) {
    CoordinatorProcess c;
    serve_campaign(c, {});
    const TestWorker bad = register_test_worker(c, "bad");
    const TestWorker good = register_test_worker(c, "good");
    const json held = json::parse(c.call("POST", "/api/v1/leases/acquire", kAcquireBody, bad.token).body);
    const CommandResult ban = c.command({"workers", "ban", bad.worker_id});
    EXPECT_EQ(ban.status, 0) << ban.err;
    const HttpsReply refused = c.call("POST", "/api/v1/leases/acquire", kAcquireBody, bad.token);
    EXPECT_EQ(refused.status, 403);
    EXPECT_EQ(refused.body, R"({"error":"this worker is banned"})");
    EXPECT_EQ(json::parse(c.call("POST", "/api/v1/leases/acquire", kAcquireBody, good.token).body).at("begin"),
              held.at("begin"))
        << "the banned worker's unit went back to the pool";
    const json workers = json::parse(c.command({"workers", "--json"}).out);
    EXPECT_EQ(workers.at("workers").at(0).at("banned"), true) << workers.dump();
    EXPECT_EQ(c.command({"workers", "unban", bad.worker_id}).status, 0);
    EXPECT_EQ(c.call("POST", "/api/v1/leases/acquire", kAcquireBody, bad.token).status, 200);
}

}  // namespace
}  // namespace pelorin::test_support
