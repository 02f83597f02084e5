#pragma once
// /metrics on a plain-HTTP port of its own (--metrics-listen), for a monitoring system on the
// same host: GET /metrics and nothing else, served on a thread of its own.
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "server/https_listener.hpp"

namespace httplib {
class Server;
}  // namespace httplib

namespace pelorin::server {

class MetricsListener {
public:
    // `text` makes the exposition; the observer sees every request, as the main listener's.
    MetricsListener(std::function<std::string()> text, const ServerPolicy& policy, HttpsListener::Observer observer);
    ~MetricsListener();  // stops
    MetricsListener(const MetricsListener&) = delete;
    MetricsListener& operator=(const MetricsListener&) = delete;

    // Binds and returns the port. Throws std::runtime_error "cannot listen on http://...".
    int bind(const ListenAddress& address);
    // Serves on its own thread until stop().
    void start();
    void stop();

private:
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    std::atomic<bool> finished_{false};
};

}  // namespace pelorin::server
