#include "server/store/store_types.hpp"

#include <stdexcept>

namespace pelorin::server {

const char* unit_state_name(UnitState state) {
    switch (state) {
        case UnitState::open: return "open";
        case UnitState::leased: return "leased";
        case UnitState::pending: return "pending";
        case UnitState::validated: return "validated";
        case UnitState::set_aside: return "set_aside";
    }
    return "open";
}

const char* result_status_name(ResultStatus status) {
    switch (status) {
        case ResultStatus::pending: return "pending";
        case ResultStatus::validated: return "validated";
        case ResultStatus::rejected: return "rejected";
        case ResultStatus::invalidated: return "invalidated";
    }
    return "pending";
}

ResultStatus result_status_from(const std::string& text) {
    for (ResultStatus s : {ResultStatus::pending, ResultStatus::validated, ResultStatus::rejected, ResultStatus::invalidated})
        if (text == result_status_name(s)) return s;
    throw std::runtime_error("unknown result status " + text);
}

}  // namespace pelorin::server
