#pragma once
// The exchanges with the coordinator after registration: the connection check, the
// benchmark report and the three lease exchanges. Each fails with the transport's error
// (a status outside 200..299 is "Coordinator error <status>: <body>").
#include <cstdint>
#include <string>
#include <string_view>

namespace pelorin {

// The members of an acquire reply that the worker reads.
struct Lease {
    bool complete = false;  // the campaign has no work left; nothing else is read
    std::string lease_id;   // placed in the heartbeat and complete paths
    std::string begin;      // first start, inclusive (an integer text)
    std::string end;        // end, exclusive (an integer text or a form of 2^128)
};

// GET /healthz directly, and through the system proxy when that fails; later requests keep
// the mode that worked. Throws an HttpsError "Secure connection check failed.\r\nDirect:
// <D>\r\nSystem proxy: <P>\r\n<advice>" when both fail: of kind untrusted when either route
// met a certificate this system does not trust, otherwise with the kind, status and
// Retry-After of the proxy attempt.
void check_secure_connection();

// POST /api/v1/benchmarks; the reply is not read.
void report_benchmark(const std::string& token, const std::string& build_hash, const std::string& backend_name,
                      double starts_per_second);

// POST /api/v1/leases/acquire. Throws std::runtime_error naming the member when lease_id,
// begin or end holds a character that cannot stand in a request path or a stored text.
Lease acquire_lease(const std::string& token, double starts_per_second, const std::string& proof_hash);

// The lease of an acquire reply's body, with the checks of acquire_lease.
Lease read_lease(std::string_view body);

// PUT /api/v1/leases/<lease id>/heartbeat with the unit's offset; the reply is not read.
void send_heartbeat(const std::string& token, const std::string& lease_id, std::uint64_t offset);

// What a complete reply says about the result.
struct Completion {
    std::string audit;      // the reply's audit text, "submitted" when it has none
    bool rejected = false;  // the reply holds the boolean `accepted` with the value false
};

// POST /api/v1/leases/<lease id>/complete with the unit's result JSON text.
Completion complete_lease(const std::string& token, const std::string& lease_id, const std::string& result_json);

// The completion of a complete reply's body. A reply without a boolean `accepted` is taken as
// accepted, as coordinators that only send an audit text mean it.
Completion read_completion(std::string_view body);

}  // namespace pelorin
