#include "tests/app/worker_process.hpp"

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <algorithm>
#include <regex>
#include <set>
#include <stdexcept>

extern char** environ;

namespace pelorin::test {
namespace {

void drain(int fd, std::mutex& mutex, std::string& into) {
    char buf[4096];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) {
        std::lock_guard lock(mutex);
        into.append(buf, static_cast<std::size_t>(n));
    }
    close(fd);
}

}  // namespace

WorkerProcess::WorkerProcess(std::vector<std::string> args, WorkerOptions options) {
    std::vector<std::string> env_strings = {"LOCALAPPDATA=" + options.data_base.string(),
                                            "SSL_CERT_FILE=" + options.ca_file.string()};
    env_strings.insert(env_strings.end(), options.environment.begin(), options.environment.end());
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string kv = *e;
        // A service's STATE_DIRECTORY would come before LOCALAPPDATA: never the test's.
        if (kv.rfind("LOCALAPPDATA=", 0) != 0 && kv.rfind("SSL_CERT_FILE=", 0) != 0 &&
            kv.rfind("STATE_DIRECTORY=", 0) != 0)
            env_strings.push_back(kv);
    }
    args.insert(args.begin(), PELORIN_WORKER_BINARY);
    if (options.file_size_limit)
        args.insert(args.begin(), {"/usr/bin/prlimit", "--fsize=" + std::to_string(*options.file_size_limit), "--"});
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe");
    int tty_main = -1, tty_side = -1;
    if (options.stderr_on_terminal && openpty(&tty_main, &tty_side, nullptr, nullptr, nullptr) != 0)
        throw std::runtime_error("openpty");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, options.stderr_on_terminal ? tty_side : out[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    if (tty_main >= 0) posix_spawn_file_actions_addclose(&actions, tty_main);
    std::vector<char*> argv, envp;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : env_strings) envp.push_back(e.data());
    envp.push_back(nullptr);
    // A signal this test program ignores would stay ignored in the child: the worker must
    // meet SIGXFSZ as a shell hands it over, at its default action (the end of the process).
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGXFSZ);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    const int spawned = posix_spawn(&pid_, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (tty_side >= 0) close(tty_side);
    if (spawned != 0) throw std::runtime_error("cannot start " + args[0]);
    out_reader_ = std::thread([this, fd = out[0]] { drain(fd, mutex_, output_); });
    if (tty_main >= 0) tty_reader_ = std::thread([this, fd = tty_main] { drain(fd, mutex_, terminal_); });
}

WorkerProcess::~WorkerProcess() {
    if (!exited()) {
        kill(pid_, SIGKILL);
        wait();
    }
    if (out_reader_.joinable()) out_reader_.join();
    if (tty_reader_.joinable()) tty_reader_.join();
}

std::string WorkerProcess::output() const {
    std::lock_guard lock(mutex_);
    return output_;
}

std::string WorkerProcess::terminal_output() const {
    std::lock_guard lock(mutex_);
    return terminal_;
}

bool WorkerProcess::wait_for_output(const std::string& text, std::chrono::seconds limit, std::size_t from) {
    const auto until = std::chrono::steady_clock::now() + limit;
    const auto seen = [&] {
        const std::string out = output();
        return out.size() > from && out.find(text, from) != std::string::npos;
    };
    while (std::chrono::steady_clock::now() < until) {
        if (seen()) return true;
        if (exited()) {
            // The reader may still be taking in the last bytes.
            std::this_thread::sleep_for(50ms);
            return seen();
        }
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

void WorkerProcess::signal(int sig) { kill(pid_, sig); }

bool WorkerProcess::running() { return !exited(); }

int WorkerProcess::wait(std::chrono::seconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!exited() && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(10ms);
    // The readers take in the last bytes after the exit: the output is whole only once they end.
    if (status_ >= 0) {
        if (out_reader_.joinable()) out_reader_.join();
        if (tty_reader_.joinable()) tty_reader_.join();
    }
    return status_;
}

bool WorkerProcess::exited() {
    if (status_ >= 0) return true;
    int raw = 0;
    if (waitpid(pid_, &raw, WNOHANG) != pid_) return false;
    status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    return true;
}

std::vector<std::string> run_args(const test_support::LoopbackServer& coordinator, std::vector<std::string> more) {
    std::vector<std::string> args = {"run", "--coordinator", "127.0.0.1:" + std::to_string(coordinator.port())};
    // Full speed unless a test picks its profile.
    if (std::find(more.begin(), more.end(), "--profile") == more.end()) args.insert(args.end(), {"--profile", "maximum"});
    // Waits after a fault are short unless a test sets them: a result check that outlasts the
    // receive time-out on a loaded machine is waited out, not left for half a minute.
    if (std::find(more.begin(), more.end(), "--retry-first-seconds") == more.end())
        args.insert(args.end(), {"--retry-first-seconds", "0.05", "--retry-longest-seconds", "5"});
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

std::string verify_record(const std::string& begin, const std::string& end) {
    const std::string cmd = std::string(PELORIN_WORKER_BINARY) + " verify --backend record-recursive --begin " + begin +
                            " --end " + end + " 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    if (p == nullptr) throw std::runtime_error("cannot run " + cmd);
    std::string out;
    char buf[4096];
    for (std::size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    if (pclose(p) != 0) throw std::runtime_error(cmd + " failed: " + out);
    return out;
}

std::vector<std::pair<std::string, std::string>> accepted_results(const test_support::DevCoordinatorProcess& coordinator) {
    std::vector<std::pair<std::string, std::string>> results;
    const auto ledger = nlohmann::json::parse(coordinator.ledger_json());
    for (const auto& unit : ledger.at("units")) {
        for (const auto& s : unit.at("submissions"))
            if (s.at("verdict") == "accepted") results.emplace_back(unit.at("begin"), s.at("received").get<std::string>());
    }
    return results;
}

std::string record_difference(const std::string& got, const std::string& want) {
    std::string diff;
    for (const std::string key : {"checked", "candidates", "proof_exclusions", "proof_hash", "checksum_sum",
                                  "checksum_xor", "survivors_evaluated", "frontier_nodes", "u64_completions",
                                  "u128_completions", "u256_completions", "bigint_completions", "steps", "valid"}) {
        const std::regex re("\"" + key + "\":\"?([0-9a-z]+)");
        std::smatch g, w;
        const bool in_got = std::regex_search(got, g, re), in_want = std::regex_search(want, w, re);
        // A member the worker does not send (candidates) is compared only where both hold it.
        if (in_got != in_want && key != "candidates") {
            diff.append(key).append(" missing; ");
        } else if (in_got && in_want && g[1] != w[1]) {
            diff.append(key).append(" ").append(g[1].str()).append(" != ").append(w[1].str()).append("; ");
        }
    }
    return diff;
}

std::string campaign_difference(const test_support::DevCoordinatorProcess& coordinator) {
    const auto ledger = nlohmann::json::parse(coordinator.ledger_json());
    std::string problems;
    for (const auto& unit : ledger.at("units")) {
        const std::string begin = unit.at("begin"), end = unit.at("end");
        if (unit.at("state") != "accepted") {
            problems += "unit " + begin + " is " + unit.at("state").get<std::string>() + "\n";
            continue;
        }
        for (const auto& s : unit.at("submissions")) {
            if (s.at("verdict") != "accepted") continue;
            const std::string diff = record_difference(s.at("received").get<std::string>(), verify_record(begin, end));
            if (!diff.empty()) problems += "unit " + begin + ": " + diff + "\n";
        }
    }
    if (ledger.at("units").empty()) problems += "no unit was handed out\n";
    return problems;
}

std::string active_lease_id(const test_support::DevCoordinatorProcess& coordinator) {
    const auto ledger = nlohmann::json::parse(coordinator.ledger_json());
    for (const auto& unit : ledger.at("units"))
        for (const auto& lease : unit.at("leases"))
            if (lease.at("state") == "active") return lease.at("lease_id");
    return "";
}

std::vector<std::string> lease_states(const test_support::DevCoordinatorProcess& coordinator) {
    std::vector<std::string> states;
    const auto ledger = nlohmann::json::parse(coordinator.ledger_json());
    for (const auto& unit : ledger.at("units"))
        for (const auto& lease : unit.at("leases"))
            states.push_back(lease.at("lease_id").get<std::string>() + " " + lease.at("state").get<std::string>());
    return states;
}

int count_requests(const test_support::DevCoordinatorProcess& coordinator, const std::string& method,
                   const std::string& path_part) {
    int n = 0;
    for (const auto& r : coordinator.requests())
        if (r.method == method && r.path.find(path_part) != std::string::npos) ++n;
    return n;
}

}  // namespace pelorin::test
