// `pelorin-coordinator serve` as operators run it: the journal, SIGTERM with a request in
// flight, SIGHUP with a renewed (or a broken) certificate, TLS 1.2 as the floor.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <openssl/ssl.h>

#include <chrono>
#include <fstream>
#include <future>
#include <regex>
#include <thread>

#include "server/store/sqlite_db.hpp"
#include "tests/server/raw_tls_client.hpp"
#include "tests/server/result_bodies.hpp"
#include "tests/support/coordinator_process.hpp"
#include "tests/support/temp_folder.hpp"
#include "tools/dev-coordinator/tls_material.hpp"

namespace pelorin::test_support {
namespace {

using nlohmann::json;

const char* kAcquireBody = R"({"starts_per_second":2.5e+06,"proof_hash":"c1ef"})";

void add_campaign(const CoordinatorProcess& c, const std::string& begin, const std::string& end,
                  const std::string& unit_size) {
    const CommandResult r = c.command({"campaign", "add", "--begin", begin, "--end", end, "--unit-size", unit_size});
    ASSERT_EQ(r.status, 0) << r.err;
}

void replace_file(const std::filesystem::path& from, const std::filesystem::path& to) {
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
}

TEST(CoordinatorServe, OneJournalLinePerRequestAndNeverAToken) {
    CoordinatorProcess c;
    add_campaign(c, "2^32", "4295032832", "2^16");
    c.serve({"--difficulty-bits", "4"});
    EXPECT_EQ(c.call("GET", "/healthz").body, R"({"status":"ok"})");
    const TestWorker w = register_test_worker(c, "client-a");
    const HttpsReply lease = c.call("POST", "/api/v1/leases/acquire", kAcquireBody, w.token);
    ASSERT_EQ(lease.status, 200) << lease.body;
    EXPECT_EQ(c.call("GET", "/no/such/page").status, 404);
    EXPECT_EQ(c.call("POST", "/api/v1/leases/acquire", kAcquireBody, "not-a-token").status, 401);
    EXPECT_EQ(c.stop(), 0);

    const std::string journal = c.journal();
    const struct {
        const char* line;  // a regular expression for one whole line
    } lines[] = {
        {R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z 127\.0\.0\.1 GET /healthz 200 \d+ ms -)"},
        {R"(\S+ 127\.0\.0\.1 GET /api/v1/register/challenge 200 \d+ ms -)"},
        {R"(\S+ 127\.0\.0\.1 POST /api/v1/workers/register 200 \d+ ms w-1)"},
        {R"(\S+ 127\.0\.0\.1 POST /api/v1/leases/acquire 200 \d+ ms w-1)"},
        {R"(\S+ 127\.0\.0\.1 GET /no/such/page 404 \d+ ms -)"},
        {R"(\S+ 127\.0\.0\.1 POST /api/v1/leases/acquire 401 \d+ ms -)"},
    };
    for (const auto& l : lines)
        EXPECT_TRUE(std::regex_search(journal, std::regex("(^|\n)" + std::string(l.line) + "\n"))) << l.line << "\nin:\n"
                                                                                                << journal;
    EXPECT_EQ(journal.find(w.token), std::string::npos) << journal;
    EXPECT_EQ(journal.find("not-a-token"), std::string::npos) << journal;
}

TEST(CoordinatorServe, SigtermFinishesTheRequestInFlightThenExitsZero) {
    CoordinatorProcess c;
    // One unit large enough that recomputing its checksums takes a while.
    add_campaign(c, "2^40", "1116691496960", "2^34");
    c.serve({"--difficulty-bits", "4", "--recompute-budget", "all"});
    const TestWorker w = register_test_worker(c);
    const json lease = json::parse(c.call("POST", "/api/v1/leases/acquire", kAcquireBody, w.token).body);
    const std::string body = body_of(made_up_record(std::uint64_t{1} << 34, 1, 2));
    auto reply = std::async(std::launch::async, [&] {
        return https_call(c.port(), c.ca_file(), "POST", "/api/v1/leases/" + lease.at("lease_id").get<std::string>() + "/complete",
                          body, {"Authorization: Bearer " + w.token}, 300'000);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(c.stop(), 0);
    const HttpsReply done = reply.get();
    EXPECT_EQ(done.status, 200) << done.error;
    EXPECT_EQ(json::parse(done.body).at("audit").get<std::string>().rfind("rejected: checksum_sum does not match the unit's starts", 0), 0u)
        << done.body;
    const std::string journal = c.journal();
    std::smatch m;
    ASSERT_TRUE(std::regex_search(journal, m, std::regex(R"(POST /api/v1/leases/lease-1/complete 200 (\d+) ms w-1)")))
        << journal;
    EXPECT_GE(std::stoll(m[1]), 300) << "the complete was in flight when the stop came";
    // The result was recorded before the process ended.
    const json status = json::parse(c.command({"status", "--json"}).out);
    EXPECT_EQ(status.at("campaigns").at(0).at("units").at("open"), 1) << status.dump();
}

TEST(CoordinatorServe, SighupReloadsTheCertificateWithoutDroppingTheListener) {
    CoordinatorProcess c;
    c.serve();
    const int port = c.port();
    // A second authority and its server certificate, as a renewal from elsewhere would bring.
    const std::filesystem::path other = make_temp_folder("pelorin-other-ca");
    const devcoord::TlsFiles renewed = devcoord::ensure_tls_material(other);
    EXPECT_EQ(https_call(port, c.ca_file(), "GET", "/healthz").status, 200);
    EXPECT_NE(https_call(port, renewed.ca_certificate, "GET", "/healthz").curl_code, 0) << "not yet trusted";

    replace_file(renewed.server_certificate, c.certificate());
    replace_file(renewed.server_key, c.key());
    c.signal(SIGHUP);
    // The next handshakes present the renewed certificate; the same listener answers.
    HttpsReply after;
    for (int i = 0; i < 100 && after.status != 200; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        after = https_call(port, renewed.ca_certificate, "GET", "/healthz");
    }
    EXPECT_EQ(after.status, 200) << after.error;
    EXPECT_NE(https_call(port, c.ca_file(), "GET", "/healthz").curl_code, 0) << "the old certificate is gone";

    // A broken file on reload: the certificate in use stays, and the journal says why.
    std::ofstream(c.key()) << "not a key";
    c.signal(SIGHUP);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(https_call(port, renewed.ca_certificate, "GET", "/healthz").status, 200);
    EXPECT_TRUE(c.serving());
    EXPECT_EQ(c.stop(), 0);
    const std::string journal = c.journal();
    EXPECT_NE(journal.find("reloaded the certificate " + c.certificate().string()), std::string::npos) << journal;
    EXPECT_NE(journal.find("kept the certificate in use: cannot load the key " + c.key().string()), std::string::npos)
        << journal;
    std::filesystem::remove_all(other);
}

TEST(CoordinatorServe, HealthzFailsWhileTheDatabaseDoesNotAnswer) {
    CoordinatorProcess c;
    c.serve();
    EXPECT_EQ(c.call("GET", "/healthz").status, 200);
    {
        // Another program holds the write lock past the server's busy time-out.
        server::SqliteDb holder(c.database());
        holder.exec("BEGIN IMMEDIATE; UPDATE campaigns SET paused = paused;");
        const HttpsReply locked = c.call("GET", "/healthz");
        EXPECT_EQ(locked.status, 503) << locked.body;
        EXPECT_EQ(locked.body.rfind(R"({"error":"the database does not answer: )", 0), 0u) << locked.body;
        EXPECT_FALSE(locked.retry_after.empty());
    }
    EXPECT_EQ(c.call("GET", "/healthz").status, 200) << "healthy again once the lock is gone";
}

TEST(CoordinatorServe, TlsBelowOnePointTwoIsRefused) {
    CoordinatorProcess c;
    c.serve();
    EXPECT_FALSE(RawTlsClient(c.port(), c.ca_file(), TLS1_1_VERSION).handshake_ok());
    EXPECT_TRUE(RawTlsClient(c.port(), c.ca_file(), TLS1_2_VERSION).handshake_ok());
    EXPECT_TRUE(RawTlsClient(c.port(), c.ca_file()).handshake_ok());
}

}  // namespace
}  // namespace pelorin::test_support
