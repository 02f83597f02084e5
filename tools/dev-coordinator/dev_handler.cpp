#include "tools/dev-coordinator/dev_handler.hpp"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <stdexcept>

#include "server/api_http.hpp"
#include "tools/dev-coordinator/ledger_view.hpp"
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

DevHandler::DevHandler(server::Api& api, server::Store& store) : api_(api), store_(store) {}

void DevHandler::stop() {
    {
        std::lock_guard lock(stop_mutex_);
        stopping_ = true;
    }
    stop_cv_.notify_all();
}

bool DevHandler::stall(double seconds) {
    std::unique_lock lock(stop_mutex_);
    return !stop_cv_.wait_for(lock, std::chrono::duration<double>(seconds), [this] { return stopping_; });
}

void DevHandler::send_trickle(httplib::Response& res, std::string reply, double seconds) {
    // One byte at a time, each after the wait; a coordinator that stops ends the reply.
    const std::size_t size = reply.size();
    res.set_content_provider(size, kJson,
                             [this, reply = std::move(reply), seconds](std::size_t offset, std::size_t,
                                                                       httplib::DataSink& sink) {
                                 return stall(seconds) && sink.write(reply.data() + offset, 1);
                             });
}

std::string DevHandler::handle(const httplib::Request& req, httplib::Response& res) {
    if (req.path == "/dev" || req.path.rfind("/dev/", 0) == 0) {
        handle_dev(req, res);
        return {};
    }
    const server::ApiRequest api = server::api_request_of(req);
    requests_.add(LoggedRequest{req.method, req.path, api.authorization, req.get_header_value("User-Agent"),
                                req.get_header_value("Content-Type"), req.get_header_value("Accept"), req.body});

    const std::optional<Fault> fault = faults_.take(req.path);
    if (fault) {
        switch (fault->action) {
            case FaultAction::status:
                res.status = fault->status;
                res.set_content(fault->body, kJson);
                if (fault->retry_after) res.set_header("Retry-After", *fault->retry_after);
                return {};
            case FaultAction::drop:
                // The request is not processed; the client sees the connection close.
                drop_connection(req.ssl);
                res.status = 500;
                res.set_header("Connection", "close");
                return {};
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
    server::ApiReply reply = api_.handle(api);
    if (fault && fault->action == FaultAction::large) {
        server::write_api_head(res, reply);
        send_large(res, reply.body, fault->bytes, fault->chunked);
    } else if (fault && fault->action == FaultAction::trickle) {
        server::write_api_head(res, reply);
        send_trickle(res, reply.body, fault->seconds);
    } else {
        if (fault) reply.body = apply_reply_fault(*fault, reply.body);
        server::write_api_reply(res, reply);
    }
    return reply.worker_id;
}

void DevHandler::handle_dev(const httplib::Request& req, httplib::Response& res) {
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
        res.set_content(ledger_json(store_.snapshot()), kJson);
    } else {
        res.status = 404;
        res.set_content(error_body("no such control endpoint"), kJson);
    }
}

}  // namespace pelorin::devcoord
