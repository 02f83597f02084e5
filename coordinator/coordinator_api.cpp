#include "coordinator/coordinator_api.hpp"

#include <chrono>
#include <exception>
#include <optional>
#include <stdexcept>

#include "coordinator/https_transport.hpp"
#include "coordinator/json_text.hpp"
#include "coordinator/request_bodies.hpp"
#include "coordinator/safe_text.hpp"

namespace pelorin {
void check_secure_connection() {
    // What an attempt met; anything but a transport failure is a fault on this machine.
    struct Attempt {
        std::string message;
        HttpsFailure kind = HttpsFailure::setup;
        std::uint32_t status = 0;
        std::optional<std::chrono::seconds> retry_after;
    };
    const auto attempt = [](std::uint32_t mode) -> std::optional<Attempt> {
        set_proxy_mode(mode);
        try {
            https_request("GET", "/healthz", "", "");
            return std::nullopt;
        } catch (const HttpsError& e) {
            return Attempt{e.what(), e.failure(), e.status(), e.retry_after()};
        } catch (const std::exception& e) {
            return Attempt{e.what(), HttpsFailure::setup, 0, std::nullopt};
        }
    };
    const std::optional<Attempt> direct = attempt(kProxyDirect);
    if (!direct) return;
    const std::optional<Attempt> proxy = attempt(kProxySystem);
    if (!proxy) return;
    const bool untrusted =
        direct->kind == HttpsFailure::untrusted || proxy->kind == HttpsFailure::untrusted;
    throw HttpsError(untrusted ? HttpsFailure::untrusted : proxy->kind,
                     "Secure connection check failed.\r\nDirect: " + direct->message + "\r\nSystem proxy: " +
                         proxy->message + "\r\n" + connection_advice(),
                     untrusted ? 0 : proxy->status, untrusted ? std::nullopt : proxy->retry_after);
}

void report_benchmark(const std::string& token, const std::string& build_hash, const std::string& backend_name,
                      double starts_per_second) {
    https_request("POST", kBenchmarkPath, benchmark_body(build_hash, backend_name, starts_per_second), token);
}

Lease acquire_lease(const std::string& token, double starts_per_second, const std::string& proof_hash) {
    const HttpsResponse reply = https_request("POST", kAcquirePath, acquire_body(starts_per_second, proof_hash), token);
    return read_lease(reply.body);
}

Lease read_lease(std::string_view body) {
    Lease lease;
    lease.complete = json_bool_field(body, "complete", false);
    if (lease.complete) return lease;
    lease.lease_id = json_string_field(body, "lease_id", "");
    lease.begin = json_string_field(body, "begin", "");
    lease.end = json_string_field(body, "end", "");
    // The lease id goes into request paths and the checkpoint, begin and end into the checkpoint.
    require_safe_text("Coordinator sent", "lease_id", lease.lease_id, TextPlace::path_segment);
    require_safe_text("Coordinator sent", "begin", lease.begin, TextPlace::json_string);
    require_safe_text("Coordinator sent", "end", lease.end, TextPlace::json_string);
    return lease;
}

void send_heartbeat(const std::string& token, const std::string& lease_id, std::uint64_t offset) {
    https_request("PUT", lease_path(lease_id, "heartbeat"), heartbeat_body(offset), token);
}

Completion complete_lease(const std::string& token, const std::string& lease_id, const std::string& result_json) {
    const HttpsResponse reply = https_request("POST", lease_path(lease_id, "complete"), complete_body(result_json), token);
    return read_completion(reply.body);
}

Completion read_completion(std::string_view body) {
    return Completion{json_string_field(body, "audit", "submitted"), !json_bool_field(body, "accepted", true)};
}

}  // namespace pelorin
