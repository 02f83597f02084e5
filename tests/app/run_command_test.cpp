// `pelorin-worker run` as a user runs it: a real process against the real development
// coordinator, stopped and paused with signals, killed outright and started again.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <mutex>
#include <regex>
#include <thread>

#include "scoped_env.hpp"
#include "tests/support/dev_coordinator_process.hpp"

extern char** environ;

namespace pelorin {
namespace {

using namespace std::chrono_literals;
using test_support::DevCoordinatorProcess;

// The worker program with its output collected; killed if still running at the end.
class WorkerProcess {
public:
    WorkerProcess(const std::vector<std::string>& args, const std::filesystem::path& data_base,
                  const std::filesystem::path& ca_file) {
        std::vector<std::string> env_strings = {"LOCALAPPDATA=" + data_base.string(), "SSL_CERT_FILE=" + ca_file.string()};
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string kv = *e;
            if (kv.rfind("LOCALAPPDATA=", 0) != 0 && kv.rfind("SSL_CERT_FILE=", 0) != 0 &&
                kv.rfind("STATE_DIRECTORY=", 0) != 0)
                env_strings.push_back(kv);
        }
        std::vector<std::string> argv_strings = {PELORIN_WORKER_BINARY, "run"};
        argv_strings.insert(argv_strings.end(), args.begin(), args.end());
        int fds[2];
        if (pipe(fds) != 0) throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        std::vector<char*> argv, envp;
        for (auto& a : argv_strings) argv.push_back(a.data());
        argv.push_back(nullptr);
        for (auto& e : env_strings) envp.push_back(e.data());
        envp.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0)
            throw std::runtime_error("cannot start the worker");
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        reader_ = std::thread([this, fd = fds[0]] {
            char buf[4096];
            for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) {
                std::lock_guard lock(mutex_);
                output_.append(buf, static_cast<std::size_t>(n));
            }
            close(fd);
        });
    }
    ~WorkerProcess() {
        if (status_ < 0) {
            kill(pid_, SIGKILL);
            wait();
        }
        reader_.join();
    }
    std::string output() const {
        std::lock_guard lock(mutex_);
        return output_;
    }
    // Waits until the output holds `text`; false after the time limit or if the program ended.
    bool wait_for_output(const std::string& text, std::chrono::seconds limit = 120s) {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < until) {
            if (output().find(text) != std::string::npos) return true;
            if (exited()) return output().find(text) != std::string::npos;
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }
    void signal(int sig) { kill(pid_, sig); }
    // Exit status, or 128 + signal; -1 if it does not end within the limit.
    int wait(std::chrono::seconds limit = 180s) {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (status_ < 0 && std::chrono::steady_clock::now() < until) {
            if (exited()) break;
            std::this_thread::sleep_for(10ms);
        }
        return status_;
    }

private:
    bool exited() {
        if (status_ >= 0) return true;
        int raw = 0;
        if (waitpid(pid_, &raw, WNOHANG) != pid_) return false;
        status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
        return true;
    }
    pid_t pid_ = -1;
    int status_ = -1;
    std::thread reader_;
    mutable std::mutex mutex_;
    std::string output_;
};

std::vector<std::string> address_of(const DevCoordinatorProcess& c) {
    return {"--coordinator", "127.0.0.1:" + std::to_string(c.port()), "--profile", "maximum"};
}

std::string member(const std::string& json, const std::string& key) {
    std::smatch m;
    const std::regex re("\"" + key + "\":\"?([0-9a-z]+)");
    return std::regex_search(json, m, re) ? m[1].str() : "";
}

// Units of 2^33 starts: a few chunks of about 0.75 s each at this machine's measured rate.
const std::vector<std::string> kOneUnit = {"--difficulty-bits", "8", "--begin", "2^40", "--end", "1108101562368",
                                           "--unit-size", "2^33"};

TEST(RunCommand, WholeCampaignWithPauseAndHeartbeats) {
    DevCoordinatorProcess coordinator(kOneUnit);
    test::TempDir data;
    std::vector<std::string> args = address_of(coordinator);
    args.insert(args.end(), {"--heartbeat-seconds", "0.2"});
    WorkerProcess worker(args, data.path(), coordinator.ca_file());
    ASSERT_TRUE(worker.wait_for_output("WORKING")) << worker.output();
    worker.signal(SIGUSR1);  // pause inside the unit
    std::this_thread::sleep_for(1500ms);
    const std::string while_paused = worker.output();
    int heartbeats = 0;
    for (const auto& r : coordinator.requests())
        if (r.method == "PUT" && r.path.find("/heartbeat") != std::string::npos) ++heartbeats;
    EXPECT_GE(heartbeats, 3) << "heartbeats while paused";
    worker.signal(SIGUSR1);  // resume
    EXPECT_EQ(worker.wait(), 0) << worker.output();
    const std::string out = worker.output();
    EXPECT_NE(out.find("Registering public worker...\nSolving short anti-abuse challenge."), std::string::npos);
    EXPECT_NE(out.find("Unit accepted \xC2\xB7 accepted"), std::string::npos) << out;
    EXPECT_TRUE(out.ends_with("Campaign allocation is complete.\n\n")) << out;
    std::vector<std::string> paths;
    for (const auto& r : coordinator.requests()) paths.push_back(r.method + " " + r.path);
    const auto has = [&](const std::string& p) { return std::find(paths.begin(), paths.end(), p) != paths.end(); };
    EXPECT_TRUE(has("GET /healthz"));
    EXPECT_TRUE(has("GET /api/v1/register/challenge"));
    EXPECT_TRUE(has("POST /api/v1/workers/register"));
    EXPECT_TRUE(has("POST /api/v1/benchmarks"));
    EXPECT_TRUE(has("POST /api/v1/leases/acquire"));
    const std::string ledger = coordinator.ledger_json();
    const auto verdicts = [&](const char* pattern) {
        const std::regex re(pattern);
        return std::distance(std::sregex_iterator(ledger.begin(), ledger.end(), re), std::sregex_iterator());
    };
    EXPECT_GE(verdicts(R"("verdict":\s*")"), 1) << ledger;
    EXPECT_EQ(verdicts(R"("verdict":\s*"accepted")"), verdicts(R"("verdict":\s*")")) << ledger;
}

TEST(RunCommand, KilledMidUnitResumesToTheSameResult) {
    DevCoordinatorProcess coordinator(kOneUnit);
    test::TempDir data;
    {
        WorkerProcess first(address_of(coordinator), data.path(), coordinator.ca_file());
        ASSERT_TRUE(first.wait_for_output("WORKING")) << first.output();
        first.signal(SIGKILL);
        EXPECT_EQ(first.wait(), 128 + SIGKILL);
    }
    ASSERT_TRUE(std::filesystem::exists(data.path() / "PelorinWorker" / "checkpoint.json"));
    WorkerProcess second(address_of(coordinator), data.path(), coordinator.ca_file());
    EXPECT_EQ(second.wait(), 0) << second.output();
    EXPECT_NE(second.output().find("Resuming checkpoint at "), std::string::npos) << second.output();
    EXPECT_EQ(second.output().find("Registering public worker"), std::string::npos);  // identity kept

    // The unit's result equals one verification of the whole unit in one go.
    // The ledger keeps the result as received, inside a JSON string: undo its quoting.
    const std::string ledger = std::regex_replace(coordinator.ledger_json(), std::regex(R"(\\")"), "\"");
    int status = 0;
    std::string whole;
    {
        const std::string cmd = std::string(PELORIN_WORKER_BINARY) +
                                " verify --backend record-recursive --begin 1099511627776 --end 1108101562368";
        FILE* p = popen(cmd.c_str(), "r");
        ASSERT_NE(p, nullptr);
        char buf[4096];
        for (std::size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) whole.append(buf, n);
        status = pclose(p);
    }
    ASSERT_EQ(status, 0) << whole;
    for (const char* key : {"checked", "proof_exclusions", "proof_hash", "checksum_sum", "checksum_xor", "survivors_evaluated",
                            "u64_completions", "u128_completions", "bigint_completions", "steps"})
        EXPECT_EQ(member(ledger, key), member(whole, key)) << key << "\nledger: " << ledger << "\nwhole: " << whole;
    EXPECT_NE(ledger.find("\"valid\":true"), std::string::npos) << ledger;
}

// With --data-dir after the subcommand: that folder is used in place of LOCALAPPDATA's.
TEST(RunCommand, StopSignalCheckpointsAndExitsZero) {
    DevCoordinatorProcess coordinator(kOneUnit);
    test::TempDir data;
    std::vector<std::string> args = address_of(coordinator);
    const std::filesystem::path chosen = data.path() / "chosen";
    args.insert(args.end(), {"--data-dir", chosen.string()});
    WorkerProcess worker(args, data.path(), coordinator.ca_file());
    ASSERT_TRUE(worker.wait_for_output("WORKING")) << worker.output();
    worker.signal(SIGTERM);
    EXPECT_EQ(worker.wait(), 0) << worker.output();
    EXPECT_TRUE(std::filesystem::exists(chosen / "checkpoint.json"));
    EXPECT_TRUE(std::filesystem::exists(chosen / "identity.bin"));
    EXPECT_FALSE(std::filesystem::exists(data.path() / "PelorinWorker"));
    for (const auto& r : coordinator.requests()) EXPECT_EQ(r.path.find("/complete"), std::string::npos);
}

TEST(RunCommand, FailuresShowTheStoppedTextAndExitOne) {
    DevCoordinatorProcess coordinator(kOneUnit);
    test::TempDir data;
    {
        // Nothing listens there: both connection attempts fail, and the message says so.
        coordinator.stop();
        WorkerProcess worker(address_of(coordinator), data.path(), coordinator.ca_file());
        EXPECT_EQ(worker.wait(), 1) << worker.output();
        EXPECT_NE(worker.output().find("STOPPED\n\nSecure connection check failed.\nDirect: "), std::string::npos)
            << worker.output();
        EXPECT_TRUE(worker.output().ends_with("\n\nPress Start to retry.\n\n")) << worker.output();
        coordinator.restart();
    }
    coordinator.post_fault(R"({"path":"/api/v1/leases/acquire","action":"status","status":500,"body":"overloaded"})");
    WorkerProcess worker(address_of(coordinator), data.path(), coordinator.ca_file());
    EXPECT_EQ(worker.wait(), 1) << worker.output();
    EXPECT_NE(worker.output().find("STOPPED\n\nCoordinator error 500: overloaded\n\nPress Start to retry."),
              std::string::npos)
        << worker.output();
}

TEST(RunCommand, BadArgumentsExitTwo) {
    test::TempDir data;
    for (const auto& args : std::vector<std::vector<std::string>>{{"--coordinator", "host:99999"},
                                                                  {"--coordinator", ":80"},
                                                                  {"--profile", "turbo"},
                                                                  {"--data-dir", ""}}) {
        WorkerProcess worker(args, data.path(), "/nonexistent");
        EXPECT_EQ(worker.wait(), 2) << args[1] << ": " << worker.output();
    }
}

}  // namespace
}  // namespace pelorin
