#include <sys/random.h>

#include <cerrno>

#include "coordinator/random_hex.hpp"

namespace pelorin {

bool secure_random_bytes(void* out, std::size_t size) {
    auto* at = static_cast<unsigned char*>(out);
    while (size > 0) {
        const ssize_t n = ::getrandom(at, size, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        at += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace pelorin
