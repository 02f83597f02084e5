#pragma once
// The server's HTTP side without the network: the worker API (registration, benchmarks,
// leases and results), the public page with its stats endpoints, and the metrics, routed in
// one place on top of the store. Bad requests get their status and {"error":...} and change
// nothing.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "server/metrics.hpp"
#include "server/query_params.hpp"
#include "server/rate_limiter.hpp"
#include "server/recompute_budget.hpp"
#include "server/recomputer.hpp"
#include "server/server_policy.hpp"
#include "server/stats_cache.hpp"
#include "server/store/store.hpp"

namespace pelorin::server {

struct ApiRequest {
    std::string method;
    std::string path;
    std::string address;                     // the client's, for per-address limits
    std::vector<std::string> authorization;  // every Authorization header value
    std::string body;
    QueryParams query;          // decoded, in the order given
    std::string if_none_match;  // the If-None-Match header, for the page's files
    // Came in on the operator's own port (--metrics-listen): the operator's view and data are
    // served there, and nothing of the worker API.
    bool operator_port = false;
};

struct ApiReply {
    ApiReply() = default;
    ApiReply(int status_code, std::string text) : status(status_code), body(std::move(text)) {}

    int status = 200;
    std::string body;  // JSON text, unless content_type says otherwise
    std::optional<int> retry_after;  // seconds, for 429 and 503
    std::string worker_id;           // the authenticated worker, for the journal
    std::string content_type = "application/json";
    std::vector<std::pair<std::string, std::string>> headers;  // further headers
};

class Api {
public:
    // The metrics are counted into `metrics`; /metrics is answered on the workers' port
    // unless metrics_route is false (they are served on the operator's port alone).
    Api(Store& store, const ServerPolicy& policy, Metrics& metrics, bool metrics_route = true);

    // Never throws for anything a client sends; a failing database is a 503.
    ApiReply handle(const ApiRequest& request);
    // The metrics in the exposition format, with the store's gauges when it answers.
    std::string metrics_exposition();
    // The background recomputation of checksums (serve starts it; it stops with the Api), and
    // the budget it spends, with the kernel's speed measured when the Api was made.
    void start_recomputation() { recomputer_.start(); }
    RecomputeBudget& recompute_budget() { return recompute_budget_; }

    struct Call {
        const ApiRequest& request;
        WorkerAuth worker;
        std::string lease_id;  // the * of /api/v1/leases/*/...
    };

private:
    struct Route;
    // The route that takes `path` (its * segment in `segment`), or nothing.
    static const Route* find_route(std::string_view path, std::string& segment);
    friend std::string route_label(const std::string& path);

    ApiReply route(const ApiRequest& request);
    // Whether the request may see operator data: it came on the operator's port, or carries
    // the operator token (as a bearer token, or as the password of basic authentication,
    // which a browser asks for).
    bool operator_allowed(const ApiRequest& request) const;
    // The refusal of operator data on the workers' port: 401 with a challenge when a token
    // is set, else 404 as for a path that does not exist.
    ApiReply operator_refusal() const;
    ApiReply healthz(const Call& call);
    ApiReply challenge(const Call& call);
    ApiReply register_worker(const Call& call);
    ApiReply benchmark(const Call& call);
    ApiReply acquire(const Call& call);
    ApiReply heartbeat(const Call& call);
    ApiReply complete(const Call& call);
    ApiReply page(const Call& call);
    ApiReply stats_summary(const Call& call);
    ApiReply stats_campaign(const Call& call);
    ApiReply stats_operator(const Call& call);
    ApiReply metrics_text(const Call& call);

    Store& store_;
    ServerPolicy policy_;
    Metrics& metrics_;
    bool metrics_route_;
    RateLimiter register_limit_;
    RateLimiter worker_limit_;
    RecomputeBudget recompute_budget_;
    Recomputer recomputer_;  // after the budget it spends, so it stops first
    StatsCache stats_cache_;
};

// {"error":"<message>"} with the status.
ApiReply error_reply(int status, const std::string& message);

// The route a request path belongs to, as the metrics name it: the route's pattern
// ("/api/v1/leases/*/complete"), or "other" for a path no route takes.
std::string route_label(const std::string& path);

}  // namespace pelorin::server
