#pragma once
// A loopback port that refuses connections for as long as the object lives: bound, so
// nothing else takes it, but never listening.
#include <cstdint>

namespace pelorin::test {

class ClosedPort {
public:
    ClosedPort();
    ~ClosedPort();
    ClosedPort(const ClosedPort&) = delete;
    ClosedPort& operator=(const ClosedPort&) = delete;
    std::uint16_t port() const { return port_; }

private:
    std::intptr_t socket_ = -1;  // the platform's socket handle
    std::uint16_t port_ = 0;
};

}  // namespace pelorin::test
