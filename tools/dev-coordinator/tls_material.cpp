#include "tools/dev-coordinator/tls_material.hpp"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <ctime>
#include <memory>
#include <stdexcept>
#include <string>

#include "tools/dev-coordinator/atomic_file.hpp"
#include "tools/dev-coordinator/limits.hpp"

namespace pelorin::devcoord {
namespace {

struct Free {
    void operator()(X509* p) const { X509_free(p); }
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
    void operator()(BIO* p) const { BIO_free(p); }
    void operator()(BIGNUM* p) const { BN_free(p); }
    void operator()(X509_EXTENSION* p) const { X509_EXTENSION_free(p); }
};
using CertPtr = std::unique_ptr<X509, Free>;
using KeyPtr = std::unique_ptr<EVP_PKEY, Free>;
using BioPtr = std::unique_ptr<BIO, Free>;

[[noreturn]] void openssl_fail(const std::string& what) {
    const unsigned long code = ERR_get_error();
    char text[256] = "unknown OpenSSL error";
    if (code != 0) ERR_error_string_n(code, text, sizeof text);
    ERR_clear_error();
    throw std::runtime_error(what + ": " + text);
}

void check(int ok, const char* what) {
    if (ok != 1) openssl_fail(what);
}

KeyPtr new_key() {
    KeyPtr key(EVP_EC_gen(kKeyCurve));
    if (!key) openssl_fail("cannot make an elliptic-curve key");
    return key;
}

// A random positive serial number of 127 bits.
void set_random_serial(X509* cert) {
    std::unique_ptr<BIGNUM, Free> bn(BN_new());
    if (!bn) openssl_fail("cannot make a serial number");
    check(BN_rand(bn.get(), 127, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY), "cannot make a serial number");
    if (BN_to_ASN1_INTEGER(bn.get(), X509_get_serialNumber(cert)) == nullptr) openssl_fail("cannot set the serial number");
}

void add_extension(X509* cert, X509V3_CTX* ctx, int nid, const char* value) {
    std::unique_ptr<X509_EXTENSION, Free> ext(X509V3_EXT_conf_nid(nullptr, ctx, nid, value));
    if (!ext) openssl_fail(std::string("cannot make the extension ") + value);
    check(X509_add_ext(cert, ext.get(), -1), "cannot add a certificate extension");
}

// A certificate with validity, subject and key set; issuer and extensions are the caller's.
CertPtr new_certificate(EVP_PKEY* key, const char* common_name, long days) {
    CertPtr cert(X509_new());
    if (!cert) openssl_fail("cannot make a certificate");
    check(X509_set_version(cert.get(), 2), "cannot set the certificate version");
    set_random_serial(cert.get());
    if (!X509_gmtime_adj(X509_getm_notBefore(cert.get()), -kNotBeforeSlackSeconds) ||
        !X509_gmtime_adj(X509_getm_notAfter(cert.get()), days * 86400L))
        openssl_fail("cannot set the certificate validity");
    X509_NAME* name = X509_get_subject_name(cert.get());
    check(X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                                     reinterpret_cast<const unsigned char*>("Pelorin development"), -1, -1, 0),
          "cannot set the certificate subject");
    check(X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(common_name),
                                     -1, -1, 0),
          "cannot set the certificate subject");
    check(X509_set_pubkey(cert.get(), key), "cannot set the certificate key");
    return cert;
}

std::string pem_of(X509* cert) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_X509(bio.get(), cert) != 1) openssl_fail("cannot write a certificate");
    char* data = nullptr;
    const long n = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(n));
}

std::string pem_of(EVP_PKEY* key) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1)
        openssl_fail("cannot write a private key");
    char* data = nullptr;
    const long n = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(n));
}

CertPtr read_certificate(const std::filesystem::path& path) {
    BioPtr bio(BIO_new_file(path.c_str(), "r"));
    if (!bio) openssl_fail("cannot open " + path.string());
    CertPtr cert(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
    if (!cert) openssl_fail("cannot read the certificate " + path.string());
    return cert;
}

KeyPtr read_key(const std::filesystem::path& path) {
    BioPtr bio(BIO_new_file(path.c_str(), "r"));
    if (!bio) openssl_fail("cannot open " + path.string());
    KeyPtr key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
    if (!key) openssl_fail("cannot read the private key " + path.string());
    return key;
}

void make_authority(const TlsFiles& files, const std::filesystem::path& key_path) {
    KeyPtr key = new_key();
    CertPtr cert = new_certificate(key.get(), "Pelorin development CA", kCaValidityDays);
    check(X509_set_issuer_name(cert.get(), X509_get_subject_name(cert.get())), "cannot set the issuer");
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert.get(), cert.get(), nullptr, nullptr, 0);
    add_extension(cert.get(), &ctx, NID_basic_constraints, "critical,CA:TRUE");
    add_extension(cert.get(), &ctx, NID_key_usage, "critical,keyCertSign,cRLSign");
    add_extension(cert.get(), &ctx, NID_subject_key_identifier, "hash");
    if (X509_sign(cert.get(), key.get(), EVP_sha256()) == 0) openssl_fail("cannot sign the authority certificate");
    // The key first: a certificate without its key would be an error on the next start.
    write_file_atomically(key_path, pem_of(key.get()));
    write_file_atomically(files.ca_certificate, pem_of(cert.get()));
}

void make_server_certificate(const TlsFiles& files, X509* ca_cert, EVP_PKEY* ca_key) {
    KeyPtr key = new_key();
    CertPtr cert = new_certificate(key.get(), "localhost", kServerValidityDays);
    check(X509_set_issuer_name(cert.get(), X509_get_subject_name(ca_cert)), "cannot set the issuer");
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, ca_cert, cert.get(), nullptr, nullptr, 0);
    add_extension(cert.get(), &ctx, NID_basic_constraints, "critical,CA:FALSE");
    add_extension(cert.get(), &ctx, NID_key_usage, "critical,digitalSignature");
    add_extension(cert.get(), &ctx, NID_ext_key_usage, "serverAuth");
    add_extension(cert.get(), &ctx, NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1,IP:::1");
    add_extension(cert.get(), &ctx, NID_subject_key_identifier, "hash");
    add_extension(cert.get(), &ctx, NID_authority_key_identifier, "keyid:always");
    if (X509_sign(cert.get(), ca_key, EVP_sha256()) == 0) openssl_fail("cannot sign the server certificate");
    write_file_atomically(files.server_key, pem_of(key.get()));
    write_file_atomically(files.server_certificate, pem_of(cert.get()));
}

// The server certificate can be used as it is: it parses, belongs to the authority and to
// its key, and does not end soon.
bool server_certificate_usable(const TlsFiles& files, EVP_PKEY* ca_key) {
    std::error_code ec;
    if (!std::filesystem::exists(files.server_certificate, ec) || !std::filesystem::exists(files.server_key, ec))
        return false;
    try {
        CertPtr cert = read_certificate(files.server_certificate);
        KeyPtr key = read_key(files.server_key);
        if (X509_verify(cert.get(), ca_key) != 1 || X509_check_private_key(cert.get(), key.get()) != 1) {
            ERR_clear_error();
            return false;
        }
        std::time_t renew_at = std::time(nullptr) + kServerRenewDays * 86400L;
        return X509_cmp_time(X509_get0_notAfter(cert.get()), &renew_at) > 0;
    } catch (const std::runtime_error&) {
        return false;
    }
}

}  // namespace

TlsFiles ensure_tls_material(const std::filesystem::path& state_dir) {
    const std::filesystem::path dir = std::filesystem::absolute(state_dir);
    TlsFiles files{dir / "ca.pem", dir / "server.pem", dir / "server-key.pem"};
    const std::filesystem::path ca_key_path = dir / "ca-key.pem";
    std::error_code ec;
    const bool have_cert = std::filesystem::exists(files.ca_certificate, ec);
    const bool have_key = std::filesystem::exists(ca_key_path, ec);
    if (have_cert != have_key)
        throw std::runtime_error("the certificate authority in " + dir.string() + " lacks its " +
                                 (have_cert ? "key ca-key.pem" : "certificate ca.pem") +
                                 "; restore it or remove both files");
    if (!have_cert) make_authority(files, ca_key_path);
    CertPtr ca_cert = read_certificate(files.ca_certificate);
    KeyPtr ca_key = read_key(ca_key_path);
    if (X509_check_private_key(ca_cert.get(), ca_key.get()) != 1)
        openssl_fail("ca-key.pem does not belong to ca.pem in " + dir.string());
    if (!server_certificate_usable(files, ca_key.get())) make_server_certificate(files, ca_cert.get(), ca_key.get());
    return files;
}

}  // namespace pelorin::devcoord
