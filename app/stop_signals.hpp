#pragma once
// The terminal's controls for a running worker: Ctrl-C or SIGTERM asks it to stop (the chunk
// in progress finishes and is checkpointed), SIGUSR1 toggles pause.
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

}  // namespace pelorin
