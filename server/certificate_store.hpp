#pragma once
// The server's certificate and key, read from PEM files and swapped whole on reload: every
// TLS handshake installs the pair loaded last (OpenSSL's certificate callback), so a renewed
// certificate takes effect without closing the listener.
#include <filesystem>
#include <memory>
#include <mutex>

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

namespace pelorin::server {

class CertificateStore {
public:
    // Throws std::runtime_error "cannot load the certificate <file>: <reason>" (or the key)
    // when the files cannot be read, hold no certificate or key, or do not belong together.
    CertificateStore(std::filesystem::path certificate, std::filesystem::path key);
    ~CertificateStore();

    // Reads both files again; on failure the loaded pair stays in use and the error is thrown.
    void reload();
    // Sets the callback on a server context that installs the current pair on each handshake.
    void attach(SSL_CTX* ctx);

private:
    struct Pair;
    static int install(SSL* ssl, void* self);
    std::shared_ptr<const Pair> load() const;

    std::filesystem::path certificate_;
    std::filesystem::path key_;
    std::mutex mutex_;
    std::shared_ptr<const Pair> current_;
};

}  // namespace pelorin::server
