// The fault table: every coordinator call crossed with every fault a network or a coordinator
// can produce, against the real `pelorin-worker run`. A fault that waiting can fix is waited
// out and the campaign completes; any other stops the run with exit 1 and its message, and a
// second run completes the campaign. Either way every unit's result equals a one-pass verify.
#include <gtest/gtest.h>

#include <regex>

#include "scoped_env.hpp"
#include "tests/app/worker_process.hpp"

namespace pelorin {
namespace {

using namespace std::chrono_literals;
using test::WorkerProcess;
using test_support::DevCoordinatorProcess;

enum class Outcome {
    waits,   // "WAITING TO RETRY" with the fault's message, then the campaign completes
    stops,   // exit 1 with the fault's message
    passes,  // the reply is not read where it matters: the run goes on unhindered
};

struct Call {
    const char* name;
    const char* path;        // '*' stands for any run of characters (the lease id)
    bool names_lease;        // heartbeat and complete: a 409 says the lease is gone
    const char* malformed;  // the `malformed` fault for this call: member and raw value
};

const Call kCalls[] = {
    {"challenge", "/api/v1/register/challenge", false, R"("action":"malformed","member":"difficulty_bits","value":"300")"},
    {"register", "/api/v1/workers/register", false, R"("action":"malformed","member":"token","value":"null")"},
    {"benchmark", "/api/v1/benchmarks", false, R"("action":"malformed","member":"status","value":"[")"},
    {"acquire", "/api/v1/leases/acquire", false, R"("action":"malformed","member":"end","value":"\"12x\"")"},
    {"heartbeat", "/api/v1/leases/*/heartbeat", true, R"("action":"malformed","member":"progress","value":"{")"},
    // An audit text with escape sequences: it must reach the terminal replaced.
    {"complete", "/api/v1/leases/*/complete", true, R"("action":"malformed","member":"audit","value":"\"\u001b]0;owned\u0007\u001b[2J\"")"},
};

struct Fault {
    const char* name;
    const char* action;  // the members of the fault after "path"
};

const Fault kFaults[] = {
    {"500", R"("action":"status","status":500,"body":"down for a moment")"},
    {"503 with Retry-After", R"("action":"status","status":503,"body":"busy","retry_after":"1")"},
    {"dropped connection", R"("action":"drop")"},
    {"stall past the time-out", R"("action":"stall","seconds":8)"},
    {"409 expired lease", R"("action":"status","status":409,"body":"{\"error\":\"lease expired\"}")"},
    {"malformed reply", nullptr},
    {"body over 1 MiB", R"("action":"large","bytes":1100000)"},
};

// What each call and fault must lead to, and a text the output must then hold.
struct Expected {
    Outcome outcome;
    std::string text;
};

Expected expected(const Call& call, const Fault& fault) {
    const std::string f = fault.name, c = call.name;
    if (f == "500") return {Outcome::waits, "Coordinator error 500: down for a moment"};
    if (f == "503 with Retry-After") return {Outcome::waits, "Coordinator error 503: busy | Next try in 1.0 s"};
    if (f == "dropped connection") return {Outcome::waits, "WAITING TO RETRY | "};
    if (f == "stall past the time-out") return {Outcome::waits, "timed out"};
    if (f == "409 expired lease") {
        // Only a lease exchange is mended by leasing again.
        if (call.names_lease) return {Outcome::waits, "Coordinator error 409: {\"error\":\"lease expired\"}"};
        return {Outcome::stops, "STOPPED | Coordinator error 409: "};
    }
    if (f == "body over 1 MiB") return {Outcome::stops, "STOPPED | "};
    // Malformed replies: what the worker reads fails; what it does not read passes.
    if (c == "challenge") return {Outcome::stops, "asks for 300 leading zero bits"};
    if (c == "register") return {Outcome::stops, "Registration response was incomplete"};
    if (c == "acquire") return {Outcome::stops, "integer exceeds 128 bits or is malformed"};
    if (c == "complete") return {Outcome::passes, "Unit accepted \xC2\xB7 \xEF\xBF\xBD]0;owned\xEF\xBF\xBD\xEF\xBF\xBD[2J"};
    return {Outcome::passes, ""};
}

// One unit of 2^31 starts: a chunk or more, so a heartbeat is due, and a result the
// coordinator checks well within the worker's receive time-out.
const std::vector<std::string> kCampaign = {"--difficulty-bits", "8", "--begin", "2^40", "--end", "1101659111424",
                                            "--unit-size", "2^31"};

class RunFaults : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(RunFaults, AreWaitedOutOrStopTheRunAndLoseNothing) {
    const Call& call = kCalls[std::get<0>(GetParam())];
    const Fault& fault = kFaults[std::get<1>(GetParam())];
    const Expected want = expected(call, fault);
    SCOPED_TRACE(std::string(call.name) + " x " + fault.name);

    DevCoordinatorProcess coordinator(kCampaign);
    test::TempDir data;
    coordinator.post_fault(std::string("{\"path\":\"") + call.path + "\"," + (fault.action ? fault.action : call.malformed) +
                           "}");
    const std::vector<std::string> args = test::run_args(coordinator, {"--heartbeat-seconds", "0.2"});
    WorkerProcess worker(args, {data.path(), coordinator.ca_file()});

    const int status = worker.wait();
    const std::string out = worker.output();
    EXPECT_NE(out.find(want.text), std::string::npos) << "expected \"" << want.text << "\" in:\n" << out;
    switch (want.outcome) {
        case Outcome::waits: {
            EXPECT_EQ(status, 0) << out;
            EXPECT_NE(out.find("WAITING TO RETRY"), std::string::npos) << out;
            // A worker registered before the fault does not register again, and does not say so.
            const std::string c = call.name;
            if (c != "challenge" && c != "register") {
                const auto first = out.find("Registering with coordinator...");
                EXPECT_EQ(out.find("Registering with coordinator...", first + 1), std::string::npos) << out;
                EXPECT_NE(out.find("Secure connection established. | Requesting work..."), std::string::npos) << out;
            }
            break;
        }
        case Outcome::passes:
            EXPECT_EQ(status, 0) << out;
            EXPECT_EQ(out.find("WAITING TO RETRY"), std::string::npos) << out;
            break;
        case Outcome::stops: {
            EXPECT_EQ(status, 1) << out;
            EXPECT_EQ(out.find("WAITING TO RETRY"), std::string::npos) << out;
            coordinator.clear_faults();
            WorkerProcess again(args, {data.path(), coordinator.ca_file()});
            EXPECT_EQ(again.wait(), 0) << again.output();
            break;
        }
    }
    EXPECT_EQ(test::campaign_difference(coordinator), "");
}

std::string row_name(const ::testing::TestParamInfo<std::tuple<int, int>>& info) {
    std::string name = std::string(kCalls[std::get<0>(info.param)].name) + "_" + kFaults[std::get<1>(info.param)].name;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(EveryCallAndFault, RunFaults,
                         ::testing::Combine(::testing::Range(0, static_cast<int>(std::size(kCalls))),
                                            ::testing::Range(0, static_cast<int>(std::size(kFaults)))),
                         row_name);

}  // namespace
}  // namespace pelorin
