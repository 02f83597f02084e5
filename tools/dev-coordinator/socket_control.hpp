#pragma once
// Socket-level actions the HTTP library does not offer.
#include <openssl/ssl.h>

namespace pelorin::devcoord {

// Cuts the TCP connection under a TLS session in both directions, so the client gets no
// HTTP reply at all. The library closes the socket itself afterwards.
void drop_connection(const SSL* ssl);

}  // namespace pelorin::devcoord
