#include "server/store/lease_standing.hpp"

#include <algorithm>

namespace pelorin::server {

CompletionContext::Kind standing_of(const LeaseRow& row, std::int64_t worker) {
    using Kind = CompletionContext::Kind;
    if (!row.found) return Kind::unknown;
    if (row.worker != worker) return Kind::other_worker;
    if (row.answered) return Kind::answered;
    if (row.unit_state == UnitState::validated || row.unit_state == UnitState::set_aside) return Kind::settled;
    // A late result counts while nobody else holds the unit.
    if (row.other_live) return Kind::superseded;
    return Kind::open;
}

std::string audit_of(const Submission& submission, std::int64_t result, const Reweighed& weighed) {
    if (!submission.passed) return "rejected: " + submission.reason;
    if (std::find(weighed.validated.begin(), weighed.validated.end(), result) != weighed.validated.end()) return "accepted";
    if (std::find(weighed.outvoted.begin(), weighed.outvoted.end(), result) != weighed.outvoted.end())
        return "rejected: disagrees with the copies of this unit that agree";
    if (weighed.after == UnitState::set_aside) return "set aside: the copies of this unit disagree";
    return "pending: waiting for a copy from another worker";
}

}  // namespace pelorin::server
