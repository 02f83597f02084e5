#include "server/metrics_listener.hpp"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <stdexcept>

#include "server/limits.hpp"
#include "server/metrics.hpp"

namespace pelorin::server {
namespace {

// One scraper at a time is the rule; a few threads leave room for the operator's browser
// loading the page and its data at once.
constexpr std::size_t kMetricsThreads = 4;

}  // namespace

MetricsListener::MetricsListener(HttpsListener::Handler handler, const ServerPolicy& policy,
                                 HttpsListener::Observer observer)
    : server_(std::make_unique<httplib::Server>()) {
    server_->set_read_timeout(policy.read_timeout_seconds, 0);
    server_->set_write_timeout(policy.read_timeout_seconds, 0);
    server_->new_task_queue = [] { return new httplib::ThreadPool(kMetricsThreads); };
    // Each request is timed from its routing to its log line, on the thread that serves it.
    static thread_local std::chrono::steady_clock::time_point started;
    server_->set_pre_routing_handler([](const httplib::Request&, httplib::Response&) {
        started = std::chrono::steady_clock::now();
        return httplib::Server::HandlerResponse::Unhandled;
    });
    server_->Get(".*", [handler = std::move(handler)](const httplib::Request& req, httplib::Response& res) {
        handler(req, res);
    });
    server_->set_error_handler(httplib::Server::HandlerWithResponse([](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
        res.set_content(nlohmann::json{{"error", res.status == 404 ? "no such endpoint: this port serves the operator's "
                                                                     "view, the stats and /metrics"
                                                                   : "the request failed"}}
                            .dump(),
                        "application/json");
        return httplib::Server::HandlerResponse::Handled;
    }));
    server_->set_logger([observer = std::move(observer)](const httplib::Request& req, const httplib::Response& res) {
        if (!observer) return;
        RequestRecord record;
        record.at = std::chrono::system_clock::now();
        record.address = req.remote_addr;
        record.method = req.method;
        record.path = req.path;
        record.status = res.status;
        record.milliseconds = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
        observer(record);
    });
}

MetricsListener::~MetricsListener() { stop(); }

int MetricsListener::bind(const ListenAddress& address) {
    int port = address.port;
    const bool ok = port == 0 ? (port = server_->bind_to_any_port(address.host)) > 0
                              : server_->bind_to_port(address.host, port);
    if (!ok) throw std::runtime_error("cannot listen on " + listen_url(address.host, address.port, "http"));
    return port;
}

void MetricsListener::start() {
    thread_ = std::thread([this] {
        server_->listen_after_bind();
        finished_ = true;
    });
}

void MetricsListener::stop() {
    if (!thread_.joinable()) return;
    // The library ignores a stop that comes before its accept loop runs.
    for (int i = 0; i < kStopPolls && !finished_ && !server_->is_running(); ++i)
        std::this_thread::sleep_for(kStopPollInterval);
    server_->stop();
    thread_.join();
}

}  // namespace pelorin::server
