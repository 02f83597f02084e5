#pragma once
// `pelorin-worker run`: the headless worker against a coordinator, until the campaign is
// complete, a stop signal, or a failure that waiting cannot fix.
#include <CLI/CLI.hpp>
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

}  // namespace pelorin
