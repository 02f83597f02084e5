#pragma once
// `pelorin-worker` as a user runs it, for the Linux process tests: a real child process with
// its own data folder and the coordinator's CA, its standard output and error collected
// (through a pipe, or a pseudo-terminal on standard error), stopped and killed with real
// signals. A process still running when the object goes is killed.
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/dev_coordinator_process.hpp"

namespace pelorin::test {

using namespace std::chrono_literals;

struct WorkerOptions {
    std::filesystem::path data_base;  // LOCALAPPDATA: the data folder is <base>/PelorinWorker
    std::filesystem::path ca_file;    // SSL_CERT_FILE
    bool stderr_on_terminal = false;  // standard error on a pseudo-terminal (read by terminal_output)
    // The largest file the program may write (RLIMIT_FSIZE, set by prlimit as a user would);
    // absent: no limit. The program starts with SIGXFSZ at its default action either way.
    std::optional<std::uint64_t> file_size_limit = std::nullopt;
    // Further NAME=value entries of the program's environment.
    std::vector<std::string> environment = {};
};

class WorkerProcess {
public:
    // `args` follow the program's path: {"run", "--coordinator", ...}.
    WorkerProcess(std::vector<std::string> args, WorkerOptions options);
    ~WorkerProcess();
    WorkerProcess(const WorkerProcess&) = delete;
    WorkerProcess& operator=(const WorkerProcess&) = delete;

    // Standard output and, unless it is on the terminal, standard error, as written so far.
    std::string output() const;
    // What was written to the pseudo-terminal.
    std::string terminal_output() const;
    // Waits until the output holds `text` (after `from`); false after the limit or once the
    // program ended without writing it.
    bool wait_for_output(const std::string& text, std::chrono::seconds limit = 180s, std::size_t from = 0);
    void signal(int sig);
    // Exit status, or 128 + signal; -1 if it does not end within the limit.
    int wait(std::chrono::seconds limit = 240s);
    bool running();
    pid_t pid() const { return pid_; }

private:
    bool exited();
    pid_t pid_ = -1;
    int status_ = -1;
    std::thread out_reader_;
    std::thread tty_reader_;
    mutable std::mutex mutex_;
    std::string output_;
    std::string terminal_;
};

// The run subcommand's arguments for a coordinator on loopback, at full speed, with short
// waits after faults (0.05 s doubling up to 5 s) unless `more` sets them.
std::vector<std::string> run_args(const test_support::LoopbackServer& coordinator,
                                  std::vector<std::string> more = {});

// `pelorin-worker verify --backend record-recursive` of [begin, end) in one pass: its JSON.
std::string verify_record(const std::string& begin, const std::string& end);

// The accepted results in the coordinator's ledger, one per unit: begin text -> result JSON.
std::vector<std::pair<std::string, std::string>> accepted_results(const test_support::DevCoordinatorProcess& coordinator);

// Compares the counters, checksums and proof hash of two records; an empty text when equal,
// otherwise the differing members.
std::string record_difference(const std::string& got, const std::string& want);

// Every unit of the ledger accepted, and each result equal to a one-pass verify of its unit;
// the failures as text (empty when all is well).
std::string campaign_difference(const test_support::DevCoordinatorProcess& coordinator);

// The id of the lease in force (the last active lease of a leased unit); empty when none.
std::string active_lease_id(const test_support::DevCoordinatorProcess& coordinator);

// Every lease of the ledger in the order handed out, as "<id> <state>".
std::vector<std::string> lease_states(const test_support::DevCoordinatorProcess& coordinator);

// How many times each API request (method and path, lease ids folded to <id>) was received.
int count_requests(const test_support::DevCoordinatorProcess& coordinator, const std::string& method,
                   const std::string& path_part);

}  // namespace pelorin::test
