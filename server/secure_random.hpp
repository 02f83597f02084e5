#pragma once
// Random values from OpenSSL's generator: nonces, tokens, serial numbers, and the draws that
// pick results for replication (a worker must not be able to predict them).
#include <cstddef>
#include <string>

namespace pelorin::server {

// byte_count random bytes as lower-case hex. Throws std::runtime_error
// "secure random generator failed".
std::string random_hex(std::size_t byte_count);

// A uniform draw from [0, 1).
double random_fraction();

}  // namespace pelorin::server
