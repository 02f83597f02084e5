#include <pthread.h>
#include <signal.h>

#include <thread>

#include "app/stop_signals.hpp"

namespace pelorin {

// The signals are blocked in every thread and taken synchronously by one watcher thread, so
// nothing runs in signal-handler context.
struct SignalWatch::Impl {
    std::atomic<bool> done{false};
    std::thread watcher;
};

SignalWatch::SignalWatch(std::stop_source stop, std::atomic<bool>& paused) : impl_(std::make_unique<Impl>()) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    Impl* impl = impl_.get();
    impl_->watcher = std::thread([impl, set, stop, &paused]() mutable {
        const timespec poll{0, 100'000'000};
        while (!impl->done.load()) {
            const int sig = sigtimedwait(&set, nullptr, &poll);
            if (sig == SIGINT || sig == SIGTERM) stop.request_stop();
            else if (sig == SIGUSR1) paused = !paused.load();
        }
    });
}

const char* stop_controls_help() {
    return "Ctrl-C or SIGTERM finishes the chunk in progress, writes its checkpoint and exits 0; SIGUSR1 toggles\n"
           "pause.";
}

const char* resume_control_hint() { return "Send SIGUSR1 again to resume."; }

SignalWatch::~SignalWatch() {
    impl_->done = true;
    impl_->watcher.join();
}

}  // namespace pelorin
