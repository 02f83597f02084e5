// A restarted coordinator goes on where it stopped: its database (campaign, tokens, leases),
// its certificates.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "engine/verify_range.hpp"
#include "tests/support/dev_coordinator_process.hpp"

namespace pelorin::test_support {
namespace {

using nlohmann::json;

const std::vector<std::string> kArgs = {"--difficulty-bits", "4", "--begin", "4294967296", "--end", "4295000064",
                                        "--unit-size", "16384"};
const char* kAcquireBody = R"({"starts_per_second":1e+06,"proof_hash":"c1ef"})";

std::string file_text(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

// Runs the program to completion and returns its standard output and exit status.
std::string run_program(const std::string& arguments, int& status) {
    FILE* pipe = ::popen((dev_coordinator_binary() + " " + arguments).c_str(), "r");
    if (pipe == nullptr) throw std::runtime_error("popen failed");
    std::string out;
    char buf[4096];
    std::size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
    const int raw = ::pclose(pipe);
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return out;
}

TEST(DevCoordinatorRestart, LedgerTokensLeasesAndCertificatesSurvive) {
    DevCoordinatorProcess c(kArgs);
    const TestWorker w = register_test_worker(c);
    json lease = json::parse(c.call("POST", "/api/v1/leases/acquire", kAcquireBody, w.token).body);
    BackendOptions options;
    options.name = "record-recursive";
    const UnitResult r = verify_range(UnitRange{U128{4294967296ull, 0}, U128{4294983680ull, 0}, false}, options);
    const HttpsReply done = c.call("POST", "/api/v1/leases/" + lease.at("lease_id").get<std::string>() + "/complete",
                                   "{\"result\":" + result_json(r) + "}", w.token);
    ASSERT_EQ(json::parse(done.body).at("audit"), "accepted") << done.body;
    const json held = json::parse(c.call("POST", "/api/v1/leases/acquire", kAcquireBody, w.token).body);
    ASSERT_EQ(c.call("PUT", "/api/v1/leases/" + held.at("lease_id").get<std::string>() + "/heartbeat",
                     R"({"progress":"4096"})", w.token)
                  .status,
              200);
    const std::string ca_before = file_text(c.ca_file());
    const std::string server_before = file_text(c.state_dir() / "server.pem");
    const std::string ledger_before = c.ledger_json();

    c.restart({"--difficulty-bits", "4"});  // no campaign given: the stored one holds
    EXPECT_EQ(file_text(c.ca_file()), ca_before);
    EXPECT_EQ(file_text(c.state_dir() / "server.pem"), server_before);
    EXPECT_EQ(c.ledger_json(), ledger_before);
    // The token still works and the held lease comes back unchanged.
    const HttpsReply again = c.call("POST", "/api/v1/leases/acquire", kAcquireBody, w.token);
    ASSERT_EQ(again.status, 200) << again.body;
    EXPECT_EQ(json::parse(again.body), held);
    EXPECT_EQ(c.stop(), 0);

    int status = -1;
    const std::string summary = run_program("--summary --state-dir " + c.state_dir().string(), status);
    EXPECT_EQ(status, 0) << summary;
    const char* lines[] = {
        "Campaign [4294967296, 4295000064) in units of 16384 starts\n",
        "unit 0  [4294967296, 4294983680)  worker w-1  accepted\n",
        "unit 1  [4294983680, 4295000064)  worker w-1  leased (lease-2, progress 4096)\n",
        "Units: 2 made, 1 accepted, 1 leased, 0 open, 0 set aside\n",
        "Results: 1 received, 1 accepted, 0 rejected\n",
        "Starts accepted: 16384\n",
        "Every start of the campaign is in a unit\n",
    };
    for (const char* line : lines) EXPECT_NE(summary.find(line), std::string::npos) << line << "in:\n" << summary;
}

TEST(DevCoordinatorRestart, AnotherCampaignOnTheSameStateIsRefused) {
    DevCoordinatorProcess c(kArgs);
    c.stop();
    try {
        c.restart({"--begin", "5", "--end", "10", "--unit-size", "1"});
        ADD_FAILURE() << "a different campaign was accepted on the same state folder";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("exit status 1"), std::string::npos) << e.what();
    }
    c.restart(kArgs);  // the same campaign given again is fine
    EXPECT_EQ(c.call("GET", "/healthz").status, 200);
}

TEST(DevCoordinatorRestart, SummaryWithoutALedgerFails) {
    const std::filesystem::path empty = std::filesystem::temp_directory_path() / ("pelorin-devcoord-empty-" + std::to_string(::getpid()));
    std::filesystem::create_directories(empty);
    int status = -1;
    run_program("--summary --state-dir " + empty.string() + " 2>/dev/null", status);
    std::filesystem::remove_all(empty);
    EXPECT_EQ(status, 1);
    run_program("--unit-size 0 --state-dir " + empty.string() + " 2>/dev/null", status);
    std::filesystem::remove_all(empty);
    EXPECT_EQ(status, 2);
}

}  // namespace
}  // namespace pelorin::test_support
