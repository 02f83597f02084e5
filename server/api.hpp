#pragma once
// The worker API without the network: registration, benchmarks, leases and results, routed
// in one place, on top of the store. Bad requests get their status and {"error":...} and
// change nothing.
#include <optional>
#include <string>
#include <vector>

#include "server/rate_limiter.hpp"
#include "server/recompute_budget.hpp"
#include "server/server_policy.hpp"
#include "server/store/store.hpp"

namespace pelorin::server {

struct ApiRequest {
    std::string method;
    std::string path;
    std::string address;                     // the client's, for per-address limits
    std::vector<std::string> authorization;  // every Authorization header value
    std::string body;
};

struct ApiReply {
    int status = 200;
    std::string body;  // JSON text
    std::optional<int> retry_after;  // seconds, for 429 and 503
    std::string worker_id;           // the authenticated worker, for the journal
};

class Api {
public:
    Api(Store& store, const ServerPolicy& policy);

    // Never throws for anything a client sends; a failing database is a 503.
    ApiReply handle(const ApiRequest& request);

    struct Call {
        const ApiRequest& request;
        WorkerAuth worker;
        std::string lease_id;  // the * of /api/v1/leases/*/...
    };

private:
    ApiReply route(const ApiRequest& request);
    ApiReply healthz(const Call& call);
    ApiReply challenge(const Call& call);
    ApiReply register_worker(const Call& call);
    ApiReply benchmark(const Call& call);
    ApiReply acquire(const Call& call);
    ApiReply heartbeat(const Call& call);
    ApiReply complete(const Call& call);

    Store& store_;
    ServerPolicy policy_;
    RateLimiter register_limit_;
    RateLimiter worker_limit_;
    RecomputeBudget recompute_budget_;
};

// {"error":"<message>"} with the status.
ApiReply error_reply(int status, const std::string& message);

}  // namespace pelorin::server
