// Registration over real loopback HTTPS: the puzzle, the challenge, and the bearer token.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/support/dev_coordinator_process.hpp"
#include "server/proof_of_work.hpp"

namespace pelorin::test_support {
namespace {

using nlohmann::json;

// Small puzzles keep the tests fast; 8 bits still needs a few hundred hashes.
const std::vector<std::string> kArgs = {"--difficulty-bits", "8"};

json challenge_of(const DevCoordinatorProcess& c) {
    const HttpsReply r = c.call("GET", "/api/v1/register/challenge");
    EXPECT_EQ(r.status, 200) << r.body << r.error;
    return json::parse(r.body);
}

std::string register_body(const std::string& challenge_id, const std::string& solution) {
    return json{{"challenge_id", challenge_id}, {"solution", solution}, {"nickname", "Anonymous"},
                {"client_id", "0123456789abcdef0123456789abcdef"}, {"hardware_hash", "h"}, {"build_hash", "b"}}
        .dump();
}

TEST(DevCoordinatorRegistration, ChallengeCarriesNonceAndDifficulty) {
    DevCoordinatorProcess c(kArgs);
    const json ch = challenge_of(c);
    EXPECT_EQ(ch.at("difficulty_bits"), 8);
    EXPECT_EQ(ch.at("nonce").get<std::string>().size(), 32u);
    EXPECT_FALSE(ch.at("challenge_id").get<std::string>().empty());
    EXPECT_NE(challenge_of(c).at("nonce"), ch.at("nonce"));
}

TEST(DevCoordinatorRegistration, CorrectProofOfWorkIssuesAWorkingToken) {
    DevCoordinatorProcess c(kArgs);
    const json ch = challenge_of(c);
    const std::string solution = solve_proof_of_work(ch.at("nonce"), 8);
    const HttpsReply r = c.call("POST", "/api/v1/workers/register", register_body(ch.at("challenge_id"), solution));
    ASSERT_EQ(r.status, 200) << r.body;
    const json reply = json::parse(r.body);
    const std::string token = reply.at("token");
    EXPECT_FALSE(reply.at("worker_id").get<std::string>().empty());
    EXPECT_GE(token.size(), 32u);
    EXPECT_EQ(c.call("POST", "/api/v1/benchmarks", R"({"build_hash":"b","backend":"record-recursive","profile":"balanced","starts_per_second":2.5e+06})", token).status, 200);

    // A challenge is good for one registration.
    const HttpsReply again = c.call("POST", "/api/v1/workers/register", register_body(ch.at("challenge_id"), solution));
    EXPECT_EQ(again.status, 403) << again.body;
}

TEST(DevCoordinatorRegistration, WrongProofOrChallengeIsRefused) {
    DevCoordinatorProcess c(kArgs);
    const json ch = challenge_of(c);
    const std::string nonce = ch.at("nonce");
    const std::string good = solve_proof_of_work(nonce, 8);
    // The first counter whose digest falls short of the difficulty.
    std::string bad;
    for (unsigned n = 0; bad.empty(); ++n)
        if (!server::proof_of_work_holds(nonce, std::to_string(n), 8)) bad = std::to_string(n);
    struct Case {
        const char* what;
        std::string body;
        long status;
    };
    const Case cases[] = {
        {"solution below difficulty", register_body(ch.at("challenge_id"), bad), 403},
        {"unknown challenge id", register_body("c-not-issued", good), 403},
        {"solution with a non-digit", register_body(ch.at("challenge_id"), good + "x"), 403},
        {"missing solution", json{{"challenge_id", ch.at("challenge_id")}}.dump(), 400},
        {"not JSON", "challenge", 400},
    };
    for (const Case& k : cases) {
        const HttpsReply r = c.call("POST", "/api/v1/workers/register", k.body);
        EXPECT_EQ(r.status, k.status) << k.what << ": " << k.body << " -> " << r.body;
    }
    // The challenge survives the failed attempts.
    EXPECT_EQ(c.call("POST", "/api/v1/workers/register", register_body(ch.at("challenge_id"), good)).status, 200);
}

TEST(DevCoordinatorRegistration, WorkerEndpointsRefuseMissingOrUnknownTokens) {
    DevCoordinatorProcess c(kArgs);
    const TestWorker w = register_test_worker(c);
    struct Endpoint {
        const char* method;
        const char* path;
        const char* body;
    };
    const Endpoint endpoints[] = {
        {"POST", "/api/v1/benchmarks", R"({"build_hash":"b","backend":"x","profile":"balanced","starts_per_second":1})"},
        {"POST", "/api/v1/leases/acquire", R"({"starts_per_second":1,"proof_hash":"p"})"},
        {"PUT", "/api/v1/leases/lease-1/heartbeat", R"({"progress":"0"})"},
        {"POST", "/api/v1/leases/lease-1/complete", R"({"result":{}})"},
    };
    const std::vector<std::vector<std::string>> bad_headers = {
        {},
        {"Authorization: Bearer not-a-token"},
        {"Authorization: Basic " + w.token},
        {"Authorization: Bearer " + w.token, "Authorization: Bearer " + w.token},
    };
    for (const Endpoint& e : endpoints)
        for (const auto& headers : bad_headers) {
            const HttpsReply r = https_call(c.port(), c.ca_file(), e.method, e.path, e.body, headers);
            EXPECT_EQ(r.status, 401) << e.method << ' ' << e.path << " with " << headers.size() << " header(s) "
                                     << (headers.empty() ? "" : headers[0]) << " -> " << r.body;
        }
    // The health check needs no token.
    EXPECT_EQ(c.call("GET", "/healthz").status, 200);
}

TEST(DevCoordinatorRegistration, SameClientKeepsItsWorkerIdAndGetsANewToken) {
    DevCoordinatorProcess c(kArgs);
    const TestWorker first = register_test_worker(c, "client-a");
    const TestWorker again = register_test_worker(c, "client-a");
    const TestWorker other = register_test_worker(c, "client-b");
    EXPECT_EQ(again.worker_id, first.worker_id);
    EXPECT_NE(again.token, first.token);
    EXPECT_NE(other.worker_id, first.worker_id);
    EXPECT_EQ(c.call("POST", "/api/v1/leases/acquire", "{}", first.token).status, 401);
    EXPECT_EQ(c.call("POST", "/api/v1/leases/acquire", "{}", again.token).status, 200);
}

}  // namespace
}  // namespace pelorin::test_support
