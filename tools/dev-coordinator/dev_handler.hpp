#pragma once
// What the development coordinator adds in front of the server's API: the scripted faults,
// the log of requests, and the /dev/ control endpoints.
#include <condition_variable>
#include <mutex>
#include <string>

#include "server/api.hpp"
#include "server/store/store.hpp"
#include "tools/dev-coordinator/faults.hpp"
#include "tools/dev-coordinator/request_log.hpp"

namespace httplib {
struct Request;
struct Response;
}  // namespace httplib

namespace pelorin::devcoord {

class DevHandler {
public:
    DevHandler(server::Api& api, server::Store& store);

    // The listener's handler: /dev/ for loopback clients, else the API behind any fault that
    // matches; returns the worker for the journal.
    std::string handle(const httplib::Request& req, httplib::Response& res);
    // Ends stalled and trickling replies at once (before the listener is stopped).
    void stop();

private:
    void handle_dev(const httplib::Request& req, httplib::Response& res);
    // Waits up to seconds, or less when stopped; false when stopped.
    bool stall(double seconds);
    // The "trickle" fault: `reply` one byte at a time, each after a wait of `seconds`.
    void send_trickle(httplib::Response& res, std::string reply, double seconds);

    server::Api& api_;
    server::Store& store_;
    FaultBook faults_;
    RequestLog requests_;
    std::mutex stop_mutex_;
    std::condition_variable stop_cv_;
    bool stopping_ = false;
};

}  // namespace pelorin::devcoord
