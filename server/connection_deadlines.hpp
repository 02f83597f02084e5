#pragma once
// A deadline for every TLS connection, counted from the start of its handshake: a client that
// trickles its request (or reads the reply a byte at a time) is cut when the deadline passes,
// so it cannot hold one of the server's threads for long. The socket is shut down, which
// ends the connection's reads and writes; the listener then closes it as usual.
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

namespace pelorin::server {

class ConnectionDeadlines {
public:
    explicit ConnectionDeadlines(std::chrono::seconds deadline);
    ~ConnectionDeadlines();
    ConnectionDeadlines(const ConnectionDeadlines&) = delete;
    ConnectionDeadlines& operator=(const ConnectionDeadlines&) = delete;

    // Watches every connection of this server context from its handshake on.
    void attach(SSL_CTX* ctx);

    // OpenSSL's side: a handshake began; the connection is being freed (its socket is still
    // open then, so it is never shut down after another connection reuses the number).
    void watch(SSL* ssl);
    void forget(const SSL* ssl);

private:
    void sweep();

    std::chrono::seconds deadline_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool closing_ = false;
    struct Watched {
        int fd;
        std::chrono::steady_clock::time_point until;
    };
    std::map<const SSL*, Watched> watched_;
    std::thread sweeper_;
};

}  // namespace pelorin::server
