#include "app/cmd_run.hpp"

#include <cstdio>
#include <stdexcept>
#include <thread>

#include "app/console_output.hpp"
#include "app/stop_signals.hpp"
#include "app/terminal_front_end.hpp"
#include "coordinator/https_transport.hpp"
#include "worker/worker_run.hpp"

namespace pelorin {

HostPort parse_coordinator(const std::string& text, std::uint16_t default_port) {
    const auto bad = [&] { return std::invalid_argument("invalid coordinator address: " + text); };
    std::string host = text, port_text;
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string::npos) throw bad();
        host = text.substr(1, close - 1);
        const std::string rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') throw bad();
            port_text = rest.substr(1);
            if (port_text.empty()) throw bad();
        }
    } else if (const auto colon = text.rfind(':'); colon != std::string::npos) {
        if (text.find(':') != colon) throw bad();  // a bare IPv6 address needs brackets
        host = text.substr(0, colon);
        port_text = text.substr(colon + 1);
        if (port_text.empty()) throw bad();
    }
    if (host.empty()) throw bad();
    std::uint32_t port = default_port;
    if (!port_text.empty()) {
        if (port_text.size() > 5 || port_text.find_first_not_of("0123456789") != std::string::npos) throw bad();
        port = static_cast<std::uint32_t>(std::stoul(port_text));
        if (port == 0 || port > 65535) throw bad();
    }
    return HostPort{host, static_cast<std::uint16_t>(port)};
}

std::optional<std::chrono::minutes> parse_in_use_minutes(const std::string& text) {
    static const std::pair<std::string_view, int> kWords[] = {{"", 0},    {"no", 0},  {"off", 0}, {"false", 0},
                                                              {"yes", 3}, {"on", 3},  {"true", 3}};
    for (const auto& [word, minutes] : kWords)
        if (text == word) return minutes == 0 ? std::nullopt : std::optional(std::chrono::minutes(minutes));
    const bool digits = text.size() <= 4 && text.find_first_not_of("0123456789") == std::string::npos;
    const int minutes = digits ? std::stoi(text) : -1;
    if (minutes == 0) return std::nullopt;
    if (minutes < 1 || minutes > 1440)
        throw std::invalid_argument("--pause-while-in-use takes minutes from 1 to 1440, yes or no, not \"" + text + "\"");
    return std::chrono::minutes(minutes);
}

RunCommand::RunCommand(CLI::App& parent) {
    app_ = parent.add_subcommand("run", "Run the worker: lease units from the coordinator and verify them");
    // An empty value (a setting left blank) is a mistake, never a request for the default.
    app_->add_option("--coordinator", coordinator_, "Coordinator HOST[:PORT] (default: the build's coordinator)")
        ->check([](const std::string& text) {
            return text.empty() ? std::string("the coordinator address is empty") : std::string();
        });
    app_->add_option("--profile", profile_, "Work profile: balanced (85%), maximum (100%) or quiet (50%)")
        ->check(CLI::IsMember({"balanced", "maximum", "quiet"}))
        ->capture_default_str();
    app_->add_flag("--no-retry", no_retry_,
                   "Stop at the first failure instead of waiting out network faults, busy or restarting\n"
                   "coordinators and expired leases");
    // Both may also come from the environment, as the service's settings file sets them.
    app_->add_flag("--pause-on-battery", pause_on_battery_,
                   "Wait between chunks while the computer runs on battery power (a computer\n"
                   "without a battery never waits for this)")
        ->envname("PELORIN_PAUSE_ON_BATTERY");
    app_->add_flag("--pause-while-in-use{yes}", pause_while_in_use_,
                   "Wait between chunks while the computer is in use: until it has had no input for\n"
                   "MINUTES (=MINUTES, default 3; =no turns it off)")
        ->envname("PELORIN_PAUSE_WHILE_IN_USE")
        ->check([](const std::string& text) {
            try {
                parse_in_use_minutes(text);
                return std::string();
            } catch (const std::invalid_argument& e) {
                return std::string(e.what());
            }
        });
    // Hidden options for tests (listed in app/README.md).
    app_->add_option("--heartbeat-seconds", heartbeat_seconds_, "Seconds between lease heartbeats (for tests)")
        ->check(CLI::Range(0.01, 3600.0))
        ->group("");
    app_->add_option("--retry-first-seconds", retry_first_seconds_, "First wait after a fault (for tests)")
        ->check(CLI::Range(0.001, 86400.0))
        ->group("");
    app_->add_option("--retry-longest-seconds", retry_longest_seconds_, "Longest wait after faults (for tests)")
        ->check(CLI::Range(0.001, 86400.0))
        ->group("");
    app_->add_option("--in-use-seconds", in_use_seconds_, "The in-use limit in seconds (for tests)")
        ->check(CLI::Range(0.01, 86400.0))
        ->group("");
    app_->footer(std::string(stop_controls_help()) +
                 "\nA fault that waiting can fix (the network, a time-out, a reply 408, 429 or 5xx, an expired lease)\n"
                 "is shown with the time of the next try: the first wait is about 30 s, each further one twice\n"
                 "as long up to 30 min, and a Retry-After from the coordinator is honoured; the identity and the\n"
                 "checkpoint carry over. A stop during a wait ends the run at once.\n"
                 "The pauses for the computer's owner keep the lease in hand, as SIGUSR1's does, and work goes on\n"
                 "within a few seconds of mains power coming back or the computer falling idle; a power or idle\n"
                 "reading that cannot be taken counts as mains power or an idle computer, said in one line.\n"
                 "Exit status: 0 when stopped or when the campaign is complete, 1 after a failure that waiting\n"
                 "cannot fix (the STOPPED text says which), 2 for bad arguments. " +
                 trust_advice());
}

int RunCommand::run() const {
    if (!coordinator_.empty()) {
        const HostPort hp = parse_coordinator(coordinator_, coordinator_address().port);
        set_coordinator(CoordinatorAddress{hp.host, hp.port});
    }
    const int profile = profile_ == "balanced" ? 0 : profile_ == "maximum" ? 1 : 2;
    const auto nanoseconds = [](double seconds) {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::duration<double>(seconds));
    };
    const ConsoleOutput console(stdout);
    TerminalFrontEnd front_end(stdout, console.redraw_in_place(), profile, resume_control_hint());
    std::stop_source stop;
    SignalWatch signals(stop, front_end.paused);  // before the worker thread starts
    front_end.pause_controls.on_battery = pause_on_battery_;
    if (const auto minutes = parse_in_use_minutes(pause_while_in_use_)) {
        front_end.pause_controls.while_in_use = true;
        front_end.pause_controls.in_use_limit_ms =
            in_use_seconds_ > 0 ? nanoseconds(in_use_seconds_).count() / 1'000'000
                                : std::chrono::milliseconds(*minutes).count();
    }
    LeaseCycleTiming timing;
    timing.heartbeat_interval = nanoseconds(heartbeat_seconds_);
    const RetryTiming retry{nanoseconds(retry_first_seconds_), nanoseconds(retry_longest_seconds_)};
    front_end.running = true;
    RunEnd end = RunEnd::complete;
    std::thread worker([&] {
        if (no_retry_) {
            worker_run(stop.get_token(), front_end, timing);
            end = front_end.running ? RunEnd::complete : RunEnd::failed;
        } else {
            end = worker_run_with_retry(stop.get_token(), front_end, timing, retry);
        }
    });
    worker.join();
    return end == RunEnd::failed ? 1 : 0;
}

}  // namespace pelorin
