// The connection check, registration and the lease exchanges against the real development
// coordinator on loopback.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "closed_port.hpp"
#include "connect_proxy.hpp"
#include "coordinator/coordinator_api.hpp"
#include "coordinator/https_transport.hpp"
#include "coordinator/registration.hpp"
#include "coordinator/identity.hpp"
#include "loopback_coordinator.hpp"
#include "state/unit_result.hpp"
#include "transport_cases.hpp"

namespace pelorin {
namespace {

namespace fs = std::filesystem;
using test::error_of;
using test::https_failure_of;
using test::ScopedEnv;

const std::string kBuildHash(64, 'b');
const std::string kHardwareHash(64, 'a');

// ---------------------------------------------------------------- connection check

// The proxy settings a developer's shell may carry, cleared so only the test's own count.
struct NoInheritedProxy {
    ScopedEnv vars[8] = {{"http_proxy", std::nullopt},  {"HTTP_PROXY", std::nullopt},
                         {"https_proxy", std::nullopt}, {"HTTPS_PROXY", std::nullopt},
                         {"all_proxy", std::nullopt},   {"ALL_PROXY", std::nullopt},
                         {"no_proxy", std::nullopt},    {"NO_PROXY", std::nullopt}};
};

using ConnectionCheck = test::LoopbackCoordinator;

TEST_F(ConnectionCheck, DirectConnectionIgnoresAConfiguredProxy) {
    NoInheritedProxy clean;
    test::ConnectProxy proxy({});  // tunnels nowhere
    ScopedEnv via_proxy("https_proxy", proxy.url());
    set_proxy_mode(kProxySystem);
    check_secure_connection();
    EXPECT_EQ(proxy_mode(), kProxyDirect);
    EXPECT_TRUE(proxy.targets().empty());
    EXPECT_EQ(coordinator.requests().size(), 1u);
}

// The coordinator is reachable only through the proxy: its port on localhost refuses direct
// connections, and the proxy tunnels that host and port to the real listener.
TEST_F(ConnectionCheck, FallsBackToTheSystemProxyAndLaterRequestsKeepIt) {
    NoInheritedProxy clean;
    const test::ClosedPort closed;
    const std::string target = "localhost:" + std::to_string(closed.port());
    test::ConnectProxy proxy({{target, static_cast<std::uint16_t>(coordinator.port())}});
    ScopedEnv via_proxy("https_proxy", proxy.url());
    set_coordinator({"localhost", closed.port()});

    check_secure_connection();
    EXPECT_EQ(proxy_mode(), kProxySystem);
    const test_support::TestWorker worker = test_support::register_test_worker(coordinator);
    report_benchmark(worker.token, kBuildHash, "record-recursive", 2.5e6);

    EXPECT_EQ(proxy.targets(), (std::vector<std::string>{target, target}));
    const auto requests = coordinator.requests();
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(requests.front().path, "/healthz");
    EXPECT_EQ(requests.back().path, "/api/v1/benchmarks");
}

TEST_F(ConnectionCheck, BothRoutesFailingNamesBoth) {
    NoInheritedProxy clean;
    const test::ClosedPort closed;
    test::ConnectProxy proxy({});  // refuses every tunnel
    ScopedEnv via_proxy("https_proxy", proxy.url());
    set_coordinator({"localhost", closed.port()});
    const auto failure = https_failure_of(check_secure_connection);
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->failure(), HttpsFailure::network);
    const std::string message = failure->what();
    const std::string direct = "Secure connection check failed.\r\nDirect: Could not send HTTPS request to localhost: ";
    const std::string via = "\r\nSystem proxy: Could not send HTTPS request to localhost: ";
    const std::string advice =
        "\r\nCheck the system date/time and allow this app outbound TCP " + std::to_string(closed.port()) + ".";
    EXPECT_TRUE(message.starts_with(direct)) << message;
    EXPECT_NE(message.find(via), std::string::npos) << message;
    EXPECT_TRUE(message.ends_with(advice)) << message;
    EXPECT_EQ(proxy.targets().size(), 1u);
}

// The failed check tells callers what went wrong: a certificate not trusted on either route,
// else what the proxy route met.
TEST_F(ConnectionCheck, FailureCarriesTheKindOfWhatWentWrong) {
    NoInheritedProxy clean;
    coordinator.post_fault(R"({"path":"/healthz","count":2,"action":"status","status":503,"body":"busy","retry_after":"9"})");
    const auto busy = https_failure_of(check_secure_connection);
    ASSERT_TRUE(busy);
    EXPECT_EQ(busy->failure(), HttpsFailure::status);
    EXPECT_EQ(busy->status(), 503u);
    EXPECT_EQ(test::retry_seconds(*busy), 9);
    EXPECT_EQ(std::string(busy->what()),
              "Secure connection check failed.\r\nDirect: Coordinator error 503: busy\r\nSystem proxy: Coordinator "
              "error 503: busy\r\nCheck the system date/time and allow this app outbound TCP " +
                  std::to_string(coordinator.port()) + ".");

    // Directly the certificate is not trusted; the proxy refuses the tunnel.
    test::ConnectProxy proxy({});
    ScopedEnv via_proxy("https_proxy", proxy.url());
    const test_support::DevCoordinatorProcess other;
    const ScopedEnv wrong_ca("SSL_CERT_FILE", other.ca_file().string());
    const auto untrusted = https_failure_of(check_secure_connection);
    ASSERT_TRUE(untrusted);
    EXPECT_EQ(untrusted->failure(), HttpsFailure::untrusted) << untrusted->what();
    EXPECT_EQ(untrusted->status(), 0u);
    EXPECT_EQ(proxy.targets().size(), 1u) << "the proxy route was tried";
}

// ---------------------------------------------------------------- registration

using Registration = test::LoopbackCoordinator;

TEST_F(Registration, SolvesTheChallengeRegistersAndStoresTheIdentity) {
    const WorkerIdentity fresh = load_identity();
    std::vector<std::string> statuses;
    const WorkerIdentity registered = register_worker(
        fresh, kBuildHash, kHardwareHash, [&](const std::string& text) { statuses.push_back(text); }, {});
    EXPECT_EQ(registered.client_id, fresh.client_id);
    EXPECT_FALSE(registered.worker_id.empty());
    EXPECT_FALSE(registered.token.empty());
    EXPECT_EQ(statuses, std::vector<std::string>{"Registering public worker...\r\nSolving short anti-abuse challenge."});

    EXPECT_EQ(test::read_file(data.folder() / "identity.bin"), identity_text(registered));
    const WorkerIdentity loaded = load_identity();
    EXPECT_EQ(loaded.worker_id, registered.worker_id);
    EXPECT_EQ(loaded.token, registered.token);

    const auto requests = coordinator.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].path, "/api/v1/register/challenge");
    EXPECT_EQ(requests[1].method, "POST");
    EXPECT_EQ(requests[1].path, "/api/v1/workers/register");
    for (const auto& r : requests) EXPECT_TRUE(r.authorization.empty()) << r.path;
    const std::string& body = requests[1].body;
    const std::string tail = R"(","nickname":"Anonymous","client_id":")" + fresh.client_id +
                             R"(","hardware_hash":")" + kHardwareHash + R"(","build_hash":")" + kBuildHash + R"("})";
    EXPECT_TRUE(body.starts_with(R"({"challenge_id":")")) << body;
    EXPECT_TRUE(body.ends_with(tail)) << body;
    EXPECT_NE(body.find(R"(","solution":")"), std::string::npos) << body;

    // The coordinator accepted the proof of work: the token works.
    report_benchmark(registered.token, kBuildHash, "record-recursive", 1e6);
}

TEST_F(Registration, BadChallengesAndRepliesStoreNothing) {
    struct Case {
        std::string fault;
        std::string message;  // the start of the error
        bool status_posted;   // whether the puzzle was started
    };
    const Case cases[] = {
        {R"({"path":"/api/v1/register/challenge","action":"status","status":503,"body":"busy"})",
         "Coordinator error 503: busy", false},
        {R"({"path":"/api/v1/register/challenge","action":"malformed","member":"difficulty_bits","value":"300"})",
         "Registration challenge asks for 300 leading zero bits; a SHA-256 digest has only 256", false},
        {R"({"path":"/api/v1/register/challenge","action":"malformed","member":"challenge_id","value":"\"c\\\\1\""})",
         "Coordinator sent an unusable challenge_id", false},
        {R"({"path":"/api/v1/workers/register","action":"omit","member":"token"})",
         "Registration response was incomplete", true},
        {R"({"path":"/api/v1/workers/register","action":"malformed","member":"worker_id","value":"7"})",
         "Registration response was incomplete", true},
        {R"({"path":"/api/v1/workers/register","action":"malformed","member":"token","value":"\"t\u0001k\""})",
         "Coordinator sent an unusable token", true},
        {R"({"path":"/api/v1/workers/register","action":"drop"})", "No HTTPS response from 127.0.0.1: ", true},
    };
    for (const auto& c : cases) {
        coordinator.post_fault(c.fault);
        std::vector<std::string> statuses;
        const std::string message = error_of([&] {
            register_worker(
                load_identity(), kBuildHash, kHardwareHash, [&](const std::string& text) { statuses.push_back(text); },
                {});
        });
        EXPECT_TRUE(message.starts_with(c.message)) << c.fault << "\n  gave: " << message;
        EXPECT_EQ(statuses.size(), c.status_posted ? 1u : 0u) << c.fault;
        EXPECT_FALSE(fs::exists(data.folder() / "identity.bin")) << c.fault;
        coordinator.clear_faults();
    }
}

// A challenge of 64 bits would take years: a stop from another thread ends the search.
TEST_F(Registration, StopEndsTheProofOfWorkAndStoresNothing) {
    coordinator.post_fault(R"({"path":"/api/v1/register/challenge","action":"malformed","member":"difficulty_bits","value":"64"})");
    std::atomic<bool> solving{false};
    std::stop_source stop;
    std::jthread stopper([&](std::stop_token end) {
        while (!solving && !end.stop_requested()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        stop.request_stop();
    });
    const std::string message = error_of([&] {
        register_worker(
            load_identity(), kBuildHash, kHardwareHash, [&](const std::string&) { solving = true; }, stop.get_token());
    });
    stopper.request_stop();
    stopper.join();
    EXPECT_EQ(message, "Stopped");
    EXPECT_FALSE(fs::exists(data.folder() / "identity.bin"));
    EXPECT_EQ(coordinator.requests().size(), 1u) << "nothing was sent after the challenge";
}

// ---------------------------------------------------------------- lease exchanges

class CoordinatorApi : public test::LoopbackCoordinator {
protected:
    CoordinatorApi() : worker(test_support::register_test_worker(coordinator)) { coordinator.clear_requests(); }
    test_support::TestWorker worker;
};

TEST_F(CoordinatorApi, RequestsCarryTheirPathsBodiesAndToken) {
    report_benchmark(worker.token, kBuildHash, "record-recursive", 2500000);
    const Lease lease = acquire_lease(worker.token, 1000000, "proofhash");
    ASSERT_FALSE(lease.complete);
    EXPECT_FALSE(lease.lease_id.empty());
    EXPECT_EQ(lease.begin, "4294967296");
    EXPECT_EQ(lease.end, "8589934592");
    send_heartbeat(worker.token, lease.lease_id, 0);
    EXPECT_TRUE(error_of([&] { send_heartbeat(worker.token, lease.lease_id, 18446744073709551615u); })
                    .starts_with("Coordinator error 400: "));  // beyond the unit
    const Completion done = complete_lease(worker.token, lease.lease_id, result_json(UnitResult{}));
    EXPECT_TRUE(done.audit.starts_with("rejected: ")) << done.audit;  // an empty record is not the unit's
    EXPECT_TRUE(done.rejected);

    const auto requests = coordinator.requests();
    ASSERT_EQ(requests.size(), 5u);
    const std::string lease_path = "/api/v1/leases/" + lease.lease_id;
    const struct {
        const char* method;
        std::string path;
        std::string body;
    } expected[] = {
        {"POST", "/api/v1/benchmarks",
         R"({"build_hash":")" + kBuildHash + R"(","backend":"record-recursive","profile":"balanced","starts_per_second":2.5e+06})"},
        {"POST", "/api/v1/leases/acquire", R"({"starts_per_second":1e+06,"proof_hash":"proofhash"})"},
        {"PUT", lease_path + "/heartbeat", R"({"progress":"0"})"},
        {"PUT", lease_path + "/heartbeat", R"({"progress":"18446744073709551615"})"},
        {"POST", lease_path + "/complete", R"({"result":)" + result_json(UnitResult{}) + "}"},
    };
    for (std::size_t i = 0; i < requests.size(); ++i) {
        EXPECT_EQ(requests[i].method, expected[i].method) << i;
        EXPECT_EQ(requests[i].path, expected[i].path) << i;
        EXPECT_EQ(requests[i].body, expected[i].body) << i;
        EXPECT_EQ(requests[i].authorization, std::vector<std::string>{"Bearer " + worker.token}) << i;
    }
}

TEST_F(CoordinatorApi, RatesAreWrittenAsAStreamWritesThem) {
    const struct {
        double rate;
        const char* text;
    } cases[] = {{1000000, "1e+06"}, {999999.4, "999999"}, {123456.7, "123457"},
                 {2500000, "2.5e+06"}, {0.5, "0.5"},       {0.00001, "1e-05"}};
    for (const auto& c : cases) acquire_lease(worker.token, c.rate, "h");  // the same lease each time
    const auto requests = coordinator.requests();
    ASSERT_EQ(requests.size(), std::size(cases));
    for (std::size_t i = 0; i < requests.size(); ++i) {
        EXPECT_EQ(requests[i].body, std::string(R"({"starts_per_second":)") + cases[i].text + R"(,"proof_hash":"h"})")
            << cases[i].rate;
    }
}

// What each exchange makes of a reply that is not what it should be.
TEST_F(CoordinatorApi, OddRepliesGiveTheirResultOrError) {
    const std::string lease_id = acquire_lease(worker.token, 1, "h").lease_id;
    auto acquire = [&] {
        const Lease l = acquire_lease(worker.token, 1, "h");
        return "complete=" + std::to_string(l.complete) + " id=" + (l.lease_id == lease_id ? "same" : l.lease_id) +
               " begin=" + l.begin + " end=" + l.end;
    };
    auto heartbeat = [&] {
        send_heartbeat(worker.token, lease_id, 1);
        return std::string("sent");
    };
    auto benchmark = [&] {
        report_benchmark(worker.token, kBuildHash, "cpu-sieve", 1);
        return std::string("sent");
    };
    auto complete = [&] {
        const Completion done = complete_lease(worker.token, lease_id, result_json(UnitResult{}));
        return (done.rejected ? "rejected, audit=" : "taken, audit=") + done.audit;
    };
    const std::string acquire_path = "/api/v1/leases/acquire";
    const std::string unit = " begin=4294967296 end=8589934592";
    const struct {
        std::string path;
        std::string fault;  // the fault's members after path
        std::function<std::string()> call;
        std::string expected;  // the start of the outcome or of the error
    } cases[] = {
        {acquire_path, R"("action":"malformed","member":"complete","value":"true")", acquire, "complete=1 id= begin= end="},
        {acquire_path, R"("action":"malformed","member":"complete","value":"\"true\"")", acquire, "complete=0 id=same" + unit},
        {acquire_path, R"("action":"omit","member":"begin")", acquire, "complete=0 id=same begin= end=8589934592"},
        {acquire_path, R"("action":"malformed","member":"lease_id","value":"\"a/b\"")", acquire,
         "Coordinator sent an unusable lease_id (it holds a quote, backslash, control character, blank, '/', '?', '#' or '%')"},
        {acquire_path, R"("action":"malformed","member":"lease_id","value":"\"a b\"")", acquire,
         "Coordinator sent an unusable lease_id"},
        {acquire_path, R"("action":"malformed","member":"begin","value":"\"1\\\\2\"")", acquire,
         "Coordinator sent an unusable begin (it holds a quote, backslash or control character)"},
        {acquire_path, R"("action":"malformed","member":"end","value":"\"9\n\"")", acquire,
         "Coordinator sent an unusable end"},
        {acquire_path, R"("action":"malformed","member":"begin","value":"12x")", acquire, "complete=0 id=same begin= "},
        {acquire_path, R"("action":"status","status":503,"body":"{\"error\":\"all leased\"}")", acquire,
         R"(Coordinator error 503: {"error":"all leased"})"},
        {acquire_path, R"("action":"drop")", acquire, "No HTTPS response from 127.0.0.1: "},
        {"/api/v1/leases/*", R"("action":"malformed","member":"progress","value":"12x")", heartbeat, "sent"},
        {"/api/v1/leases/*", R"("action":"status","status":409,"body":"expired")", heartbeat,
         "Coordinator error 409: expired"},
        {"/api/v1/benchmarks", R"("action":"malformed","member":"status","value":"{")", benchmark, "sent"},
        {"/api/v1/benchmarks", R"("action":"status","status":401,"body":"")", benchmark, "Coordinator error 401: "},
        // The empty record is rejected, and the verdict is given again on every repeat.
        {"/api/v1/leases/*", R"("action":"omit","member":"audit")", complete, "rejected, audit=submitted"},
        {"/api/v1/leases/*", R"("action":"malformed","member":"audit","value":"false")", complete,
         "rejected, audit=submitted"},
        {"/api/v1/leases/*", R"("action":"omit","member":"accepted")", complete, "taken, audit=rejected: "},
        {"/api/v1/leases/*", R"("action":"malformed","member":"accepted","value":"\"false\"")", complete,
         "taken, audit=rejected: "},
        {"/api/v1/leases/*", R"("action":"malformed","member":"accepted","value":"true")", complete,
         "taken, audit=rejected: "},
        {"/api/v1/leases/*", R"("action":"status","status":500,"body":"x")", complete, "Coordinator error 500: x"},
    };
    for (const auto& c : cases) {
        coordinator.post_fault(R"({"path":")" + c.path + R"(",)" + c.fault + "}");
        std::string outcome;
        try {
            outcome = c.call();
        } catch (const std::runtime_error& e) {
            outcome = e.what();
        }
        EXPECT_TRUE(outcome.starts_with(c.expected)) << c.fault << "\n  gave: " << outcome;
        coordinator.clear_faults();
    }
}

TEST_F(CoordinatorApi, UnusableLeaseIdIsRefusedBeforeSending) {
    for (const std::string id : {"a/../../workers", "a?b", "a#b", "50%", "x y", "q\"", "t\r\n"}) {
        EXPECT_TRUE(error_of([&] { send_heartbeat(worker.token, id, 0); })
                        .starts_with("Coordinator sent an unusable lease_id"))
            << id;
        EXPECT_TRUE(error_of([&] { complete_lease(worker.token, id, "{}"); })
                        .starts_with("Coordinator sent an unusable lease_id"))
            << id;
    }
    EXPECT_TRUE(coordinator.requests().empty());
}

}  // namespace
}  // namespace pelorin
