#include "tests/support/coordinator_process.hpp"

#include <stdexcept>
#include <thread>

#include "tests/support/program_run.hpp"
#include "tests/support/temp_folder.hpp"
#include "tools/dev-coordinator/tls_material.hpp"

namespace pelorin::test_support {

std::string coordinator_binary() { return PELORIN_COORDINATOR_BINARY; }

CoordinatorProcess::CoordinatorProcess() : folder_(make_temp_folder("pelorin-coordinator")) {
    try {
        ca_file_ = devcoord::ensure_tls_material(folder_).ca_certificate;
    } catch (...) {
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
        throw;
    }
}

CoordinatorProcess::~CoordinatorProcess() {
    child_.stop();
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
}

CommandResult CoordinatorProcess::command(const std::vector<std::string>& args) const {
    std::vector<std::string> argv = {coordinator_binary(), "--state-dir", folder_.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_program(argv, folder_ / "command.out", folder_ / "command.err");
}

void CoordinatorProcess::serve(const std::vector<std::string>& flags, int port) {
    std::vector<std::string> argv = {coordinator_binary(),
                                     "--state-dir",
                                     folder_.string(),
                                     "serve",
                                     "--listen",
                                     "127.0.0.1:" + std::to_string(port),
                                     "--tls-cert",
                                     certificate().string(),
                                     "--tls-key",
                                     key().string()};
    argv.insert(argv.end(), flags.begin(), flags.end());
    const std::vector<std::string> lines = child_.start(argv, {"Listening on https://127.0.0.1:"}, folder_ / "journal.log");
    port_ = std::stoi(lines[0]);
}

std::string CoordinatorProcess::journal() const { return file_text(folder_ / "journal.log"); }

int CoordinatorProcess::operator_port() const {
    const std::string out = output();
    const std::string mark = "Operator's view on http://127.0.0.1:";
    const std::size_t at = out.find(mark);
    if (at == std::string::npos) throw std::runtime_error("no operator's port in: " + out);
    return std::stoi(out.substr(at + mark.size()));
}

}  // namespace pelorin::test_support
