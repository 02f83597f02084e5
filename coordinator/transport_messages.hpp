#pragma once
// Messages that both transports build the same way (the platform's own error texts aside).
#include <chrono>
#include <cstdint>
#include <string>

#include "coordinator/https_transport.hpp"

namespace pelorin {

inline std::string status_error_text(std::uint32_t status, const std::string& body) {
    return "Coordinator error " + std::to_string(status) + ": " + body;
}

inline std::string reply_too_large_text(const std::string& host) {
    return "HTTPS reply from " + host + " is larger than " + std::to_string(kMaxReplyBytes) + " bytes and was refused";
}

// The detail after "No HTTPS response from <host>: " when the overall deadline ends a request.
inline std::string deadline_text(std::chrono::milliseconds total) {
    return "Operation timed out: the whole exchange took over " + std::to_string(total.count()) + " milliseconds";
}

}  // namespace pelorin
