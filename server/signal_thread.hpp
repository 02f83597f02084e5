#pragma once
// Turns the signals a server obeys (interrupt, terminate, hang-up) into calls on an ordinary
// thread, where it is safe to stop the listener or reload a certificate. Writes to a closed
// connection are ignored instead of ending the process.
#include <atomic>
#include <functional>
#include <thread>

namespace pelorin::server {

class SignalThread {
public:
    // Must run before any other thread starts, so that every thread inherits the mask.
    SignalThread();
    // Ends the waiting thread if it is still waiting.
    ~SignalThread();
    SignalThread(const SignalThread&) = delete;
    SignalThread& operator=(const SignalThread&) = delete;

    // Calls on_stop once, on a thread of its own, when SIGINT or SIGTERM arrives; SIGHUP
    // calls on_hangup each time, or stops too when there is none.
    void start(std::function<void()> on_stop, std::function<void()> on_hangup = {});

private:
    std::atomic<bool> closing_{false};
    std::thread waiter_;
};

}  // namespace pelorin::server
