// Linux: whether the computer is in use, as the worker asks systemd-logind over the system
// bus, on a bus of the test's own (a real dbus-daemon, named by DBUS_SYSTEM_BUS_ADDRESS) with
// login1-stand-in answering for logind: in use, idle for five minutes, nobody signed in, and
// logind or the bus gone (unreadable, counted as idle) and back.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>
#include <thread>

#include "scoped_env.hpp"
#include "worker/machine_readings.hpp"

extern char** environ;

namespace pelorin {
namespace {

using namespace std::chrono_literals;

std::uint64_t monotonic_us() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000 + static_cast<std::uint64_t>(now.tv_nsec) / 1000;
}

// A process whose first line of output is awaited; ended at the end.
class Child {
public:
    Child(std::vector<std::string> args, const std::string& ready) {
        int out[2];
        if (pipe(out) != 0) throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        const int spawned = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        if (spawned != 0) throw std::runtime_error("cannot start " + args[0]);
        out_ = fdopen(out[0], "r");
        char line[512] = {};
        if (!std::fgets(line, sizeof line, out_)) throw std::runtime_error(args[0] + " ended before it was ready");
        first_line_ = line;
        if (first_line_.find(ready) == std::string::npos) throw std::runtime_error(args[0] + " said: " + first_line_);
    }
    ~Child() { end(); }
    void end() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
        std::fclose(out_);
    }
    std::string first_line() const { return first_line_.substr(0, first_line_.find('\n')); }

private:
    pid_t pid_ = -1;
    std::FILE* out_ = nullptr;
    std::string first_line_;
};

TEST(LogindIdle, InUseIdleNobodyAndGone) {
    test::TempDir dir;
    Child bus({"/usr/bin/dbus-daemon", "--session", "--nofork", "--address=unix:path=" + (dir.path() / "bus").string(),
               "--print-address=1"},
              "unix:path=");
    test::ScopedEnv system_bus("DBUS_SYSTEM_BUS_ADDRESS", bus.first_line());
    const std::string file = (dir.path() / "idle").string();
    test::write_file(file, "0 0\n");
    auto logind = std::make_unique<Child>(std::vector<std::string>{PELORIN_LOGIN1_STAND_IN, file}, "ready");
    const auto readings = platform_machine_readings();

    IdleReading got = readings->idle();
    EXPECT_EQ(got.unreadable, "");
    EXPECT_EQ(got.idle_for, 0ms) << "a session in use";

    test::write_file(file, "1 " + std::to_string(monotonic_us() - 300'000'000) + "\n");
    got = readings->idle();
    EXPECT_EQ(got.unreadable, "");
    EXPECT_GE(got.idle_for, 300s);
    EXPECT_LT(got.idle_for, 310s) << got.idle_for.count() << " ms";

    test::write_file(file, "1 0\n");  // idle, and since no time: nobody signed in
    EXPECT_EQ(readings->idle().idle_for, kIdleForever);

    logind.reset();
    got = readings->idle();
    EXPECT_EQ(got.idle_for, kIdleForever) << "unreadable counts as idle";
    EXPECT_TRUE(got.unreadable.starts_with("systemd-logind: ")) << got.unreadable;

    test::write_file(file, "0 0\n");
    logind = std::make_unique<Child>(std::vector<std::string>{PELORIN_LOGIN1_STAND_IN, file}, "ready");
    got = readings->idle();
    EXPECT_EQ(got.unreadable, "") << "logind back: read again on a new connection";
    EXPECT_EQ(got.idle_for, 0ms);

    logind.reset();
    bus.end();
    got = readings->idle();
    EXPECT_EQ(got.idle_for, kIdleForever);
    EXPECT_NE(got.unreadable, "");
    got = readings->idle();
    EXPECT_EQ(got.unreadable, "the system bus: No such file or directory") << "the bus's socket is gone";
}

}  // namespace
}  // namespace pelorin
