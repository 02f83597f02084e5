#include "server/api.hpp"

#include <nlohmann/json.hpp>

#include <stdexcept>
#include <string_view>

#include "server/checksum_speed.hpp"
#include "server/limits.hpp"
#include "sha256/sha256.hpp"

namespace pelorin::server {
namespace {

// Whether `path` matches `pattern`, where one '*' stands for a path segment (possibly empty);
// the segment is returned in `segment`.
bool path_matches(std::string_view pattern, std::string_view path, std::string& segment) {
    const auto star = pattern.find('*');
    if (star == std::string_view::npos) return pattern == path;
    const std::string_view head = pattern.substr(0, star);
    const std::string_view tail = pattern.substr(star + 1);
    if (path.size() < head.size() + tail.size() || path.substr(0, head.size()) != head ||
        path.substr(path.size() - tail.size()) != tail)
        return false;
    const std::string_view middle = path.substr(head.size(), path.size() - head.size() - tail.size());
    if (middle.find('/') != std::string_view::npos) return false;
    segment = std::string(middle);
    return true;
}

// Standard base64 (RFC 4648) decoded; anything malformed gives an empty text.
std::string base64_decoded(std::string_view text) {
    static constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    while (!text.empty() && text.back() == '=') text.remove_suffix(1);
    std::string out;
    unsigned bits = 0, value = 0;
    for (char c : text) {
        const auto at = kAlphabet.find(c);
        if (at == std::string_view::npos) return {};
        value = (value << 6) | static_cast<unsigned>(at);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<char>((value >> bits) & 0xFF));
        }
    }
    return out;
}

}  // namespace

struct Api::Route {
    // Who may call it: anyone, anyone within the per-address registration limit, or a
    // registered worker within its limit (completions are never limited: they end work done).
    // Operator routes answer on the operator's port, or with the operator token.
    enum class Access { open, registration, worker, worker_unlimited, operator_only };
    std::string_view method;
    std::string_view pattern;
    Access access;
    ApiReply (Api::*handler)(const Call&);
};

// Every path the server answers, matched here and nowhere else.
const Api::Route* Api::find_route(std::string_view path, std::string& segment) {
    using Access = Route::Access;
    static const Route kRoutes[] = {
        {"GET", "/healthz", Access::open, &Api::healthz},
        {"GET", "/api/v1/register/challenge", Access::registration, &Api::challenge},
        {"POST", "/api/v1/workers/register", Access::registration, &Api::register_worker},
        {"POST", "/api/v1/benchmarks", Access::worker, &Api::benchmark},
        {"POST", "/api/v1/leases/acquire", Access::worker, &Api::acquire},
        {"PUT", "/api/v1/leases/*/heartbeat", Access::worker, &Api::heartbeat},
        {"POST", "/api/v1/leases/*/complete", Access::worker_unlimited, &Api::complete},
        {"GET", "/", Access::open, &Api::page},
        {"GET", "/assets/*", Access::open, &Api::page},
        {"GET", "/api/v1/stats/summary", Access::open, &Api::stats_summary},
        {"GET", "/api/v1/stats/campaign", Access::open, &Api::stats_campaign},
        {"GET", "/api/v1/stats/operator", Access::operator_only, &Api::stats_operator},
        {"GET", "/metrics", Access::open, &Api::metrics_text},
    };
    for (const Route& r : kRoutes)
        if (path_matches(r.pattern, path, segment)) return &r;
    return nullptr;
}

std::string route_label(const std::string& path) {
    std::string segment;
    const Api::Route* r = Api::find_route(path, segment);
    return r != nullptr ? std::string(r->pattern) : "other";
}

ApiReply error_reply(int status, const std::string& message) {
    return ApiReply{status, nlohmann::json{{"error", message}}.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)};
}

Api::Api(Store& store, const ServerPolicy& policy, Metrics& metrics, bool metrics_route)
    : store_(store),
      policy_(policy),
      metrics_(metrics),
      metrics_route_(metrics_route),
      register_limit_(policy.register_per_minute),
      worker_limit_(policy.worker_per_minute),
      recompute_budget_(policy.trust.recompute_budget_cores,
                        policy.trust.recompute_budget_cores == 0 ? 1.0 : measure_checksum_rate(kRecomputeMeasureSeconds)),
      recomputer_(store, recompute_budget_, metrics, policy.trust.set_aside_after),
      stats_cache_(kStatsCacheLifetime, kStatsCacheEntries) {
    if (!recompute_budget_.off()) metrics_.count_recomputed_starts(0, recompute_budget_.rate());
}

ApiReply Api::handle(const ApiRequest& request) {
    try {
        return route(request);
    } catch (const std::exception& e) {
        // The database failed or stayed locked: nothing was changed, and asking again later
        // is the remedy.
        ApiReply reply = error_reply(503, std::string("the server cannot serve this now: ") + e.what());
        reply.retry_after = 30;
        return reply;
    }
}

ApiReply Api::route(const ApiRequest& request) {
    std::string segment;
    using Access = Route::Access;
    const Route* found = find_route(request.path, segment);
    const bool api_path = request.path.rfind("/api/v1/", 0) == 0;
    if (found == nullptr && !api_path) return error_reply(404, "no such endpoint");
    const Access access = found != nullptr ? found->access : Access::worker;

    Call call{request, WorkerAuth{}, segment};
    if (request.operator_port && access != Access::open && access != Access::operator_only)
        return error_reply(404, "no such endpoint: this port serves the operator's view, the stats and /metrics");
    if (access == Access::operator_only && !operator_allowed(request)) return operator_refusal();
    if (access == Access::registration) {
        if (const int wait = register_limit_.take(request.address); wait > 0) {
            metrics_.count_rate_limited("registration");
            ApiReply reply = error_reply(429, "too many registration requests from this address; try again in " +
                                                  std::to_string(wait) + " s");
            reply.retry_after = wait;
            return reply;
        }
    }
    if (access == Access::worker || access == Access::worker_unlimited) {
        // Everything else belongs to a registered worker.
        if (request.authorization.empty()) return error_reply(401, "missing bearer token");
        if (request.authorization.size() > 1) return error_reply(401, "more than one Authorization header");
        const std::string& auth = request.authorization.front();
        static constexpr std::string_view kBearer = "Bearer ";
        if (auth.size() <= kBearer.size() || auth.compare(0, kBearer.size(), kBearer) != 0)
            return error_reply(401, "Authorization is not a bearer token");
        const auto worker = store_.worker_by_token_hash(sha256_hex(std::string_view(auth).substr(kBearer.size())));
        if (!worker) return error_reply(401, "unknown bearer token");
        call.worker = *worker;
        ApiReply refused;
        if (worker->banned) {
            refused = error_reply(403, "this worker is banned");
        } else if (access == Access::worker) {
            if (const int wait = worker_limit_.take(worker->worker_id); wait > 0) {
                metrics_.count_rate_limited("worker");
                refused = error_reply(429, "too many requests from this worker; try again in " + std::to_string(wait) + " s");
                refused.retry_after = wait;
            }
        }
        if (refused.status != 200) {
            refused.worker_id = worker->worker_id;
            return refused;
        }
    }
    ApiReply reply;
    if (found == nullptr) reply = error_reply(404, "no such endpoint");
    // HEAD is GET without the body, which the listener leaves out.
    else if (request.method != found->method && !(request.method == "HEAD" && found->method == "GET"))
        reply = error_reply(405, "use " + std::string(found->method));
    else reply = (this->*(found->handler))(call);
    if (reply.worker_id.empty()) reply.worker_id = call.worker.worker_id;
    return reply;
}

bool Api::operator_allowed(const ApiRequest& request) const {
    if (request.operator_port) return true;
    if (policy_.operator_token_hash.empty() || request.authorization.size() != 1) return false;
    const std::string& auth = request.authorization.front();
    std::string token;
    static constexpr std::string_view kBearer = "Bearer ", kBasic = "Basic ";
    if (auth.compare(0, kBearer.size(), kBearer) == 0) {
        token = auth.substr(kBearer.size());
    } else if (auth.compare(0, kBasic.size(), kBasic) == 0) {
        // user:password, the user name being anything.
        const std::string pair = base64_decoded(std::string_view(auth).substr(kBasic.size()));
        const auto colon = pair.find(':');
        if (colon == std::string::npos) return false;
        token = pair.substr(colon + 1);
    } else {
        return false;
    }
    // Hashes compared, so the time taken says nothing about the token.
    return !token.empty() && sha256_hex(token) == policy_.operator_token_hash;
}

ApiReply Api::operator_refusal() const {
    if (policy_.operator_token_hash.empty()) return error_reply(404, "no such endpoint");
    ApiReply reply = error_reply(401, "the operator's view needs the operator token");
    reply.headers = {{"WWW-Authenticate", "Basic realm=\"operator\", charset=\"UTF-8\""}};
    return reply;
}

ApiReply Api::healthz(const Call&) {
    std::string reason;
    if (!store_.healthy(reason)) {
        ApiReply reply = error_reply(503, "the database does not answer: " + reason);
        reply.retry_after = 30;
        return reply;
    }
    return ApiReply{200, R"({"status":"ok"})"};
}

}  // namespace pelorin::server
