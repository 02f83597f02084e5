#pragma once
// The HTTPS listener of both coordinator programs: TLS 1.2 and later with the certificate
// store's pair, a body limit (413), read and write time-outs and a deadline per connection,
// {"error":...} bodies for the errors it answers itself, and every request timed in one
// place for the journal.
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "server/certificate_store.hpp"
#include "server/connection_deadlines.hpp"
#include "server/request_journal.hpp"
#include "server/server_policy.hpp"

namespace httplib {
class SSLServer;
struct Request;
struct Response;
}  // namespace httplib

namespace pelorin::server {

struct ListenAddress {
    std::string host;  // as getaddrinfo takes it: "0.0.0.0", "::", "127.0.0.1", a name
    int port = 0;      // 0: any free port
};

// "HOST:PORT" or "[IPv6]:PORT". Throws std::invalid_argument "listen on ADDR:PORT, for
// example 0.0.0.0:443 or [::]:443: <text>".
ListenAddress parse_listen_address(const std::string& text);
// https://HOST:PORT (or another scheme), with brackets around an IPv6 address.
std::string listen_url(const std::string& host, int port, const char* scheme = "https");

class HttpsListener {
public:
    // The handler answers one request; it returns the worker to name in the journal ("" for
    // none). The observer sees every request the listener answers, its own errors included.
    using Handler = std::function<std::string(const httplib::Request&, httplib::Response&)>;
    using Observer = std::function<void(const RequestRecord&)>;

    // Takes the body limit, time-outs, deadline and threads of the policy. Throws
    // std::runtime_error "cannot set up TLS" when OpenSSL refuses the context.
    HttpsListener(CertificateStore& certificates, const ServerPolicy& policy, Handler handler, Observer observer);
    ~HttpsListener();
    HttpsListener(const HttpsListener&) = delete;
    HttpsListener& operator=(const HttpsListener&) = delete;

    // Binds the address and returns the port. Throws std::runtime_error "cannot listen on
    // <url>".
    int bind(const ListenAddress& address);
    // Serves until stop(); returns false when the listener failed.
    bool run();
    // Safe from any thread: no new connection is taken, requests in flight are finished,
    // then run() returns.
    void stop();

private:
    std::unique_ptr<ConnectionDeadlines> deadlines_;
    std::unique_ptr<httplib::SSLServer> server_;
    std::mutex stop_mutex_;
    bool stopping_ = false;
    std::atomic<bool> finished_{false};
};

}  // namespace pelorin::server
