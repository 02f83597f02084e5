#pragma once
// The terminal's controls for a running worker: a stop request (Ctrl-C, and SIGTERM on POSIX
// or closing the console on Windows) lets the chunk in progress finish and be checkpointed;
// on POSIX, SIGUSR1 toggles pause (Windows has no such user signal).
#include <atomic>
#include <memory>
#include <stop_token>

namespace pelorin {

class SignalWatch {
public:
    // Call before any other thread starts, so that every thread inherits the blocked signals.
    SignalWatch(std::stop_source stop, std::atomic<bool>& paused);
    ~SignalWatch();
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The controls above as the help text of `run` names them.
const char* stop_controls_help();

// How to resume a paused run, for the line that says it is paused (empty: no pause control).
const char* resume_control_hint();

}  // namespace pelorin
