// Scripted faults and the request log, seen from a real HTTPS client.
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/support/dev_coordinator_process.hpp"

namespace pelorin::test_support {
namespace {

using nlohmann::json;

const char* kAcquireBody = R"({"starts_per_second":1e+06,"proof_hash":"c1ef"})";

class DevCoordinatorFaults : public ::testing::Test {
protected:
    DevCoordinatorFaults()
        : c({"--difficulty-bits", "4", "--begin", "1000", "--end", "9000", "--unit-size", "1000"}),
          w(register_test_worker(c)) {}

    HttpsReply acquire(long timeout_ms = 30000) const {
        return https_call(c.port(), c.ca_file(), "POST", "/api/v1/leases/acquire", kAcquireBody,
                          {"Authorization: Bearer " + w.token}, timeout_ms);
    }

    DevCoordinatorProcess c;
    TestWorker w;
};

TEST_F(DevCoordinatorFaults, StatusReplacesTheReplyAndSkipsTheRequest) {
    c.post_fault(R"({"path":"/api/v1/leases/acquire","count":1,"action":"status","status":500,"body":"{\"error\":\"x\"}"})");
    const HttpsReply faulted = acquire();
    EXPECT_EQ(faulted.status, 500);
    EXPECT_EQ(faulted.body, R"({"error":"x"})");
    const HttpsReply next = acquire();
    EXPECT_EQ(next.status, 200);
    EXPECT_EQ(json::parse(next.body).at("lease_id"), "lease-1") << "the faulted request handed out a lease";
}

TEST_F(DevCoordinatorFaults, OmitAndMalformedRewriteTheNormalReply) {
    c.post_fault(R"({"path":"/api/v1/leases/acquire","action":"omit","member":"begin"})");
    c.post_fault(R"({"path":"/api/v1/leases/acquire","action":"malformed","member":"begin","value":"12x"})");
    const HttpsReply omitted = acquire();
    EXPECT_EQ(omitted.status, 200);
    EXPECT_EQ(omitted.body, R"({"lease_id":"lease-1","end":"2000","complete":false})");
    const HttpsReply mangled = acquire();
    EXPECT_EQ(mangled.body, R"({"lease_id":"lease-1","begin":12x,"end":"2000","complete":false})");
    EXPECT_EQ(acquire().body, R"({"lease_id":"lease-1","begin":"1000","end":"2000","complete":false})");
}

TEST_F(DevCoordinatorFaults, StallDelaysTheReplyBeyondAShortClientTimeout) {
    c.post_fault(R"({"path":"/api/v1/leases/acquire","action":"stall","seconds":3})");
    const HttpsReply stalled = acquire(500);
    EXPECT_EQ(stalled.curl_code, CURLE_OPERATION_TIMEDOUT) << stalled.status << " " << stalled.body << stalled.error;
    const HttpsReply after = acquire(500);
    EXPECT_EQ(after.status, 200) << after.error;
}

TEST_F(DevCoordinatorFaults, DropClosesTheConnectionWithoutAReply) {
    c.post_fault(R"({"path":"/api/v1/leases/acquire","action":"drop"})");
    const HttpsReply dropped = acquire();
    EXPECT_EQ(dropped.status, 0);
    EXPECT_NE(dropped.curl_code, CURLE_OK);
    EXPECT_FALSE(dropped.error.empty());
    const HttpsReply next = acquire();
    EXPECT_EQ(next.status, 200);
    EXPECT_EQ(json::parse(next.body).at("lease_id"), "lease-1");
    EXPECT_EQ(c.requests().back().path, "/api/v1/leases/acquire");
}

TEST_F(DevCoordinatorFaults, LargeAndTricklingRepliesCarryTheNormalReply) {
    const std::string normal = R"({"lease_id":"lease-1","begin":"1000","end":"2000","complete":false})";
    for (const bool chunked : {false, true}) {
        c.post_fault(R"({"path":"/api/v1/leases/acquire","action":"large","bytes":3000000,"chunked":)" +
                     std::string(chunked ? "true" : "false") + "}");
        const HttpsReply large = acquire();
        EXPECT_EQ(large.status, 200) << chunked << " " << large.error;
        EXPECT_EQ(large.content_length, chunked ? -1 : 3000000) << chunked;
        ASSERT_EQ(large.body.size(), 3000000u) << chunked;
        EXPECT_EQ(large.body.substr(0, normal.size()), normal) << chunked;
        EXPECT_EQ(large.body.find_first_not_of(' ', normal.size()), std::string::npos) << chunked;
    }
    c.post_fault(R"({"path":"/api/v1/leases/acquire","action":"trickle","seconds":0.01})");
    const HttpsReply trickled = acquire();
    EXPECT_EQ(trickled.status, 200) << trickled.error;
    EXPECT_EQ(trickled.content_length, static_cast<long long>(normal.size()));
    EXPECT_EQ(trickled.body, normal);
}

TEST_F(DevCoordinatorFaults, PrefixPathsCountsAndClearing) {
    c.post_fault(R"({"path":"/api/v1/leases/*","count":2,"action":"status","status":503,"body":"busy"})");
    EXPECT_EQ(acquire().status, 503);
    EXPECT_EQ(c.call("PUT", "/api/v1/leases/lease-1/heartbeat", R"({"progress":"0"})", w.token).status, 503);
    EXPECT_EQ(acquire().status, 200);  // both uses spent
    EXPECT_EQ(c.call("GET", "/healthz").status, 200);

    c.post_fault(R"({"path":"/healthz","count":5,"action":"status","status":418})");
    EXPECT_EQ(c.call("GET", "/healthz").status, 418);
    c.clear_faults();
    EXPECT_EQ(c.call("GET", "/healthz").status, 200);

    const char* bad[] = {R"({"path":"/healthz","action":"explode"})", R"({"action":"drop"})", "nope"};
    for (const char* body : bad) EXPECT_EQ(c.call("POST", "/dev/faults", body).status, 400) << body;
}

TEST_F(DevCoordinatorFaults, RequestLogShowsWhatArrived) {
    c.clear_requests();
    https_call(c.port(), c.ca_file(), "POST", "/api/v1/leases/acquire", kAcquireBody,
               {"Authorization: Bearer " + w.token, "Authorization: Bearer second", "User-Agent: PelorinWorker/1.1",
                "Accept: application/json"});
    c.call("GET", "/healthz");
    c.ledger_json();  // control requests are not logged
    const std::vector<RecordedRequest> log = c.requests();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].method, "POST");
    EXPECT_EQ(log[0].path, "/api/v1/leases/acquire");
    EXPECT_EQ(log[0].authorization, (std::vector<std::string>{"Bearer " + w.token, "Bearer second"}));
    EXPECT_EQ(log[0].user_agent, "PelorinWorker/1.1");
    EXPECT_EQ(log[0].content_type, "application/json");
    EXPECT_EQ(log[0].accept, "application/json");
    EXPECT_EQ(log[0].body, kAcquireBody);
    EXPECT_EQ(log[1].method, "GET");
    EXPECT_EQ(log[1].path, "/healthz");
    EXPECT_TRUE(log[1].authorization.empty());
    EXPECT_TRUE(log[1].body.empty());
}

}  // namespace
}  // namespace pelorin::test_support
