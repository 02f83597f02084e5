#include "connect_proxy.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace pelorin::test {
namespace {

constexpr int kPollMs = 50;          // how soon the threads notice a stop
constexpr std::size_t kMaxHead = 8192;  // a CONNECT head is a few lines

int connect_loopback(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool send_all(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

ConnectProxy::ConnectProxy(std::map<std::string, std::uint16_t> routes) : routes_(std::move(routes)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listener_, 16) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        throw std::runtime_error(std::string("proxy: cannot listen on loopback: ") + std::strerror(errno));
    }
    port_ = ntohs(addr.sin_port);
    acceptor_ = std::thread([this] { accept_loop(); });
}

ConnectProxy::~ConnectProxy() {
    stopping_ = true;
    acceptor_.join();
    for (auto& t : tunnels_) t.join();
    ::close(listener_);
}

std::vector<std::string> ConnectProxy::targets() const {
    std::lock_guard guard(mutex_);
    return targets_;
}

void ConnectProxy::accept_loop() {
    while (!stopping_) {
        pollfd p{listener_, POLLIN, 0};
        if (::poll(&p, 1, kPollMs) <= 0) continue;
        const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        std::lock_guard guard(mutex_);
        tunnels_.emplace_back([this, client] { serve(client); });
    }
}

void ConnectProxy::serve(int client) {
    std::string head;
    char buf[4096];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < kMaxHead && !stopping_) {
        pollfd p{client, POLLIN, 0};
        if (::poll(&p, 1, kPollMs) <= 0) continue;
        const ssize_t n = ::recv(client, buf, sizeof buf, 0);
        if (n <= 0) break;
        head.append(buf, static_cast<std::size_t>(n));
    }
    const std::size_t head_end = head.find("\r\n\r\n");
    std::string target;
    if (head.starts_with("CONNECT ") && head_end != std::string::npos) {
        target = head.substr(8, head.find(' ', 8) - 8);
    }
    {
        std::lock_guard guard(mutex_);
        targets_.push_back(target);
    }
    const auto route = routes_.find(target);
    const int upstream = route == routes_.end() ? -1 : connect_loopback(route->second);
    if (upstream < 0) {
        static constexpr char kRefused[] = "HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n";
        send_all(client, kRefused, sizeof kRefused - 1);
        ::close(client);
        return;
    }
    static constexpr char kOk[] = "HTTP/1.1 200 Connection established\r\n\r\n";
    bool open = send_all(client, kOk, sizeof kOk - 1);
    // Bytes the client sent after the head belong to the tunnel.
    const std::string early = head.substr(head_end + 4);
    if (open && !early.empty()) open = send_all(upstream, early.data(), early.size());
    while (open && !stopping_) {
        pollfd p[2] = {{client, POLLIN, 0}, {upstream, POLLIN, 0}};
        if (::poll(p, 2, kPollMs) <= 0) continue;
        for (int i = 0; i < 2 && open; ++i) {
            if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            const ssize_t n = ::recv(p[i].fd, buf, sizeof buf, 0);
            open = n > 0 && send_all(p[1 - i].fd, buf, static_cast<std::size_t>(n));
        }
    }
    ::close(upstream);
    ::close(client);
}

}  // namespace pelorin::test
