#pragma once
// The API on the listener: requests as the API takes them, and its replies as HTTP.
#include "server/api.hpp"
#include "server/https_listener.hpp"

namespace pelorin::server {

ApiRequest api_request_of(const httplib::Request& req);
// Status, Retry-After, and the Bearer challenge of a 401; then the JSON body.
void write_api_head(httplib::Response& res, const ApiReply& reply);
void write_api_reply(httplib::Response& res, const ApiReply& reply);
// The listener's handler for the API alone (the campaign server's); on the operator's port
// every request is marked as come from there.
HttpsListener::Handler api_handler(Api& api, bool operator_port = false);

}  // namespace pelorin::server
