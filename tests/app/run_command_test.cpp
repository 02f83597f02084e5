// `pelorin-worker run`, `status` and `verify` as a user runs them: real processes against the
// real development coordinator, paused and stopped with signals, killed outright and started
// again.
#include <signal.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <regex>
#include <thread>

#include "coordinator/json_text.hpp"
#include "scoped_env.hpp"
#include "tests/app/worker_process.hpp"

namespace pelorin {
namespace {

using namespace std::chrono_literals;
using test::WorkerProcess;
using test_support::DevCoordinatorProcess;

// One unit of 2^33 starts: a few chunks of about 0.75 s each at this machine's measured rate.
const std::vector<std::string> kOneUnit = {"--difficulty-bits", "8", "--begin", "2^40", "--end", "1108101562368",
                                           "--unit-size", "2^33"};

std::uint64_t checkpoint_offset(const std::filesystem::path& data_base) {
    return json_u64_field(test::read_file(data_base / "PelorinWorker" / "checkpoint.json"), "offset", 0);
}

std::string stored_token(const std::filesystem::path& data_base) {
    return json_string_field(test::read_file(data_base / "PelorinWorker" / "identity.bin"), "token", "");
}

TEST(RunCommand, PauseHoldsTheWorkAndKeepsTheLeaseAlive) {
    DevCoordinatorProcess coordinator(kOneUnit);
    test::TempDir data;
    WorkerProcess worker(test::run_args(coordinator, {"--heartbeat-seconds", "0.2"}),
                         {data.path(), coordinator.ca_file()});
    ASSERT_TRUE(worker.wait_for_output("WORKING")) << worker.output();
    worker.signal(SIGUSR1);  // takes hold after the chunk in progress
    ASSERT_TRUE(worker.wait_for_output("PAUSED at ")) << worker.output();
    const std::size_t paused_at = worker.output().size();
    const std::uint64_t offset = checkpoint_offset(data.path());
    const int heartbeats = test::count_requests(coordinator, "PUT", "/heartbeat");
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(checkpoint_offset(data.path()), offset) << "a chunk ran while paused";
    EXPECT_EQ(worker.output().find("WORKING", paused_at), std::string::npos) << worker.output();
    EXPECT_GE(test::count_requests(coordinator, "PUT", "/heartbeat"), heartbeats + 3) << "heartbeats while paused";
    EXPECT_NE(worker.output().find("Send SIGUSR1 again to resume."), std::string::npos) << worker.output();

    worker.signal(SIGUSR1);
    ASSERT_TRUE(worker.wait_for_output("RESUMED at ", 60s, paused_at)) << worker.output();
    const std::size_t resumed_at = worker.output().find("RESUMED at ", paused_at);
    EXPECT_TRUE(worker.wait_for_output("WORKING", 60s, resumed_at)) << worker.output();
    EXPECT_EQ(worker.wait(), 0) << worker.output();
    const std::string out = worker.output();
    EXPECT_NE(out.find("Registering public worker... | Solving short anti-abuse challenge."), std::string::npos) << out;
    EXPECT_TRUE(out.ends_with("Campaign allocation is complete.\n")) << out;
    // One line per entry, each stamped, and the token nowhere.
    const std::regex stamped(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ [^\n]+$)");
    for (std::size_t at = 0, next; at < out.size(); at = next + 1) {
        next = out.find('\n', at);
        const std::string line = out.substr(at, next - at);
        EXPECT_TRUE(std::regex_match(line, stamped)) << line;
    }
    const std::string token = stored_token(data.path());
    ASSERT_FALSE(token.empty());
    EXPECT_EQ(out.find(token), std::string::npos);
    EXPECT_EQ(test::campaign_difference(coordinator), "");
}

TEST(RunCommand, KilledMidUnitResumesToTheSameResult) {
    DevCoordinatorProcess coordinator(kOneUnit);
    test::TempDir data;
    {
        WorkerProcess first(test::run_args(coordinator), {data.path(), coordinator.ca_file()});
        ASSERT_TRUE(first.wait_for_output("WORKING")) << first.output();
        first.signal(SIGKILL);
        EXPECT_EQ(first.wait(), 128 + SIGKILL);
    }
    ASSERT_TRUE(std::filesystem::exists(data.path() / "PelorinWorker" / "checkpoint.json"));

    // What the folder holds, without the token.
    WorkerProcess status({"status"}, {data.path(), coordinator.ca_file()});
    EXPECT_EQ(status.wait(), 0) << status.output();
    const std::string report = status.output();
    EXPECT_NE(report.find("Data folder   " + (data.path() / "PelorinWorker").string() + "\n"), std::string::npos) << report;
    EXPECT_TRUE(std::regex_search(report, std::regex("Identity      registered as worker [0-9a-z-]+\n"))) << report;
    EXPECT_TRUE(std::regex_search(report, std::regex("Checkpoint    lease [^\n]+\n"
                                                     " +range \\[1099511627776, 1108101562368\\)\n"
                                                     " +backend [a-z0-9-]+\n"
                                                     " +[0-9]+ of 8589934592 starts verified \\([0-9.]+%\\)\n")))
        << report;
    EXPECT_EQ(report.find(stored_token(data.path())), std::string::npos) << report;
    // The totals are kept from the first run on, counting from the day it registered.
    EXPECT_TRUE(std::regex_search(report, std::regex("\nThis computer: 0 units accepted, 0 starts verified since "
                                                     "\\d{4}-\\d\\d-\\d\\d\\.\n$")))
        << report;
    // Lost since: the next run says so and counts again from zero.
    std::filesystem::remove(data.path() / "PelorinWorker" / "totals.json");

    // Replies that echo the token, as it stands and with a character written as a JSON escape
    // (in the fault's JSON, "\\u00xx" is a backslash and u00xx): waited out, the token shown as
    // <token> both times.
    const std::string token = stored_token(data.path());
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\\\u%04x", static_cast<unsigned char>(token[0]));
    const std::string escaped_first = escaped;
    coordinator.post_fault(R"({"path":"/api/v1/leases/acquire","action":"status","status":500,"body":"not now, )" +
                           token + "\"}");
    coordinator.post_fault(R"({"path":"/api/v1/leases/acquire","action":"status","status":500,"body":"escaped )" +
                           escaped_first + token.substr(1) + "\"}");
    WorkerProcess second(test::run_args(coordinator), {data.path(), coordinator.ca_file()});
    EXPECT_EQ(second.wait(), 0) << second.output();
    EXPECT_NE(second.output().find("Coordinator error 500: not now, <token> | Next try in"), std::string::npos)
        << second.output();
    EXPECT_NE(second.output().find("Coordinator error 500: escaped <token> | Next try in"), std::string::npos)
        << second.output();
    EXPECT_EQ(second.output().find(token), std::string::npos);
    EXPECT_EQ(second.output().find(token.substr(1)), std::string::npos) << second.output();
    EXPECT_NE(second.output().find("Resuming checkpoint at "), std::string::npos) << second.output();
    EXPECT_NE(second.output().find("This computer's totals were not found; counting again from zero.\n"),
              std::string::npos)
        << second.output();
    EXPECT_EQ(second.output().find("Registering public worker"), std::string::npos);  // identity kept
    EXPECT_EQ(test::campaign_difference(coordinator), "");
}

// With --data-dir after the subcommand: that folder is used in place of LOCALAPPDATA's.
TEST(RunCommand, StopSignalCheckpointsSaysWhereAndExitsZero) {
    DevCoordinatorProcess coordinator(kOneUnit);
    test::TempDir data;
    const std::filesystem::path chosen = data.path() / "chosen";
    WorkerProcess worker(test::run_args(coordinator, {"--data-dir", chosen.string()}), {data.path(), coordinator.ca_file()});
    ASSERT_TRUE(worker.wait_for_output("WORKING")) << worker.output();
    worker.signal(SIGTERM);
    EXPECT_EQ(worker.wait(), 0) << worker.output();
    EXPECT_TRUE(std::filesystem::exists(chosen / "checkpoint.json"));
    EXPECT_TRUE(std::filesystem::exists(chosen / "identity.bin"));
    EXPECT_FALSE(std::filesystem::exists(data.path() / "PelorinWorker"));
    EXPECT_EQ(test::count_requests(coordinator, "POST", "/complete"), 0);
    std::smatch m;
    const std::string out = worker.output();
    ASSERT_TRUE(std::regex_search(out, m, std::regex(R"(Stopped at ([0-9.]+)% of unit \[1099511627776, )"
                                                     R"(1108101562368\); checkpoint saved\.\n$)")))
        << out;
    const std::uint64_t offset = json_u64_field(test::read_file(chosen / "checkpoint.json"), "offset", 0);
    EXPECT_NEAR(std::stod(m[1]), offset * 100.0 / 8589934592.0, 0.006);
}

TEST(RunCommand, AStopDuringAWaitEndsTheRunAtOnce) {
    DevCoordinatorProcess coordinator(kOneUnit);
    test::TempDir data;
    coordinator.stop();  // nothing listens: the connection check fails, and waiting could mend that
    WorkerProcess worker(test::run_args(coordinator, {"--retry-first-seconds", "0.2", "--retry-longest-seconds", "600"}),
                         {data.path(), coordinator.ca_file()});
    // The waits double: 0.2 s, 0.4 s, 0.8 s, ... the third is announced, then comes a stop.
    ASSERT_TRUE(worker.wait_for_output("Next try in")) << worker.output();
    for (int i = 0; i < 2; ++i) {
        const std::size_t seen = worker.output().rfind("Next try in") + 1;
        ASSERT_TRUE(worker.wait_for_output("Next try in", 60s, seen)) << worker.output();
    }
    worker.signal(SIGTERM);
    EXPECT_EQ(worker.wait(), 0) << worker.output();
    const std::string out = worker.output();
    EXPECT_NE(out.find("WAITING TO RETRY | Secure connection check failed. | Direct: "), std::string::npos) << out;
    EXPECT_TRUE(out.ends_with("Stopped; no unit in progress.\n")) << out;
}

TEST(RunCommand, FailuresWaitingCannotFixExitOneAndSayWhatToDo) {
    DevCoordinatorProcess coordinator(kOneUnit);
    test::TempDir data;
    {
        // --no-retry keeps the first failure's stop, for scripts.
        coordinator.stop();
        WorkerProcess worker(test::run_args(coordinator, {"--no-retry"}), {data.path(), coordinator.ca_file()});
        EXPECT_EQ(worker.wait(), 1) << worker.output();
        EXPECT_NE(worker.output().find("STOPPED | Secure connection check failed. | Direct: "), std::string::npos)
            << worker.output();
        EXPECT_TRUE(worker.output().ends_with(" | Run it again to retry.\n")) << worker.output();
        coordinator.restart();
    }
    // A refused token is mended once by registering again; refused again, the run stops.
    coordinator.post_fault(R"({"path":"/api/v1/benchmarks","count":2,"action":"status","status":401,"body":"who?"})");
    WorkerProcess worker(test::run_args(coordinator), {data.path(), coordinator.ca_file()});
    EXPECT_EQ(worker.wait(), 1) << worker.output();
    EXPECT_NE(worker.output().find("TOKEN REFUSED | Coordinator error 401: who? | Registering this worker again."),
              std::string::npos)
        << worker.output();
    EXPECT_EQ(test::count_requests(coordinator, "POST", "/api/v1/workers/register"), 2);
    EXPECT_NE(worker.output().find("STOPPED | Coordinator error 401: who? | The coordinator does not accept this "
                                   "worker's identity: to register anew, remove identity.bin from "),
              std::string::npos)
        << worker.output();
}

TEST(RunCommand, BadArgumentsExitTwo) {
    test::TempDir data;
    for (const auto& args : std::vector<std::vector<std::string>>{{"run", "--coordinator", "host:99999"},
                                                                  {"run", "--coordinator", ":80"},
                                                                  // PELORIN_COORDINATOR= left empty
                                                                  {"run", "--coordinator", ""},
                                                                  {"run", "--profile", "turbo"},
                                                                  {"run", "--retry-first-seconds", "0"},
                                                                  {"run", "--data-dir", ""},
                                                                  {"status", "--bogus"}}) {
        WorkerProcess worker(args, {data.path(), "/nonexistent"});
        EXPECT_EQ(worker.wait(), 2) << args[1] << " " << (args.size() > 2 ? args[2] : "") << ": " << worker.output();
    }
}

// With --pause-on-battery, a laptop's power supplies (a folder of the test's own) going over to
// battery: the worker waits after its chunk with a line that says why, no chunk runs and the
// lease is kept with heartbeats; mains power again and it goes on within seconds. The accepted
// unit's line and `status` show this computer's totals, counted from zero after a damaged file.
TEST(RunCommand, OnBatteryPowerTheWorkerWaitsAndGoesOnOnMains) {
    // A unit of 2^34 starts at half speed (the quiet profile): seconds of chunks left when the
    // reading (up to 2 s old) sees the battery, however fast the engine. The coordinator
    // checks the result's structure only, so its reply always comes within the worker's
    // reply time-out and the accepted unit reaches the totals.
    DevCoordinatorProcess coordinator({"--difficulty-bits", "8", "--begin", "2^40", "--end", "1116691496960",
                                       "--unit-size", "2^34", "--recompute-budget", "0"});
    test::TempDir data, supplies;
    std::filesystem::create_directories(supplies.path() / "AC");
    std::filesystem::create_directories(supplies.path() / "BAT0");
    test::write_file(supplies.path() / "AC" / "type", "Mains\n");
    test::write_file(supplies.path() / "AC" / "online", "1\n");
    test::write_file(supplies.path() / "BAT0" / "type", "Battery\n");
    // Totals cut short by an earlier crash: counted again from zero, with a line, and the run goes on.
    std::filesystem::create_directories(data.path() / "PelorinWorker");
    test::write_file(data.path() / "PelorinWorker" / "totals.json", "{\"units_accepted\":41,\"starts_ver");
    test::WorkerOptions options{data.path(), coordinator.ca_file()};
    options.environment = {"PELORIN_POWER_SUPPLY_DIR=" + supplies.path().string()};
    WorkerProcess worker(test::run_args(coordinator, {"--heartbeat-seconds", "0.2", "--pause-on-battery", "--profile", "quiet"}), options);
    ASSERT_TRUE(worker.wait_for_output("WORKING")) << worker.output();
    EXPECT_NE(worker.output().find("This computer's totals could not be read (it is cut short); counting again "
                                   "from zero.\n"),
              std::string::npos)
        << worker.output();
    test::write_file(supplies.path() / "AC" / "online", "0\n");
    ASSERT_TRUE(worker.wait_for_output("PAUSED \xC2\xB7 on battery power | Work goes on when the computer is on mains "
                                       "power again. | The unit stands at ",
                                       60s))
        << worker.output();
    const std::size_t paused_at = worker.output().size();
    const std::uint64_t offset = checkpoint_offset(data.path());
    const int heartbeats = test::count_requests(coordinator, "PUT", "/heartbeat");
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(checkpoint_offset(data.path()), offset) << "a chunk ran on battery power";
    EXPECT_EQ(worker.output().find("WORKING", paused_at), std::string::npos) << worker.output();
    EXPECT_GE(test::count_requests(coordinator, "PUT", "/heartbeat"), heartbeats + 3) << "heartbeats while waiting";

    test::write_file(supplies.path() / "AC" / "online", "1\n");
    const auto plugged_in = std::chrono::steady_clock::now();
    ASSERT_TRUE(worker.wait_for_output("RESUMED at ", 60s, paused_at)) << worker.output();
    EXPECT_LT(std::chrono::steady_clock::now() - plugged_in, 10s) << "work went on only after a long wait";
    EXPECT_EQ(worker.wait(), 0) << worker.output();
    const std::regex accepted("Unit accepted \xC2\xB7 [^|\n]+ \\| Requesting more work\\.\\.\\. \\| This computer: 1 unit "
                              "accepted, 17179869184 starts verified since \\d{4}-\\d\\d-\\d\\d\\.\n");
    EXPECT_TRUE(std::regex_search(worker.output(), accepted)) << worker.output();
    EXPECT_EQ(test::campaign_difference(coordinator), "");

    WorkerProcess status({"status"}, {data.path(), "/nonexistent"});
    EXPECT_EQ(status.wait(), 0);
    EXPECT_TRUE(std::regex_search(status.output(), std::regex("\nThis computer: 1 unit accepted, 17179869184 starts "
                                                              "verified since \\d{4}-\\d\\d-\\d\\d\\.\n$")))
        << status.output();
}

// A fault waited out, then a pause before the worker has leased again: the lease it holds is
// kept alive by heartbeats, past the coordinator's lease time-out, and the unit never goes out
// under another lease.
TEST(RunCommand, APauseAfterARetryKeepsTheLeaseWithHeartbeats) {
    std::vector<std::string> campaign = kOneUnit;
    campaign.insert(campaign.end(), {"--lease-timeout", "4"});
    DevCoordinatorProcess coordinator(campaign);
    test::TempDir data;
    coordinator.post_fault(R"({"path":"/api/v1/leases/*/heartbeat","action":"status","status":503,"body":"busy"})");
    WorkerProcess worker(test::run_args(coordinator, {"--heartbeat-seconds", "0.2", "--retry-first-seconds", "1",
                                                      "--retry-longest-seconds", "1"}),
                         {data.path(), coordinator.ca_file()});
    ASSERT_TRUE(worker.wait_for_output("WAITING TO RETRY | Coordinator error 503: busy")) << worker.output();
    const std::size_t waiting_at = worker.output().find("WAITING TO RETRY");
    worker.signal(SIGUSR1);  // during the wait of about a second
    ASSERT_TRUE(worker.wait_for_output("PAUSED at ", 60s, waiting_at)) << worker.output();
    const std::size_t paused_at = worker.output().find("PAUSED at ", waiting_at);
    const std::string between = worker.output().substr(waiting_at, paused_at - waiting_at);
    EXPECT_EQ(between.find("WORKING"), std::string::npos) << "the pause took hold inside the unit:\n" << between;
    EXPECT_NE(between.find("Secure connection established. | Requesting work..."), std::string::npos) << between;
    const std::string lease = test::active_lease_id(coordinator);
    const std::uint64_t offset = checkpoint_offset(data.path());
    const int heartbeats = test::count_requests(coordinator, "PUT", "/heartbeat");
    std::this_thread::sleep_for(5s);  // past the lease time-out
    EXPECT_GE(test::count_requests(coordinator, "PUT", "/heartbeat"), heartbeats + 5) << "heartbeats while paused";
    EXPECT_EQ(test::active_lease_id(coordinator), lease);
    EXPECT_EQ(checkpoint_offset(data.path()), offset) << "a chunk ran while paused";

    worker.signal(SIGUSR1);
    EXPECT_EQ(worker.wait(), 0) << worker.output();
    EXPECT_NE(worker.output().find("RESUMED at ", paused_at), std::string::npos) << worker.output();
    EXPECT_EQ(test::lease_states(coordinator), std::vector<std::string>{lease + " completed"});
    EXPECT_EQ(test::campaign_difference(coordinator), "");
}

// With identity.bin.tmp a folder (a full disk does the same) the registration cannot be kept:
// the run stops before it leases anything, rather than register a new worker on every start
// and leave its units leased to the one before.
TEST(RunCommand, AnIdentityThatCannotBeStoredStopsTheRunBeforeAnyLease) {
    DevCoordinatorProcess coordinator(kOneUnit);
    test::TempDir data;
    const std::filesystem::path folder = data.path() / "PelorinWorker";
    std::filesystem::create_directories(folder / "identity.bin.tmp" / "occupied");
    for (int run = 1; run <= 2; ++run) {
        WorkerProcess worker(test::run_args(coordinator), {data.path(), coordinator.ca_file()});
        EXPECT_EQ(worker.wait(), 1) << worker.output();
        EXPECT_NE(worker.output().find("STOPPED | Could not store worker identity | Check that " + folder.string() +
                                       " can be written and its disk has room. | Run it again to retry."),
                  std::string::npos)
            << "run " << run << ":\n" << worker.output();
        EXPECT_EQ(test::count_requests(coordinator, "POST", "/api/v1/workers/register"), run);
    }
    EXPECT_EQ(test::count_requests(coordinator, "POST", "/api/v1/leases/acquire"), 0);
    EXPECT_FALSE(std::filesystem::exists(folder / "identity.bin"));
    EXPECT_FALSE(std::filesystem::exists(folder / "checkpoint.json"));
}

// prlimit --fsize: the first checkpoint save goes past the limit. The write fails (EFBIG) and
// the worker says what it could not write, instead of being ended by SIGXFSZ without a word.
TEST(RunCommand, AFileSizeLimitFailsTheCheckpointWithItsMessage) {
    DevCoordinatorProcess coordinator(kOneUnit);
    test::TempDir data;
    test::WorkerOptions limited{data.path(), coordinator.ca_file()};
    limited.file_size_limit = 300;  // room for identity.bin, not for a checkpoint
    WorkerProcess worker(test::run_args(coordinator), limited);
    EXPECT_EQ(worker.wait(), 1) << worker.output();
    EXPECT_NE(worker.output().find("STOPPED | Could not write local checkpoint | Check that " +
                                   (data.path() / "PelorinWorker").string() + " can be written and its disk has room."),
              std::string::npos)
        << worker.output();
    EXPECT_FALSE(std::filesystem::exists(data.path() / "PelorinWorker" / "checkpoint.json"));

    WorkerProcess again(test::run_args(coordinator), {data.path(), coordinator.ca_file()});
    EXPECT_EQ(again.wait(), 0) << again.output();
    EXPECT_EQ(test::campaign_difference(coordinator), "");
}

// What a worker stopped mid-unit saved, for the tests that damage or change it.
std::string checkpoint_of_a_killed_run(const DevCoordinatorProcess& coordinator, const std::filesystem::path& data) {
    WorkerProcess first(test::run_args(coordinator), {data, coordinator.ca_file()});
    if (!first.wait_for_output("WORKING")) return "";
    first.signal(SIGKILL);
    first.wait();
    return test::read_file(data / "PelorinWorker" / "checkpoint.json");
}

// The text with the value of `key` (a number, or a text with its quotes) replaced by `value`.
std::string with_member(std::string text, const std::string& key, const std::string& value) {
    const std::regex member("\"" + key + "\":(\"[^\"]*\"|[0-9]+)");
    std::smatch m;
    if (!std::regex_search(text, m, member)) return "no " + key + " in " + text;
    return text.replace(static_cast<std::size_t>(m.position(1)), static_cast<std::size_t>(m.length(1)), value);
}

// A damaged or malformed checkpoint costs the unit's progress and nothing more: each is set
// aside with a line that says why, the unit starts from 0, and the result is right. Each case
// once sent a wrong record marked valid, or stopped every later run.
TEST(RunCommand, ADamagedCheckpointCostsOnlyTheUnitsProgress) {
    DevCoordinatorProcess coordinator(kOneUnit);
    test::TempDir data;
    const std::filesystem::path folder = data.path() / "PelorinWorker";
    const std::string saved = checkpoint_of_a_killed_run(coordinator, data.path());
    ASSERT_NE(saved.find("\"checksum_sum\":"), std::string::npos) << saved;
    struct Case {
        const char* name;
        std::string text;
        std::string reason;
    };
    const Case cases[] = {
        {"cut after the offset", saved.substr(0, saved.find(",\"backend\"")), "it is cut short"},
        {"cut inside checksum_sum", saved.substr(0, saved.find("\"checksum_sum\":") + 18), "it is cut short"},
        {"offset beyond 64 bits", with_member(saved, "offset", "99999999999999999999999"), "its offset is beyond 64 bits"},
        {"elapsed of 1e400", with_member(saved, "elapsed", "\"1e400\""), "its elapsed is not a number of seconds"},
        {"message with an escape", with_member(saved, "message", "\"\\u0001\""), "it is malformed at byte "},
        {"counter 12x", with_member(saved, "checked", "\"12x\""), "its checked is not a decimal integer"},
        {"another proof table", with_member(saved, "proof_hash", "\"" + std::string(64, '0') + "\""),
         "it was made with another proof table than this run's"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::write_file(folder / "checkpoint.json", c.text);
        // The proof table and backend are the run's to know; everything else `status` sees.
        if (!c.reason.starts_with("it was made")) {
            WorkerProcess status({"status"}, {data.path(), coordinator.ca_file()});
            EXPECT_EQ(status.wait(), 0);
            EXPECT_NE(status.output().find("Checkpoint    unusable: " + c.reason), std::string::npos) << status.output();
        }

        WorkerProcess worker(test::run_args(coordinator), {data.path(), coordinator.ca_file()});
        const std::string line = "Local checkpoint unusable: " + c.reason;
        ASSERT_TRUE(worker.wait_for_output(line)) << worker.output();
        const std::size_t at = worker.output().find(line);
        EXPECT_NE(worker.output().find("Kept as checkpoint.json.bad; the unit starts from 0%.", at), std::string::npos)
            << worker.output();
        ASSERT_TRUE(worker.wait_for_output("WORKING", 180s, at)) << worker.output();
        worker.signal(SIGTERM);
        EXPECT_EQ(worker.wait(), 0) << worker.output();
        EXPECT_EQ(worker.output().find("Resuming"), std::string::npos) << worker.output();
        EXPECT_EQ(test::read_file(folder / "checkpoint.json.bad"), c.text);
    }
    WorkerProcess last(test::run_args(coordinator), {data.path(), coordinator.ca_file()});
    EXPECT_EQ(last.wait(), 0) << last.output();
    EXPECT_EQ(test::campaign_difference(coordinator), "");
}

// A result the coordinator rejects (here a checkpoint whose checksum was changed, so the
// unit's record is wrong) is shown as rejected, not counted, and never resumed again: when
// the unit comes back it is verified from its first start, and accepted.
TEST(RunCommand, ARejectedUnitIsShownAsRejectedAndVerifiedAgain) {
    DevCoordinatorProcess coordinator(kOneUnit);
    test::TempDir data;
    const std::string saved = checkpoint_of_a_killed_run(coordinator, data.path());
    const std::uint64_t sum = json_u64_field(saved, "checksum_sum", 0);
    test::write_file(data.path() / "PelorinWorker" / "checkpoint.json",
                     with_member(saved, "checksum_sum", std::to_string(sum ^ 1)));

    WorkerProcess worker(test::run_args(coordinator), {data.path(), coordinator.ca_file()});
    EXPECT_EQ(worker.wait(), 0) << worker.output();
    const std::string out = worker.output();
    EXPECT_NE(out.find("Resuming checkpoint at "), std::string::npos) << out;
    EXPECT_TRUE(std::regex_search(out, std::regex("Unit rejected \xC2\xB7 rejected: checksum_sum[^\n]*"
                                                  "\\| Requesting more work...\n[^\n]*WORKING[^\n]*Completed 0 units")))
        << out;
    EXPECT_EQ(out.find("Unit accepted \xC2\xB7 rejected"), std::string::npos) << out;
    // On a loaded machine the reply to the second complete can outlast the receive time-out;
    // the run then waits and learns that the campaign is done, and the ledger below still shows
    // the unit accepted.
    EXPECT_TRUE(out.find("Unit accepted \xC2\xB7 accepted") != std::string::npos ||
                out.find("WAITING TO RETRY | No HTTPS response") != std::string::npos)
        << out;
    EXPECT_EQ(test::campaign_difference(coordinator), "");
}

// `status` reports and changes nothing: a folder that does not exist is not made.
TEST(RunCommand, StatusOnlyLooks) {
    test::TempDir data;
    const std::filesystem::path chosen = data.path() / "sub" / "dir";
    WorkerProcess status({"status", "--data-dir", chosen.string()}, {data.path(), "/nonexistent"});
    EXPECT_EQ(status.wait(), 0) << status.output();
    EXPECT_EQ(status.output(), "Data folder   " + chosen.string() +
                                   " (not made yet)\nIdentity      none stored; the next run registers\n"
                                   "Checkpoint    none\nThis computer: no unit accepted yet.\n");
    EXPECT_FALSE(std::filesystem::exists(data.path() / "sub"));
    EXPECT_FALSE(std::filesystem::exists(data.path() / "PelorinWorker"));
}

TEST(VerifyCommand, ProgressOnATerminalOnlyAndTheSameRecord) {
    test::TempDir data;
    const std::vector<std::string> args = {"verify", "--backend", "record-recursive", "--begin", "2^40",
                                           "--end",  "1101659111424"};  // 2^31 starts
    WorkerProcess on_terminal(args, {data.path(), "", true});
    WorkerProcess on_pipe(args, {data.path(), ""});
    ASSERT_EQ(on_terminal.wait(), 0) << on_terminal.output() << on_terminal.terminal_output();
    ASSERT_EQ(on_pipe.wait(), 0) << on_pipe.output();
    const std::string progress = on_terminal.terminal_output();
    EXPECT_TRUE(std::regex_search(progress, std::regex("\r\x1b\\[K[0-9]+\\.[0-9]{2}% \xC2\xB7 [0-9.]+[KMBTP]? starts/s "
                                                       "\xC2\xB7 [0-9. a-z]+ left")))
        << progress;
    EXPECT_NE(progress.find("100.00% \xC2\xB7"), std::string::npos) << progress;
    EXPECT_TRUE(progress.ends_with("\r\x1b[K")) << progress;  // the line is gone at the end
    // Standard output is the one JSON line either way, with the same record.
    for (const auto* w : {&on_terminal, &on_pipe}) {
        const std::string out = w->output();
        EXPECT_TRUE(out.starts_with("{") && out.ends_with("}\n") && out.find('\n') == out.size() - 1) << out;
    }
    EXPECT_EQ(test::record_difference(on_terminal.output(), on_pipe.output()), "");
}

}  // namespace
}  // namespace pelorin
