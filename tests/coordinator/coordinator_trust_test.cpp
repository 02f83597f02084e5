// The coordinator's authority is trusted exactly where the Wine prefix's LOCAL_MACHINE
// "ROOT" store holds it: with-dev-coordinator.sh runs this case once in a prefix it taught to
// trust the authority, and once in the build's plain prefix, which must refuse the server.
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "coordinator/coordinator_api.hpp"
#include "coordinator/https_transport.hpp"
#include "tests/support/windows_coordinator.hpp"
#include "transport_cases.hpp"

namespace pelorin {
namespace {

using CoordinatorTrust = test::WindowsCoordinator;

// Whether the ROOT store holds the certificate of the PEM file.
bool root_store_holds(const std::string& pem) {
    DWORD size = 0;
    if (!CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, nullptr, &size,
                              nullptr, nullptr)) {
        throw std::runtime_error("the authority's file holds no PEM certificate");
    }
    std::vector<BYTE> der(size);
    CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, der.data(), &size,
                         nullptr, nullptr);
    const PCCERT_CONTEXT wanted = CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), size);
    if (wanted == nullptr) throw std::runtime_error("the authority's certificate does not parse");
    const HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                           CERT_SYSTEM_STORE_LOCAL_MACHINE | CERT_STORE_READONLY_FLAG, L"ROOT");
    bool found = false;
    if (store != nullptr) {
        const PCCERT_CONTEXT hit =
            CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, wanted, nullptr);
        found = hit != nullptr;
        if (hit != nullptr) CertFreeCertificateContext(hit);
        CertCloseStore(store, 0);
    }
    CertFreeCertificateContext(wanted);
    return found;
}

TEST_F(CoordinatorTrust, ServerIsAcceptedExactlyWhereThePrefixTrustsItsAuthority) {
    const bool trusted = test::get_env("PELORIN_TEST_PREFIX_TRUSTS_CA") == "1";
    const auto ca_file = test::get_env("PELORIN_TEST_CA_FILE");
    ASSERT_TRUE(ca_file.has_value());
    EXPECT_EQ(root_store_holds(test::read_file(test::path_of_utf8(*ca_file))), trusted)
        << "the prefix's ROOT store and PELORIN_TEST_PREFIX_TRUSTS_CA disagree";

    if (trusted) {
        const HttpsResponse reply = https_request("GET", "/healthz", "", "");
        EXPECT_EQ(reply.status, 200u);
        EXPECT_EQ(reply.body, R"({"status":"ok"})");
        return;
    }
    // Refused during the handshake, so nothing was sent: WinHTTP reports the refusal as
    // ERROR_WINHTTP_SECURE_FAILURE (Wine: ERROR_WINHTTP_SECURE_CHANNEL_ERROR).
    const auto refused = test::https_failure_of([] { https_request("GET", "/healthz", "", ""); });
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->failure(), HttpsFailure::untrusted);
    const std::string refused_text = refused->what();
    const std::string head = "Could not send HTTPS request to localhost: Windows error ";
    EXPECT_TRUE(refused_text.starts_with(head + "12175 (") || refused_text.starts_with(head + "12157 ("))
        << refused_text;
    // What the user sees when neither route trusts the server.
    const auto failed_check = test::https_failure_of(check_secure_connection);
    ASSERT_TRUE(failed_check);
    EXPECT_EQ(failed_check->failure(), HttpsFailure::untrusted);
    const std::string check = failed_check->what();
    EXPECT_TRUE(check.starts_with("Secure connection check failed.\r\nDirect: " + head)) << check;
    EXPECT_TRUE(check.ends_with("\r\nCheck Windows date/time and allow this app outbound TCP " + std::to_string(port_) +
                                "."))
        << check;
}

}  // namespace
}  // namespace pelorin
