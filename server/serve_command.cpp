#include "server/serve_command.hpp"

#include <chrono>
#include <cstdio>
#include <iostream>
#include <optional>
#include <stdexcept>

#include "server/api.hpp"
#include "server/api_http.hpp"
#include "server/certificate_store.hpp"
#include "server/metered_store.hpp"
#include "server/metrics_listener.hpp"
#include "server/recompute_reach.hpp"
#include "server/request_journal.hpp"
#include "server/signal_thread.hpp"
#include "server/utc_time.hpp"

namespace pelorin::server {
namespace {

std::string now_text() {
    return utc_text(std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count(),
                    true);
}

// What the recompute budget means for the campaigns: switched off, or units too large for it.
void announce_recomputation(Store& store, RecomputeBudget& budget) {
    if (budget.off()) {
        std::cerr << now_text()
                  << " warning: checksums are not recomputed (--recompute-budget 0): results count by their structure "
                     "and copies alone"
                  << std::endl;
        return;
    }
    if (budget.recomputes_all()) return;
    char cores[32];
    std::snprintf(cores, sizeof cores, "%g", budget.cores());
    for (const CampaignDefinition& campaign : store.campaigns())
        if (const auto warning = recompute_reach_warning(campaign, budget.cores(), budget.rate(),
                                                         std::string(cores) + " cores"))
            std::cerr << now_text() << " warning: " << *warning << std::endl;
}

}  // namespace

int serve(Store& store, const ServeOptions& options) {
    CertificateStore certificates(options.certificate, options.key);
    Metrics metrics;
    MeteredStore metered(store, metrics);
    Api api(metered, options.policy, metrics, !options.metrics_listen);
    announce_recomputation(metered, api.recompute_budget());
    RequestJournal journal(std::cerr);
    // Before the listeners' threads start; destroyed after the listeners it stops.
    SignalThread signals;
    const auto count = [&metrics](const RequestRecord& r) {
        metrics.count_request(route_label(r.path), r.status, r.milliseconds / 1000);
    };
    std::optional<MetricsListener> metrics_listener;
    if (options.metrics_listen) {
        metrics_listener.emplace(api_handler(api, true), options.policy, count);
        const int port = metrics_listener->bind(*options.metrics_listen);
        const std::string url = listen_url(options.metrics_listen->host, port, "http");
        std::cout << "Metrics on " << url << "/metrics" << std::endl;
        std::cout << "Operator's view on " << url << "/?view=operator" << std::endl;
    }
    HttpsListener listener(certificates, options.policy, api_handler(api), [&journal, &count](const RequestRecord& r) {
        journal.write(r);
        count(r);
    });
    const int port = listener.bind(options.listen);
    if (metrics_listener) metrics_listener->start();
    api.start_recomputation();
    std::cout << "Listening on " << listen_url(options.listen.host, port) << std::endl;
    signals.start(
        [&listener, &metrics_listener] {
            if (metrics_listener) metrics_listener->stop();
            listener.stop();
        },
                  [&certificates, &options] {
                      // A renewed certificate takes effect with the next handshake; a broken one
                      // leaves the one in use in place.
                      try {
                          certificates.reload();
                          std::cerr << now_text() << " reloaded the certificate " << options.certificate.string()
                                    << std::endl;
                      } catch (const std::exception& e) {
                          std::cerr << now_text() << " kept the certificate in use: " << e.what() << std::endl;
                      }
                  });
    if (!listener.run()) throw std::runtime_error("the listener on " + listen_url(options.listen.host, port) + " failed");
    return 0;
}

}  // namespace pelorin::server
