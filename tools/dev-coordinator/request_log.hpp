#pragma once
// Every API request as it arrived, for tests to inspect through /dev/requests.
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace pelorin::devcoord {

struct LoggedRequest {
    std::string method;
    std::string path;
    std::vector<std::string> authorization;  // every Authorization header value, in order
    std::string user_agent;
    std::string content_type;
    std::string accept;
    std::string body;
};

class RequestLog {
public:
    void add(LoggedRequest request);  // drops the oldest beyond kMaxLoggedRequests
    void clear();
    // [{"method":..,"path":..,"authorization":[..],"user_agent":..,"content_type":..,
    //   "accept":..,"body":..}, ...] in arrival order.
    std::string to_json() const;

private:
    mutable std::mutex mutex_;
    std::deque<LoggedRequest> requests_;
};

}  // namespace pelorin::devcoord
