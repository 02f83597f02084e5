#pragma once
// The Linux development coordinator that tests/support/with-dev-coordinator.sh started
// beside this Windows program (under Wine), reached as localhost through the transport
// under test, with a fresh data folder. Without it every test skips, saying why.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "coordinator/https_transport.hpp"
#include "tests/support/plain_get.hpp"
#include "scoped_env.hpp"

namespace pelorin::test {

// The coordinator's port, or absent with the reason in `why`.
inline std::optional<std::uint16_t> dev_coordinator_port(std::string& why) {
    if (const auto missing = get_env("PELORIN_TEST_COORDINATOR_MISSING")) {
        why = "the Linux development coordinator " + *missing +
              " is missing: build the linux preset first, or name it in PELORIN_LINUX_DEV_COORDINATOR";
        return std::nullopt;
    }
    const auto port = get_env("PELORIN_TEST_COORDINATOR_PORT");
    if (!port) {
        why = "no development coordinator: run this program through tests/support/with-dev-coordinator.sh";
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(std::stoul(*port));
}

class WindowsCoordinator : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        const auto port = dev_coordinator_port(why);
        if (!port) GTEST_SKIP() << why;
        port_ = *port;
        // By name: Wine checks a certificate's DNS names only, not its IP addresses.
        set_coordinator({"localhost", port_});
        set_proxy_mode(kProxyDirect);
        set_transport_timeouts({});
    }

    // The control endpoints, on the same listener.
    void post_fault(const std::string& fault_json) { https_request("POST", "/dev/faults", fault_json, ""); }

    // One text per API request the coordinator received, oldest first (its JSON object).
    std::vector<std::string> requests() { return split_requests(https_request("GET", "/dev/requests", "", "").body); }
    // The same, asked with WinHTTP directly rather than through the transport and its lock.
    std::vector<std::string> requests_past_the_transport() { return split_requests(plain_get(port_, L"/dev/requests")); }

    static std::vector<std::string> split_requests(const std::string& text) {
        std::vector<std::string> out;
        const std::string start = "{\"method\":";
        for (std::size_t at = text.find(start); at != std::string::npos;) {
            const std::size_t next = text.find(start, at + 1);
            out.push_back(text.substr(at, next == std::string::npos ? std::string::npos : next - at));
            at = next;
        }
        return out;
    }

    std::uint16_t port_ = 0;
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
