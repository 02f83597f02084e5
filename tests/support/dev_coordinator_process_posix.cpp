#include "tests/support/dev_coordinator_process.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "tests/support/temp_folder.hpp"

namespace pelorin::test_support {

std::string dev_coordinator_binary() { return PELORIN_DEV_COORDINATOR_BINARY; }

DevCoordinatorProcess::DevCoordinatorProcess(std::vector<std::string> extra_args)
    : args_(std::move(extra_args)), state_dir_(make_temp_folder("pelorin-devcoord")) {
    try {
        start();
    } catch (...) {
        std::error_code ec;
        std::filesystem::remove_all(state_dir_, ec);
        throw;
    }
}

DevCoordinatorProcess::~DevCoordinatorProcess() {
    stop();
    std::error_code ec;
    std::filesystem::remove_all(state_dir_, ec);
}

std::string DevCoordinatorProcess::output() const { return child_.output(); }

void DevCoordinatorProcess::restart() {
    stop();
    start();
}

void DevCoordinatorProcess::restart(std::vector<std::string> extra_args) {
    stop();
    args_ = std::move(extra_args);
    start();
}

void DevCoordinatorProcess::start() {
    std::vector<std::string> argv = {dev_coordinator_binary(), "--state-dir", state_dir_.string(), "--port", "0"};
    argv.insert(argv.end(), args_.begin(), args_.end());
    const std::vector<std::string> lines = child_.start(argv, {"CA certificate: ", "Listening on https://127.0.0.1:"});
    ca_file_ = lines[0];
    port_ = std::stoi(lines[1]);
}

int DevCoordinatorProcess::stop() { return child_.stop(); }

}  // namespace pelorin::test_support
