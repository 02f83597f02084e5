#include "server/https_listener.hpp"

#include <httplib.h>
#include <nlohmann/json.hpp>
#include <openssl/ssl.h>

#include <chrono>
#include <stdexcept>
#include <thread>

#include "server/limits.hpp"

namespace pelorin::server {
namespace {

// What the listener knows of the request on this thread: each connection is served on one
// thread from start to end, one request after another.
struct InFlight {
    std::chrono::steady_clock::time_point started{};
    std::string worker_id;
};
thread_local InFlight in_flight;

const char* error_text(int status) {
    switch (status) {
        case 400: return "malformed HTTP request";
        case 404: return "no such endpoint";
        case 405: return "method not allowed";
        case 413: return "the request body is too large";
        case 414: return "the request line is too long";
        case 500: return "internal server error";
        case 503: return "service unavailable";
        default: return "the request failed";
    }
}

}  // namespace

ListenAddress parse_listen_address(const std::string& text) {
    const auto refuse = [&] { return std::invalid_argument("listen on ADDR:PORT, for example 0.0.0.0:443 or [::]:443: " + text); };
    const auto colon = text.rfind(':');
    if (colon == std::string::npos) throw refuse();
    std::string host = text.substr(0, colon);
    const std::string port = text.substr(colon + 1);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
        if (host.find_first_not_of("0123456789abcdefABCDEF:.") != std::string::npos) throw refuse();
    } else if (host.empty() || host.find_first_of("[]:") != std::string::npos) {
        throw refuse();
    }
    if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(port) > 65535)
        throw refuse();
    return ListenAddress{host, std::stoi(port)};
}

std::string listen_url(const std::string& host, int port, const char* scheme) {
    const bool v6 = host.find(':') != std::string::npos;
    return std::string(scheme) + "://" + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

HttpsListener::HttpsListener(CertificateStore& certificates, const ServerPolicy& limits, Handler handler,
                             Observer observer) {
    if (limits.connection_deadline_seconds > 0)
        deadlines_ = std::make_unique<ConnectionDeadlines>(std::chrono::seconds(limits.connection_deadline_seconds));
    server_ = std::make_unique<httplib::SSLServer>([this, &certificates](SSL_CTX& ctx) {
        if (SSL_CTX_set_min_proto_version(&ctx, TLS1_2_VERSION) != 1) return false;
        certificates.attach(&ctx);
        if (deadlines_) deadlines_->attach(&ctx);
        return true;
    });
    if (!server_->is_valid()) throw std::runtime_error("cannot set up TLS");
    server_->set_payload_max_length(limits.max_body_bytes);
    server_->set_read_timeout(limits.read_timeout_seconds, 0);
    server_->set_write_timeout(limits.read_timeout_seconds, 0);
    server_->set_tcp_nodelay(true);  // small replies go out at once, not after a delayed ACK
    const std::size_t threads = limits.threads;
    server_->new_task_queue = [threads] { return new httplib::ThreadPool(threads); };

    server_->set_pre_routing_handler([](const httplib::Request&, httplib::Response&) {
        in_flight = InFlight{std::chrono::steady_clock::now(), {}};
        return httplib::Server::HandlerResponse::Unhandled;
    });
    auto serve = [handler = std::move(handler)](const httplib::Request& req, httplib::Response& res) {
        try {
            in_flight.worker_id = handler(req, res);
        } catch (const std::exception& e) {
            res.status = 500;
            res.set_content(nlohmann::json{{"error", e.what()}}.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                            "application/json");
        }
    };
    server_->Get(".*", serve);
    server_->Post(".*", serve);
    server_->Put(".*", serve);
    server_->Delete(".*", serve);
    server_->Patch(".*", serve);
    server_->Options(".*", serve);
    // Errors the listener answers itself (a body over the limit, a malformed request) get a
    // JSON body like every other error.
    server_->set_error_handler(httplib::Server::HandlerWithResponse(
        [](const httplib::Request&, httplib::Response& res) {
            if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
            res.set_content(nlohmann::json{{"error", error_text(res.status)}}.dump(), "application/json");
            return httplib::Server::HandlerResponse::Handled;
        }));
    server_->set_logger([observer = std::move(observer)](const httplib::Request& req, const httplib::Response& res) {
        const auto now = std::chrono::steady_clock::now();
        RequestRecord record;
        record.at = std::chrono::system_clock::now();
        record.address = req.remote_addr;
        record.method = req.method;
        record.path = req.path;
        record.status = res.status;
        if (in_flight.started != std::chrono::steady_clock::time_point{})
            record.milliseconds = std::chrono::duration<double, std::milli>(now - in_flight.started).count();
        record.worker_id = in_flight.worker_id;
        in_flight = InFlight{};
        if (observer) observer(record);
    });
}

HttpsListener::~HttpsListener() = default;

int HttpsListener::bind(const ListenAddress& address) {
    int port = address.port;
    const bool ok = port == 0 ? (port = server_->bind_to_any_port(address.host)) > 0
                              : server_->bind_to_port(address.host, port);
    if (!ok) throw std::runtime_error("cannot listen on " + listen_url(address.host, address.port));
    return port;
}

bool HttpsListener::run() {
    {
        std::lock_guard lock(stop_mutex_);
        if (stopping_) return true;
    }
    const bool ok = server_->listen_after_bind();
    finished_ = true;
    return ok;
}

void HttpsListener::stop() {
    {
        std::lock_guard lock(stop_mutex_);
        stopping_ = true;
    }
    // The library ignores a stop that comes before its accept loop runs, so a stop right
    // after start-up waits for the loop (run() may be about to enter it).
    for (int i = 0; i < kStopPolls && !finished_; ++i) {
        if (server_->is_running()) {
            server_->stop();
            return;
        }
        std::this_thread::sleep_for(kStopPollInterval);
    }
}

}  // namespace pelorin::server
