#pragma once
// A server program as a child process of a test: started with its arguments, its standard
// output read until given lines have appeared (their values kept), then drained so it never
// blocks; standard error into a file when one is named. It gets SIGTERM when the thread that
// started it ends, so a crashed test leaves nothing running: start it from the test's thread.
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace pelorin::test_support {

class ServerChild {
public:
    ServerChild() = default;
    ~ServerChild();
    ServerChild(const ServerChild&) = delete;
    ServerChild& operator=(const ServerChild&) = delete;

    // Starts argv[0] with the rest and returns, for each prefix, the rest of the first output
    // line that begins with it. Throws std::runtime_error with the output when the program
    // ends or stays silent first.
    std::vector<std::string> start(const std::vector<std::string>& argv, const std::vector<std::string>& prefixes,
                                   const std::filesystem::path& stderr_file = {});
    // Sends `sig` (SIGTERM by default; SIGKILL at once when it lingers) and returns the exit
    // status (128 + signal when a signal ended it); 0 when nothing runs.
    int stop(int sig = 15);
    void signal(int sig) const;
    bool running() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    // Everything written on standard output so far.
    std::string output() const;

private:
    pid_t pid_ = -1;
    int stdout_fd_ = -1;
    std::thread drain_;
    mutable std::mutex output_mutex_;
    std::string output_;
};

}  // namespace pelorin::test_support
