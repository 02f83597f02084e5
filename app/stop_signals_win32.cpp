#include <windows.h>

#include <condition_variable>
#include <mutex>

#include "app/stop_signals.hpp"

namespace pelorin {

struct SignalWatch::Impl {
    std::stop_source stop;
};

namespace {

// The console's handler runs on a thread of its own that the system starts; it reaches the
// watch through these.
std::mutex g_mutex;
std::condition_variable g_watch_gone;
std::stop_source* g_watch = nullptr;  // the running watch's stop source

BOOL WINAPI on_console_event(DWORD event) {
    std::unique_lock lock(g_mutex);
    // The run has ended and the program is on its way out with its own status.
    if (g_watch == nullptr) return TRUE;
    g_watch->request_stop();
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
    // Closing the console, logoff or shutdown: the process ends as soon as this returns, so
    // wait until the run has checkpointed its chunk and the watch is gone (the system allows
    // several seconds; a chunk takes under one).
    g_watch_gone.wait(lock, [] { return g_watch == nullptr; });
    return TRUE;
}

}  // namespace

// Windows has no counterpart of SIGUSR1, so `paused` is never changed from the console.
SignalWatch::SignalWatch(std::stop_source stop, std::atomic<bool>&) : impl_(std::make_unique<Impl>(Impl{stop})) {
    {
        std::lock_guard lock(g_mutex);
        g_watch = &impl_->stop;
    }
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

SignalWatch::~SignalWatch() {
    // The system calls the handlers while holding the lock that removing a handler takes, so
    // a handler still waiting for the run (closing the console) is let go first.
    {
        std::lock_guard lock(g_mutex);
        g_watch = nullptr;
    }
    g_watch_gone.notify_all();
    SetConsoleCtrlHandler(on_console_event, FALSE);
}

const char* stop_controls_help() {
    return "Ctrl-C, Ctrl-Break or closing the console finishes the chunk in progress, writes its checkpoint and\n"
           "exits 0. There is no pause control: Windows has no counterpart of SIGUSR1.";
}

const char* resume_control_hint() { return ""; }

}  // namespace pelorin
