// The transport against a real HTTPS server on loopback.
#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "closed_port.hpp"
#include "coordinator/https_transport.hpp"
#include "loopback_coordinator.hpp"
#include "transport_cases.hpp"

namespace pelorin {
namespace {

using test::error_of;
using test::https_failure_of;
using Transport = test::LoopbackCoordinator;

TEST_F(Transport, RepliesPassThroughAndOtherStatusesFail) {
    const HttpsResponse ok = https_request("GET", "/healthz", "", "");
    EXPECT_EQ(ok.status, 200u);
    EXPECT_EQ(ok.body, R"({"status":"ok"})");

    coordinator.post_fault(R"({"path":"/healthz","action":"status","status":204,"body":""})");
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
        {302, "", ""},
        {496, "spaced body ", "spaced body "},
    };
    for (const auto& c : cases) {
        coordinator.post_fault(R"({"path":"/healthz","action":"status","status":)" + std::to_string(c.status) +
                               R"(,"body":")" + c.body + R"("})");
        EXPECT_EQ(error_of([] { https_request("GET", "/healthz", "", ""); }),
                  "Coordinator error " + std::to_string(c.status) + ": " + c.sent);
    }
}

TEST_F(Transport, StatusFailuresCarryTheStatusAndRetryAfter) {
    test::expect_status_failures([&](const std::string& fault) { coordinator.post_fault(fault); });
}

TEST_F(Transport, RepliesOverOneMebibyteAreRefused) {
    test::expect_reply_cap([&](const std::string& fault) { coordinator.post_fault(fault); });
}

TEST_F(Transport, TricklingReplyIsCutAtTheOverallDeadline) {
    test::expect_trickle_cut_at_deadline([&](const std::string& fault) { coordinator.post_fault(fault); });
}

TEST_F(Transport, HeadersCarryTheUserAgentAndAtMostOneToken) {
    // Both are refused for their token, and recorded as sent.
    EXPECT_EQ(error_of([] { https_request("POST", "/api/v1/benchmarks", R"({"x":1})", ""); }).substr(0, 22),
              "Coordinator error 401:");
    EXPECT_EQ(error_of([] { https_request("PUT", "/api/v1/leases/L/heartbeat", "", "tok-1"); }).substr(0, 22),
              "Coordinator error 401:");
    https_request("GET", "/healthz", "", "tok-2");
    const auto requests = coordinator.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].body, R"({"x":1})");
    EXPECT_TRUE(requests[0].authorization.empty());
    EXPECT_EQ(requests[1].method, "PUT");
    EXPECT_EQ(requests[1].path, "/api/v1/leases/L/heartbeat");
    EXPECT_EQ(requests[1].body, "");
    EXPECT_EQ(requests[1].authorization, std::vector<std::string>{"Bearer tok-1"});
    EXPECT_EQ(requests[2].authorization, std::vector<std::string>{"Bearer tok-2"});
    for (const auto& r : requests) {
        EXPECT_EQ(r.user_agent, "PelorinWorker/1.1") << r.path;
        EXPECT_EQ(r.content_type, "application/json") << r.path;
        EXPECT_EQ(r.accept, "application/json") << r.path;
    }
    // A line break in the token would smuggle in a header of its own.
    const auto smuggled = https_failure_of([] { https_request("GET", "/healthz", "", "tok\r\nX-Other: 1"); });
    ASSERT_TRUE(smuggled);
    EXPECT_EQ(smuggled->failure(), HttpsFailure::setup);
    EXPECT_STREQ(smuggled->what(), "Could not create HTTPS request: the bearer token holds a control character");
    EXPECT_EQ(coordinator.requests().size(), 3u);
}

TEST_F(Transport, StalledAndDroppedRepliesAreNoResponse) {
    TransportTimeouts quick;
    quick.receive = std::chrono::milliseconds(500);
    set_transport_timeouts(quick);
    coordinator.post_fault(R"({"path":"/healthz","action":"stall","seconds":5})");
    const auto stalled = https_failure_of([] { https_request("GET", "/healthz", "", ""); });
    ASSERT_TRUE(stalled);
    EXPECT_EQ(stalled->failure(), HttpsFailure::network);
    EXPECT_STREQ(stalled->what(),
                 "No HTTPS response from 127.0.0.1: Operation timed out after 500 milliseconds with no data received");

    coordinator.post_fault(R"({"path":"/healthz","action":"drop"})");
    const auto dropped = https_failure_of([] { https_request("GET", "/healthz", "", ""); });
    ASSERT_TRUE(dropped);
    EXPECT_EQ(dropped->failure(), HttpsFailure::network);
    const std::string head = "No HTTPS response from 127.0.0.1: ";
    EXPECT_TRUE(std::string(dropped->what()).starts_with(head)) << dropped->what();
    EXPECT_GT(std::string(dropped->what()).size(), head.size()) << dropped->what();

    EXPECT_EQ(https_request("GET", "/healthz", "", "").status, 200u) << "the next request is served";
}

// A reply cut off inside its body is no reply: part of a JSON text can read as something else.
TEST_F(Transport, ReplyCutOffInItsBodyIsNoResponse) {
    // A server of our own, on the coordinator's certificate, that promises 100 bytes and sends 10.
    httplib::SSLServer server((coordinator.state_dir() / "server.pem").c_str(),
                              (coordinator.state_dir() / "server-key.pem").c_str());
    server.Get("/healthz", [](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(100, "application/json", [](std::size_t offset, std::size_t, httplib::DataSink& sink) {
            if (offset > 0) return false;
            sink.write(R"({"status":)", 10);
            return true;
        });
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    ASSERT_GT(port, 0);
    std::thread serving([&] { server.listen_after_bind(); });  // already listening: requests queue
    set_coordinator({"127.0.0.1", static_cast<std::uint16_t>(port)});
    const auto cut = https_failure_of([] { https_request("GET", "/healthz", "", ""); });
    server.stop();
    serving.join();
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->failure(), HttpsFailure::network);
    EXPECT_TRUE(std::string(cut->what()).starts_with("No HTTPS response from 127.0.0.1: ")) << cut->what();
}

// A server that cannot be reached is a network failure; one whose certificate this system
// does not trust is a failure of trust, which waiting cannot mend.
TEST_F(Transport, UnreachableOrUntrustedServersAreSendFailuresNamingTheHost) {
    {
        const test::ClosedPort closed;
        set_coordinator({"localhost", closed.port()});
        const auto refused = https_failure_of([] { https_request("GET", "/healthz", "", ""); });
        ASSERT_TRUE(refused);
        EXPECT_EQ(refused->failure(), HttpsFailure::network);
        EXPECT_TRUE(std::string(refused->what()).starts_with("Could not send HTTPS request to localhost: "))
            << refused->what();
        EXPECT_NE(std::string(refused->what()).find(std::to_string(closed.port())), std::string::npos)
            << refused->what();
    }
    set_coordinator({"localhost", static_cast<std::uint16_t>(coordinator.port())});
    EXPECT_EQ(https_request("GET", "/healthz", "", "").status, 200u) << "localhost is in the certificate";
    coordinator.clear_requests();
    // Another coordinator's authority does not vouch for this one, and a missing file vouches
    // for nothing: verification stays on.
    const test_support::DevCoordinatorProcess other;
    for (const std::string& ca_file : {other.ca_file().string(), (data.folder() / "no-such-ca.pem").string()}) {
        const test::ScopedEnv wrong_ca("SSL_CERT_FILE", ca_file);
        const auto untrusted = https_failure_of([] { https_request("GET", "/healthz", "", ""); });
        ASSERT_TRUE(untrusted) << ca_file;
        EXPECT_EQ(untrusted->failure(), HttpsFailure::untrusted) << ca_file << ": " << untrusted->what();
        EXPECT_TRUE(std::string(untrusted->what()).starts_with("Could not send HTTPS request to localhost: "))
            << untrusted->what();
        EXPECT_NE(std::string(untrusted->what()).find("certificate"), std::string::npos) << untrusted->what();
    }
    EXPECT_TRUE(coordinator.requests().empty());
}

TEST_F(Transport, ConcurrentRequestsAreServedOneAfterTheOther) {
    coordinator.post_fault(R"({"path":"/healthz","action":"stall","seconds":1})");
    std::atomic<int> finished{0};
    int stalled_rank = 0;
    std::thread stalled([&] {
        https_request("GET", "/healthz", "", "");
        stalled_rank = ++finished;
    });
    // Start the second request only once the first one is at the server.
    for (int i = 0; i < 500 && coordinator.requests().empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(coordinator.requests().size(), 1u);
    https_request("GET", "/healthz", "", "");
    const int quick_rank = ++finished;
    stalled.join();
    EXPECT_EQ(stalled_rank, 1);
    EXPECT_EQ(quick_rank, 2);
}

}  // namespace
}  // namespace pelorin
