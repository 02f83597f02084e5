#include "coordinator/https_transport.hpp"

#include <atomic>
#include <mutex>
#include <string>
#include <utility>

#ifndef PELORIN_COORDINATOR_HOST
#error "PELORIN_COORDINATOR_HOST is set by the build (CMake cache value of the same name)"
#endif
#ifndef PELORIN_COORDINATOR_PORT
#error "PELORIN_COORDINATOR_PORT is set by the build (CMake cache value of the same name)"
#endif
static_assert(PELORIN_COORDINATOR_PORT > 0 && PELORIN_COORDINATOR_PORT <= 65535);

namespace pelorin {
namespace {

std::atomic<std::uint32_t> g_proxy_mode{kProxyDirect};

std::mutex g_settings_mutex;
CoordinatorAddress g_address{PELORIN_COORDINATOR_HOST, PELORIN_COORDINATOR_PORT};
TransportTimeouts g_timeouts;

}  // namespace

void set_proxy_mode(std::uint32_t value) { g_proxy_mode.exchange(value); }
std::uint32_t proxy_mode() { return g_proxy_mode.load(); }

void set_coordinator(CoordinatorAddress address) {
    std::lock_guard guard(g_settings_mutex);
    g_address = std::move(address);
}

CoordinatorAddress coordinator_address() {
    std::lock_guard guard(g_settings_mutex);
    return g_address;
}

void set_transport_timeouts(TransportTimeouts timeouts) {
    std::lock_guard guard(g_settings_mutex);
    g_timeouts = timeouts;
}

TransportTimeouts transport_timeouts() {
    std::lock_guard guard(g_settings_mutex);
    return g_timeouts;
}

}  // namespace pelorin
