#pragma once
// One synchronous HTTPS request to the coordinator at a time. A reply whose status is 2xx is
// returned whole; any other status and every transport failure is an HttpsError (below):
//   "Could not initialize HTTPS: ..."              (the HTTP library could not start; on
//                                                   Windows "Could not initialize Windows HTTPS: ...")
//   "Could not open <host>:<port>: ..."            (the host or port is not usable)
//   "Could not create HTTPS request: ..."          (the request could not be assembled)
//   "Could not send HTTPS request to <host>: ..."  (resolve, connect, TLS or sending failed)
//   "No HTTPS response from <host>: ..."           (no complete reply arrived)
//   "Coordinator error <status>: <body>"           (a reply outside 200..299)
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace pelorin {

inline constexpr const char* kUserAgent = "PelorinWorker/1.1";

// A reply body beyond this is refused before it is all read: no coordinator reply comes near
// it, and a hostile or broken server must not be able to fill the worker's memory.
inline constexpr std::size_t kMaxReplyBytes = std::size_t{1} << 20;

// What kind of failure an exchange met, for callers that decide whether waiting can help.
enum class HttpsFailure {
    setup,      // the request could not be made on this machine (initialize, open, create)
    network,    // resolve, connect, TLS, send or receive failed or timed out
    untrusted,  // the server's certificate is not trusted by this system
    status,     // a reply outside 200..299; status() holds it
    too_large,  // the reply's body is over kMaxReplyBytes
};

// Every failure of https_request is one of these; what() is the message listed above.
class HttpsError : public std::runtime_error {
public:
    HttpsError(HttpsFailure failure, const std::string& message, std::uint32_t status = 0,
               std::optional<std::chrono::seconds> retry_after = std::nullopt)
        : std::runtime_error(message), failure_(failure), status_(status), retry_after_(retry_after) {}
    HttpsFailure failure() const noexcept { return failure_; }
    // The reply's status for HttpsFailure::status, otherwise 0.
    std::uint32_t status() const noexcept { return status_; }
    // The reply's Retry-After (delay-seconds or an HTTP date, as a delay from now), when given.
    std::optional<std::chrono::seconds> retry_after() const noexcept { return retry_after_; }

private:
    HttpsFailure failure_;
    std::uint32_t status_;
    std::optional<std::chrono::seconds> retry_after_;
};

struct HttpsResponse {
    std::uint32_t status = 0;  // always 200..299 in a returned response
    std::string body;
};

// The message of a reply outside 200..299: "Coordinator error <status>: <body>", the body as
// received.
std::string coordinator_error_text(std::uint32_t status, std::string_view body);

// `method` and `path` as sent ("GET", "/healthz"); `body` may be empty; an empty `token`
// sends no Authorization header. Requests from all threads are served one after the other.
HttpsResponse https_request(std::string_view method, std::string_view path, std::string_view body,
                            std::string_view token);

// How requests reach the coordinator; read once per request. Direct ignores every proxy
// setting; system uses the platform's proxy (on Linux the usual proxy environment
// variables). Direct at start-up; the connection check switches it.
inline constexpr std::uint32_t kProxyDirect = 1;
inline constexpr std::uint32_t kProxySystem = 4;
void set_proxy_mode(std::uint32_t value);
std::uint32_t proxy_mode();

// The coordinator's host and port: the build's values until set otherwise. Error messages
// name this host.
struct CoordinatorAddress {
    std::string host;
    std::uint16_t port = 443;
};
void set_coordinator(CoordinatorAddress address);
CoordinatorAddress coordinator_address();

// How long each phase of a request may take before it fails.
struct TransportTimeouts {
    std::chrono::milliseconds resolve{3000};  // name lookup
    std::chrono::milliseconds connect{3000};  // TCP connection
    std::chrono::milliseconds send{5000};     // TLS handshake and each stretch of sending without progress
    std::chrono::milliseconds receive{5000};  // each stretch of waiting for reply bytes
    std::chrono::milliseconds total{30000};   // the whole request, so a trickling server cannot hold it
};
// Tests shorten the timeouts so that a stalled server does not slow the suite.
void set_transport_timeouts(TransportTimeouts timeouts);
TransportTimeouts transport_timeouts();

// The last line of a failed connection check: what the user can look at on this platform.
std::string connection_advice();

// Where this platform's transport finds the authorities it trusts (for help texts).
std::string trust_advice();

}  // namespace pelorin
