#pragma once
// Turns the termination signals (interrupt, terminate, hang-up) into a call on an ordinary
// thread, where it is safe to stop the server. Writes to a closed connection are ignored
// instead of ending the process.
#include <atomic>
#include <functional>
#include <thread>

namespace pelorin::devcoord {

class StopSignals {
public:
    // Must run before any other thread starts, so that every thread inherits the mask.
    StopSignals();
    // Ends the waiting thread if no signal came.
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Calls on_stop once, on a thread of its own, when a termination signal arrives.
    void on_signal(std::function<void()> on_stop);

private:
    std::atomic<bool> closing_{false};
    std::thread waiter_;
};

}  // namespace pelorin::devcoord
