#pragma once
// The real pelorin-coordinator for the Linux tests: a fresh temporary data folder with its
// SQLite database, a certificate authority and a server certificate for 127.0.0.1 made by the
// development coordinator's TLS code, the operator's commands run to completion, and `serve`
// as a child process (journal in a file) stopped and killed with real signals. The folder is
// removed when the object goes.
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/loopback_server.hpp"
#include "tests/support/program_run.hpp"
#include "tests/support/server_child.hpp"

namespace pelorin::test_support {

// The program this build made.
std::string coordinator_binary();

class CoordinatorProcess : public LoopbackServer {
public:
    CoordinatorProcess();
    ~CoordinatorProcess();
    CoordinatorProcess(const CoordinatorProcess&) = delete;
    CoordinatorProcess& operator=(const CoordinatorProcess&) = delete;

    // `pelorin-coordinator --state-dir <folder> <args>` to its end.
    CommandResult command(const std::vector<std::string>& args) const;
    // `serve --listen 127.0.0.1:<port>` (0: any free port) with the folder's certificate and
    // `flags`; returns once it listens. Throws std::runtime_error with its output when it does not.
    void serve(const std::vector<std::string>& flags = {}, int port = 0);
    // Sends `sig` and returns the exit status (SIGKILL when it lingers).
    int stop(int sig = 15) { return child_.stop(sig); }
    void signal(int sig) const { child_.signal(sig); }
    bool serving() const { return child_.running(); }
    // The serving process's id, and everything it wrote on standard output.
    int pid() const { return child_.pid(); }
    std::string output() const { return child_.output(); }

    int port() const override { return port_; }
    const std::filesystem::path& ca_file() const override { return ca_file_; }
    const std::filesystem::path& folder() const { return folder_; }
    std::filesystem::path database() const { return folder_ / "coordinator.db"; }
    std::filesystem::path certificate() const { return folder_ / "server.pem"; }
    std::filesystem::path key() const { return folder_ / "server-key.pem"; }
    // The journal: everything serve wrote on standard error.
    std::string journal() const;
    // The operator's port of a server started with --metrics-listen 127.0.0.1:0, as it printed
    // it ("Operator's view on http://127.0.0.1:PORT/?view=operator").
    int operator_port() const;

private:
    std::filesystem::path folder_;
    std::filesystem::path ca_file_;
    int port_ = 0;
    ServerChild child_;
};

}  // namespace pelorin::test_support
