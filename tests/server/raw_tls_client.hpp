#pragma once
// A TLS client on loopback that writes exactly the bytes it is given, when it is told to: for
// the requests libcurl will not make (a request trickled byte by byte, a connection that
// says nothing, an old protocol version).
#include <filesystem>
#include <string>

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

namespace pelorin::test_support {

class RawTlsClient {
public:
    // Connects to 127.0.0.1:port trusting only ca_file; max_version caps the protocol
    // (TLS1_1_VERSION...; 0 leaves it open). handshake_ok() tells whether TLS came up.
    RawTlsClient(int port, const std::filesystem::path& ca_file, int max_version = 0);
    ~RawTlsClient();
    RawTlsClient(const RawTlsClient&) = delete;
    RawTlsClient& operator=(const RawTlsClient&) = delete;

    bool handshake_ok() const { return handshake_ok_; }
    // False once the server has closed or cut the connection.
    bool send(const std::string& bytes);
    // Everything the server sends until it closes the connection or `seconds` pass.
    std::string read_until_closed(double seconds);
    // Whether the server closed the connection within `seconds` (reading what it sends).
    bool closed_within(double seconds);

private:
    int fd_ = -1;
    SSL_CTX* ctx_ = nullptr;
    SSL* ssl_ = nullptr;
    bool handshake_ok_ = false;
    bool closed_ = false;
};

}  // namespace pelorin::test_support
