#pragma once
// One synchronous HTTPS request to the coordinator at a time. A reply whose status is 2xx is
// returned whole; any other status and every transport failure is a std::runtime_error:
//   "Could not initialize HTTPS: ..."              (the HTTP library could not start; on
//                                                   Windows "Could not initialize Windows HTTPS: ...")
//   "Could not open <host>:<port>: ..."            (the host or port is not usable)
//   "Could not create HTTPS request: ..."          (the request could not be assembled)
//   "Could not send HTTPS request to <host>: ..."  (resolve, connect, TLS or sending failed)
//   "No HTTPS response from <host>: ..."           (no complete reply arrived)
//   "Coordinator error <status>: <body>"           (a reply outside 200..299)
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace pelorin {

inline constexpr const char* kUserAgent = "PelorinWorker/1.1";

struct HttpsResponse {
    std::uint32_t status = 0;  // always 200..299 in a returned response
    std::string body;
};

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
};
// Tests shorten the timeouts so that a stalled server does not slow the suite.
void set_transport_timeouts(TransportTimeouts timeouts);
TransportTimeouts transport_timeouts();

// The last line of a failed connection check: what the user can look at on this platform.
std::string connection_advice();

// Where this platform's transport finds the authorities it trusts (for help texts).
std::string trust_advice();

}  // namespace pelorin
