#include "tools/dev-coordinator/stop_signals.hpp"

#include <pthread.h>
#include <signal.h>

namespace pelorin::devcoord {
namespace {

sigset_t stop_set() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

}  // namespace

StopSignals::StopSignals() {
    ::signal(SIGPIPE, SIG_IGN);
    const sigset_t set = stop_set();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

StopSignals::~StopSignals() {
    if (waiter_.joinable()) {
        closing_ = true;  // what on_stop acts on may be gone already
        pthread_kill(waiter_.native_handle(), SIGTERM);
        waiter_.join();
    }
}

void StopSignals::on_signal(std::function<void()> on_stop) {
    waiter_ = std::thread([this, on_stop = std::move(on_stop)] {
        const sigset_t set = stop_set();
        int sig = 0;
        sigwait(&set, &sig);
        if (!closing_) on_stop();
    });
}

}  // namespace pelorin::devcoord
