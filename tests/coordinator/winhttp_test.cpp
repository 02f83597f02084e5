// The WinHTTP transport, registration and the connection check against the Linux development
// coordinator, in a Wine prefix that trusts its authority.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "closed_port.hpp"
#include "coordinator/coordinator_api.hpp"
#include "coordinator/https_transport.hpp"
#include "coordinator/identity.hpp"
#include "coordinator/identity_store.hpp"
#include "coordinator/registration.hpp"
#include "coordinator/windows_text.hpp"
#include "tests/support/windows_coordinator.hpp"
#include "transport_cases.hpp"

namespace pelorin {
namespace {

using test::error_of;
using test::https_failure_of;
using WinHttp = test::WindowsCoordinator;

TEST_F(WinHttp, RepliesPassThroughAndOtherStatusesFail) {
    const HttpsResponse ok = https_request("GET", "/healthz", "", "");
    EXPECT_EQ(ok.status, 200u);
    EXPECT_EQ(ok.body, R"({"status":"ok"})");

    post_fault(R"({"path":"/healthz","action":"status","status":204,"body":""})");
    const HttpsResponse empty = https_request("GET", "/healthz", "", "");
    EXPECT_EQ(empty.status, 204u);
    EXPECT_EQ(empty.body, "");

    struct Case {
        int status;
        std::string body;  // as the fault's JSON string holds it
        std::string sent;  // the bytes on the wire
    };
    const Case cases[] = {
        {404, R"({\"error\":\"x\"})", R"({"error":"x"})"},
        {500, R"(line one\r\nline two \u00b7)", "line one\r\nline two \xc2\xb7"},
        {302, "", ""},  // not followed: a redirect would carry the token elsewhere
        {496, "spaced body ", "spaced body "},
    };
    for (const auto& c : cases) {
        post_fault(R"({"path":"/healthz","action":"status","status":)" + std::to_string(c.status) + R"(,"body":")" +
                   c.body + R"("})");
        EXPECT_EQ(error_of([] { https_request("GET", "/healthz", "", ""); }),
                  "Coordinator error " + std::to_string(c.status) + ": " + c.sent);
    }
}

TEST_F(WinHttp, StatusFailuresCarryTheStatusAndRetryAfter) {
    test::expect_status_failures([&](const std::string& fault) { post_fault(fault); });
}

TEST_F(WinHttp, RepliesOverOneMebibyteAreRefused) {
    test::expect_reply_cap([&](const std::string& fault) { post_fault(fault); });
}

TEST_F(WinHttp, TricklingReplyIsCutAtTheOverallDeadline) {
    test::expect_trickle_cut_at_deadline([&](const std::string& fault) { post_fault(fault); });
}

TEST_F(WinHttp, HeadersCarryTheUserAgentAndAtMostOneToken) {
    // Both are refused for their token, and recorded as sent.
    EXPECT_EQ(error_of([] { https_request("POST", "/api/v1/benchmarks", R"({"x":1})", ""); }).substr(0, 22),
              "Coordinator error 401:");
    EXPECT_EQ(error_of([] { https_request("PUT", "/api/v1/leases/L/heartbeat", "", "tok-1"); }).substr(0, 22),
              "Coordinator error 401:");
    EXPECT_EQ(error_of([] { https_request("POST", "/api/v1/leases/acquire", "{}", "tok-2"); }).substr(0, 22),
              "Coordinator error 401:");
    const auto seen = requests();
    ASSERT_EQ(seen.size(), 3u);
    const std::string expected[] = {
        R"({"method":"POST","path":"/api/v1/benchmarks","authorization":[],"user_agent":"PelorinWorker/1.1",)"
        R"("content_type":"application/json","accept":"application/json","body":"{\"x\":1}"})",
        R"({"method":"PUT","path":"/api/v1/leases/L/heartbeat","authorization":["Bearer tok-1"],)"
        R"("user_agent":"PelorinWorker/1.1","content_type":"application/json","accept":"application/json","body":""})",
        R"({"method":"POST","path":"/api/v1/leases/acquire","authorization":["Bearer tok-2"],)"
        R"("user_agent":"PelorinWorker/1.1","content_type":"application/json","accept":"application/json","body":"{}"})",
    };
    for (std::size_t i = 0; i < 3; ++i) EXPECT_TRUE(seen[i].starts_with(expected[i])) << seen[i];

    // A line break in the token would smuggle in a header of its own.
    const auto smuggled = https_failure_of([] { https_request("GET", "/healthz", "", "tok\r\nX-Other: 1"); });
    ASSERT_TRUE(smuggled);
    EXPECT_EQ(smuggled->failure(), HttpsFailure::setup);
    EXPECT_STREQ(smuggled->what(), "Could not create HTTPS request: the bearer token holds a control character");
    EXPECT_EQ(requests().size(), 3u);
}

TEST_F(WinHttp, StalledAndDroppedRepliesAreNoResponse) {
    TransportTimeouts quick;
    quick.receive = std::chrono::milliseconds(500);
    set_transport_timeouts(quick);
    post_fault(R"({"path":"/healthz","action":"stall","seconds":5})");
    // WinHTTP reports ERROR_WINHTTP_TIMEOUT; Wine passes on the socket's WSAETIMEDOUT.
    const auto stalled = https_failure_of([] { https_request("GET", "/healthz", "", ""); });
    ASSERT_TRUE(stalled);
    EXPECT_EQ(stalled->failure(), HttpsFailure::network);
    const std::string stalled_text = stalled->what();
    EXPECT_TRUE(stalled_text == "No HTTPS response from localhost: " + windows_error_text(12002) ||
                stalled_text == "No HTTPS response from localhost: " + windows_error_text(10060))
        << stalled_text;

    post_fault(R"({"path":"/healthz","action":"drop"})");
    const auto dropped = https_failure_of([] { https_request("GET", "/healthz", "", ""); });
    ASSERT_TRUE(dropped);
    EXPECT_EQ(dropped->failure(), HttpsFailure::network);
    EXPECT_TRUE(std::string(dropped->what()).starts_with("No HTTPS response from localhost: Windows error "))
        << dropped->what();

    EXPECT_EQ(https_request("GET", "/healthz", "", "").status, 200u) << "the next request is served";
}

TEST_F(WinHttp, UnreachableServerIsASendFailureNamingTheHost) {
    const test::ClosedPort closed;
    set_coordinator({"localhost", closed.port()});
    const auto refused = https_failure_of([] { https_request("GET", "/healthz", "", ""); });
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->failure(), HttpsFailure::network);
    EXPECT_TRUE(std::string(refused->what()).starts_with("Could not send HTTPS request to localhost: Windows error 12029 ("))
        << refused->what();
}

TEST_F(WinHttp, ConcurrentRequestsAreServedOneAfterTheOther) {
    post_fault(R"({"path":"/healthz","action":"stall","seconds":1})");
    std::atomic<int> finished{0};
    int stalled_rank = 0;
    std::thread stalled([&] {
        https_request("GET", "/healthz", "", "");
        stalled_rank = ++finished;
    });
    // Start the second request only once the first one is at the server (asked past the
    // transport, whose lock the first request holds).
    for (int i = 0; i < 500 && requests_past_the_transport().empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(requests_past_the_transport().size(), 1u);
    https_request("GET", "/healthz", "", "");
    const int quick_rank = ++finished;
    stalled.join();
    EXPECT_EQ(stalled_rank, 1);
    EXPECT_EQ(quick_rank, 2);
}

// The start-up exchanges a worker makes: the connection check, registration with its
// protected identity.bin, the benchmark report; and the automatic proxy, which reaches the
// server directly when no proxy is configured.
TEST_F(WinHttp, ConnectionCheckRegistrationAndBenchmark) {
    set_proxy_mode(kProxySystem);
    check_secure_connection();
    EXPECT_EQ(proxy_mode(), kProxyDirect);

    const WorkerIdentity fresh = load_identity();
    std::string posted;
    const WorkerIdentity registered = register_worker(
        fresh, std::string(64, 'b'), std::string(64, 'a'), [&](const std::string& text) { posted = text; }, {});
    EXPECT_EQ(posted, "Registering public worker...\r\nSolving short anti-abuse challenge.");
    EXPECT_EQ(registered.client_id, fresh.client_id);
    EXPECT_FALSE(registered.worker_id.empty());
    EXPECT_FALSE(registered.token.empty());
    const WorkerIdentity loaded = load_identity();
    EXPECT_EQ(loaded.client_id, registered.client_id);
    EXPECT_EQ(loaded.worker_id, registered.worker_id);
    EXPECT_EQ(loaded.token, registered.token);

    set_proxy_mode(kProxySystem);
    report_benchmark(registered.token, std::string(64, 'b'), "record-recursive", 2.5e9);
    const auto seen = requests();
    ASSERT_FALSE(seen.empty());
    EXPECT_TRUE(seen.back().starts_with(R"({"method":"POST","path":"/api/v1/benchmarks","authorization":["Bearer )" +
                                        registered.token + R"("])"))
        << seen.back();
}

}  // namespace
}  // namespace pelorin
