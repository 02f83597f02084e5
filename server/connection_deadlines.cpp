#include "server/connection_deadlines.hpp"

#include <openssl/ssl.h>
#include <sys/socket.h>

#include "server/limits.hpp"

namespace pelorin::server {
namespace {

void on_free(void* parent, void* ptr, CRYPTO_EX_DATA*, int, long, void*) {
    if (ptr != nullptr) static_cast<ConnectionDeadlines*>(ptr)->forget(static_cast<const SSL*>(parent));
}

// The slot on each connection that ties it to its watcher; its free callback fires when the
// listener frees the connection.
int connection_slot() {
    static const int slot = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, on_free);
    return slot;
}

void on_info(const SSL* ssl, int where, int) {
    if ((where & SSL_CB_HANDSHAKE_START) == 0) return;
    auto* self = static_cast<ConnectionDeadlines*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl)));
    if (self != nullptr) self->watch(const_cast<SSL*>(ssl));
}

}  // namespace

ConnectionDeadlines::ConnectionDeadlines(std::chrono::seconds deadline)
    : deadline_(deadline), sweeper_([this] { sweep(); }) {}

ConnectionDeadlines::~ConnectionDeadlines() {
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    wake_.notify_all();
    sweeper_.join();
}

void ConnectionDeadlines::attach(SSL_CTX* ctx) {
    connection_slot();
    SSL_CTX_set_app_data(ctx, this);
    SSL_CTX_set_info_callback(ctx, on_info);
}

void ConnectionDeadlines::watch(SSL* ssl) {
    // A renegotiation starts a handshake again; the first deadline stands.
    if (SSL_get_ex_data(ssl, connection_slot()) != nullptr) return;
    const int fd = SSL_get_fd(ssl);
    if (fd < 0) return;
    std::lock_guard lock(mutex_);
    watched_[ssl] = Watched{fd, std::chrono::steady_clock::now() + deadline_};
    SSL_set_ex_data(ssl, connection_slot(), this);
}

void ConnectionDeadlines::forget(const SSL* ssl) {
    std::lock_guard lock(mutex_);
    watched_.erase(ssl);
}

void ConnectionDeadlines::sweep() {
    std::unique_lock lock(mutex_);
    while (!wake_.wait_for(lock, kDeadlineSweep, [this] { return closing_; })) {
        const auto now = std::chrono::steady_clock::now();
        for (auto it = watched_.begin(); it != watched_.end();) {
            if (it->second.until <= now) {
                ::shutdown(it->second.fd, SHUT_RDWR);
                it = watched_.erase(it);  // the listener frees it soon; shut down once
            } else {
                ++it;
            }
        }
    }
}

}  // namespace pelorin::server
