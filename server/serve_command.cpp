#include "server/serve_command.hpp"

#include <chrono>
#include <iostream>
#include <stdexcept>

#include "server/api.hpp"
#include "server/api_http.hpp"
#include "server/certificate_store.hpp"
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

}  // namespace

int serve(Store& store, const ServeOptions& options) {
    CertificateStore certificates(options.certificate, options.key);
    Api api(store, options.policy);
    RequestJournal journal(std::cerr);
    // Before the listener's threads start; destroyed after the listener it stops.
    SignalThread signals;
    HttpsListener listener(certificates, options.policy, api_handler(api),
                           [&journal](const RequestRecord& r) { journal.write(r); });
    const int port = listener.bind(options.listen);
    std::cout << "Listening on " << listen_url(options.listen.host, port) << std::endl;
    signals.start([&listener] { listener.stop(); },
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
