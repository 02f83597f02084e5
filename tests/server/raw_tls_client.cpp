#include "tests/server/raw_tls_client.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace pelorin::test_support {

RawTlsClient::RawTlsClient(int port, const std::filesystem::path& ca_file, int max_version) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ < 0 || ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        throw std::runtime_error("cannot connect to 127.0.0.1:" + std::to_string(port));
    ctx_ = SSL_CTX_new(TLS_client_method());
    SSL_CTX_load_verify_locations(ctx_, ca_file.c_str(), nullptr);
    SSL_CTX_set_verify(ctx_, SSL_VERIFY_PEER, nullptr);
    if (max_version != 0) {
        SSL_CTX_set_min_proto_version(ctx_, 0);
        SSL_CTX_set_max_proto_version(ctx_, max_version);
        SSL_CTX_set_security_level(ctx_, 0);  // old versions need the old ciphers offered
    }
    ssl_ = SSL_new(ctx_);
    SSL_set_fd(ssl_, fd_);
    SSL_set_tlsext_host_name(ssl_, "localhost");
    handshake_ok_ = SSL_connect(ssl_) == 1;
    ERR_clear_error();
    // From here on reads return at once when nothing is there (records without data, such as
    // TLS 1.3 session tickets, must not leave a read waiting for the server).
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
}

RawTlsClient::~RawTlsClient() {
    if (ssl_ != nullptr) SSL_free(ssl_);
    if (ctx_ != nullptr) SSL_CTX_free(ctx_);
    if (fd_ >= 0) ::close(fd_);
}

bool RawTlsClient::send(const std::string& bytes) {
    for (;;) {
        if (!handshake_ok_ || closed_) return false;
        const int n = SSL_write(ssl_, bytes.data(), static_cast<int>(bytes.size()));
        const int error = n <= 0 ? SSL_get_error(ssl_, n) : SSL_ERROR_NONE;
        ERR_clear_error();
        if (n > 0) return true;
        if (error != SSL_ERROR_WANT_WRITE && error != SSL_ERROR_WANT_READ) {
            closed_ = true;
            return false;
        }
        pollfd p{fd_, static_cast<short>(error == SSL_ERROR_WANT_WRITE ? POLLOUT : POLLIN), 0};
        ::poll(&p, 1, 100);
    }
}

std::string RawTlsClient::read_until_closed(double seconds) {
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (handshake_ok_ && !closed_) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        if (SSL_pending(ssl_) == 0) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        }
        char buf[4096];
        const int n = SSL_read(ssl_, buf, sizeof buf);
        const int error = n <= 0 ? SSL_get_error(ssl_, n) : SSL_ERROR_NONE;
        ERR_clear_error();
        // TLS 1.3 session tickets arrive after the handshake: records without data.
        if (error == SSL_ERROR_WANT_READ) continue;
        if (n <= 0) {
            closed_ = true;
            break;
        }
        got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
}

bool RawTlsClient::closed_within(double seconds) {
    read_until_closed(seconds);
    return closed_ || !handshake_ok_;
}

}  // namespace pelorin::test_support
