#pragma once
// A tiny HTTP CONNECT proxy on loopback. It tunnels only to the targets it has a route for,
// so a host:port that the client cannot reach directly is reachable through it.
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace pelorin::test {

class ConnectProxy {
public:
    // `routes` maps a CONNECT target "host:port" to the port on 127.0.0.1 that the tunnel
    // opens. Any other target is answered with 502.
    explicit ConnectProxy(std::map<std::string, std::uint16_t> routes);
    ~ConnectProxy();
    ConnectProxy(const ConnectProxy&) = delete;
    ConnectProxy& operator=(const ConnectProxy&) = delete;

    std::uint16_t port() const { return port_; }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }
    // Every CONNECT target asked for, in order.
    std::vector<std::string> targets() const;

private:
    void accept_loop();
    void serve(int client);

    std::map<std::string, std::uint16_t> routes_;
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> targets_;
    std::vector<std::thread> tunnels_;
    std::thread acceptor_;
};

}  // namespace pelorin::test
