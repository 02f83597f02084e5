// pelorin-trust-ca CA.pem
//   adds a certificate authority to the LOCAL_MACHINE "ROOT" store of the system it runs on.
// pelorin-trust-ca --check CA.pem SERVER.pem
//   exits 0 when this system verifies the authority's own signature and its signature on
//   the server certificate, 3 when it does not (Wine fails on some valid ECDSA signatures,
//   those whose r or s is shorter than the curve's size).
// For test Wine prefixes only: the Windows network tests trust the development coordinator
// this way, with certificate checks left on.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct CertFreer {
    void operator()(PCCERT_CONTEXT c) const { CertFreeCertificateContext(c); }
};
using Cert = std::unique_ptr<const CERT_CONTEXT, CertFreer>;

std::vector<BYTE> der_of(const wchar_t* pem_path) {
    std::ifstream in(pem_path, std::ios::binary);
    if (!in.is_open()) throw std::runtime_error("cannot read the file");
    const std::string pem((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    DWORD size = 0;
    if (pem.empty() || !CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                                             nullptr, &size, nullptr, nullptr)) {
        throw std::runtime_error("the file holds no PEM certificate");
    }
    std::vector<BYTE> der(size);
    CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, der.data(), &size,
                         nullptr, nullptr);
    der.resize(size);
    return der;
}

Cert certificate_of(const wchar_t* pem_path) {
    const std::vector<BYTE> der = der_of(pem_path);
    Cert cert(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
    if (!cert) throw std::runtime_error("the certificate does not parse");
    return cert;
}

bool signed_by(PCCERT_CONTEXT subject, PCCERT_CONTEXT issuer) {
    return CryptVerifyCertificateSignatureEx(0, X509_ASN_ENCODING, CRYPT_VERIFY_CERT_SIGN_SUBJECT_CERT,
                                             const_cast<CERT_CONTEXT*>(subject), CRYPT_VERIFY_CERT_SIGN_ISSUER_CERT,
                                             const_cast<CERT_CONTEXT*>(issuer), 0, nullptr) != 0;
}

int check(const wchar_t* ca_path, const wchar_t* server_path) {
    const Cert ca = certificate_of(ca_path);
    const Cert server = certificate_of(server_path);
    return signed_by(ca.get(), ca.get()) && signed_by(server.get(), ca.get()) ? 0 : 3;
}

int trust(const wchar_t* ca_path) {
    const std::vector<BYTE> der = der_of(ca_path);
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT");
    if (store == nullptr) throw std::runtime_error("cannot open the ROOT store: error " + std::to_string(GetLastError()));
    const BOOL added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                                        static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING,
                                                        nullptr);
    const DWORD error = GetLastError();
    CertCloseStore(store, 0);
    if (!added) throw std::runtime_error("cannot add the certificate: error " + std::to_string(error));
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    try {
        if (argc == 2) return trust(argv[1]);
        if (argc == 4 && std::wstring(argv[1]) == L"--check") return check(argv[2], argv[3]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pelorin-trust-ca: %s\n", e.what());
        return 1;
    }
    std::fprintf(stderr, "usage: pelorin-trust-ca CA.pem | pelorin-trust-ca --check CA.pem SERVER.pem\n");
    return 2;
}
