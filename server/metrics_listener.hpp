#pragma once
// The operator's port (--metrics-listen): plain HTTP for a monitoring system and the operator
// on the same host (or through a tunnel), served on a thread of its own. It answers GET and
// HEAD only: /metrics, the page with the operator's view, and the stats endpoints; never the
// worker API.
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
    // `handler` answers every GET (the API with operator_port set); the observer sees every
    // request, as the main listener's.
    MetricsListener(HttpsListener::Handler handler, const ServerPolicy& policy, HttpsListener::Observer observer);
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
