#include "tests/support/server_child.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace pelorin::test_support {
namespace {

// Start-up can include making keys and migrating a database; sanitizer builds are slow, so be
// generous.
constexpr auto kStartTimeout = std::chrono::seconds(60);
constexpr auto kStopTimeout = std::chrono::seconds(20);

// The value after prefix on a whole line of text, or nothing.
bool line_value(const std::string& text, const std::string& prefix, std::string& value) {
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t eol = text.find('\n', at);
        if (eol == std::string::npos) break;  // only whole lines
        if (text.compare(at, prefix.size(), prefix) == 0) {
            value = text.substr(at + prefix.size(), eol - at - prefix.size());
            return true;
        }
        at = eol + 1;
    }
    return false;
}

}  // namespace

ServerChild::~ServerChild() { stop(); }

std::string ServerChild::output() const {
    std::lock_guard lock(output_mutex_);
    return output_;
}

std::vector<std::string> ServerChild::start(const std::vector<std::string>& argv_text,
                                            const std::vector<std::string>& prefixes,
                                            const std::filesystem::path& stderr_file) {
    std::vector<std::string> args = argv_text;
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int err_fd = -1;
    if (!stderr_file.empty()) {
        err_fd = ::open(stderr_file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (err_fd < 0) throw std::runtime_error("cannot open " + stderr_file.string() + ": " + std::strerror(errno));
    }

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ == 0) {
        // Only async-signal-safe calls until exec. A test that crashes must not leave the
        // program running (it would also hold the test's output open).
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(127);
        ::dup2(fds[1], STDOUT_FILENO);
        if (err_fd >= 0) ::dup2(err_fd, STDERR_FILENO);
        ::execve(argv[0], argv.data(), environ);
        ::_exit(127);
    }
    const int fork_errno = errno;
    ::close(fds[1]);
    if (err_fd >= 0) ::close(err_fd);
    if (pid_ < 0) {
        ::close(fds[0]);
        pid_ = -1;
        throw std::runtime_error("cannot start " + args[0] + ": " + std::strerror(fork_errno));
    }
    stdout_fd_ = fds[0];

    // Read until every line is there, the program ends, or time runs out.
    const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
    std::string text;
    std::vector<std::string> values(prefixes.size());
    std::size_t found = 0;
    bool ended = false;
    while (found < prefixes.size()) {
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
        found = 0;
        for (std::size_t i = 0; i < prefixes.size(); ++i) found += line_value(text, prefixes[i], values[i]);
    }
    {
        std::lock_guard lock(output_mutex_);
        output_ = text;
    }
    if (found < prefixes.size()) {
        const int status = stop();
        throw std::runtime_error(args[0] + " did not come up (" + std::string(ended ? "it ended" : "timed out") +
                                 ", exit status " + std::to_string(status) + "); its output: " + text);
    }
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
    return values;
}

void ServerChild::signal(int sig) const {
    if (pid_ > 0) ::kill(pid_, sig);
}

int ServerChild::stop(int sig) {
    if (pid_ <= 0) return 0;
    ::kill(pid_, sig);
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
