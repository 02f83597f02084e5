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

namespace pelorin {
namespace {

using test::error_of;
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
    EXPECT_EQ(error_of([] { https_request("GET", "/healthz", "", "tok\r\nX-Other: 1"); }),
              "Could not create HTTPS request: the bearer token holds a control character");
    EXPECT_EQ(coordinator.requests().size(), 3u);
}

TEST_F(Transport, StalledAndDroppedRepliesAreNoResponse) {
    TransportTimeouts quick;
    quick.receive = std::chrono::milliseconds(500);
    set_transport_timeouts(quick);
    coordinator.post_fault(R"({"path":"/healthz","action":"stall","seconds":5})");
    EXPECT_EQ(error_of([] { https_request("GET", "/healthz", "", ""); }),
              "No HTTPS response from 127.0.0.1: Operation timed out after 500 milliseconds with no data received");

    coordinator.post_fault(R"({"path":"/healthz","action":"drop"})");
    const std::string dropped = error_of([] { https_request("GET", "/healthz", "", ""); });
    EXPECT_TRUE(dropped.starts_with("No HTTPS response from 127.0.0.1: ")) << dropped;
    EXPECT_GT(dropped.size(), std::string("No HTTPS response from 127.0.0.1: ").size()) << dropped;

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
    const std::string cut = error_of([] { https_request("GET", "/healthz", "", ""); });
    server.stop();
    serving.join();
    EXPECT_TRUE(cut.starts_with("No HTTPS response from 127.0.0.1: ")) << cut;
}

TEST_F(Transport, UnreachableOrUntrustedServersAreSendFailuresNamingTheHost) {
    {
        const test::ClosedPort closed;
        set_coordinator({"localhost", closed.port()});
        const std::string refused = error_of([] { https_request("GET", "/healthz", "", ""); });
        EXPECT_TRUE(refused.starts_with("Could not send HTTPS request to localhost: ")) << refused;
        EXPECT_NE(refused.find(std::to_string(closed.port())), std::string::npos) << refused;
    }
    // Another coordinator's authority does not vouch for this one: verification stays on.
    set_coordinator({"localhost", static_cast<std::uint16_t>(coordinator.port())});
    EXPECT_EQ(https_request("GET", "/healthz", "", "").status, 200u) << "localhost is in the certificate";
    coordinator.clear_requests();
    const test_support::DevCoordinatorProcess other;
    const test::ScopedEnv wrong_ca("SSL_CERT_FILE", other.ca_file().string());
    const std::string untrusted = error_of([] { https_request("GET", "/healthz", "", ""); });
    EXPECT_TRUE(untrusted.starts_with("Could not send HTTPS request to localhost: ")) << untrusted;
    EXPECT_NE(untrusted.find("certificate"), std::string::npos) << untrusted;
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
