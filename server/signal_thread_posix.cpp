#include "server/signal_thread.hpp"

#include <pthread.h>
#include <signal.h>

namespace pelorin::server {
namespace {

sigset_t handled_set() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

}  // namespace

SignalThread::SignalThread() {
    ::signal(SIGPIPE, SIG_IGN);
    const sigset_t set = handled_set();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

SignalThread::~SignalThread() {
    if (waiter_.joinable()) {
        closing_ = true;  // what the callbacks act on may be gone already
        pthread_kill(waiter_.native_handle(), SIGTERM);
        waiter_.join();
    }
}

void SignalThread::start(std::function<void()> on_stop, std::function<void()> on_hangup) {
    waiter_ = std::thread([this, on_stop = std::move(on_stop), on_hangup = std::move(on_hangup)] {
        const sigset_t set = handled_set();
        for (;;) {
            int sig = 0;
            sigwait(&set, &sig);
            if (closing_) return;
            if (sig == SIGHUP && on_hangup) {
                on_hangup();
                continue;
            }
            on_stop();
            return;
        }
    });
}

}  // namespace pelorin::server
