#pragma once
// The loopback HTTPS listener: the worker API of CoordinatorService, the scripted faults
// in front of it, and the /dev/ control endpoints.
#include <atomic>
#include <condition_variable>
#include <memory>
#include <string>
#include <mutex>

#include "tools/dev-coordinator/coordinator_service.hpp"
#include "tools/dev-coordinator/faults.hpp"
#include "tools/dev-coordinator/request_log.hpp"
#include "tools/dev-coordinator/tls_material.hpp"

namespace httplib {
class SSLServer;
class Request;
class Response;
}  // namespace httplib

namespace pelorin::devcoord {

class HttpsServer {
public:
    // Throws std::runtime_error "cannot load the server certificate" when TLS cannot start.
    HttpsServer(CoordinatorService& service, const TlsFiles& tls);
    ~HttpsServer();
    HttpsServer(const HttpsServer&) = delete;
    HttpsServer& operator=(const HttpsServer&) = delete;

    // Binds 127.0.0.1 at port (0: any free port) and returns the port. Throws
    // std::runtime_error "cannot listen on 127.0.0.1:<port>".
    int bind(int port);
    // Serves until stop(); returns false when the listener failed.
    bool run();
    // Safe from any thread; also ends stalled replies at once.
    void stop();

private:
    void handle(const httplib::Request& req, httplib::Response& res);
    void handle_dev(const httplib::Request& req, httplib::Response& res);
    // Waits up to seconds, or less when the server stops; false when it stops.
    bool stall(double seconds);
    // The "trickle" fault: `reply` one byte at a time, each after a wait of `seconds`.
    void send_trickle(httplib::Response& res, std::string reply, double seconds);

    CoordinatorService& service_;
    FaultBook faults_;
    RequestLog requests_;
    std::unique_ptr<httplib::SSLServer> server_;
    std::mutex stop_mutex_;
    std::condition_variable stop_cv_;
    bool stopping_ = false;
    std::atomic<bool> finished_{false};
};

}  // namespace pelorin::devcoord
