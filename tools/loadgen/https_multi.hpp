#pragma once
// Many HTTPS requests in flight on one thread, with libcurl's multi interface. Every request
// opens a new TLS connection and closes it after its reply, as the worker does, and trusts
// only the given authority. Times are taken when a request is handed over and when its reply
// (or failure) is in.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace pelorin::loadgen {

struct HttpRequest {
    std::string server;  // HOST:PORT
    std::string method;  // GET, POST, PUT
    std::string path;
    std::string body;   // sent as application/json when not empty
    std::string token;  // "Authorization: Bearer <token>" when not empty
    std::string source;  // the local address to send from, when not empty
};

struct HttpReply {
    long status = 0;    // 0: no HTTP reply (the connection failed or timed out)
    std::string body;
    std::string error;  // libcurl's text when no reply came
    std::optional<std::chrono::seconds> retry_after;
    std::chrono::system_clock::time_point sent;  // wall clock, for the records
    std::chrono::system_clock::time_point done;
    double latency_ms = 0;  // from hand-over to the end of the reply, on a monotonic clock
};

class HttpsMulti {
public:
    // Throws std::runtime_error when libcurl cannot be set up.
    HttpsMulti(std::filesystem::path ca_file, std::size_t max_in_flight, std::chrono::milliseconds timeout);
    ~HttpsMulti();
    HttpsMulti(const HttpsMulti&) = delete;
    HttpsMulti& operator=(const HttpsMulti&) = delete;

    using Done = std::function<void(const HttpReply&)>;
    // Starts the request; `done` is called from poll() once it has ended.
    void send(const HttpRequest& request, Done done);
    // Moves the transfers on, waiting at most `wait` for something to happen, and calls the
    // `done` of each request that ended.
    void poll(std::chrono::milliseconds wait);
    std::size_t in_flight() const { return in_flight_; }

private:
    struct Transfer;
    struct State;
    std::unique_ptr<State> state_;
    std::filesystem::path ca_file_;
    std::chrono::milliseconds timeout_;
    std::size_t in_flight_ = 0;
};

}  // namespace pelorin::loadgen
