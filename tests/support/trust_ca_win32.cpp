// pelorin-trust-ca CA.pem: adds a certificate authority to the LOCAL_MACHINE "ROOT" store
// of the system it runs on. For test Wine prefixes only: the Windows network tests trust the
// development coordinator this way, with certificate checks left on.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: pelorin-trust-ca CA.pem\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in.is_open()) {
        std::fprintf(stderr, "pelorin-trust-ca: cannot read %ls\n", argv[1]);
        return 1;
    }
    const std::string pem((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    DWORD size = 0;
    if (pem.empty() || !CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                                             nullptr, &size, nullptr, nullptr)) {
        std::fprintf(stderr, "pelorin-trust-ca: %ls holds no PEM certificate\n", argv[1]);
        return 1;
    }
    std::vector<BYTE> der(size);
    CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, der.data(), &size,
                         nullptr, nullptr);
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT");
    if (store == nullptr) {
        std::fprintf(stderr, "pelorin-trust-ca: cannot open the ROOT store (error %lu)\n", GetLastError());
        return 1;
    }
    const BOOL added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), size,
                                                        CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    const DWORD error = GetLastError();
    CertCloseStore(store, 0);
    if (!added) {
        std::fprintf(stderr, "pelorin-trust-ca: cannot add the certificate (error %lu)\n", error);
        return 1;
    }
    return 0;
}
