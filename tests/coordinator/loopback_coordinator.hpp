#pragma once
// The real development coordinator on loopback, trusted through SSL_CERT_FILE, with the
// client pointed at it directly and a fresh data folder.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "coordinator/https_transport.hpp"
#include "scoped_env.hpp"
#include "tests/support/dev_coordinator_process.hpp"

namespace pelorin::test {

class LoopbackCoordinator : public ::testing::Test {
protected:
    LoopbackCoordinator() {
        set_coordinator({"127.0.0.1", static_cast<std::uint16_t>(coordinator.port())});
        set_proxy_mode(kProxyDirect);
        set_transport_timeouts({});
    }

    // Small puzzles keep registration fast.
    test_support::DevCoordinatorProcess coordinator{{"--difficulty-bits", "6"}};
    ScopedEnv ca{"SSL_CERT_FILE", coordinator.ca_file().string()};
    TempDataFolder data;
};

// The message of the std::runtime_error that `action` throws, or "(no error)".
inline std::string error_of(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "(no error)";
}

}  // namespace pelorin::test
