#include <windows.h>
#include <bcrypt.h>

#include <algorithm>

#include "coordinator/random_hex.hpp"

namespace pelorin {

static_assert(BCRYPT_USE_SYSTEM_PREFERRED_RNG == 2);

bool secure_random_bytes(void* out, std::size_t size) {
    auto* at = static_cast<unsigned char*>(out);
    while (size > 0) {
        const ULONG part = static_cast<ULONG>(std::min<std::size_t>(size, 1u << 30));
        if (BCryptGenRandom(nullptr, at, part, BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0) return false;
        at += part;
        size -= part;
    }
    return true;
}

}  // namespace pelorin
