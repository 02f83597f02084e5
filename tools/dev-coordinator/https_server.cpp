#include "tools/dev-coordinator/https_server.hpp"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <exception>
#include <stdexcept>
#include <thread>

#include "tools/dev-coordinator/limits.hpp"
#include "tools/dev-coordinator/socket_control.hpp"

namespace pelorin::devcoord {
namespace {

constexpr const char* kJson = "application/json";

std::string error_body(const std::string& message) {
    return nlohmann::json{{"error", message}}.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

bool is_loopback(const std::string& address) {
    return address.rfind("127.", 0) == 0 || address == "::1" || address.rfind("::ffff:127.", 0) == 0;
}

// The "large" fault: `reply`, then blanks up to `bytes` in all (JSON allows blanks after a
// value), streamed block by block so that the body is never whole in memory; with a
// Content-Length, or in chunks without one.
void send_large(httplib::Response& res, std::string reply, std::uint64_t bytes, bool chunked) {
    const std::uint64_t total = std::max<std::uint64_t>(bytes, reply.size());
    auto provide = [reply = std::move(reply), total](std::size_t offset, httplib::DataSink& sink) {
        if (offset >= total) {
            sink.done();
            return true;
        }
        if (offset < reply.size()) return sink.write(reply.data() + offset, reply.size() - offset);
        static const std::string blanks(kLargeBodyBlockBytes, ' ');
        return sink.write(blanks.data(), static_cast<std::size_t>(std::min<std::uint64_t>(blanks.size(), total - offset)));
    };
    if (chunked) {
        res.set_chunked_content_provider(kJson, std::move(provide));
    } else {
        res.set_content_provider(static_cast<std::size_t>(total), kJson,
                                 [provide = std::move(provide)](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                     return provide(offset, sink);
                                 });
    }
}

}  // namespace

HttpsServer::HttpsServer(CoordinatorService& service, const TlsFiles& tls)
    : service_(service),
      server_(std::make_unique<httplib::SSLServer>(tls.server_certificate.c_str(), tls.server_key.c_str())) {
    if (!server_->is_valid()) throw std::runtime_error("cannot load the server certificate " + tls.server_certificate.string());
    server_->set_payload_max_length(kMaxRequestBodyBytes);
    server_->set_tcp_nodelay(true);  // small replies go out at once, not after a delayed ACK
    auto handler = [this](const httplib::Request& req, httplib::Response& res) { handle(req, res); };
    server_->Get(".*", handler);
    server_->Post(".*", handler);
    server_->Put(".*", handler);
    server_->Delete(".*", handler);
    server_->Patch(".*", handler);
}

HttpsServer::~HttpsServer() = default;

int HttpsServer::bind(int port) {
    const bool ok = port == 0 ? (port = server_->bind_to_any_port("127.0.0.1")) > 0
                              : server_->bind_to_port("127.0.0.1", port);
    if (!ok) throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(port));
    return port;
}

bool HttpsServer::run() {
    {
        std::lock_guard lock(stop_mutex_);
        if (stopping_) return true;
    }
    const bool ok = server_->listen_after_bind();
    finished_ = true;
    return ok;
}

void HttpsServer::stop() {
    {
        std::lock_guard lock(stop_mutex_);
        stopping_ = true;
    }
    stop_cv_.notify_all();
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

bool HttpsServer::stall(double seconds) {
    std::unique_lock lock(stop_mutex_);
    return !stop_cv_.wait_for(lock, std::chrono::duration<double>(seconds), [this] { return stopping_; });
}

void HttpsServer::send_trickle(httplib::Response& res, std::string reply, double seconds) {
    // One byte at a time, each after the wait; a server that stops ends the reply.
    const std::size_t size = reply.size();
    res.set_content_provider(size, kJson,
                             [this, reply = std::move(reply), seconds](std::size_t offset, std::size_t,
                                                                       httplib::DataSink& sink) {
                                 return stall(seconds) && sink.write(reply.data() + offset, 1);
                             });
}

void HttpsServer::handle(const httplib::Request& req, httplib::Response& res) {
    try {
        if (req.path == "/dev" || req.path.rfind("/dev/", 0) == 0) {
            handle_dev(req, res);
            return;
        }
        ApiRequest api{req.method, req.path, {}, req.body};
        const auto [first, last] = req.headers.equal_range("Authorization");
        for (auto it = first; it != last; ++it) api.authorization.push_back(it->second);
        requests_.add(LoggedRequest{req.method, req.path, api.authorization, req.get_header_value("User-Agent"),
                                    req.get_header_value("Content-Type"), req.get_header_value("Accept"), req.body});

        const std::optional<Fault> fault = faults_.take(req.path);
        if (fault) {
            switch (fault->action) {
                case FaultAction::status:
                    res.status = fault->status;
                    res.set_content(fault->body, kJson);
                    if (fault->retry_after) res.set_header("Retry-After", *fault->retry_after);
                    return;
                case FaultAction::drop:
                    // The request is not processed; the client sees the connection close.
                    drop_connection(req.ssl);
                    res.status = 500;
                    res.set_header("Connection", "close");
                    return;
                case FaultAction::stall:
                    stall(fault->seconds);
                    break;
                case FaultAction::omit:
                case FaultAction::malformed:
                case FaultAction::large:
                case FaultAction::trickle:
                    break;
            }
        }
        const ApiReply reply = service_.handle(api);
        res.status = reply.status;
        if (reply.status == 401) res.set_header("WWW-Authenticate", "Bearer");
        if (fault && fault->action == FaultAction::large) {
            send_large(res, reply.body, fault->bytes, fault->chunked);
        } else if (fault && fault->action == FaultAction::trickle) {
            send_trickle(res, reply.body, fault->seconds);
        } else {
            res.set_content(fault ? apply_reply_fault(*fault, reply.body) : reply.body, kJson);
        }
    } catch (const std::exception& e) {
        res.status = 500;
        res.set_content(error_body(e.what()), kJson);
    }
}

void HttpsServer::handle_dev(const httplib::Request& req, httplib::Response& res) {
    if (!is_loopback(req.remote_addr)) {
        res.status = 403;
        res.set_content(error_body("the control endpoint answers loopback clients only"), kJson);
        return;
    }
    res.status = 200;
    if (req.path == "/dev/faults" && req.method == "POST") {
        try {
            faults_.add(parse_fault(req.body));
        } catch (const std::invalid_argument& e) {
            res.status = 400;
            res.set_content(error_body(e.what()), kJson);
            return;
        }
        res.set_content(nlohmann::json{{"faults", faults_.size()}}.dump(), kJson);
    } else if (req.path == "/dev/faults" && req.method == "DELETE") {
        faults_.clear();
        res.set_content(nlohmann::json{{"faults", 0}}.dump(), kJson);
    } else if (req.path == "/dev/requests" && req.method == "GET") {
        res.set_content(requests_.to_json(), kJson);
    } else if (req.path == "/dev/requests" && req.method == "DELETE") {
        requests_.clear();
        res.set_content("[]", kJson);
    } else if (req.path == "/dev/ledger" && req.method == "GET") {
        res.set_content(service_.ledger_json(), kJson);
    } else {
        res.status = 404;
        res.set_content(error_body("no such control endpoint"), kJson);
    }
}

}  // namespace pelorin::devcoord
