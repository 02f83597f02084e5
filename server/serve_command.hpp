#pragma once
// `pelorin-coordinator serve`: the worker API, the public page and the metrics over TLS on a
// store until SIGTERM or SIGINT (requests in flight are finished, then 0 is returned); SIGHUP
// reloads the certificate and key. With a metrics address, /metrics is served there over
// plain HTTP instead ("Metrics on http://ADDR:PORT/metrics"), beside the operator's view
// ("Operator's view on http://ADDR:PORT/?view=operator") and the stats. Prints "Listening on
// <url>" once ready; the journal goes to standard error.
#include <filesystem>
#include <optional>

#include "server/https_listener.hpp"
#include "server/server_policy.hpp"
#include "server/store/store.hpp"

namespace pelorin::server {

struct ServeOptions {
    ListenAddress listen;
    std::optional<ListenAddress> metrics_listen;
    std::filesystem::path certificate;
    std::filesystem::path key;
    ServerPolicy policy;
};

int serve(Store& store, const ServeOptions& options);

}  // namespace pelorin::server
