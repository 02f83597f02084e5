#include "tests/support/dev_coordinator_process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace pelorin::test_support {
namespace {

// Start-up includes making two RSA keys; sanitizer builds are slow, so be generous.
constexpr auto kStartTimeout = std::chrono::seconds(60);
constexpr auto kStopTimeout = std::chrono::seconds(20);

std::filesystem::path make_temp_dir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pelorin-devcoord-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error(std::string("cannot make a temporary folder: ") + std::strerror(errno));
    return pattern;
}

// The value after prefix on a line of text, or empty.
std::string line_value(const std::string& text, const std::string& prefix) {
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t eol = text.find('\n', at);
        if (eol == std::string::npos) break;  // only whole lines
        if (text.compare(at, prefix.size(), prefix) == 0) return text.substr(at + prefix.size(), eol - at - prefix.size());
        at = eol + 1;
    }
    return {};
}

}  // namespace

std::string dev_coordinator_binary() { return PELORIN_DEV_COORDINATOR_BINARY; }

DevCoordinatorProcess::DevCoordinatorProcess(std::vector<std::string> extra_args)
    : args_(std::move(extra_args)), state_dir_(make_temp_dir()) {
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

std::string DevCoordinatorProcess::output() const {
    std::lock_guard lock(output_mutex_);
    return output_;
}

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
    std::vector<std::string> argv_text = {dev_coordinator_binary(), "--state-dir", state_dir_.string(), "--port", "0"};
    argv_text.insert(argv_text.end(), args_.begin(), args_.end());
    std::vector<char*> argv;
    for (std::string& a : argv_text) argv.push_back(a.data());
    argv.push_back(nullptr);

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    const int rc = ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (rc != 0) {
        ::close(fds[0]);
        pid_ = -1;
        throw std::runtime_error("cannot start " + argv_text[0] + ": " + std::strerror(rc));
    }
    stdout_fd_ = fds[0];
    {
        std::lock_guard lock(output_mutex_);
        output_.clear();
    }

    // Read until both lines are there, the program ends, or time runs out.
    const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
    std::string text;
    std::string ca;
    std::string listening;
    bool ended = false;
    while (ca.empty() || listening.empty()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{stdout_fd_, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        char buf[4096];
        const ssize_t n = ::read(stdout_fd_, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ended = true;
            break;
        }
        text.append(buf, static_cast<std::size_t>(n));
        ca = line_value(text, "CA certificate: ");
        listening = line_value(text, "Listening on https://127.0.0.1:");
    }
    {
        std::lock_guard lock(output_mutex_);
        output_ = text;
    }
    if (ca.empty() || listening.empty()) {
        const int status = stop();
        throw std::runtime_error("pelorin-dev-coordinator did not come up (" +
                                 std::string(ended ? "it ended" : "timed out") + ", exit status " +
                                 std::to_string(status) + "); its output: " + text);
    }
    ca_file_ = ca;
    port_ = std::stoi(listening);

    // Keep reading, so the program never blocks on a full pipe.
    drain_ = std::thread([this] {
        char buf[4096];
        for (;;) {
            const ssize_t n = ::read(stdout_fd_, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;
            std::lock_guard lock(output_mutex_);
            output_.append(buf, static_cast<std::size_t>(n));
        }
    });
}

int DevCoordinatorProcess::stop() {
    if (pid_ <= 0) return 0;
    ::kill(pid_, SIGTERM);
    int status = 0;
    pid_t done = 0;
    const auto deadline = std::chrono::steady_clock::now() + kStopTimeout;
    while ((done = ::waitpid(pid_, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (done == 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
    }
    pid_ = -1;
    if (drain_.joinable()) drain_.join();
    if (stdout_fd_ >= 0) ::close(stdout_fd_);
    stdout_fd_ = -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

}  // namespace pelorin::test_support
