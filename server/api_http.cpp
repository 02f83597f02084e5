#include "server/api_http.hpp"

#include <httplib.h>

namespace pelorin::server {

ApiRequest api_request_of(const httplib::Request& req) {
    ApiRequest api{req.method, req.path, req.remote_addr, {}, req.body};
    const auto [first, last] = req.headers.equal_range("Authorization");
    for (auto it = first; it != last; ++it) api.authorization.push_back(it->second);
    return api;
}

void write_api_head(httplib::Response& res, const ApiReply& reply) {
    res.status = reply.status;
    if (reply.status == 401) res.set_header("WWW-Authenticate", "Bearer");
    if (reply.retry_after) res.set_header("Retry-After", std::to_string(*reply.retry_after));
}

void write_api_reply(httplib::Response& res, const ApiReply& reply) {
    write_api_head(res, reply);
    res.set_content(reply.body, "application/json");
}

HttpsListener::Handler api_handler(Api& api) {
    return [&api](const httplib::Request& req, httplib::Response& res) {
        const ApiReply reply = api.handle(api_request_of(req));
        write_api_reply(res, reply);
        return reply.worker_id;
    };
}

}  // namespace pelorin::server
