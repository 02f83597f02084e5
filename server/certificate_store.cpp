#include "server/certificate_store.hpp"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cstdio>
#include <stdexcept>
#include <string>

namespace pelorin::server {

struct CertificateStore::Pair {
    X509* leaf = nullptr;
    STACK_OF(X509)* chain = nullptr;  // the intermediates that follow the leaf in its file
    EVP_PKEY* key = nullptr;
    ~Pair() {
        X509_free(leaf);
        sk_X509_pop_free(chain, X509_free);
        EVP_PKEY_free(key);
    }
};

namespace {

std::string openssl_reason() {
    const unsigned long code = ERR_get_error();
    char text[256] = "no certificate or key found";
    if (code != 0) ERR_error_string_n(code, text, sizeof text);
    ERR_clear_error();
    return text;
}

struct File {
    std::FILE* f;
    ~File() {
        if (f != nullptr) std::fclose(f);
    }
};

}  // namespace

CertificateStore::CertificateStore(std::filesystem::path certificate, std::filesystem::path key)
    : certificate_(std::move(certificate)), key_(std::move(key)), current_(load()) {}

CertificateStore::~CertificateStore() = default;

std::shared_ptr<const CertificateStore::Pair> CertificateStore::load() const {
    auto pair = std::make_shared<Pair>();
    const std::string cert_what = "cannot load the certificate " + certificate_.string() + ": ";
    File cf{std::fopen(certificate_.c_str(), "rb")};
    if (cf.f == nullptr) throw std::runtime_error(cert_what + "cannot open the file");
    pair->leaf = PEM_read_X509(cf.f, nullptr, nullptr, nullptr);
    if (pair->leaf == nullptr) throw std::runtime_error(cert_what + openssl_reason());
    pair->chain = sk_X509_new_null();
    while (X509* more = PEM_read_X509(cf.f, nullptr, nullptr, nullptr)) sk_X509_push(pair->chain, more);
    ERR_clear_error();  // the end of the file

    const std::string key_what = "cannot load the key " + key_.string() + ": ";
    File kf{std::fopen(key_.c_str(), "rb")};
    if (kf.f == nullptr) throw std::runtime_error(key_what + "cannot open the file");
    pair->key = PEM_read_PrivateKey(kf.f, nullptr, nullptr, nullptr);
    if (pair->key == nullptr) throw std::runtime_error(key_what + openssl_reason());
    if (X509_check_private_key(pair->leaf, pair->key) != 1) {
        ERR_clear_error();
        throw std::runtime_error(key_what + "it is not the key of " + certificate_.string());
    }
    return pair;
}

void CertificateStore::reload() {
    std::shared_ptr<const Pair> fresh = load();
    std::lock_guard lock(mutex_);
    current_ = std::move(fresh);
}

void CertificateStore::attach(SSL_CTX* ctx) { SSL_CTX_set_cert_cb(ctx, &CertificateStore::install, this); }

int CertificateStore::install(SSL* ssl, void* self) {
    auto* store = static_cast<CertificateStore*>(self);
    std::shared_ptr<const Pair> pair;
    {
        std::lock_guard lock(store->mutex_);
        pair = store->current_;
    }
    // The connection takes its own references, so a reload never pulls a pair from under it.
    return SSL_use_cert_and_key(ssl, pair->leaf, pair->key, pair->chain, 1) == 1 ? 1 : 0;
}

}  // namespace pelorin::server
