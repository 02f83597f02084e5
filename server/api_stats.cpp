// The public page, its stats endpoints and the metrics: read-only, open to anyone, and never
// more than the page shows (no address, nickname, hardware text or token). The operator's
// view and its data answer on the operator's port or with the operator token (api.cpp).
#include <optional>

#include "server/api.hpp"
#include "server/limits.hpp"
#include "server/page_assets.hpp"
#include "server/stats_json.hpp"

namespace pelorin::server {
namespace {

// The page may load and talk to its own origin alone; nobody may frame it.
constexpr const char* kPagePolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; connect-src 'self'; base-uri 'none'; "
    "form-action 'none'; frame-ancestors 'none'";

ApiReply stats_reply(std::string body) {
    ApiReply reply{200, std::move(body)};
    reply.headers = {{"Cache-Control", "no-cache"}};
    return reply;
}

// The cache key of a request whose parameters were read: its path and the values that
// decide the reply, in a fixed order.
std::string key_of(const std::string& path, std::initializer_list<std::string> values) {
    std::string key = path;
    for (const std::string& v : values) key += '\n' + v;
    return key;
}

}  // namespace

ApiReply Api::page(const Call& call) {
    const PageAsset* asset = find_page_asset(call.request.path);
    if (asset == nullptr) return error_reply(404, "no such endpoint");
    for (const auto& [name, value] : call.request.query)
        if (name == "view" && value == "operator" && !operator_allowed(call.request)) return operator_refusal();
    ApiReply reply;
    reply.content_type = asset->content_type;
    // Revalidated each time, so a new program's page is seen at once; an unchanged file costs
    // a 304.
    reply.headers = {{"ETag", asset->etag},
                     {"Cache-Control", "no-cache"},
                     {"X-Content-Type-Options", "nosniff"},
                     {"Referrer-Policy", "no-referrer"},
                     {"Content-Security-Policy", kPagePolicy}};
    if (call.request.if_none_match == asset->etag) reply.status = 304;
    else reply.body = std::string(asset->body);
    return reply;
}

ApiReply Api::stats_summary(const Call& call) {
    QueryReader query(call.request.query);
    if (const auto fault = query.fault()) return error_reply(400, *fault);
    const std::string key = key_of(call.request.path, {});
    if (auto body = stats_cache_.find(key)) return stats_reply(std::move(*body));
    std::string body = summary_json(store_.status());
    stats_cache_.keep(key, body);
    return stats_reply(std::move(body));
}

ApiReply Api::stats_campaign(const Call& call) {
    QueryReader query(call.request.query);
    ActivityQuery q;
    q.campaign = query.required_text("campaign", kMaxQueryTextBytes);
    q.hours = query.integer("hours", 1, kStatsMaxHours, kStatsMaxHours);
    q.top_workers = query.integer("top", 1, kStatsMaxListed, 10);
    q.latest_units = query.integer("latest", 1, kStatsMaxListed, 10);
    if (const auto fault = query.fault()) return error_reply(400, *fault);
    const std::string key = key_of(call.request.path, {q.campaign, std::to_string(q.hours),
                                                       std::to_string(q.top_workers), std::to_string(q.latest_units)});
    if (auto body = stats_cache_.find(key)) return stats_reply(std::move(*body));
    const auto activity = store_.campaign_activity(q);
    if (!activity) return error_reply(404, "no campaign named " + q.campaign);
    std::string body = activity_json(q.campaign, *activity);
    stats_cache_.keep(key, body);
    return stats_reply(std::move(body));
}

ApiReply Api::stats_operator(const Call& call) {
    QueryReader query(call.request.query);
    OperatorQuery q;
    q.limit = query.integer("limit", 1, kOperatorMaxListed, 50);
    const int window_hours = query.integer("hours", 1, kStatsMaxHours, 24);
    q.window_ms = static_cast<std::int64_t>(window_hours) * 3'600'000;
    if (const auto fault = query.fault()) return error_reply(400, *fault);
    const std::string key = key_of(call.request.path, {std::to_string(q.limit), std::to_string(window_hours)});
    if (auto body = stats_cache_.find(key)) return stats_reply(std::move(*body));
    std::string body = operator_json(store_.operator_figures(q), window_hours, policy_.trust.new_worker_results);
    stats_cache_.keep(key, body);
    return stats_reply(std::move(body));
}

std::string Api::metrics_exposition() {
    std::optional<StatusFigures> status;
    std::optional<RecomputeBacklog> backlog;
    try {
        status = store_.status();
        backlog = store_.recompute_backlog();
    } catch (const std::exception&) {
        // Counted as a database error; the counters are still worth scraping.
    }
    return metrics_.exposition(status, backlog);
}

ApiReply Api::metrics_text(const Call& call) {
    if (!metrics_route_ && !call.request.operator_port) return error_reply(404, "no such endpoint");
    ApiReply reply{200, metrics_exposition()};
    reply.content_type = kMetricsContentType;
    return reply;
}

}  // namespace pelorin::server
