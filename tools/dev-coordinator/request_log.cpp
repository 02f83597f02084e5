#include "tools/dev-coordinator/request_log.hpp"

#include <nlohmann/json.hpp>

#include "tools/dev-coordinator/limits.hpp"

namespace pelorin::devcoord {

void RequestLog::add(LoggedRequest request) {
    std::lock_guard lock(mutex_);
    requests_.push_back(std::move(request));
    while (requests_.size() > kMaxLoggedRequests) requests_.pop_front();
}

void RequestLog::clear() {
    std::lock_guard lock(mutex_);
    requests_.clear();
}

std::string RequestLog::to_json() const {
    nlohmann::ordered_json all = nlohmann::ordered_json::array();
    std::lock_guard lock(mutex_);
    for (const LoggedRequest& r : requests_)
        all.push_back({{"method", r.method},
                       {"path", r.path},
                       {"authorization", r.authorization},
                       {"user_agent", r.user_agent},
                       {"content_type", r.content_type},
                       {"accept", r.accept},
                       {"body", r.body}});
    // Bodies are whatever arrived; invalid UTF-8 is replaced rather than refused.
    return all.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace pelorin::devcoord
