#include "server/api_http.hpp"

#include <httplib.h>

#include <algorithm>

namespace pelorin::server {

ApiRequest api_request_of(const httplib::Request& req) {
    ApiRequest api{req.method, req.path, req.remote_addr, {}, req.body, {}, req.get_header_value("If-None-Match")};
    const auto [first, last] = req.headers.equal_range("Authorization");
    for (auto it = first; it != last; ++it) api.authorization.push_back(it->second);
    // The library keeps parameters sorted by name; a name given twice stays twice.
    for (const auto& [name, value] : req.params) api.query.emplace_back(name, value);
    return api;
}

void write_api_head(httplib::Response& res, const ApiReply& reply) {
    res.status = reply.status;
    const bool own_challenge = std::any_of(reply.headers.begin(), reply.headers.end(),
                                           [](const auto& h) { return h.first == "WWW-Authenticate"; });
    if (reply.status == 401 && !own_challenge) res.set_header("WWW-Authenticate", "Bearer");
    if (reply.retry_after) res.set_header("Retry-After", std::to_string(*reply.retry_after));
    for (const auto& [name, value] : reply.headers) res.set_header(name, value);
}

void write_api_reply(httplib::Response& res, const ApiReply& reply) {
    write_api_head(res, reply);
    // A 304 has no body, and the library must not give it a Content-Length of zero.
    if (reply.status != 304) res.set_content(reply.body, reply.content_type);
}

HttpsListener::Handler api_handler(Api& api, bool operator_port) {
    return [&api, operator_port](const httplib::Request& req, httplib::Response& res) {
        ApiRequest request = api_request_of(req);
        request.operator_port = operator_port;
        const ApiReply reply = api.handle(request);
        write_api_reply(res, reply);
        return reply.worker_id;
    };
}

}  // namespace pelorin::server
