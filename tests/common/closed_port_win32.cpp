#include <winsock2.h>

#include <stdexcept>

#include "closed_port.hpp"

namespace pelorin::test {

ClosedPort::ClosedPort() {
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) throw std::runtime_error("cannot start Windows sockets");
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof addr;
    if (s == INVALID_SOCKET || ::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        if (s != INVALID_SOCKET) ::closesocket(s);
        WSACleanup();
        throw std::runtime_error("cannot reserve a loopback port");
    }
    socket_ = static_cast<std::intptr_t>(s);
    port_ = ntohs(addr.sin_port);
}

ClosedPort::~ClosedPort() {
    ::closesocket(static_cast<SOCKET>(socket_));
    WSACleanup();
}

}  // namespace pelorin::test
