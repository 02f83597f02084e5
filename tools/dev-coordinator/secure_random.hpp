#pragma once
// Random identifiers from OpenSSL's generator: nonces, tokens, serial numbers.
#include <cstddef>
#include <string>

namespace pelorin::devcoord {

// byte_count random bytes as lower-case hex. Throws std::runtime_error
// "secure random generator failed".
std::string random_hex(std::size_t byte_count);

}  // namespace pelorin::devcoord
