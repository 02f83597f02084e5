#pragma once
// Runs the real pelorin-dev-coordinator as a child process for loopback tests: a fresh
// temporary state folder, --port 0, the CA path and port read from its first lines; it is
// stopped, and its folder removed, when the object goes away. The program also gets
// SIGTERM when the thread that started it ends (so a crashed test leaves nothing
// running): start it from the test's own thread.
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/loopback_server.hpp"
#include "tests/support/server_child.hpp"

namespace pelorin::test_support {

// The coordinator program this build made.
std::string dev_coordinator_binary();

struct RecordedRequest {
    std::string method;
    std::string path;
    std::vector<std::string> authorization;
    std::string user_agent;
    std::string content_type;
    std::string accept;
    std::string body;
};

class DevCoordinatorProcess : public LoopbackServer {
public:
    // extra_args go after --state-dir and --port 0 (for example {"--difficulty-bits", "4"}).
    // Throws std::runtime_error with the program's output when it does not come up.
    explicit DevCoordinatorProcess(std::vector<std::string> extra_args = {});
    ~DevCoordinatorProcess();
    DevCoordinatorProcess(const DevCoordinatorProcess&) = delete;
    DevCoordinatorProcess& operator=(const DevCoordinatorProcess&) = delete;

    // Stops the program (SIGTERM, then SIGKILL if it lingers) and returns its exit status
    // (128 + signal when a signal ended it). The state folder stays.
    int stop();
    // Starts it again on the same state folder (a new port); with no arguments, the ones it
    // was first started with.
    void restart();
    void restart(std::vector<std::string> extra_args);

    int port() const override { return port_; }
    const std::filesystem::path& ca_file() const override { return ca_file_; }
    const std::filesystem::path& state_dir() const { return state_dir_; }
    std::string base_url() const { return "https://127.0.0.1:" + std::to_string(port_); }
    // Everything the program wrote on standard output so far.
    std::string output() const;

    // The control endpoint. post_fault takes the JSON body of POST /dev/faults and throws
    // std::runtime_error when the coordinator refuses it.
    void post_fault(const std::string& fault_json) const;
    void clear_faults() const;
    std::vector<RecordedRequest> requests() const;
    void clear_requests() const;
    std::string ledger_json() const;

private:
    void start();

    std::vector<std::string> args_;
    std::filesystem::path state_dir_;
    std::filesystem::path ca_file_;
    int port_ = 0;
    ServerChild child_;
};

}  // namespace pelorin::test_support
