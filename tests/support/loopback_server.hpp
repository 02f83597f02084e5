#pragma once
// A coordinator program on loopback, as the Linux tests reach it: requests with libcurl that
// trust only its certificate authority, and a worker registered through the real exchange.
// The development coordinator and pelorin-coordinator are both one.
#include <filesystem>
#include <string>
#include <vector>

namespace pelorin::test_support {

struct HttpsReply {
    long status = 0;        // 0 when no HTTP reply came
    std::string body;
    int curl_code = 0;      // CURLE_OK (0) when a reply came
    std::string error;      // libcurl's text when no reply came
    long long content_length = -1;  // the reply's Content-Length, -1 when it had none
    std::string retry_after;        // the reply's Retry-After header, empty when none
};

// One request with libcurl to https://127.0.0.1:<port><path>, trusting only the given CA.
// headers are whole lines ("Authorization: Bearer x"); a non-empty body is sent with
// Content-Type application/json.
// source, when not empty, is the local address to send from (a loopback address such as
// 127.0.1.2, so the server sees a worker of another network).
HttpsReply https_call(int port, const std::filesystem::path& ca_file, const std::string& method,
                      const std::string& path, const std::string& body = "",
                      const std::vector<std::string>& headers = {}, long timeout_ms = 30000,
                      const std::string& source = "");

class LoopbackServer {
public:
    virtual ~LoopbackServer() = default;
    virtual int port() const = 0;
    virtual const std::filesystem::path& ca_file() const = 0;

    // A request to this server; token, when not empty, goes in "Authorization: Bearer".
    HttpsReply call(const std::string& method, const std::string& path, const std::string& body = "",
                    const std::string& token = "", const std::string& source = "") const;
};

struct TestWorker {
    std::string worker_id;
    std::string token;
    std::string source;  // the loopback address it sends from; empty: the system's choice
};

// Registers through the real exchange: fetches a challenge, solves its proof of work and
// posts the registration, from `source` when given. Its hardware hash comes from client_id
// and source, so workers registered from different sources are different machines. Throws
// std::runtime_error on any failure.
TestWorker register_test_worker(const LoopbackServer& server, const std::string& client_id = "",
                                const std::string& source = "");
// A request of a registered worker: its token, from its source.
HttpsReply call_as(const LoopbackServer& server, const TestWorker& worker, const std::string& method,
                   const std::string& path, const std::string& body = "");

// The proof-of-work solution (decimal text) for a nonce and difficulty.
std::string solve_proof_of_work(const std::string& nonce, unsigned difficulty_bits);

}  // namespace pelorin::test_support
