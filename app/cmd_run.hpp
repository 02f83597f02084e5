#pragma once
// `pelorin-worker run`: the headless worker against a coordinator, until the campaign is
// complete, a stop signal, or a failure that waiting cannot fix.
#include <CLI/CLI.hpp>
#include <chrono>
#include <optional>
#include <string>

namespace pelorin {

class RunCommand {
public:
    explicit RunCommand(CLI::App& parent);
    CLI::App* app() const { return app_; }
    int run() const;

private:
    CLI::App* app_;
    std::string coordinator_;
    std::string profile_ = "balanced";
    bool no_retry_ = false;
    bool pause_on_battery_ = false;
    std::string pause_while_in_use_ = "no";  // no, yes or minutes
    // Hidden, for tests: the in-use limit in seconds (overrides the minutes).
    double in_use_seconds_ = 0.0;
    // Hidden, for tests: shorter heartbeats and waits.
    double heartbeat_seconds_ = 20.0;
    double retry_first_seconds_ = 30.0;
    double retry_longest_seconds_ = 1800.0;
};

// "host", "host:port" or "[v6]:port"; throws std::invalid_argument on anything else.
struct HostPort {
    std::string host;
    std::uint16_t port;
};
HostPort parse_coordinator(const std::string& text, std::uint16_t default_port);

// The value of --pause-while-in-use: "no" (or off, false, 0, empty) is off, "yes" (on, true)
// the default of 3 minutes, a number 1 to 1440 the minutes. Absent when off; throws
// std::invalid_argument otherwise.
std::optional<std::chrono::minutes> parse_in_use_minutes(const std::string& text);

}  // namespace pelorin
